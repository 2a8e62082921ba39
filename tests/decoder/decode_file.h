// Runs whole decodes for the tests: a file or a byte string in, the complete WAV file out.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/decoder/pcm_diff.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"

namespace decodetest {

// The folder of the test streams; the build names the source tree, so the tests run from any
// build folder.
inline std::string TestDataPath(const std::string& relative) {
#ifdef SONIVERT_SOURCE_DIR
  return std::string(SONIVERT_SOURCE_DIR) + "/tests/decoder/" + relative;
#else
  return std::string("tests/decoder/") + relative;
#endif
}

// One frame of a stream as its header describes it, worked out independently of the decoder.
struct FrameInfo {
  size_t offset;  // of the header
  size_t length;  // bytes, with the padding byte
  int channels;   // 1 for single channel, else 2
  int granules;   // 2 for ID 1, 1 for ID 0
  uint32_t sampleRate;
  bool decoded;  // false for a frame at the start whose main data lies before the first
                 // byte read: the decoder writes no PCM for it
};

// The frames from byte 0 up to the first header that is not a frame the decoder covers (no
// sync, free format, bitrate index 15, sampling index 3) or the end of the data.
// Tables and frame length: the tests' own copy in tests/support, apart from the decoder's.
inline std::vector<FrameInfo> ParseFrames(const std::vector<uint8_t>& d) {
  std::vector<FrameInfo> frames;
  size_t p = 0;
  uint32_t ringWritePos = 0;
  for (long n = 0; p + 4 <= d.size(); n++) {
    const uint32_t h = uint32_t(d[p]) << 24 | uint32_t(d[p + 1]) << 16 | uint32_t(d[p + 2]) << 8 | d[p + 3];
    if ((h >> 20) != 0xFFF) break;
    const int id = (h >> 19) & 1, prot = (h >> 16) & 1, bri = (h >> 12) & 15, sf = (h >> 10) & 3;
    const int pad = (h >> 9) & 1, mode = (h >> 6) & 3;
    if (bri == 0 || bri == 15 || sf == 3) break;
    FrameInfo f;
    f.offset = p;
    f.channels = mode == 3 ? 1 : 2;
    f.granules = id ? 2 : 1;
    f.sampleRate = uint32_t(StandardSampleRate(id, sf));
    const int bytes = StandardFrameBytes(id, 3, bri, sf, 0);
    f.length = size_t(bytes + pad);
    const int sideBytes = (id ? (f.channels == 1 ? 21 : 36) : (f.channels == 1 ? 13 : 21)) + (prot ? 0 : 2);
    const size_t q = p + 4 + (prot ? 0 : 2);
    uint32_t mainDataBegin = 0;
    if (q + 1 < d.size()) mainDataBegin = id ? (uint32_t(d[q]) << 1 | d[q + 1] >> 7) : d[q];
    f.decoded = !(mainDataBegin > ringWritePos && n * bytes < 960);
    ringWritePos = (ringWritePos + uint32_t(bytes + pad - sideBytes)) % 4096;
    frames.push_back(f);
    p += f.length;
  }
  return frames;
}

// PCM bytes the decoder writes for the given frames.
inline size_t PcmBytesOf(const std::vector<FrameInfo>& frames) {
  size_t n = 0;
  for (const FrameInfo& f : frames)
    if (f.decoded) n += size_t(f.granules) * size_t(f.channels) * 576 * 2;
  return n;
}

inline void InitTablesOnce() {
  static std::once_flag once;
  std::call_once(once, [] { InitDecoderTables(); });
}

struct Decoded {
  uint32_t exitCode = 0xFFFFFFFF;  // no decode ran
  std::vector<uint8_t> wav;
};

inline Decoded DecodeOpened(FILE* in) {
  InitTablesOnce();
  Decoded out;
  FILE* wav = tmpfile();
  if (!wav) return out;
  out.exitCode = DecodeStream(in, wav);
  fflush(wav);
  rewind(wav);
  pcmdiff::ReadFileBytes(wav, out.wav);
  fclose(wav);
  return out;
}

inline Decoded DecodeFile(const std::string& path) {
  FILE* in = fopen(path.c_str(), "rb");
  if (!in) return {};
  Decoded out = DecodeOpened(in);
  fclose(in);
  return out;
}

inline Decoded DecodeBytes(const std::vector<uint8_t>& bytes) {
  FILE* in = tmpfile();
  if (!in) return {};
  if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), in);
  rewind(in);
  Decoded out = DecodeOpened(in);
  fclose(in);
  return out;
}

}  // namespace decodetest
