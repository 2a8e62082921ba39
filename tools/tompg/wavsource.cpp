#include "tools/tompg/wavsource.h"

#include <sys/stat.h>

#include <cstring>

#include "tools/tompg/fileio.h"

namespace {

uint32_t Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// WAVE_FORMAT_EXTENSIBLE sub-format KSDATAFORMAT_SUBTYPE_PCM:
// 00000001-0000-0010-8000-00aa00389b71.
constexpr unsigned char PcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr uint32_t FormatPcm = 0x0001;
constexpr uint32_t FormatExtensible = 0xFFFE;

// Sample rates outside this range are not audio we can code sensibly.
constexpr uint32_t MinRate = 1000;
constexpr uint32_t MaxRate = 768000;

bool ParseFormat(const unsigned char* fmt, uint32_t size, WavSource& source) {
  if (size < 16) return false;
  uint32_t tag = Le16(fmt);
  uint32_t channels = Le16(fmt + 2);
  uint32_t rate = Le32(fmt + 4);
  uint32_t blockAlign = Le16(fmt + 12);
  uint32_t bits = Le16(fmt + 14);
  if (tag == FormatExtensible) {
    // cbSize (2), valid bits (2), channel mask (4), sub-format GUID (16).
    if (size < 40 || Le16(fmt + 16) < 22 || std::memcmp(fmt + 24, PcmSubFormat, 16) != 0) return false;
  } else if (tag != FormatPcm) {
    return false;
  }
  if (channels < 1 || channels > 2 || rate < MinRate || rate > MaxRate || bits < 1 || bits > 32) return false;
  uint32_t container = (bits + 7) / 8;
  if (blockAlign != channels * container) return false;
  source.channels = static_cast<int>(channels);
  source.sampleRate = static_cast<int>(rate);
  source.bitsPerSample = static_cast<int>(bits);
  source.bytesPerSample = static_cast<int>(container);
  source.blockAlign = static_cast<int>(blockAlign);
  return true;
}

}  // namespace

WavOpenResult WavOpen(int fd, WavSource& source) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return WavOpenResult::ReadError;
  if (!S_ISREG(st.st_mode)) return WavOpenResult::NotPcmWave;
  uint64_t fileSize = static_cast<uint64_t>(st.st_size);

  unsigned char riff[12];
  long n = ReadAt(fd, riff, sizeof riff, 0);
  if (n < 0) return WavOpenResult::ReadError;
  if (n < 12 || std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
    return WavOpenResult::NotPcmWave;

  // The RIFF size is not trusted (streaming writers leave it 0 or too large): the walk is bounded
  // by the file itself.
  bool haveFormat = false;
  bool haveData = false;
  uint64_t pos = 12;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    unsigned char header[8];
    if (ReadAt(fd, header, 8, pos) != 8) return WavOpenResult::ReadError;
    uint32_t size = Le32(header + 4);
    uint64_t body = pos + 8;
    if (std::memcmp(header, "fmt ", 4) == 0 && !haveFormat) {
      unsigned char fmt[40] = {};
      uint32_t want = size < sizeof fmt ? size : static_cast<uint32_t>(sizeof fmt);
      long got = ReadAt(fd, fmt, want, body);
      if (got < 0) return WavOpenResult::ReadError;
      if (static_cast<uint32_t>(got) < want || !ParseFormat(fmt, want, source))
        return WavOpenResult::NotPcmWave;
      haveFormat = true;
    } else if (std::memcmp(header, "data", 4) == 0 && !haveData) {
      // A data size that runs past the end of the file is cut to the file.
      uint64_t available = fileSize - body;
      source.dataOffset = body;
      source.dataSize = static_cast<uint32_t>(size < available ? size : available);
      haveData = true;
    }
    pos = body + size + (size & 1u);
  }
  if (!haveFormat || !haveData) return WavOpenResult::NotPcmWave;
  source.fd = fd;
  source.consumed = 0;
  return WavOpenResult::Ok;
}

long WavRead(WavSource& source, float* samples, long maxFrames) {
  // Raw bytes are read in pieces of this many sample frames.
  constexpr long ChunkFrames = 2048;
  unsigned char raw[ChunkFrames * 8];
  long frames = 0;
  const int bytes = source.bytesPerSample;
  const int block = source.blockAlign;
  while (frames < maxFrames) {
    uint32_t left = source.dataSize - source.consumed;
    long want = maxFrames - frames;
    if (want > ChunkFrames) want = ChunkFrames;
    if (static_cast<uint64_t>(want) * block > left)
      want = static_cast<long>(left / static_cast<uint32_t>(block));
    if (want == 0) {
      // Whatever is left is less than one frame: consumed, not coded.
      source.consumed = source.dataSize;
      break;
    }
    size_t size = static_cast<size_t>(want) * block;
    long got = ReadAt(source.fd, raw, size, source.dataOffset + source.consumed);
    if (got < 0) return -1;
    if (static_cast<size_t>(got) < size) {
      // The file shrank under us: what is there is coded, the rest counts as consumed.
      want = got / block;
      source.dataSize = source.consumed + static_cast<uint32_t>(got);
    }
    source.consumed += static_cast<uint32_t>(want * block);
    long count = want * source.channels;
    const unsigned char* p = raw;
    float* out = samples + frames * source.channels;
    switch (bytes) {
      case 1:
        for (long i = 0; i < count; ++i) out[i] = (static_cast<int>(p[i]) - 128) * (1.0f / 128.0f);
        break;
      case 2:
        for (long i = 0; i < count; ++i, p += 2)
          out[i] = static_cast<int16_t>(p[0] | (p[1] << 8)) * (1.0f / 32768.0f);
        break;
      case 3:
        for (long i = 0; i < count; ++i, p += 3)
          out[i] =
              (static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (static_cast<uint32_t>(p[2]) << 24)) >> 8) *
              (1.0f / 8388608.0f);
        break;
      default:
        for (long i = 0; i < count; ++i, p += 4)
          out[i] = static_cast<float>(static_cast<int32_t>(Le32(p))) * (1.0f / 2147483648.0f);
        break;
    }
    frames += want;
    if (static_cast<size_t>(got) < size) break;
  }
  return frames;
}
