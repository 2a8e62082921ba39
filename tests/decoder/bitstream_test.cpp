#include <gtest/gtest.h>

#include <cstring>

#include "decoder/stages.h"
#include "decoder/tables/frame_rates.h"
#include "tests/decoder/memory_input.h"

namespace {

uint32_t ReferenceBits(const std::vector<uint8_t>& ring, uint32_t pos, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    uint32_t p = (pos + static_cast<uint32_t>(i)) % 32768;
    v = (v << 1) | ((ring[p / 8] >> (7 - p % 8)) & 1);
  }
  return v;
}

// Main data written across the ring's end is read back without a break, at every bit offset
// and width near the end, and after the ring's start has been rewritten.
TEST(MainDataReader, ReadsAcrossTheRingEnd) {
  std::vector<uint8_t> ring(4096);
  uint32_t seed = 12345;
  std::vector<uint8_t> data(100);
  for (auto& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  LoadMainData(data, 4096 - 40);  // 40 bytes before the end, 60 after the wrap
  EXPECT_EQ(Decoder.RingWritePos, 60u);
  for (size_t i = 0; i < data.size(); ++i) ring[(4096 - 40 + i) % 4096] = data[i];
  for (uint32_t pos = (4096 - 6) * 8; pos < 4096 * 8 + 40; ++pos) {
    for (int n : {1, 2, 7, 9, 13, 16, 19}) {
      Decoder.MainBitPos = pos % 32768;
      ASSERT_EQ(PeekMainBits(n), ReferenceBits(ring, pos % 32768, n)) << "pos " << pos << " n " << n;
      ASSERT_EQ(GetMainBits(n), ReferenceBits(ring, pos % 32768, n));
      ASSERT_EQ(Decoder.MainBitPos, (pos + n) % 32768);
    }
  }
  // A new append that rewrites ring bytes 0..3 is seen by a window starting at byte 4095.
  LoadMainData({0xA5, 0x5A, 0xFF, 0x00}, 0);
  Decoder.MainBitPos = 4095 * 8 + 4;
  ring[0] = 0xA5;
  ring[1] = 0x5A;
  ring[2] = 0xFF;
  ring[3] = 0x00;
  EXPECT_EQ(PeekMainBits(19), ReferenceBits(ring, 4095 * 8 + 4, 19));
  EXPECT_EQ(GetMainBits(0), 0u);
  SkipMainBits(20);
  EXPECT_EQ(Decoder.MainBitPos, 16u);
}

TEST(MainDataReader, ShortReadStillAdvancesTheWritePosition) {
  Decoder.RingWritePos = 100;
  std::vector<uint8_t> three = {1, 2, 3};
  MemoryInput in(three);
  OpenInput(in.File);
  std::memset(Decoder.MainDataRing + 100, 0xEE, 10);
  AppendMainData(10);
  OpenInput(nullptr);
  EXPECT_EQ(Decoder.RingWritePos, 110u);
  EXPECT_EQ(Decoder.MainDataRing[102], 3);
  EXPECT_EQ(Decoder.MainDataRing[103], 0xEE);  // old content stays where the input ended
}

struct HeaderRow {
  const char* name;
  std::vector<uint8_t> bytes;
  HeaderResult result;
  int32_t id = 0, layer = 0, protection = 0, bitrate = 0, rate = 0, padding = 0, mode = 0, extension = 0,
          emphasis = 0, mpeg25 = 0;
};

class FrameHeaderTest : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(FrameHeaderTest, AcceptsTheSyncOfEveryVersion) {
  const HeaderRow& row = GetParam();
  FrameHeader header;
  std::memset(&header, 0x55, sizeof header);  // "previous header": kept unless a frame is read
  MemoryInput in(row.bytes);
  OpenInput(in.File);
  EXPECT_EQ(ReadFrameHeader(header), row.result);
  const uint64_t read = InputTell();
  OpenInput(nullptr);
  if (row.result != HeaderFrame) {
    EXPECT_EQ(header.ID, 0x55555555);
    EXPECT_EQ(header.mode, 0x55555555);
    return;
  }
  EXPECT_EQ(header.ID, row.id);
  EXPECT_EQ(header.layer, row.layer);
  EXPECT_EQ(header.protection_bit, row.protection);
  EXPECT_EQ(header.bitrate_index, row.bitrate);
  EXPECT_EQ(header.sampling_frequency, row.rate);
  EXPECT_EQ(header.padding_bit, row.padding);
  EXPECT_EQ(header.mode, row.mode);
  EXPECT_EQ(header.mode_extension, row.extension);
  EXPECT_EQ(header.emphasis, row.emphasis);
  EXPECT_EQ(header.mpeg25, row.mpeg25);
  EXPECT_EQ(read, 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FrameHeaderTest,
    ::testing::Values(
        HeaderRow{"Mpeg1JointStereo", {0xFF, 0xFB, 0x90, 0x64}, HeaderFrame, 1, 1, 1, 9, 0, 0, 1, 2, 0},
        HeaderRow{
            "StereoClearsModeExtension", {0xFF, 0xFB, 0x92, 0x30}, HeaderFrame, 1, 1, 1, 9, 0, 1, 0, 0, 0},
        HeaderRow{"LsfMonoWithCrc", {0xFF, 0xF2, 0x84, 0xC1}, HeaderFrame, 0, 1, 0, 8, 1, 0, 3, 0, 1},
        HeaderRow{
            "LayerOneBitsStillAFrame", {0xFF, 0xFF, 0x10, 0x00}, HeaderFrame, 1, 3, 1, 1, 0, 0, 0, 0, 0},
        HeaderRow{"Mpeg25Sync", {0xFF, 0xE3, 0x98, 0x64}, HeaderFrame, 0, 1, 1, 9, 2, 0, 1, 2, 0, 1},
        HeaderRow{"OtherSyncEndsStream", {0x54, 0x41, 0x47, 0x00}, HeaderEndOfStream},
        HeaderRow{"ElevenOnesEndStream", {0xFF, 0xCB, 0x90, 0x64}, HeaderEndOfStream},
        HeaderRow{"ShortReadEndsStream", {0xFF, 0xFB, 0x90}, HeaderEndOfStream},
        HeaderRow{"EmptyInputEndsStream", {}, HeaderEndOfStream}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FrameHeader, CrcWordIsSkippedAndSideInfoStartsSixBytesIn) {
  MemoryInput in({0xFF, 0xFA, 0x90, 0x64, 0x12, 0x34, 0xAB});
  OpenInput(in.File);
  FrameHeader header{};
  ASSERT_EQ(ReadFrameHeader(header), HeaderFrame);
  EXPECT_EQ(header.protection_bit, 0);
  SkipCrc();
  EXPECT_EQ(InputTell(), 6u);
  ReadHeaderBytes(1);
  EXPECT_EQ(GetHeaderBits(8), 0xABu);
  OpenInput(nullptr);
}

TEST(FrameHeader, HeaderBitsAreReadMostSignificantFirstAcrossBytes) {
  MemoryInput in({0x12, 0x34, 0x56, 0x78, 0x9A});
  OpenInput(in.File);
  EXPECT_EQ(ReadHeaderBytes(5), 5);
  EXPECT_EQ(GetHeaderBits(4), 0x1u);
  EXPECT_EQ(GetHeaderBits(16), 0x2345u);
  EXPECT_EQ(GetHeaderBits(12), 0x678u);
  EXPECT_EQ(GetHeaderBits(8), 0x9Au);
  EXPECT_EQ(Decoder.HeaderBitPos, 40u);
  OpenInput(nullptr);
}

// The frame length of every layer, worked out by hand from the standards' slot rule: Layer I
// frames are 4 x floor(12 x bitrate / rate) bytes (and pad by 4), Layers II and III
// floor(144 x bitrate / rate), Layer III of the lower sampling frequencies floor(72 x ...).
TEST(FrameHeader, FrameBytesOfEveryLayer) {
  struct Row {
    const char* name;
    int id, layer, kbps, rate, padding, bytes;
  } rows[] = {
      {"LayerI_32k_44100", 1, 3, 32, 44100, 0, 32},         // 12 x 32000 / 44100 = 8.7 slots
      {"LayerI_32k_44100_padded", 1, 3, 32, 44100, 1, 36},  // one more 4-byte slot
      {"LayerI_lsf_256k_16000", 0, 3, 256, 16000, 0, 768},
      {"LayerII_384k_48000", 1, 2, 384, 48000, 0, 1152},
      {"LayerII_lsf_160k_22050", 0, 2, 160, 22050, 1, 1045},  // 1044.9 + 1: Layer II keeps 1152 samples
      {"LayerIII_320k_32000_padded", 1, 1, 320, 32000, 1, 1441},
      {"LayerIII_lsf_8k_22050", 0, 1, 8, 22050, 0, 26},
      {"FreeFormat", 1, 1, 0, 44100, 0, 0},
      {"ReservedRate", 1, 1, 128, 0, 0, 0},
      {"ReservedLayer", 1, 0, 128, 44100, 0, 0},
  };
  for (const Row& r : rows)
    EXPECT_EQ(FrameBytes(r.id, r.layer, r.kbps, r.rate, r.padding), r.bytes) << r.name;
}

}  // namespace
