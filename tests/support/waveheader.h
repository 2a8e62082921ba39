// The tests' one reader of WAV headers: walks the RIFF chunks of a file's bytes to its "fmt " and
// "data" chunks. Header-only and without the test framework, so that the pcm_compare tool uses it
// as the tests do.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

struct WaveHeader {
  bool valid = false;      // RIFF WAVE with a "fmt " chunk of 16 bytes or more before a "data" chunk
  bool canonical = false;  // the 44-byte layout a decoder writes: "fmt " of 16 bytes at 12, "data" at 36
  uint32_t riffSize = 0;
  uint16_t format = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
  uint32_t sampleRate = 0, byteRate = 0;
  uint32_t dataSize = 0;    // as the "data" chunk's header states it
  size_t dataOffset = 0;    // where the samples start
};

inline WaveHeader ReadWaveHeader(const uint8_t* b, size_t size) {
  auto le16 = [b](size_t p) { return static_cast<uint16_t>(b[p] | b[p + 1] << 8); };
  auto le32 = [&](size_t p) { return uint32_t{le16(p)} | uint32_t{le16(p + 2)} << 16; };
  WaveHeader h;
  if (size < 12 || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0) return h;
  h.riffSize = le32(4);
  bool haveFormat = false;
  size_t fmtAt = 0;
  for (size_t pos = 12; pos + 8 <= size;) {
    const uint32_t length = le32(pos + 4);
    if (std::memcmp(b + pos, "fmt ", 4) == 0 && length >= 16 && pos + 8 + 16 <= size) {
      h.format = le16(pos + 8);
      h.channels = le16(pos + 10);
      h.sampleRate = le32(pos + 12);
      h.byteRate = le32(pos + 16);
      h.blockAlign = le16(pos + 20);
      h.bitsPerSample = le16(pos + 22);
      haveFormat = true;
      fmtAt = pos;
    } else if (std::memcmp(b + pos, "data", 4) == 0) {
      h.valid = haveFormat;
      h.dataSize = length;
      h.dataOffset = pos + 8;
      h.canonical = h.valid && fmtAt == 12 && le32(16) == 16 && pos == 36;
      return h;
    }
    if (length > size - pos - 8) return h;
    pos += 8 + length + (length & 1);
  }
  return h;
}
