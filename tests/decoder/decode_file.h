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

// A Layer III header at p the way the decoder's framing judges it, worked out apart from it.
struct HeaderAt {
  bool valid = false;
  int id = 0, mpeg25 = 0, sf = 0, mode = 0, protection = 0, padding = 0;
  size_t length = 0;
  bool SameStream(const HeaderAt& o) const { return valid && o.valid && id == o.id && mpeg25 == o.mpeg25 && sf == o.sf; }
};

inline HeaderAt ParseHeaderAt(const std::vector<uint8_t>& d, size_t p) {
  if (p + 4 > d.size()) return {};
  const uint32_t w = uint32_t(d[p]) << 24 | uint32_t(d[p + 1]) << 16 | uint32_t(d[p + 2]) << 8 | d[p + 3];
  const int id = (w >> 19) & 1, layer = (w >> 17) & 3, bri = (w >> 12) & 15, sf = (w >> 10) & 3;
  const bool mpeg25 = (w >> 20) == 0xFFE, padding = (w >> 9) & 1;
  if (((w >> 20) != 0xFFF && !mpeg25) || (mpeg25 && id) || layer != 1 || bri == 0 || bri == 15 || sf == 3) return {};
  return {true, id, mpeg25, sf, int(w >> 6) & 3, int(w >> 16) & 1, padding,
          size_t(StandardFrameBytes(id, 3, bri, sf, padding, mpeg25))};
}

// A header is told from chance bytes by a header of its stream where its frame ends, or by the
// end of the data there.
inline bool ConfirmedAt(const std::vector<uint8_t>& d, size_t p, const HeaderAt& h) {
  return p + h.length == d.size() || h.SameStream(ParseHeaderAt(d, p + h.length));
}

// The frames the decoder plays in a stream without tags and without frames after bytes that hold
// none (the test streams): the first at byte 0, confirmed; each next one where the last ends, up
// to the first header that is not the stream's; a frame that the end of the data cuts short is
// not played.
// Tables and frame length: the tests' own copy in tests/support, apart from the decoder's.
inline std::vector<FrameInfo> ParseFrames(const std::vector<uint8_t>& d) {
  std::vector<FrameInfo> frames;
  const HeaderAt first = ParseHeaderAt(d, 0);
  if (!first.valid || !ConfirmedAt(d, 0, first)) return frames;
  size_t p = 0;
  uint32_t ringWritePos = 0;
  for (long n = 0; p < d.size(); n++) {
    const HeaderAt h = ParseHeaderAt(d, p);
    if (!h.SameStream(first) || p + h.length > d.size()) break;
    FrameInfo f;
    f.offset = p;
    f.length = h.length;
    f.channels = h.mode == 3 ? 1 : 2;
    f.granules = h.id ? 2 : 1;
    f.sampleRate = uint32_t(StandardSampleRate(h.id, h.sf, h.mpeg25));
    const int bytes = int(h.length) - h.padding;
    const int sideBytes = (h.id ? (f.channels == 1 ? 21 : 36) : (f.channels == 1 ? 13 : 21)) + (h.protection ? 0 : 2);
    const size_t q = p + 4 + (h.protection ? 0 : 2);
    uint32_t mainDataBegin = 0;
    if (q + 1 < d.size()) mainDataBegin = h.id ? (uint32_t(d[q]) << 1 | d[q + 1] >> 7) : d[q];
    f.decoded = !(mainDataBegin > ringWritePos && n * bytes < 960);
    ringWritePos = (ringWritePos + uint32_t(int(h.length) - sideBytes)) % 4096;
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
