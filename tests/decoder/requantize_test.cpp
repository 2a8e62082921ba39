// Requantization, short-block reordering and stereo processing of one granule.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "decoder/stages.h"
#include "decoder/tables/requantize_tables.h"
#include "decoder/vector_path.h"

namespace {

// A granule with empty spectra, unit gains (global_gain 210, no scale factors) and the band
// tables of the given stream, and output arrays full of stale values.
FrameHeader Granule(int id, int sf, int mode, int modeExtension) {
  FrameHeader h{};
  h.ID = id;
  h.layer = 1;
  h.sampling_frequency = sf;
  h.mode = mode;
  h.mode_extension = modeExtension;
  SelectBandTables(h);
  std::memset(&Decoder.Side, 0, sizeof Decoder.Side);
  std::memset(Decoder.scalefac_l, 0, sizeof Decoder.scalefac_l);
  std::memset(Decoder.scalefac_s, 0, sizeof Decoder.scalefac_s);
  std::memset(Decoder.QuantizedSpectrum, 0, sizeof Decoder.QuantizedSpectrum);
  for (auto& gr : Decoder.Side.gr)
    for (auto& gi : gr) gi.global_gain = 210;
  for (auto& c : Decoder.DequantizedSpectrum)
    for (float& v : c) v = 7.0f;
  for (auto& limit : Decoder.IsLimitLong) limit = 99;
  for (auto& limit : Decoder.IsLimitShort) limit = 99;
  Decoder.IntensityScale = 0;
  Decoder.CodedLineCount[0] = Decoder.CodedLineCount[1] = 576;
  return h;
}

void ShortBlocks(int c, bool mixed = false) {
  GranuleInfo& gi = Decoder.Side.gr[0][c];
  gi.window_switching_flag = 1;
  gi.block_type = 2;
  gi.mixed_block_flag = mixed;
}

// The gain of a band is the output of a quantized value 1 (|1|^(4/3) = 1).
struct GainRow {
  const char* name;
  int globalGain, scalefacScale, scalefac, preflag, band;
  double expected;
};

TEST(Requantize, LongBandGain) {
  const GainRow rows[] = {
      {"unit", 210, 0, 0, 0, 0, 1.0},
      {"e=4", 214, 0, 0, 0, 0, 2.0},
      {"e=1", 211, 0, 0, 0, 0, std::pow(2.0, 0.25)},
      {"e=-1", 209, 0, 0, 0, 0, std::pow(2.0, -0.25)},
      {"e=-124 stays positive", 86, 0, 0, 0, 0, std::ldexp(1.0, -31)},
      {"e=-127", 83, 0, 0, 0, 0, std::pow(2.0, -127 / 4.0)},
      {"e=-128 gives 0", 82, 0, 0, 0, 0, 0.0},
      {"global_gain 0, large scale factor", 0, 1, 15, 0, 0, 0.0},
      {"scalefac 1, scale 0", 210, 0, 1, 0, 0, std::pow(2.0, -0.5)},
      {"scalefac 1, scale 1", 210, 1, 1, 0, 0, 0.5},
      {"pretab 1 (band 11)", 210, 0, 0, 1, 11, std::pow(2.0, -0.5)},
      {"pretab 2 (band 15), scale 1", 210, 1, 0, 1, 15, 0.25},
      {"pretab 3 (band 17), scale 1, scalefac 1", 210, 1, 1, 1, 17, std::ldexp(1.0, -4)},
      {"top gain", 255, 0, 0, 0, 0, std::ldexp(1.0, 11) * std::pow(2.0, 0.25)},
  };
  for (const GainRow& row : rows) {
    const FrameHeader h = Granule(1, 0, 3, 0);
    GranuleInfo& gi = Decoder.Side.gr[0][0];
    gi.global_gain = row.globalGain;
    gi.scalefac_scale = row.scalefacScale;
    gi.preflag = row.preflag;
    Decoder.scalefac_l[0][0][row.band] = row.scalefac;
    const int line = row.band == 0 ? 0 : Decoder.LongBandEnd[row.band - 1] + 1;
    Decoder.QuantizedSpectrum[0][line] = 1;
    DequantizeChannel(h, 0, 0);
    const float got = Decoder.DequantizedSpectrum[0][line];
    EXPECT_NEAR(got, row.expected, row.expected * 1e-6) << row.name;
    EXPECT_FALSE(std::signbit(got)) << row.name;
  }
}

TEST(Requantize, ShortBandGainUsesSubblockGainAndWindowScaleFactor) {
  struct Row {
    int subblockGain, scalefacScale, scalefac;
    double expected;
  } rows[] = {{0, 0, 0, 1.0},
              {1, 0, 0, 0.25},
              {0, 0, 1, std::pow(2.0, -0.5)},
              {0, 1, 1, 0.5},
              {7, 1, 15, std::ldexp(1.0, -29)}};
  for (const Row& row : rows) {
    const FrameHeader h = Granule(1, 0, 3, 0);
    ShortBlocks(0);
    GranuleInfo& gi = Decoder.Side.gr[0][0];
    gi.subblock_gain[1] = row.subblockGain;
    gi.scalefac_scale = row.scalefacScale;
    Decoder.scalefac_s[0][0][1][1] = row.scalefac;
    Decoder.QuantizedSpectrum[0][16] = 1;  // band 1, window 1, position 0
    Decoder.QuantizedSpectrum[0][12] = 1;  // band 1, window 0: not affected
    DequantizeChannel(h, 0, 0);
    EXPECT_NEAR(Decoder.DequantizedSpectrum[0][10], row.expected, 1e-7);
    EXPECT_EQ(Decoder.DequantizedSpectrum[0][4], 1.0f);
  }
}

TEST(Requantize, SignedPowerAndLargestMagnitudes) {
  struct Row {
    int32_t q;
    double expected;
  } rows[] = {{8, 16.0},
              {-8, -16.0},
              {-1, -1.0},
              {8191, std::pow(8191.0, 4.0 / 3)},
              {8206, std::pow(8206.0, 4.0 / 3)},
              {-8206, -std::pow(8206.0, 4.0 / 3)},
              // Beyond any escape code: held at the last entry instead of reading past it.
              {100000, std::pow(8206.0, 4.0 / 3)},
              {INT32_MIN, -std::pow(8206.0, 4.0 / 3)}};
  for (const auto& row : rows) {
    const FrameHeader h = Granule(1, 0, 3, 0);
    Decoder.QuantizedSpectrum[0][5] = row.q;
    DequantizeChannel(h, 0, 0);
    EXPECT_NEAR(Decoder.DequantizedSpectrum[0][5], row.expected, std::fabs(row.expected) * 1e-7) << row.q;
  }
}

TEST(Requantize, PlainPathClearsEverythingAboveTheCodedLines) {
  for (int kind = 0; kind < 3; ++kind) {
    const FrameHeader h = Granule(1, 0, 3, 0);
    if (kind > 0) ShortBlocks(0, kind == 2);
    Decoder.CodedLineCount[0] = 0;
    DequantizeChannel(h, 0, 0);
    for (int i = 0; i < 576; ++i) ASSERT_EQ(Decoder.DequantizedSpectrum[0][i], 0.0f) << kind << " " << i;
    EXPECT_EQ(Decoder.ActiveSubbands[0], 1);
  }
}

// Short blocks: coded line (band b, window w, position f), F = first line of b + f, lands at
// 18 * (F div 6) + 6 * w + F mod 6.
TEST(Requantize, ShortBlockReorder) {
  struct Row {
    int id, sf, coded, position;
  } rows[] = {
      {1, 0, 16, 10},          // 44.1 kHz band 1, window 1, position 0: F = 4
      {1, 0, 0, 0},            // band 0, window 0
      {1, 0, 4, 6},            // band 0, window 1
      {1, 0, 575, 575},        // last line of band 12, window 2
      {1, 0, 36, 36},          // band 3 window 0 position 0: F = 12
      {0, 0, 36 + 6, 36 + 6},  // 22.05 kHz band 3 (lines 12..17) window 1, F = 12
      {1, 2, 3 * 104 + 34 + 2, 18 * (106 / 6) + 6 + 106 % 6},  // 32 kHz band 10 (104..137), window 1, f 2
  };
  for (const Row& row : rows) {
    const FrameHeader h = Granule(row.id, row.sf, 3, 0);
    ShortBlocks(0);
    Decoder.QuantizedSpectrum[0][row.coded] = 1;
    DequantizeChannel(h, 0, 0);
    for (int i = 0; i < 576; ++i)
      ASSERT_EQ(Decoder.DequantizedSpectrum[0][i], i == row.position ? 1.0f : 0.0f)
          << row.coded << " at " << i;
  }
  // Every table is a permutation of 0..575.
  for (int id = 0; id < 2; ++id)
    for (int sf = 0; sf < 3; ++sf) {
      bool seen[576] = {};
      for (int i = 0; i < 576; ++i) seen[ShortReorderTable[id][sf][i]] = true;
      for (int i = 0; i < 576; ++i) ASSERT_TRUE(seen[i]) << id << sf << i;
    }
}

TEST(Requantize, MixedBlockKeepsLinesZeroTo35InLineOrder) {
  const FrameHeader h = Granule(1, 0, 3, 0);
  ShortBlocks(0, true);
  Decoder.scalefac_l[0][0][7] = 1;     // long band 7: lines 30..35
  Decoder.scalefac_s[0][0][3][1] = 2;  // short band 3, window 1
  Decoder.QuantizedSpectrum[0][5] = 1;
  Decoder.QuantizedSpectrum[0][33] = 1;
  Decoder.QuantizedSpectrum[0][36 + 4] = 1;  // band 3 window 1 position 0 -> F = 12 -> 42
  Decoder.CodedLineCount[0] = 41;
  DequantizeChannel(h, 0, 0);
  const float* out = Decoder.DequantizedSpectrum[0];
  EXPECT_EQ(out[5], 1.0f);
  EXPECT_NEAR(out[33], std::pow(2.0, -0.5), 1e-7);
  EXPECT_NEAR(out[42], 0.5, 1e-7);
  int nonzero = 0;
  for (int i = 0; i < 576; ++i) nonzero += out[i] != 0.0f;
  EXPECT_EQ(nonzero, 3);
}

TEST(JointStereo, MidSide) {
  const FrameHeader h = Granule(1, 0, 1, 2);
  Decoder.QuantizedSpectrum[0][0] = 1;
  Decoder.QuantizedSpectrum[1][0] = 1;
  Decoder.QuantizedSpectrum[0][1] = 1;
  Decoder.QuantizedSpectrum[1][1] = -1;
  Decoder.CodedLineCount[0] = Decoder.CodedLineCount[1] = 2;
  JointStereoGranule(h, 0);
  EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[0][0], 1.41421356f);
  EXPECT_EQ(Decoder.DequantizedSpectrum[1][0], 0.0f);
  EXPECT_EQ(Decoder.DequantizedSpectrum[0][1], 0.0f);
  EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[1][1], 1.41421356f);
  for (int i = 2; i < 576; ++i)
    ASSERT_EQ(Decoder.DequantizedSpectrum[0][i] + Decoder.DequantizedSpectrum[1][i], 0.0f);
  EXPECT_EQ(Decoder.ActiveSubbands[0], 1);
  EXPECT_EQ(Decoder.ActiveSubbands[1], 1);
}

// MPEG-1 intensity, long blocks, right channel all zero: band 0 stays left/right, band 2
// (lines 8..11 at 44.1 kHz) is intensity-coded with the right channel's scale factor as position.
TEST(JointStereo, Mpeg1IntensityPositions) {
  struct Row {
    int position;
    float left, right;
  } rows[] = {{0, 0.0f, 1.0f},
              {3, 0.5f, 0.5f},
              {6, 1.0f, 0.0f},
              {1, 1 - 0.7886751f, 0.7886751f},
              // 7 is illegal; 8..15 have no ratio and are illegal too: left/right, right 0.
              {7, 1.0f, 0.0f},
              {8, 1.0f, 0.0f},
              {15, 1.0f, 0.0f}};
  for (const Row& row : rows) {
    const FrameHeader h = Granule(1, 0, 1, 1);
    Decoder.scalefac_l[0][1][0] = 3;  // band 0 is never intensity-coded here
    Decoder.scalefac_l[0][1][2] = row.position;
    Decoder.QuantizedSpectrum[0][0] = 1;
    Decoder.QuantizedSpectrum[0][9] = 1;
    Decoder.CodedLineCount[0] = 10;
    Decoder.CodedLineCount[1] = 0;
    JointStereoGranule(h, 0);
    EXPECT_EQ(Decoder.DequantizedSpectrum[0][0], 1.0f) << row.position;
    EXPECT_EQ(Decoder.DequantizedSpectrum[1][0], 0.0f) << row.position;
    EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[0][9], row.left) << row.position;
    EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[1][9], row.right) << row.position;
  }
}

// The bound lies above the right channel's highest nonzero line; below it both channels are
// left/right (or mid/side) coded.
TEST(JointStereo, IntensityBoundFollowsTheRightChannel) {
  const FrameHeader h = Granule(1, 0, 1, 3);
  Decoder.QuantizedSpectrum[1][25] = 1;  // band 6 (24..29)
  Decoder.QuantizedSpectrum[0][25] = 1;
  Decoder.QuantizedSpectrum[0][31] = 1;  // band 7 (30..35): intensity, position 0 -> right
  Decoder.CodedLineCount[0] = 32;
  Decoder.CodedLineCount[1] = 26;
  JointStereoGranule(h, 0);
  EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[0][25], 1.41421356f);  // mid/side: (1 + 1)/sqrt 2
  EXPECT_EQ(Decoder.DequantizedSpectrum[1][25], 0.0f);
  EXPECT_EQ(Decoder.DequantizedSpectrum[0][31], 0.0f);
  EXPECT_EQ(Decoder.DequantizedSpectrum[1][31], 1.0f);
}

// Long band 21 has no scale factor: it takes band 20's intensity position.
TEST(JointStereo, Band21TakesBand20Position) {
  const FrameHeader h = Granule(1, 0, 1, 1);
  Decoder.scalefac_l[0][1][20] = 6;       // all to the left channel
  Decoder.QuantizedSpectrum[0][500] = 1;  // band 21 (418..575)
  Decoder.CodedLineCount[0] = 501;
  Decoder.CodedLineCount[1] = 0;
  JointStereoGranule(h, 0);
  EXPECT_EQ(Decoder.DequantizedSpectrum[0][500], 1.0f);
  EXPECT_EQ(Decoder.DequantizedSpectrum[1][500], 0.0f);
}

// ID 0 intensity: position 0 copies, odd positions scale the left channel, even ones the
// right, by 2^(-k/4) (intensity_scale 0) or 2^(-k/2) (1); the band's illegal position is
// left/right coded.
TEST(JointStereo, LsfIntensityPositions) {
  struct Row {
    int scale, position;
    float left, right;
  } rows[] = {{0, 0, 1.0f, 1.0f},        {0, 1, 0.8408964f, 1.0f},  {0, 2, 1.0f, 0.8408964f},
              {0, 3, 0.70710677f, 1.0f}, {1, 1, 0.70710677f, 1.0f}, {1, 4, 1.0f, 0.5f},
              {0, 31, 0.0f, 1.0f},       {0, 5, 1.0f, 0.0f} /* 5 is the band's illegal position */};
  for (const Row& row : rows) {
    const FrameHeader h = Granule(0, 0, 1, 1);
    Decoder.IntensityScale = row.scale;
    Decoder.IsLimitLong[2] = 5;
    Decoder.scalefac_l[0][1][2] = row.position;
    Decoder.QuantizedSpectrum[0][13] = 1;  // 22.05 kHz band 2: lines 12..17
    Decoder.CodedLineCount[0] = 14;
    Decoder.CodedLineCount[1] = 0;
    JointStereoGranule(h, 0);
    EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[0][13], row.left) << row.scale << " " << row.position;
    EXPECT_FLOAT_EQ(Decoder.DequantizedSpectrum[1][13], row.right) << row.scale << " " << row.position;
  }
}

// Short blocks, ID 0: each window has its own bound. Window 0's right channel is nonzero only
// in band 0, so band 0 stays left/right there; window 1's right channel is empty, so it is
// intensity-coded from band 0.
TEST(JointStereo, ShortBlockBoundsPerWindow) {
  const FrameHeader h = Granule(0, 0, 1, 1);
  ShortBlocks(0);
  ShortBlocks(1);
  const int16_t* reorder = ShortReorderTable[0][0];
  Decoder.QuantizedSpectrum[1][0] = 2;  // band 0 window 0
  Decoder.QuantizedSpectrum[0][0] = 1;
  Decoder.QuantizedSpectrum[0][12] = 1;  // band 1 window 0 (band 0 has 4 lines)
  Decoder.QuantizedSpectrum[0][4] = 1;   // band 0 window 1
  Decoder.CodedLineCount[0] = 13;
  Decoder.CodedLineCount[1] = 1;
  JointStereoGranule(h, 0);
  const float* l = Decoder.DequantizedSpectrum[0];
  const float* r = Decoder.DequantizedSpectrum[1];
  EXPECT_EQ(l[reorder[0]], 1.0f);
  EXPECT_FLOAT_EQ(r[reorder[0]], std::pow(2.0f, 4.0f / 3));
  EXPECT_EQ(l[reorder[12]], 1.0f);
  EXPECT_EQ(r[reorder[12]], 1.0f);  // intensity position 0: copy
  EXPECT_EQ(l[reorder[4]], 1.0f);
  EXPECT_EQ(r[reorder[4]], 1.0f);
}

// A joint-stereo granule of short blocks with 200 coded lines at 44.1 kHz runs to the end of
// band 9 (coded line 251) and clears the rest; stale values never survive.
TEST(JointStereo, ShortBlocksClearAboveTheLastBand) {
  const FrameHeader h = Granule(1, 0, 1, 2);
  ShortBlocks(0);
  ShortBlocks(1);
  Decoder.QuantizedSpectrum[0][199] = 1;
  Decoder.CodedLineCount[0] = 200;
  Decoder.CodedLineCount[1] = 10;
  JointStereoGranule(h, 0);
  const int at = ShortReorderTable[1][0][199];
  for (int i = 0; i < 576; ++i) {
    ASSERT_EQ(Decoder.DequantizedSpectrum[1][i], i == at ? 0.70710677f : 0.0f) << i;
    ASSERT_EQ(Decoder.DequantizedSpectrum[0][i], i == at ? 0.70710677f : 0.0f) << i;
  }
  // Band 9 of a window ends at line 83: subbands 0..13.
  EXPECT_EQ(Decoder.ActiveSubbands[0], 14);
}

// The active subbands cover both channels' coded lines: with intensity on, the right channel
// can carry lines below the bound but above the left channel's count.
TEST(JointStereo, ActiveSubbandsCoverBothChannels) {
  struct Row {
    int modeExtension, left, right, expected;
  } rows[] = {{2, 0, 0, 1}, {2, 100, 300, 17}, {1, 100, 300, 17}, {3, 300, 20, 17}, {1, 576, 0, 32}};
  for (const Row& row : rows) {
    const FrameHeader h = Granule(1, 0, 1, row.modeExtension);
    Decoder.CodedLineCount[0] = row.left;
    Decoder.CodedLineCount[1] = row.right;
    if (row.right > 0) Decoder.QuantizedSpectrum[1][row.right - 1] = 1;
    JointStereoGranule(h, 0);
    EXPECT_EQ(Decoder.ActiveSubbands[0], row.expected) << row.modeExtension << " " << row.left;
    EXPECT_EQ(Decoder.ActiveSubbands[1], row.expected);
    if (row.modeExtension == 1 && row.right > 0) {
      EXPECT_EQ(Decoder.DequantizedSpectrum[1][row.right - 1], 1.0f);
    }
  }
}

// Mixed blocks with intensity: a nonzero right value in the short part keeps the whole long
// part (lines 0..35) left/right coded; without one the bound lies in the long part.
TEST(JointStereo, MixedBlockIntensityBounds) {
  {
    const FrameHeader h = Granule(1, 0, 1, 1);
    ShortBlocks(0, true);
    ShortBlocks(1, true);
    Decoder.QuantizedSpectrum[1][36] = 1;  // short band 3, window 0
    Decoder.QuantizedSpectrum[0][30] = 1;  // long band 7
    Decoder.CodedLineCount[0] = 31;
    Decoder.CodedLineCount[1] = 37;
    JointStereoGranule(h, 0);
    EXPECT_EQ(Decoder.DequantizedSpectrum[0][30], 1.0f);
    EXPECT_EQ(Decoder.DequantizedSpectrum[1][30], 0.0f);
  }
  {
    const FrameHeader h = Granule(1, 0, 1, 1);
    ShortBlocks(0, true);
    ShortBlocks(1, true);
    Decoder.QuantizedSpectrum[1][5] = 1;   // long band 1
    Decoder.QuantizedSpectrum[0][30] = 1;  // long band 7: intensity, position 0 -> right
    Decoder.QuantizedSpectrum[0][40] = 1;  // short band 3 window 1: intensity
    Decoder.CodedLineCount[0] = 41;
    Decoder.CodedLineCount[1] = 6;
    JointStereoGranule(h, 0);
    EXPECT_EQ(Decoder.DequantizedSpectrum[0][30], 0.0f);
    EXPECT_EQ(Decoder.DequantizedSpectrum[1][30], 1.0f);
    EXPECT_EQ(Decoder.DequantizedSpectrum[1][42], 1.0f);
    EXPECT_EQ(Decoder.DequantizedSpectrum[1][5], 1.0f);
  }
}

}  // namespace

namespace {

// The portable and the vector line loops give the same values bit for bit.
TEST(Requantize, PathsAgreeBitForBit) {
  if (!UseVectorPath(true)) GTEST_SKIP() << "no vector path on this processor";
  struct Row {
    int id, mode, modeExtension, right;
  } rows[] = {{1, 3, 0, 0}, {1, 1, 2, 500}, {1, 1, 3, 130}, {1, 1, 1, 40}, {0, 1, 3, 200}, {0, 1, 1, 0}};
  for (const Row& row : rows) {
    float out[2][2][576];
    for (int path = 0; path < 2; ++path) {
      UseVectorPath(path == 1);
      const FrameHeader h = Granule(row.id, 1, row.mode, row.modeExtension);
      uint32_t seed = 99;
      for (int c = 0; c < 2; ++c) {
        const int count = c == 0 ? 571 : row.right;
        for (int i = 0; i < count; ++i) {
          seed = seed * 1103515245 + 12345;
          Decoder.QuantizedSpectrum[c][i] = static_cast<int32_t>((seed >> 8) % 41) - 20 + (i == 7 ? 8206 : 0);
        }
        Decoder.CodedLineCount[c] = count;
        for (int b = 0; b < 22; ++b) Decoder.scalefac_l[0][c][b] = (b * 5 + c) % 8;
        Decoder.Side.gr[0][c].global_gain = 150 + c;
        Decoder.Side.gr[0][c].preflag = c;
      }
      Decoder.IsLimitLong[12] = 4;  // one illegal ID 0 position
      if (row.mode == 1)
        JointStereoGranule(h, 0);
      else
        DequantizeChannel(h, 0, 0);
      std::memcpy(out[path], Decoder.DequantizedSpectrum, sizeof out[path]);
    }
    UseVectorPath(true);
    for (int c = 0; c < (row.mode == 1 ? 2 : 1); ++c)
      for (int i = 0; i < 576; ++i)
        ASSERT_EQ(out[0][c][i], out[1][c][i])
            << row.id << " " << row.modeExtension << " ch " << c << " line " << i;
  }
}

}  // namespace
