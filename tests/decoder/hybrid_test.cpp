// Alias reduction, the fast IMDCTs against the direct formulas of ISO/IEC 11172-3 2.4.3.4.10,
// overlap-add and the silent-subband path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "decoder/stages.h"
#include "decoder/tables/hybrid_tables.h"
#include "decoder/vector_path.h"

namespace {

const double Pi = 3.14159265358979323846;

void StartGranule(int blockType, bool mixed = false) {
  BuildImdctWindows();
  ResetHybrid();
  std::memset(&Decoder.Side, 0, sizeof Decoder.Side);
  GranuleInfo& gi = Decoder.Side.gr[0][0];
  gi.window_switching_flag = blockType != 0;
  gi.block_type = blockType;
  gi.mixed_block_flag = mixed;
  std::memset(Decoder.DequantizedSpectrum, 0, sizeof Decoder.DequantizedSpectrum);
  Decoder.ActiveSubbands[0] = 32;
}

double Window(int type, int i) {
  const double s36 = std::sin((i + 0.5) * Pi / 36);
  switch (type) {
    case 1:
      return i < 18 ? s36 : i < 24 ? 1.0 : i < 30 ? std::sin((i - 18 + 0.5) * Pi / 12) : 0.0;
    case 3:
      return i < 6 ? 0.0 : i < 12 ? std::sin((i - 6 + 0.5) * Pi / 12) : i < 18 ? 1.0 : s36;
    default:
      return s36;
  }
}

// The 36 windowed samples of one subband by the standard's formulas.
void DirectLong(const float* x, int type, double* z) {
  for (int i = 0; i < 36; ++i) {
    double y = 0;
    for (int k = 0; k < 18; ++k) y += x[k] * std::cos(Pi / 72 * (2 * i + 1 + 18) * (2 * k + 1));
    z[i] = y * Window(type, i);
  }
}

void DirectShort(const float* x, double* u) {
  for (int i = 0; i < 36; ++i) u[i] = 0;
  for (int w = 0; w < 3; ++w)
    for (int i = 0; i < 12; ++i) {
      double y = 0;
      for (int k = 0; k < 6; ++k) y += x[6 * w + k] * std::cos(Pi / 24 * (2 * i + 1 + 6) * (2 * k + 1));
      u[6 + 6 * w + i] += y * std::sin((i + 0.5) * Pi / 12);
    }
}

// Both granules' outputs (the second one adds the first one's overlap) of every subband agree
// with the direct formulas, with the odd samples of odd subbands negated. Tolerance: 2e-6 of
// the sum of the subband's input magnitudes (single-precision rounding through ~5 stages).
TEST(Hybrid, TransformsMatchTheDirectFormulas) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  for (int type : {0, 1, 2, 3}) {
    StartGranule(type);
    float x[2][576];
    double tail[32][18] = {};
    for (int granule = 0; granule < 2; ++granule) {
      for (float& v : x[granule]) v = value(rng);
      std::memcpy(Decoder.DequantizedSpectrum[0], x[granule], sizeof x[granule]);
      HybridChannel(0, 0);
      for (int sb = 0; sb < 32; ++sb) {
        double z[36];
        if (type == 2)
          DirectShort(x[granule] + 18 * sb, z);
        else
          DirectLong(x[granule] + 18 * sb, type, z);
        double scale = 0;
        for (int k = 0; k < 18; ++k) scale += std::fabs(x[granule][18 * sb + k]);
        for (int i = 0; i < 18; ++i) {
          double expected = z[i] + tail[sb][i];
          if (sb % 2 == 1 && i % 2 == 1) expected = -expected;
          ASSERT_NEAR(Decoder.HybridOutput[i][sb], expected, 2e-6 * scale * 2)
              << "type " << type << " granule " << granule << " sb " << sb << " i " << i;
          ASSERT_NEAR(Decoder.OverlapBuffer[0][i][sb], z[18 + i], 2e-6 * scale);
          tail[sb][i] = z[18 + i];
        }
      }
    }
  }
}

// mixed_block_flag puts subbands 0 and 1 under the normal window for every block type (the
// block-switching conformance stream sets it on start and stop blocks too).
TEST(Hybrid, MixedFlagKeepsTheLowestSubbandsLong) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(-10.0f, 10.0f);
  for (int type : {1, 2, 3}) {
    StartGranule(type, true);
    float x[576];
    for (float& v : x) v = value(rng);
    std::memcpy(Decoder.DequantizedSpectrum[0], x, sizeof x);
    HybridChannel(0, 0);
    for (int sb : {0, 1, 2, 31}) {
      double z[36];
      const int t = sb < 2 ? 0 : type;
      if (t == 2)
        DirectShort(x + 18 * sb, z);
      else
        DirectLong(x + 18 * sb, t, z);
      for (int i = 0; i < 18; ++i)
        ASSERT_NEAR(Decoder.OverlapBuffer[0][i][sb], z[18 + i], 1e-4)
            << "type " << type << " sb " << sb << " i " << i;
    }
  }
}

// The portable transforms (one subband at a time) and the vector ones (eight at a time) give
// the same samples bit for bit, for every block type, mixed blocks and partly silent granules.
TEST(Hybrid, PathsAgreeBitForBit) {
  BuildImdctWindows();
  if (!UseVectorPath(true)) GTEST_SKIP() << "no vector path on this processor";
  struct Row {
    int type;
    bool mixed;
    int active;
  } rows[] = {{0, false, 32}, {0, false, 9},  {1, false, 20}, {2, false, 32},
              {2, false, 3},  {3, false, 32}, {2, true, 32}};
  for (const Row& row : rows) {
    float out[2][3][18][32], overlap[2][18][32];
    for (int path = 0; path < 2; ++path) {
      UseVectorPath(path == 1);
      StartGranule(row.type, row.mixed);
      std::mt19937 rng(9);
      std::uniform_real_distribution<float> value(-500.0f, 500.0f);
      for (int granule = 0; granule < 3; ++granule) {
        for (int i = 0; i < 576; ++i)
          Decoder.DequantizedSpectrum[0][i] = i < 18 * row.active ? value(rng) : 0.0f;
        Decoder.ActiveSubbands[0] = row.active;
        AliasReduce(0, 0);
        HybridChannel(0, 0);
        std::memcpy(out[path][granule], Decoder.HybridOutput, sizeof out[path][granule]);
      }
      std::memcpy(overlap[path], Decoder.OverlapBuffer[0], sizeof overlap[path]);
    }
    UseVectorPath(true);
    for (int granule = 0; granule < 3; ++granule)
      for (int i = 0; i < 18; ++i)
        for (int sb = 0; sb < 32; ++sb) {
          ASSERT_EQ(out[0][granule][i][sb], out[1][granule][i][sb])
              << row.type << " " << row.active << " " << i << " " << sb;
          ASSERT_EQ(overlap[0][i][sb], overlap[1][i][sb]);
        }
  }
}

// A single value 1.0 at line 0 of a long block with an empty overlap.
TEST(Hybrid, SingleLineImpulse) {
  StartGranule(0);
  Decoder.DequantizedSpectrum[0][0] = 1.0f;
  HybridChannel(0, 0);
  for (int i = 0; i < 18; ++i)
    EXPECT_NEAR(Decoder.HybridOutput[i][0], std::cos(Pi / 72 * (2 * i + 19)) * std::sin((i + 0.5) * Pi / 36),
                1e-6);
}

// After a start window the overlap samples 12..17 are zero (window samples 30..35).
TEST(Hybrid, StartWindowLeavesAZeroTail) {
  StartGranule(1);
  for (int i = 0; i < 576; ++i) Decoder.DequantizedSpectrum[0][i] = static_cast<float>(i % 7) - 3.0f;
  HybridChannel(0, 0);
  for (int sb = 0; sb < 32; ++sb)
    for (int i = 12; i < 18; ++i) ASSERT_EQ(Decoder.OverlapBuffer[0][i][sb], 0.0f);
}

// An all-zero granule after a loud one outputs the overlap (odd samples of odd subbands
// negated) and leaves it zero; skipping the silent subbands gives exactly the transform of zeros.
TEST(Hybrid, SilentSubbandsEqualTransformingZeros) {
  for (int active : {1, 5, 31}) {
    float results[2][18][32];
    float overlaps[2][18][32];
    for (int run = 0; run < 2; ++run) {
      StartGranule(0);
      for (int i = 0; i < 576; ++i) Decoder.DequantizedSpectrum[0][i] = std::sin(i * 0.37f) * 100.0f;
      HybridChannel(0, 0);
      float before[18][32];
      std::memcpy(before, Decoder.OverlapBuffer[0], sizeof before);
      std::memset(Decoder.DequantizedSpectrum[0], 0, sizeof Decoder.DequantizedSpectrum[0]);
      for (int i = 0; i < 18 * active; ++i) Decoder.DequantizedSpectrum[0][i] = 1.0f;
      Decoder.ActiveSubbands[0] = run == 0 ? 32 : active;
      HybridChannel(0, 0);
      std::memcpy(results[run], Decoder.HybridOutput, sizeof results[run]);
      std::memcpy(overlaps[run], Decoder.OverlapBuffer[0], sizeof overlaps[run]);
      if (run == 1)
        for (int sb = active; sb < 32; ++sb)
          for (int i = 0; i < 18; ++i) {
            ASSERT_EQ(Decoder.HybridOutput[i][sb], (sb % 2 && i % 2) ? -before[i][sb] : before[i][sb]);
            ASSERT_EQ(Decoder.OverlapBuffer[0][i][sb], 0.0f);
          }
    }
    // Equal values (a transformed zero may be -0 where the copy gives +0).
    for (int sb = 0; sb < 32; ++sb)
      for (int i = 0; i < 18; ++i) {
        ASSERT_EQ(results[0][i][sb], results[1][i][sb]) << active << " " << sb << " " << i;
        ASSERT_EQ(overlaps[0][i][sb], overlaps[1][i][sb]) << active << " " << sb << " " << i;
      }
  }
}

// The coefficients c_i of ISO/IEC 11172-3 Table 3-B.9, from which the butterflies are derived.
const double AliasC[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
float AliasCsOf(int i) { return float(1.0 / std::sqrt(1.0 + AliasC[i] * AliasC[i])); }
float AliasCaOf(int i) { return float(AliasC[i] / std::sqrt(1.0 + AliasC[i] * AliasC[i])); }

// cs_i = 1/sqrt(1 + c_i^2) and ca_i = c_i/sqrt(1 + c_i^2), rounded once to single precision.
TEST(Hybrid, AliasButterfliesFollowFromTheStandardsCoefficients) {
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(AliasCs[i], AliasCsOf(i)) << "cs " << i;
    EXPECT_EQ(AliasCa[i], AliasCaOf(i)) << "ca " << i;
  }
}

// Alias reduction: every boundary for long blocks, only the boundary between subbands 0 and 1
// for mixed blocks, none for pure short blocks.
TEST(Hybrid, AliasReductionBoundaries) {
  const float cs0 = AliasCsOf(0), ca0 = AliasCaOf(0);
  struct Row {
    int blockType;
    bool mixed;
    bool first, second;  // boundaries 1 and 2 processed
  } rows[] = {
      {0, false, true, true}, {1, false, true, true}, {2, true, true, false}, {2, false, false, false}};
  for (const bool vector : {false, true})
    for (const Row& row : rows) {
      StartGranule(row.blockType, row.mixed);
      if (UseVectorPath(vector) != vector) continue;
      float* x = Decoder.DequantizedSpectrum[0];
      x[17] = 1.0f;  // bu of boundary 1
      x[18] = 2.0f;  // bd of boundary 1
      x[35] = 1.0f;  // bu of boundary 2
      AliasReduce(0, 0);
      EXPECT_FLOAT_EQ(x[17], row.first ? 1.0f * cs0 - 2.0f * ca0 : 1.0f) << row.blockType << row.mixed;
      EXPECT_FLOAT_EQ(x[18], row.first ? 2.0f * cs0 + 1.0f * ca0 : 2.0f) << row.blockType << row.mixed;
      EXPECT_FLOAT_EQ(x[35], row.second ? cs0 : 1.0f) << row.blockType << row.mixed;
      EXPECT_FLOAT_EQ(x[36], row.second ? ca0 : 0.0f) << row.blockType << row.mixed;
    }
  UseVectorPath(true);
}

// Alias reduction carries energy into the first subband above the active ones; that subband is
// transformed, not copied from the overlap.
TEST(Hybrid, AliasTermAboveTheActiveSubbandsIsKept) {
  float full[18][32];
  for (int run = 0; run < 2; ++run) {
    StartGranule(0);
    Decoder.DequantizedSpectrum[0][17] = 100.0f;
    Decoder.ActiveSubbands[0] = run == 0 ? 32 : 1;
    AliasReduce(0, 0);
    HybridChannel(0, 0);
    if (run == 0) std::memcpy(full, Decoder.HybridOutput, sizeof full);
  }
  EXPECT_NE(Decoder.HybridOutput[0][1], 0.0f);
  EXPECT_EQ(std::memcmp(full, Decoder.HybridOutput, sizeof full), 0);
}

}  // namespace
