#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "decoder/stages.h"
#include "decoder/tables/scalefactor_tables.h"
#include "tests/decoder/memory_input.h"

namespace {

struct GranuleFields {
  int part2_3_length, big_values, global_gain, scalefac_compress, window_switching_flag;
  int block_type, mixed_block_flag, table_select[3], subblock_gain[3], region0_count, region1_count;
  int preflag, scalefac_scale, count1table_select;
};

// Writes a granule's side information in the layout of ID (1 or 0).
void PutGranule(BitWriter& w, const GranuleFields& f, int id) {
  w.Put(f.part2_3_length, 12);
  w.Put(f.big_values, 9);
  w.Put(f.global_gain, 8);
  w.Put(f.scalefac_compress, id ? 4 : 9);
  w.Put(f.window_switching_flag, 1);
  if (f.window_switching_flag) {
    w.Put(f.block_type, 2);
    w.Put(f.mixed_block_flag, 1);
    w.Put(f.table_select[0], 5);
    w.Put(f.table_select[1], 5);
    for (int s : f.subblock_gain) w.Put(s, 3);
  } else {
    for (int t : f.table_select) w.Put(t, 5);
    w.Put(f.region0_count, 4);
    w.Put(f.region1_count, 3);
  }
  if (id) w.Put(f.preflag, 1);
  w.Put(f.scalefac_scale, 1);
  w.Put(f.count1table_select, 1);
}

void ExpectGranule(const GranuleInfo& gi, const GranuleFields& f) {
  EXPECT_EQ(gi.part2_3_length, f.part2_3_length);
  EXPECT_EQ(gi.big_values, f.big_values);
  EXPECT_EQ(gi.global_gain, f.global_gain);
  EXPECT_EQ(gi.scalefac_compress, f.scalefac_compress);
  EXPECT_EQ(gi.window_switching_flag, f.window_switching_flag);
  EXPECT_EQ(gi.block_type, f.window_switching_flag ? f.block_type : 0);
  EXPECT_EQ(gi.table_select[0], f.table_select[0]);
  EXPECT_EQ(gi.table_select[1], f.table_select[1]);
  EXPECT_EQ(gi.table_select[2], f.window_switching_flag ? 0 : f.table_select[2]);
  if (f.window_switching_flag) {
    EXPECT_EQ(gi.mixed_block_flag, f.mixed_block_flag);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(gi.subblock_gain[k], f.subblock_gain[k]);
  } else {
    EXPECT_EQ(gi.region0_count, f.region0_count);
    EXPECT_EQ(gi.region1_count, f.region1_count);
  }
  EXPECT_EQ(gi.scalefac_scale, f.scalefac_scale);
  EXPECT_EQ(gi.count1table_select, f.count1table_select);
}

const GranuleFields LongGranule = {3000, 280, 210, 9, 0, 0, 0, {15, 24, 13}, {0, 0, 0}, 7, 5, 1, 1, 1};
const GranuleFields ShortGranule = {4095, 17, 255, 15, 1, 2, 1, {31, 16, 0}, {7, 1, 5}, 0, 0, 0, 0, 0};
const GranuleFields LsfLong = {1234, 288, 140, 511, 0, 0, 0, {1, 2, 3}, {0, 0, 0}, 15, 7, 0, 1, 0};
const GranuleFields LsfStart = {77, 3, 1, 300, 1, 1, 0, {5, 6, 0}, {2, 3, 4}, 0, 0, 0, 0, 1};

struct LayoutRow {
  const char* name;
  int id, mode, bytes;
};

class SideInfoLayout : public ::testing::TestWithParam<LayoutRow> {};

TEST_P(SideInfoLayout, ReadsEveryFieldFromItsByteCount) {
  const LayoutRow& row = GetParam();
  const int channels = row.mode == 3 ? 1 : 2;
  const int granules = row.id ? 2 : 1;
  const GranuleFields* fields[2][2] = {{row.id ? &LongGranule : &LsfLong, row.id ? &ShortGranule : &LsfStart},
                                       {&ShortGranule, &LongGranule}};
  BitWriter w;
  w.Put(row.id ? 0x1A5 : 0xC3, row.id ? 9 : 8);                        // main_data_begin
  w.Put(row.id ? 0 : 1, row.id ? (channels == 1 ? 5 : 3) : channels);  // private bits
  if (row.id)
    for (int c = 0; c < channels; ++c) w.Put(c ? 0x5 : 0xA, 4);  // scfsi
  for (int g = 0; g < granules; ++g)
    for (int c = 0; c < channels; ++c) PutGranule(w, *fields[g][c], row.id);
  ASSERT_EQ(w.BitCount, static_cast<size_t>(row.bytes) * 8) << "the layout itself is wrong";
  w.Bytes.push_back(0xEE);  // the next frame's byte must stay unread

  FrameHeader header{};
  header.ID = row.id;
  header.mode = row.mode;
  MemoryInput in(w.Bytes);
  OpenInput(in.File);
  ReadSideInfo(header);
  EXPECT_EQ(InputTell(), static_cast<uint32_t>(row.bytes));
  OpenInput(nullptr);
  EXPECT_EQ(Decoder.Side.main_data_begin, row.id ? 0x1A5 : 0xC3);
  if (row.id) {
    EXPECT_EQ(Decoder.Side.scfsi[0][0], 1);
    EXPECT_EQ(Decoder.Side.scfsi[0][1], 0);
    EXPECT_EQ(Decoder.Side.scfsi[0][2], 1);
    if (channels == 2) {
      EXPECT_EQ(Decoder.Side.scfsi[1][3], 1);
    }
  }
  for (int g = 0; g < granules; ++g)
    for (int c = 0; c < channels; ++c) {
      SCOPED_TRACE(testing::Message() << "granule " << g << " channel " << c);
      ExpectGranule(Decoder.Side.gr[g][c], *fields[g][c]);
      if (row.id) {
        EXPECT_EQ(Decoder.Side.gr[g][c].preflag, fields[g][c]->preflag);
      }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SideInfoLayout,
                         ::testing::Values(LayoutRow{"Mpeg1Stereo", 1, 1, 32},
                                           LayoutRow{"Mpeg1Mono", 1, 3, 17}, LayoutRow{"LsfStereo", 0, 0, 17},
                                           LayoutRow{"LsfMono", 0, 3, 9}),
                         [](const auto& info) { return std::string(info.param.name); });

// Scale factors: main data of known values is read back with the right widths, and the part2
// length is the sum of the widths.
struct ScaleRow {
  const char* name;
  int id, g, c, sfc, ws, blockType, mixed, scfsi, modeExtension;
  int part2;
  int mode = 1;
};

class ScaleFactorLength : public ::testing::TestWithParam<ScaleRow> {};

TEST_P(ScaleFactorLength, Part2LengthAndReaderPositionAgree) {
  const ScaleRow& row = GetParam();
  FrameHeader header{};
  header.ID = row.id;
  header.mode = row.mode;
  header.mode_extension = row.modeExtension;
  GranuleInfo& gi = Decoder.Side.gr[row.g][row.c];
  gi.scalefac_compress = row.sfc;
  gi.window_switching_flag = row.ws;
  gi.block_type = row.blockType;
  gi.mixed_block_flag = row.mixed;
  gi.preflag = 7;
  for (int k = 0; k < 4; ++k) Decoder.Side.scfsi[row.c][k] = (row.scfsi >> (3 - k)) & 1;
  for (int b = 0; b < 22; ++b) Decoder.scalefac_l[0][row.c][b] = 100 + b;  // granule 0, for scfsi

  std::vector<uint8_t> ones(64, 0xFF);
  LoadMainData(ones, 4000);  // also crosses the ring's end
  const uint32_t start = Decoder.MainBitPos;
  const int part2 = DecodeScaleFactors(header, row.g, row.c);
  EXPECT_EQ(part2, row.part2);
  EXPECT_EQ(Decoder.MainBitPos, (start + static_cast<uint32_t>(part2)) % 32768);
  EXPECT_EQ(Decoder.scalefac_l[row.g][row.c][21],
            row.id == 1 && !(row.ws && row.blockType == 2) ? 0 : Decoder.scalefac_l[row.g][row.c][21]);
  if (row.id == 1 && row.ws && row.blockType == 2) {
    for (int w = 0; w < 3; ++w) EXPECT_EQ(Decoder.scalefac_s[row.g][row.c][12][w], 0);
  }
  if (row.id == 0) {
    // All bits are ones: every value is its width's maximum, which is also the intensity limit.
    if (row.c == 1 && row.ws == 0) {
      for (int b = 0; b < 21; ++b) EXPECT_EQ(Decoder.IsLimitLong[b], Decoder.scalefac_l[0][1][b]) << b;
    }
    if (row.c == 1 && row.ws && row.blockType == 2) {
      for (int b = row.mixed ? 3 : 0; b < 12; ++b)
        EXPECT_EQ(Decoder.IsLimitShort[b], Decoder.scalefac_s[0][1][b][2]) << b;
    }
    const bool intensity = row.c == 1 && row.mode == 1 && (row.modeExtension & 1);
    EXPECT_EQ(gi.preflag, !intensity && row.sfc >= 500 ? 1 : 0);
    if (intensity) {
      EXPECT_EQ(Decoder.IntensityScale, row.sfc & 1);
    }
  }
}

// slen1/slen2 of scalefac_compress 9: 2, 2; 15: 4, 3; 4: 3, 0.
INSTANTIATE_TEST_SUITE_P(
    Rows, ScaleFactorLength,
    ::testing::Values(ScaleRow{"LongNoReuse", 1, 0, 0, 15, 0, 0, 0, 0, 0, 11 * 4 + 10 * 3},
                      ScaleRow{"LongScfsiIgnoredInGranule0", 1, 0, 1, 9, 0, 0, 0, 0xF, 0, 21 * 2},
                      ScaleRow{"LongScfsiAllInGranule1", 1, 1, 0, 15, 0, 0, 0, 0xF, 0, 0},
                      ScaleRow{"LongScfsiGroups1And3", 1, 1, 1, 15, 0, 0, 0, 0x5, 0, 6 * 4 + 5 * 3},
                      ScaleRow{"StartBlockIsLong", 1, 0, 0, 9, 1, 1, 0, 0, 0, 21 * 2},
                      ScaleRow{"Compress0ReadsNothing", 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                      ScaleRow{"Short", 1, 0, 0, 15, 1, 2, 0, 0xF, 0, 18 * 4 + 18 * 3},
                      ScaleRow{"Mixed", 1, 1, 1, 15, 1, 2, 1, 0, 0, 8 * 4 + 9 * 4 + 18 * 3},
                      ScaleRow{"ShortWithWidthZero", 1, 0, 0, 4, 1, 2, 0, 0, 0, 18 * 3},
                      // ID 0: sfc 399 -> slen (4, 4, 3, 3), block 0; 499 -> (4, 4, 3, 0), block 1; 511 ->
                      // (3, 2, 0, 0), block 2.
                      ScaleRow{"LsfLongBlock0", 0, 0, 0, 399, 0, 0, 0, 0, 0, 6 * 4 + 5 * 4 + 5 * 3 + 5 * 3},
                      ScaleRow{"LsfShortBlock1", 0, 0, 0, 499, 1, 2, 0, 0, 0, 9 * 4 + 9 * 4 + 12 * 3},
                      ScaleRow{"LsfMixedBlock2Preflag", 0, 0, 0, 511, 1, 2, 1, 0, 0, 15 * 3 + 18 * 2},
                      ScaleRow{"LsfRightChannelWithoutIntensity", 0, 0, 1, 399, 0, 0, 0, 0, 2,
                               6 * 4 + 5 * 4 + 5 * 3 + 5 * 3},
                      // Intensity channel: i = sfc / 2. 359 -> i 179: slen (4, 5, 5, 0), block 3;
                      // 487 -> i 243, r 63: (3, 3, 3, 0), block 4; 509 -> i 254, r 10: (3, 1, 0, 0), block 5.
                      ScaleRow{"LsfIntensityLongBlock3", 0, 0, 1, 359, 0, 0, 0, 0, 1, 7 * 4 + 7 * 5 + 7 * 5},
                      ScaleRow{"LsfIntensityShortBlock4", 0, 0, 1, 487, 1, 2, 0, 0, 3,
                               12 * 3 + 9 * 3 + 9 * 3},
                      ScaleRow{"LsfIntensityMixedBlock5", 0, 0, 1, 509, 1, 2, 1, 0, 1, 6 * 3 + 18 * 1},
                      ScaleRow{"LsfIntensity510ReadsNothing", 0, 0, 1, 510, 0, 0, 0, 0, 1, 0},
                      ScaleRow{"LsfIntensity511ShortReadsNothing", 0, 0, 1, 511, 1, 2, 0, 0, 3, 0},
                      // Dual channel: mode_extension bits do not switch the second channel to the intensity
                      // layout (sfc 399 as in LsfLongBlock0).
                      ScaleRow{"LsfDualChannelIgnoresModeExtension", 0, 0, 1, 399, 0, 0, 0, 0, 3,
                               6 * 4 + 5 * 4 + 5 * 3 + 5 * 3, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScaleFactors, ScfsiCopiesGranuleZeroAndReadsTheRestInOrder) {
  FrameHeader header{};
  header.ID = 1;
  GranuleInfo& gi = Decoder.Side.gr[1][0];
  gi.scalefac_compress = 11;  // slen1 3, slen2 1
  gi.window_switching_flag = 0;
  Decoder.Side.scfsi[0][0] = 1;
  Decoder.Side.scfsi[0][1] = 0;
  Decoder.Side.scfsi[0][2] = 1;
  Decoder.Side.scfsi[0][3] = 0;
  for (int b = 0; b < 22; ++b) Decoder.scalefac_l[0][0][b] = 40 + b;
  BitWriter w;
  for (int b = 6; b < 11; ++b) w.Put(b % 8, 3);
  for (int b = 16; b < 21; ++b) w.Put(b & 1, 1);
  w.PadTo(8);
  LoadMainData(w.Bytes, 10);
  EXPECT_EQ(DecodeScaleFactors(header, 1, 0), 5 * 3 + 5 * 1);
  for (int b = 0; b < 6; ++b) EXPECT_EQ(Decoder.scalefac_l[1][0][b], 40 + b);
  for (int b = 6; b < 11; ++b) EXPECT_EQ(Decoder.scalefac_l[1][0][b], b % 8);
  for (int b = 11; b < 16; ++b) EXPECT_EQ(Decoder.scalefac_l[1][0][b], 40 + b);
  for (int b = 16; b < 21; ++b) EXPECT_EQ(Decoder.scalefac_l[1][0][b], b & 1);
  EXPECT_EQ(Decoder.scalefac_l[1][0][21], 0);
}

TEST(ScaleFactors, ShortBandsAreReadBandByBandWindowByWindow) {
  FrameHeader header{};
  header.ID = 1;
  GranuleInfo& gi = Decoder.Side.gr[0][1];
  gi.scalefac_compress = 15;  // 4, 3
  gi.window_switching_flag = 1;
  gi.block_type = 2;
  gi.mixed_block_flag = 0;
  BitWriter w;
  for (int b = 0; b < 12; ++b)
    for (int win = 0; win < 3; ++win) w.Put((b * 3 + win) % (b < 6 ? 16 : 8), b < 6 ? 4 : 3);
  w.PadTo(20);
  LoadMainData(w.Bytes, 0);
  EXPECT_EQ(DecodeScaleFactors(header, 0, 1), 126);
  for (int b = 0; b < 12; ++b)
    for (int win = 0; win < 3; ++win)
      EXPECT_EQ(Decoder.scalefac_s[0][1][b][win], (b * 3 + win) % (b < 6 ? 16 : 8)) << b << " " << win;
}

TEST(ScaleFactors, LsfIntensityLimitsFollowTheWidthOfEachPartition) {
  FrameHeader header{};
  header.ID = 0;
  header.mode = 1;
  header.mode_extension = 1;
  GranuleInfo& gi = Decoder.Side.gr[0][1];
  gi.scalefac_compress = 2 * 200 + 1;  // i 200, r 20: slen (1, 1, 0, 0), block 4
  gi.window_switching_flag = 0;
  std::vector<uint8_t> zeros(16, 0);
  LoadMainData(zeros, 0);
  EXPECT_EQ(DecodeScaleFactors(header, 0, 1), 6 + 6);
  EXPECT_EQ(Decoder.IntensityScale, 1);
  for (int b = 0; b < 12; ++b) EXPECT_EQ(Decoder.IsLimitLong[b], 1) << b;
  for (int b = 12; b < 21; ++b) EXPECT_EQ(Decoder.IsLimitLong[b], 0) << b;
}

// The band ends the decoder selects for each (ID, sampling_frequency) are those of the reference
// file the tables are generated from (Table 3-B.8 of ISO/IEC 11172-3, Table B.2 of 13818-3,
// with band 18 of 24 kHz starting at line 332): each band ends one line before the next starts.
TEST(BandTables, SelectedEndsMatchTheReferenceBoundaries) {
  std::ifstream in(SONIVERT_SOURCE_DIR "/tools/gentables/data/layer3-sfb-bands.txt");
  ASSERT_TRUE(in.good());
  const std::map<int, std::pair<int, int>> headerOf = {{44100, {1, 0}}, {48000, {1, 1}}, {32000, {1, 2}},
                                                       {22050, {0, 0}}, {24000, {0, 1}}, {16000, {0, 2}}};
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    int rate = 0;
    std::string kind;
    if (line.empty() || line[0] == '#' || !(fields >> rate >> kind) || (kind != "long" && kind != "short"))
      continue;
    std::vector<int> starts;
    for (int v; fields >> v;) starts.push_back(v);
    const bool isLong = kind == "long";
    ASSERT_EQ(starts.size(), isLong ? 23u : 14u) << line;
    ASSERT_EQ(headerOf.count(rate), 1u) << line;
    FrameHeader header{};
    header.ID = headerOf.at(rate).first;
    header.sampling_frequency = headerOf.at(rate).second;
    SelectBandTables(header);
    const int16_t* ends = isLong ? Decoder.LongBandEnd : Decoder.ShortBandEnd;
    for (size_t b = 0; b + 1 < starts.size(); ++b)
      EXPECT_EQ(ends[b], starts[b + 1] - 1) << rate << " " << kind << " band " << b;
    rows++;
  }
  EXPECT_EQ(rows, 12) << "a long and a short row for each of the six sampling frequencies";
}

}  // namespace
