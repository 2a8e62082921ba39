// Polyphase synthesis against the direct formulas of ISO/IEC 11172-3 Annex B (matrixing into
// the 1024-value FIFO V, window D), the PCM conversion and the layout of PcmBlock. Every test
// runs with the portable windowing and, where the processor has it, the vector one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "decoder/stages.h"
#include "decoder/vector_path.h"

namespace {

const double Pi = 3.14159265358979323846;

std::vector<double> WindowD() {
  std::ifstream in(SONIVERT_SOURCE_DIR "/tools/gentables/data/layer3-synthesis-window.txt");
  std::vector<double> d(512);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    int i;
    double v;
    if (std::sscanf(line.c_str(), "%d %lf", &i, &v) == 2 && i >= 0 && i < 512)
      d[i] = std::round(v * 65536) / 65536;
  }
  return d;
}

// The standard's synthesis of one channel, in double precision, scaled to 32767.
struct DirectSynthesis {
  std::vector<double> d = WindowD();
  double v[1024] = {};
  void Slot(const float* s, double* out) {
    for (int i = 1023; i >= 64; --i) v[i] = v[i - 64];
    for (int i = 0; i < 64; ++i) {
      double sum = 0;
      for (int k = 0; k < 32; ++k) sum += s[k] * std::cos((16 + i) * (2 * k + 1) * Pi / 64);
      v[i] = sum;
    }
    double u[512];
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 32; ++j) {
        u[64 * i + j] = v[128 * i + j];
        u[64 * i + 32 + j] = v[128 * i + 96 + j];
      }
    for (int j = 0; j < 32; ++j) {
      double sum = 0;
      for (int i = 0; i < 16; ++i) sum += u[j + 32 * i] * d[j + 32 * i];
      out[j] = 32767.0 * sum;
    }
  }
};

class Synthesis : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (UseVectorPath(GetParam()) != GetParam()) GTEST_SKIP() << "no vector path on this processor";
    ResetSynthesis();
    std::memset(Decoder.HybridOutput, 0, sizeof Decoder.HybridOutput);
    std::memset(Decoder.PcmBlock, 0x55, sizeof Decoder.PcmBlock);
    Decoder.ChannelCount = 1;
  }
  void TearDown() override { UseVectorPath(true); }
};

// Three granules of random subband samples: every PCM sample is the direct result truncated
// toward zero, give or take the last unit where single-precision rounding crosses an integer.
TEST_P(Synthesis, MatchesTheDirectFormula) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-0.05f, 0.05f);
  DirectSynthesis direct;
  int exact = 0, total = 0;
  for (int granule = 0; granule < 3; ++granule) {
    for (auto& slot : Decoder.HybridOutput)
      for (float& v : slot) v = value(rng);
    double expected[18][32];
    for (int s = 0; s < 18; ++s) direct.Slot(Decoder.HybridOutput[s], expected[s]);
    SynthesiseGranule(0);
    for (int s = 0; s < 18; ++s)
      for (int j = 0; j < 32; ++j) {
        const double t = std::trunc(expected[s][j]);
        const int got = Decoder.PcmBlock[32 * s + j];
        ASSERT_LE(std::fabs(got - t), 1.0) << "granule " << granule << " slot " << s << " j " << j;
        ASSERT_LT(std::fabs(got - expected[s][j]), 1.0 + 1e-3);
        exact += got == t;
        ++total;
      }
  }
  EXPECT_GT(exact, total * 99 / 100);
}

// The portable and the vector paths give the same samples, bit for bit, mono and stereo.
TEST(SynthesisPaths, AgreeBitForBit) {
  if (!UseVectorPath(true)) GTEST_SKIP() << "no vector path on this processor";
  int16_t pcm[2][4][1152];
  for (int path = 0; path < 2; ++path) {
    UseVectorPath(path == 1);
    ResetSynthesis();
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-2000.0f, 2000.0f);
    for (int granule = 0; granule < 4; ++granule) {
      Decoder.ChannelCount = granule < 2 ? 2 : 1;
      for (int ch = 0; ch < Decoder.ChannelCount; ++ch) {
        for (auto& slot : Decoder.HybridOutput)
          for (float& v : slot) v = value(rng);
        SynthesiseGranule(ch);
      }
      std::memcpy(pcm[path][granule], Decoder.PcmBlock, sizeof Decoder.PcmBlock);
    }
  }
  UseVectorPath(true);
  EXPECT_EQ(std::memcmp(pcm[0], pcm[1], sizeof pcm[0]), 0);
}

// S[0] = 1 with an empty history: output j is 32767 D[j] cos((16 + j) pi/64) truncated toward
// zero; with S[0] = -1 the same values negated (no rounding toward minus infinity).
TEST_P(Synthesis, ImpulseTruncatesTowardZero) {
  const int expected[11] = {1, 1, 1, 2, 2, 3, 4, 5, 6, 7, 8};
  for (float sign : {1.0f, -1.0f}) {
    ResetSynthesis();
    Decoder.HybridOutput[0][0] = sign;
    SynthesiseGranule(0);
    for (int j = 0; j < 32; ++j)
      EXPECT_EQ(Decoder.PcmBlock[j], j <= 20 ? 0 : static_cast<int>(sign) * expected[j - 21])
          << sign << " " << j;
  }
}

// Large inputs saturate at 32767 and -32768 instead of wrapping.
TEST_P(Synthesis, Saturates) {
  DirectSynthesis direct;
  for (int s = 0; s < 18; ++s)
    for (int k = 0; k < 32; ++k) Decoder.HybridOutput[s][k] = (s % 3 == 0 ? 1e4f : -3e3f) * (k % 2 ? 1 : -1);
  double e[18][32];
  for (int s = 0; s < 18; ++s) direct.Slot(Decoder.HybridOutput[s], e[s]);
  SynthesiseGranule(0);
  int high = 0, low = 0;
  for (int s = 0; s < 18; ++s) {
    for (int j = 0; j < 32; ++j) {
      const int got = Decoder.PcmBlock[32 * s + j];
      if (e[s][j] > 32768) {
        ASSERT_EQ(got, 32767);
        ++high;
      }
      if (e[s][j] < -32769) {
        ASSERT_EQ(got, -32768);
        ++low;
      }
    }
  }
  EXPECT_GT(high, 0);
  EXPECT_GT(low, 0);
}

// Stereo blocks interleave the channels (left first); each channel keeps its own FIFO.
TEST_P(Synthesis, StereoInterleavesAndKeepsChannelsApart) {
  Decoder.ChannelCount = 2;
  Decoder.HybridOutput[0][0] = 1.0f;
  SynthesiseGranule(0);
  std::memset(Decoder.HybridOutput, 0, sizeof Decoder.HybridOutput);
  SynthesiseGranule(1);
  const int expected[11] = {1, 1, 1, 2, 2, 3, 4, 5, 6, 7, 8};
  for (int j = 0; j < 32; ++j) {
    EXPECT_EQ(Decoder.PcmBlock[2 * j], j <= 20 ? 0 : expected[j - 21]) << j;
    EXPECT_EQ(Decoder.PcmBlock[2 * j + 1], 0) << j;
  }
  // Slot 17 of the right channel lands at the end of the block; each channel's slot index moves
  // by 18 per granule.
  Decoder.HybridOutput[17][0] = -1.0f;
  SynthesiseGranule(1);
  EXPECT_EQ(Decoder.PcmBlock[2 * (32 * 17 + 31) + 1], -8);
  EXPECT_EQ(Decoder.SynthesisSlot[0], 14);
  EXPECT_EQ(Decoder.SynthesisSlot[1], 12);
}

// Each granule moves the slot index down by 18 (mod 16) and toggles the half 18 times, so after
// 8 granules (9 x 16 time slots) both are back where they started; the FIFO keeps working across
// the wrap (checked against the direct formula above as well).
TEST_P(Synthesis, SlotAndHalfWrapAfterEightGranules) {
  EXPECT_EQ(Decoder.SynthesisSlot[0], 0);
  EXPECT_EQ(Decoder.SynthesisHalf[0], 0);
  for (int n = 1; n <= 8; ++n) {
    SynthesiseGranule(0);
    EXPECT_EQ(Decoder.SynthesisSlot[0], (16 - 2 * n % 16) % 16) << n;
    EXPECT_EQ(Decoder.SynthesisHalf[0], 0) << n;
  }
  EXPECT_EQ(Decoder.SynthesisSlot[0], 0);
}

// Silence gives silence, also after a loud stream once the FIFO is reset.
TEST_P(Synthesis, ResetClearsTheHistory) {
  for (auto& subband : Decoder.HybridOutput)
    for (float& v : subband) v = 0.3f;
  SynthesiseGranule(0);
  ResetSynthesis();
  std::memset(Decoder.HybridOutput, 0, sizeof Decoder.HybridOutput);
  SynthesiseGranule(0);
  for (int i = 0; i < 576; ++i) ASSERT_EQ(Decoder.PcmBlock[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(Paths, Synthesis, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Vector" : "Portable";
                         });

TEST(PcmSample, TruncatesThenSaturates) {
  struct Row {
    float sum;
    int expected;
  } rows[] = {{-0.9f, 0},          {1.9f, 1},           {-1.5f, -1},         {0.0f, 0},
              {32766.9f, 32766},   {32767.5f, 32767},   {40000.0f, 32767},   {1e30f, 32767},
              {-32767.9f, -32767}, {-32768.5f, -32768}, {-40000.0f, -32768}, {-1e30f, -32768}};
  for (const Row& row : rows) EXPECT_EQ(PcmSample(row.sum), row.expected) << row.sum;
}

}  // namespace
