#include "tests/support/frames.h"

#include <cstring>

void BitWriter::Put(uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (BitCount % 8 == 0) Bytes.push_back(0);
    if ((value >> i) & 1) Bytes.back() |= static_cast<uint8_t>(0x80 >> (BitCount % 8));
    ++BitCount;
  }
}

void BitWriter::PutCode(const char* bits) {
  for (const char* p = bits; *p; ++p) Put(*p == '1' ? 1 : 0, 1);
}

void BitWriter::PadTo(size_t bytes) {
  while (Bytes.size() < bytes) Bytes.push_back(0);
  BitCount = Bytes.size() * 8;
}

int StandardBitrate(int id, int layer, int bitrateIndex) {
  // [ID][layer - 1][bitrate_index]; the lower sampling frequencies share one row for II and III.
  static const int Kbps[2][3][16] = {
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}}};
  if (id < 0 || id > 1 || layer < 1 || layer > 3 || bitrateIndex < 0 || bitrateIndex > 15) return 0;
  return Kbps[id][layer - 1][bitrateIndex];
}

int StandardSampleRate(int id, int sampleIndex, bool mpeg25) {
  static const int Hz[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};
  if (id < 0 || id > 1 || sampleIndex < 0 || sampleIndex > 3 || (mpeg25 && id == 1)) return 0;
  return mpeg25 ? Hz[0][sampleIndex] / 2 : Hz[id][sampleIndex];
}

int StandardFrameBytes(int id, int layer, int bitrateIndex, int sampleIndex, int padding, bool mpeg25) {
  const long bitsPerSecond = 1000L * StandardBitrate(id, layer, bitrateIndex);
  const long rate = StandardSampleRate(id, sampleIndex, mpeg25);
  if (bitsPerSecond == 0 || rate == 0) return 0;
  // Slots of 4 bytes and 384 samples in Layer I; 1152 samples in Layer II and MPEG-1 Layer III,
  // 576 in Layer III at the lower sampling frequencies.
  if (layer == 1) return static_cast<int>((12 * bitsPerSecond / rate + padding) * 4);
  const long samplesPerFrame = layer == 3 && id == 0 ? 576 : 1152;
  return static_cast<int>(samplesPerFrame / 8 * bitsPerSecond / rate + padding);
}

int FrameBytes(const FrameFields& f) {
  return StandardFrameBytes(f.id, 3, f.bitrateIndex, f.sampleIndex, f.padding, f.sync == 0xFFE);
}

void PutFrame(std::vector<uint8_t>& out, const FrameFields& f) {
  BitWriter w;
  w.Put(f.sync, 12);
  w.Put(static_cast<uint32_t>(f.id), 1);
  w.Put(1, 2);  // Layer III
  w.Put(static_cast<uint32_t>(f.protection), 1);
  w.Put(static_cast<uint32_t>(f.bitrateIndex), 4);
  w.Put(static_cast<uint32_t>(f.sampleIndex), 2);
  w.Put(static_cast<uint32_t>(f.padding), 1);
  w.Put(0, 1);  // private_bit
  w.Put(static_cast<uint32_t>(f.mode), 2);
  w.Put(static_cast<uint32_t>(f.modeExtension), 2);
  w.Put(0, 4);                           // copyright, original/copy, emphasis
  if (!f.protection) w.Put(0xBEEF, 16);  // CRC word, never checked
  const int channels = f.mode == 3 ? 1 : 2;
  const int sideBytes = f.id ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
  const size_t sideStart = w.Bytes.size();
  w.Put(static_cast<uint32_t>(f.mainDataBegin), f.id ? 9 : 8);
  // The rest of the side information is zero: empty long-block granules with table 0.
  w.PadTo(sideStart + static_cast<size_t>(sideBytes));
  w.PadTo(static_cast<size_t>(FrameBytes(f)));
  out.insert(out.end(), w.Bytes.begin(), w.Bytes.end());
}

std::vector<uint8_t> Frames(int count, const FrameFields& f) {
  std::vector<uint8_t> out;
  for (int i = 0; i < count; ++i) PutFrame(out, f);
  return out;
}

std::vector<uint8_t> Id3v2Tag(uint32_t size, int major, bool footer) {
  const uint8_t head[7] = {uint8_t(major),        0, uint8_t(footer ? 0x10 : 0), uint8_t(size >> 21 & 127),
                           uint8_t(size >> 14 & 127), uint8_t(size >> 7 & 127), uint8_t(size & 127)};
  std::vector<uint8_t> t(10 + size + (footer ? 10 : 0), 0);
  std::memcpy(t.data(), "ID3", 3);
  std::memcpy(t.data() + 3, head, 7);
  if (footer) std::memcpy(t.data() + 10 + size, "3DI", 3);
  if (footer) std::memcpy(t.data() + 13 + size, head, 7);
  return t;
}

std::vector<uint8_t> InformationFrame(const FrameFields& f, const char* tag, uint32_t frames, int delay,
                                      int padding) {
  std::vector<uint8_t> b;
  PutFrame(b, f);
  // After the header, the CRC word and the side information.
  const size_t at = (f.id ? (f.mode == 3 ? 21 : 36) : (f.mode == 3 ? 13 : 21)) + (f.protection ? 0 : 2);
  std::memcpy(b.data() + at, tag, 4);
  b[at + 7] = 1 | 2;  // flags: frames and bytes present
  for (int i = 0; i < 4; ++i) b[at + 8 + size_t(i)] = static_cast<uint8_t>(frames >> (24 - 8 * i));
  const size_t lame = at + 16;
  if (delay >= 0) {
    std::memcpy(b.data() + lame, "LAME3.100", 9);
    b[lame + 21] = static_cast<uint8_t>(delay >> 4);
    b[lame + 22] = static_cast<uint8_t>((delay & 15) << 4 | padding >> 8);
    b[lame + 23] = static_cast<uint8_t>(padding);
  }
  return b;
}
