// Layer I encoder: frame format, bit allocation, filterbank, and decoding by mpg123.
#include "tools/tompg/layer1.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/frames.h"
#include "tests/support/wave.h"
#include "tools/tompg/layer1_internal.h"

namespace {

const double Pi = 3.14159265358979323846;

// Frame fields as a decoder reads them (ISO/IEC 11172-3 2.4.1.3 and 2.4.1.5).
struct ParsedFrame {
  bool syncOk;
  int id, layer, protection, bitrateIndex, freqIndex, padding, mode, modeExtension;
  int alloc[2][32];
  int audioBits;  // header + allocation + scalefactors + samples
};

struct BitReader {
  const uint8_t* data;
  int size;
  int pos;
};

unsigned Get(BitReader& r, int n) {
  unsigned v = 0;
  for (int i = 0; i < n; ++i) {
    const int byte = r.pos >> 3;
    const unsigned bit = byte < r.size ? (r.data[byte] >> (7 - (r.pos & 7))) & 1u : 0u;
    v = (v << 1) | bit;
    ++r.pos;
  }
  return v;
}

ParsedFrame ParseFrame(const uint8_t* data, int size) {
  ParsedFrame f{};
  BitReader r{data, size, 0};
  f.syncOk = Get(r, 12) == 0xFFF;
  f.id = static_cast<int>(Get(r, 1));
  f.layer = static_cast<int>(Get(r, 2));
  f.protection = static_cast<int>(Get(r, 1));
  f.bitrateIndex = static_cast<int>(Get(r, 4));
  f.freqIndex = static_cast<int>(Get(r, 2));
  f.padding = static_cast<int>(Get(r, 1));
  Get(r, 1);
  f.mode = static_cast<int>(Get(r, 2));
  f.modeExtension = static_cast<int>(Get(r, 2));
  Get(r, 4);
  const int nch = f.mode == 3 ? 1 : 2;
  const int bound = f.mode == 1 ? 4 * (f.modeExtension + 1) : 32;
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < (sb < bound ? nch : 1); ++ch) {
      f.alloc[ch][sb] = static_cast<int>(Get(r, 4));
    }
    if (sb >= bound) {
      f.alloc[1][sb] = f.alloc[0][sb];  // intensity coded: one allocation for both
    }
  }
  int sampleBits = 0;
  for (int sb = 0; sb < 32; ++sb) {
    for (int ch = 0; ch < nch; ++ch) {
      if (f.alloc[ch][sb] != 0) {
        Get(r, 6);
        if (sb < bound || ch == 0) {
          sampleBits += 12 * (f.alloc[ch][sb] + 1);
        }
      }
    }
  }
  f.audioBits = r.pos + sampleBits;
  return f;
}

// 481 samples: analysis FIFO (512 - 31 of the newest samples) plus the decoder's synthesis,
// as measured through mpg123 for every rate.
constexpr int CodecDelay = 481;

// Test signal: a sum of sines per channel, or noise.
enum class Signal { Tones, Noise };

std::vector<float> MakeSignal(Signal kind, int rate, int channel, int count) {
  std::vector<float> v(static_cast<size_t>(count));
  std::mt19937 rng(1234u + static_cast<unsigned>(channel));
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  float lp1 = 0.0f;
  float lp2 = 0.0f;
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    float x = 0.0f;
    if (kind == Signal::Tones) {
      const double f0 = channel == 0 ? 440.0 : 554.37;
      x = static_cast<float>(0.30 * std::sin(2 * Pi * f0 * t) + 0.15 * std::sin(2 * Pi * 1234.5 * t + 1.0) +
                             0.08 * std::sin(2 * Pi * 3950.0 * t + 2.0) +
                             0.03 * std::sin(2 * Pi * (channel == 0 ? 7200.0 : 6100.0) * t));
    } else if (kind == Signal::Noise) {
      // Noise with a falling spectrum (two one-pole low-passes), like music or speech.
      lp1 += 0.25f * (gauss(rng) - lp1);
      lp2 += 0.25f * (lp1 - lp2);
      x = 0.6f * lp2;
    }
    v[static_cast<size_t>(i)] = x;
  }
  return v;
}

// Encodes whole frames of the given channels; returns the stream.
std::vector<uint8_t> Encode(Layer1Encoder& enc, const std::vector<float>& l, const std::vector<float>& r,
                            std::vector<int>* frameSizes = nullptr) {
  std::vector<uint8_t> stream;
  uint8_t frame[Layer1MaxFrameBytes];
  for (size_t pos = 0; pos + 384 <= l.size(); pos += 384) {
    const int n = Layer1EncodeFrame(enc, l.data() + pos, r.empty() ? nullptr : r.data() + pos, frame,
                                    static_cast<int>(sizeof frame));
    EXPECT_GT(n, 0);
    if (n <= 0) {
      break;
    }
    stream.insert(stream.end(), frame, frame + n);
    if (frameSizes != nullptr) {
      frameSizes->push_back(n);
    }
  }
  return stream;
}

bool HaveMpg123() { return ProgramOnPath("mpg123"); }

// Decodes a stream with mpg123; false when it fails.
bool DecodeWithMpg123(const std::vector<uint8_t>& stream, const std::string& name, Pcm& wav) {
  ScratchDir dir;
  const std::string mp1 = dir.File(name + ".mp1");
  const std::string out = dir.File(name + ".wav");
  WriteFile(mp1, stream);
  return DecodeFileWithMpg123(mp1, out, wav);
}

// Channel ch of an interleaved decode.
std::vector<float> Channel(const Pcm& wav, int ch) {
  std::vector<float> v;
  for (size_t i = static_cast<size_t>(ch); i < wav.samples.size(); i += static_cast<size_t>(wav.channels)) {
    v.push_back(wav.samples[i]);
  }
  return v;
}

// SNR in dB of decoded against source, decoded delayed by delay samples, measured away from
// the start (filter run-in) and the end.
double SnrDb(const std::vector<float>& src, const std::vector<float>& dec, int delay) {
  double sig = 0.0;
  double err = 0.0;
  const size_t begin = 2048;
  const size_t end = std::min(src.size(), dec.size() - static_cast<size_t>(delay)) - 1024;
  for (size_t i = begin; i < end; ++i) {
    const double e = dec[i + static_cast<size_t>(delay)] - src[i];
    sig += static_cast<double>(src[i]) * src[i];
    err += e * e;
  }
  return 10.0 * std::log10(sig / std::max(err, 1e-30));
}

// The delay (in samples) of the decoded signal with the best SNR, judged on its first 20000.
int FindDelay(std::vector<float> src, std::vector<float> dec) {
  src.resize(std::min<size_t>(src.size(), 20000));
  dec.resize(std::min<size_t>(dec.size(), 20000 + 1200));
  int best = 0;
  double bestSnr = -1e9;
  for (int d = 0; d < 1200; ++d) {
    const double s = SnrDb(src, dec, d);
    if (s > bestSnr) {
      bestSnr = s;
      best = d;
    }
  }
  return best;
}

}  // namespace

TEST(Layer1Bitrate, NearestLegalRate) {
  struct Row {
    int rate;
    int wanted;
    int expected;
  };
  const Row rows[] = {
      {44100, 192, 192}, {44100, 144, 160},  // a tie goes up
      {48000, 130, 128}, {32000, 500, 448}, {44100, 16, 32}, {22050, 144, 144},
      {24000, 288, 256}, {16000, 40, 48},   {22050, 58, 56}, {11025, 128, 0},  // no Layer I at this rate
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Layer1NearestBitrate(row.rate, row.wanted), row.expected) << row.rate << " " << row.wanted;
  }
  // Two channels: 32 kbit/s frames at 44.1 and 48 kHz cannot hold 256 allocation bits.
  EXPECT_EQ(Layer1NearestBitrate(44100, 32, 2), 64);
  EXPECT_EQ(Layer1NearestBitrate(48000, 16, 2), 64);
  EXPECT_EQ(Layer1NearestBitrate(32000, 32, 2), 32);
  EXPECT_EQ(Layer1NearestBitrate(16000, 32, 2), 32);
}

TEST(Layer1Init, RejectsWhatLayerICannotCode) {
  struct Row {
    int rate;
    int channels;
    int mode;
    int kbps;
    bool ok;
  };
  const Row rows[] = {
      {44100, 2, 0, 192, true},  {44100, 1, 3, 32, true},
      {16000, 2, 2, 256, true},  {44100, 2, 3, 192, false},  // mono mode needs a mono source
      {44100, 2, 0, 144, false},                             // no such MPEG-1 Layer I bitrate
      {48000, 2, 0, 32, false},  // 256 bits per frame: no room for two channels' allocations
      {44100, 2, 2, 32, false},  {44100, 1, 3, 32, true},
      {22050, 2, 0, 288, false},  // above the lower-sampling-frequency table
      {11025, 1, 3, 64, false},  {44100, 3, 0, 192, false},
      {44100, 2, 4, 192, false},
  };
  for (const Row& row : rows) {
    Layer1Encoder enc;
    EXPECT_EQ(Layer1Init(enc, row.rate, row.channels, row.mode, row.kbps), row.ok)
        << row.rate << " " << row.channels << " " << row.mode << " " << row.kbps;
  }
}

// Every rate and bitrate: header fields, frame lengths, the padding pattern and the bit budget.
TEST(Layer1Frame, HeaderFieldsLengthsAndBudget) {
  const int rates[] = {44100, 48000, 32000, 22050, 24000, 16000};
  const int frames = 12;  // enough for several padded frames at 44.1 and 22.05 kHz
  for (int rate : rates) {
    const int id = rate >= 32000 ? 1 : 0;
    for (int index = 1; index <= 14; ++index) {
      const int kbps = StandardBitrate(id, 1, index);
      for (int mode : {0, 1, 2, 3}) {
        const int channels = mode == 3 ? 1 : 2;
        Layer1Encoder enc;
        const int frameBits = 12 * kbps * 1000 / rate * 32;
        if (frameBits < 32 + 128 * channels) {
          EXPECT_FALSE(Layer1Init(enc, rate, channels, mode, kbps)) << rate << " " << kbps;
          continue;
        }
        ASSERT_TRUE(Layer1Init(enc, rate, channels, mode, kbps));
        auto l = MakeSignal(Signal::Tones, rate, 0, 384 * frames);
        auto r = MakeSignal(Signal::Noise, rate, 1, 384 * frames);
        std::vector<int> sizes;
        auto stream = Encode(enc, l, channels == 2 ? r : std::vector<float>{}, &sizes);
        ASSERT_EQ(static_cast<int>(sizes.size()), frames);
        const int slots = 12 * kbps * 1000 / rate;
        const bool fractional = (12 * kbps * 1000) % rate != 0;
        size_t pos = 0;
        int padded = 0;
        for (int size : sizes) {
          const ParsedFrame f = ParseFrame(stream.data() + pos, size);
          SCOPED_TRACE(testing::Message() << rate << " Hz " << kbps << " kbit/s mode " << mode);
          ASSERT_TRUE(f.syncOk);
          EXPECT_EQ(f.id, id);
          EXPECT_EQ(f.layer, 3);
          EXPECT_EQ(f.protection, 1);
          EXPECT_EQ(StandardBitrate(f.id, 1, f.bitrateIndex), kbps);
          EXPECT_EQ(StandardSampleRate(f.id, f.freqIndex), rate);
          EXPECT_EQ(f.mode, mode);
          EXPECT_EQ(size, (slots + f.padding) * 4);
          EXPECT_LE(f.audioBits, size * 8);
          for (int ch = 0; ch < channels; ++ch) {
            for (int sb = 0; sb < 32; ++sb) {
              EXPECT_NE(f.alloc[ch][sb], 15);  // forbidden value
            }
          }
          padded += f.padding;
          pos += static_cast<size_t>(size);
        }
        // The average frame carries exactly the bitrate: within one slot over the run.
        const double exact = 48.0 * kbps * 1000 / rate * frames;
        EXPECT_LT(std::fabs(static_cast<double>(stream.size()) - exact), 4.0) << rate << " " << kbps;
        if (!fractional) {
          EXPECT_EQ(padded, 0);
        }
      }
    }
  }
}

// The padding pattern at 44.1 kHz over a long run: the stream length tracks the bitrate.
TEST(Layer1Frame, PaddingKeepsTheBitrateAt44100) {
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, 44100, 1, 3, 32));
  const int frames = 1000;
  std::vector<float> silence(384 * frames, 0.0f);
  std::vector<int> sizes;
  auto stream = Encode(enc, silence, {}, &sizes);
  long total = 0;
  for (int i = 0; i < frames; ++i) {
    total += sizes[static_cast<size_t>(i)];
    const double exact = 48.0 * 32000 / 44100 * (i + 1);  // bytes after i + 1 frames
    ASSERT_LE(static_cast<double>(total), exact + 1e-9) << i;
    ASSERT_GT(static_cast<double>(total), exact - 4.0) << i;
  }
}

TEST(Layer1Frame, TooSmallBufferIsAnErrorAndChangesNothing) {
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, 44100, 1, 3, 32));  // 32 or 36 bytes per frame
  std::vector<float> silence(384, 0.0f);
  uint8_t frame[Layer1MaxFrameBytes];
  int padded = 0;
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(Layer1EncodeFrame(enc, silence.data(), nullptr, frame, 30), -1);
    const int n = Layer1EncodeFrame(enc, silence.data(), nullptr, frame, sizeof frame);
    ASSERT_TRUE(n == 32 || n == 36) << n;
    padded += n == 36;
  }
  // 12 * 32000 / 44100 = 8.707 slots: the failed calls must not count as padded frames.
  EXPECT_EQ(padded, 14);
}

TEST(Layer1Allocate, StaysWithinTheBitsAndFillsThem) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> smrDist(-40.0f, 90.0f);
  for (int trial = 0; trial < 200; ++trial) {
    const int channels = 1 + trial % 2;
    const int available = static_cast<int>(rng() % 12000);
    float smr[2][32];
    bool active[2][32];
    for (int ch = 0; ch < 2; ++ch) {
      for (int sb = 0; sb < 32; ++sb) {
        smr[ch][sb] = smrDist(rng);
        active[ch][sb] = rng() % 8 != 0;
      }
    }
    // Two channels also with intensity coding from bound 4, 8, 12 or 16.
    const int bound = channels == 2 && trial % 4 == 1 ? 4 * (1 + trial / 4 % 4) : 32;
    int alloc[2][32];
    const int used = Layer1Allocate(smr, active, channels, available, alloc, bound);
    int counted = 0;
    for (int ch = 0; ch < channels; ++ch) {
      for (int sb = 0; sb < 32; ++sb) {
        const int a = alloc[ch][sb];
        ASSERT_GE(a, 0);
        ASSERT_LE(a, 14);
        const bool shared = sb >= bound;
        if (!active[shared ? 0 : ch][sb]) {
          ASSERT_EQ(a, 0);
        }
        if (shared) {
          ASSERT_EQ(alloc[1][sb], alloc[0][sb]);
          // one set of samples, two scalefactors
          counted += a == 0 || ch == 1 ? 0 : 12 + 12 * (a + 1);
        } else {
          counted += a == 0 ? 0 : 6 + 12 * (a + 1);
        }
      }
    }
    ASSERT_EQ(used, counted);
    ASSERT_LE(used, available);
    // Nothing more fits: every subband that could take another step costs more than is left.
    for (int ch = 0; ch < channels; ++ch) {
      for (int sb = 0; sb < (ch == 0 ? 32 : bound); ++sb) {
        if (active[ch][sb] && alloc[ch][sb] < 14) {
          const int first = sb >= bound ? 36 : 30;
          ASSERT_GT(alloc[ch][sb] == 0 ? first : 12, available - used);
        }
      }
    }
  }
}

// With bits for only a few subbands, the one with the highest signal-to-mask ratio is served first.
TEST(Layer1Allocate, ServesTheLargestSignalToMaskRatioFirst) {
  float smr[1][32];
  bool active[1][32];
  for (int sb = 0; sb < 32; ++sb) {
    smr[0][sb] = -10.0f;
    active[0][sb] = true;
  }
  smr[0][5] = 40.0f;
  smr[0][9] = 20.0f;
  int alloc[1][32];
  Layer1Allocate(smr, active, 1, 30 + 12 * 3, alloc);
  EXPECT_EQ(alloc[0][5], 4);
  for (int sb = 0; sb < 32; ++sb) {
    if (sb != 5) {
      EXPECT_EQ(alloc[0][sb], 0) << sb;
    }
  }
}

TEST(Layer1Quantize, CodesScalefactorsAndReconstruction) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  for (int nb = 2; nb <= 15; ++nb) {
    const int steps = (1 << nb) - 1;
    EXPECT_EQ(Layer1Quantize(0.0f, nb), steps / 2) << nb;  // silence decodes to exactly 0
    EXPECT_EQ(Layer1Quantize(1.0f, nb), steps - 1) << nb;  // never the all-ones code
    EXPECT_EQ(Layer1Quantize(-1.0f, nb), 0) << nb;
    for (int i = 0; i < 1000; ++i) {
      const float x = unit(rng);
      const int c = Layer1Quantize(x, nb);
      ASSERT_GE(c, 0);
      ASSERT_LE(c, steps - 1);
      // The decoder's level (ISO/IEC 11172-3 2.4.3.2): 2^nb/(2^nb-1) * (s'' + 2^(1-nb)).
      const double fraction = (c - (1 << (nb - 1))) / static_cast<double>(1 << (nb - 1));
      const double decoded = (1 << nb) / static_cast<double>(steps) * (fraction + 2.0 / (1 << nb));
      ASSERT_LE(std::fabs(decoded - x), 1.0 / steps + 1e-6) << nb << " " << x;
    }
  }
  EXPECT_FLOAT_EQ(Layer1Scalefactor(0), 2.0f);
  EXPECT_FLOAT_EQ(Layer1Scalefactor(3), 1.0f);
  EXPECT_NEAR(Layer1Scalefactor(62), 2.0 * std::exp2(-62.0 / 3.0), 1e-12);
  for (int i = 0; i < 2000; ++i) {
    const float m = std::exp2(unit(rng) * 22.0f - 21.0f);
    const int idx = Layer1ScalefactorIndex(m);
    if (idx > 0) {
      ASSERT_GE(Layer1Scalefactor(idx), m);
    }
    if (idx < 62) {
      ASSERT_LT(Layer1Scalefactor(idx + 1), m);
    }
  }
  EXPECT_EQ(Layer1ScalefactorIndex(5.0f), 0);  // beyond the table: the largest, samples clip
  EXPECT_EQ(Layer1ScalefactorIndex(0.0f), 62);
}

// The filterbank against ISO/IEC 11172-3 Annex C.1.3 evaluated literally in double precision.
TEST(Layer1Filterbank, MatchesTheDirectFormula) {
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, 48000, 1, 3, 192));
  float fifo[512] = {};
  double x[512] = {};
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  double worst = 0.0;
  for (int step = 0; step < 40; ++step) {
    float in[32];
    for (float& v : in) {
      v = unit(rng);
    }
    float out[32];
    Layer1AnalysisStep(enc, fifo, in, out);
    for (int i = 511; i >= 32; --i) {
      x[i] = x[i - 32];
    }
    for (int i = 31; i >= 0; --i) {
      x[i] = in[31 - i];
    }
    double y[64];
    for (int i = 0; i < 64; ++i) {
      y[i] = 0.0;
      for (int j = 0; j < 8; ++j) {
        y[i] += Layer1WindowK[i + 64 * j] / 2097152.0 * x[i + 64 * j];
      }
    }
    for (int i = 0; i < 32; ++i) {
      double s = 0.0;
      for (int k = 0; k < 64; ++k) {
        s += std::cos((2 * i + 1) * (k - 16) * Pi / 64.0) * y[k];
      }
      worst = std::max(worst, std::fabs(s - out[i]));
    }
  }
  EXPECT_LT(worst, 2e-6);
}

// A sine in the middle of subband n comes out in subband n, with about unit gain.
TEST(Layer1Filterbank, SineLandsInItsSubband) {
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, 48000, 1, 3, 192));
  for (int band : {0, 3, 17, 31}) {
    float fifo[512] = {};
    const double freq = (band + 0.5) * 24000.0 / 32.0;
    double energy[32] = {};
    for (int step = 0; step < 200; ++step) {
      float in[32];
      for (int i = 0; i < 32; ++i) {
        in[i] = static_cast<float>(0.5 * std::sin(2 * Pi * freq * (32 * step + i) / 48000.0));
      }
      float out[32];
      Layer1AnalysisStep(enc, fifo, in, out);
      for (int sb = 0; sb < 32 && step >= 20; ++sb) {
        energy[sb] += out[sb] * out[sb];
      }
    }
    double total = 0.0;
    for (double e : energy) {
      total += e;
    }
    EXPECT_GT(energy[band] / total, 0.999) << band;
    // Mean square 0.125 per input sample; the subbands are critically sampled, so the
    // band carries about 32 times less samples with the same total energy per sample.
    EXPECT_NEAR(energy[band] / 180.0, 0.125, 0.02) << band;
  }
}

TEST(Layer1Filterbank, WindowTableHasTheStandardShape) {
  EXPECT_EQ(Layer1WindowK[0], 0);
  EXPECT_EQ(Layer1WindowK[256], 75038);  // peak, 1.144989014 / 32 * 2^21
  for (int i = 1; i < 256; ++i) {
    const int sign = i % 64 == 0 ? 1 : -1;
    EXPECT_EQ(Layer1WindowK[512 - i], sign * Layer1WindowK[i]) << i;
  }
}

// The model on single sines: the sine's subband needs the most bits, subbands far above it
// (masked, or below the threshold in quiet) none; silence needs nothing anywhere.
TEST(Layer1Psycho, SignalToMaskRatiosFollowTheSpectrum) {
  struct Row {
    int rate;
    double freq;
    double amplitude;
  };
  const Row rows[] = {{44100, 1000.0, 0.5}, {44100, 6000.0, 0.1}, {48000, 400.0, 0.9},
                      {22050, 3000.0, 0.3}, {16000, 5100.0, 0.2}, {32000, 0.0, 0.0}};
  for (const Row& row : rows) {
    Layer1Encoder enc;
    ASSERT_TRUE(Layer1Init(enc, row.rate, 1, 3, 128));
    float x[512];
    for (int i = 0; i < 512; ++i) {
      x[i] = static_cast<float>(row.amplitude * std::sin(2 * Pi * row.freq * i / row.rate + 0.3));
    }
    const float scfMax[32] = {};
    float smr[32];
    Layer1Psycho(enc, x, scfMax, smr);
    SCOPED_TRACE(testing::Message() << row.rate << " Hz, sine at " << row.freq);
    if (row.amplitude == 0.0) {
      for (float v : smr) {
        EXPECT_LT(v, -50.0f);
      }
      continue;
    }
    const int band = static_cast<int>(row.freq / (row.rate / 64.0));
    int loudest = 0;
    for (int n = 1; n < 32; ++n) {
      if (smr[n] > smr[loudest]) {
        loudest = n;
      }
    }
    EXPECT_EQ(loudest, band);
    EXPECT_GT(smr[band], 10.0f);
    for (int n = band + 8; n < 32; ++n) {
      EXPECT_LT(smr[n], 0.0f) << n;
    }
  }
}

TEST(Layer1Frame, SilenceEncodesToSilence) {
  for (int mode : {0, 3}) {
    const int channels = mode == 3 ? 1 : 2;
    Layer1Encoder enc;
    ASSERT_TRUE(Layer1Init(enc, 44100, channels, mode, 384));
    std::vector<float> silence(384 * 30, 0.0f);
    std::vector<int> sizes;
    auto stream = Encode(enc, silence, channels == 2 ? silence : std::vector<float>{}, &sizes);
    size_t pos = 0;
    for (int size : sizes) {
      const ParsedFrame f = ParseFrame(stream.data() + pos, size);
      for (int ch = 0; ch < channels; ++ch) {
        for (int sb = 0; sb < 32; ++sb) {
          ASSERT_EQ(f.alloc[ch][sb], 0);
        }
      }
      // The frame is padding after the allocations: all zero bytes.
      for (int i = 4 + 16 * channels; i < size; ++i) {
        ASSERT_EQ(stream[pos + static_cast<size_t>(i)], 0);
      }
      pos += static_cast<size_t>(size);
    }
    if (HaveMpg123()) {
      Pcm wav;
      ASSERT_TRUE(DecodeWithMpg123(stream, "silence", wav));
      ASSERT_EQ(wav.samples.size(), static_cast<size_t>(384 * 30 * channels));
      for (float v : wav.samples) {
        ASSERT_EQ(v, 0.0f);
      }
    }
  }
}

// Samples that are not numbers or far beyond full scale must still give legal frames.
TEST(Layer1Frame, NonFiniteAndOverRangeInputStaysLegal) {
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, 48000, 2, 0, 384));
  std::vector<float> l(384 * 10);
  std::vector<float> r(384 * 10);
  for (size_t i = 0; i < l.size(); ++i) {
    l[i] = i % 7 == 0 ? std::nanf("") : (i % 2 ? 8.0f : -1e30f);
    r[i] = i % 5 == 0 ? INFINITY : -INFINITY;
  }
  std::vector<int> sizes;
  auto stream = Encode(enc, l, r, &sizes);
  ASSERT_EQ(sizes.size(), 10u);
  size_t pos = 0;
  for (int size : sizes) {
    const ParsedFrame f = ParseFrame(stream.data() + pos, size);
    ASSERT_TRUE(f.syncOk);
    ASSERT_LE(f.audioBits, size * 8);
    pos += static_cast<size_t>(size);
  }
  // The overload passes; ordinary input afterwards is coded as usual.
  auto quiet = MakeSignal(Signal::Tones, 48000, 0, 384 * 4);
  sizes.clear();
  stream = Encode(enc, quiet, quiet, &sizes);
  ASSERT_EQ(sizes.size(), 4u);
  const ParsedFrame last =
      ParseFrame(stream.data() + stream.size() - static_cast<size_t>(sizes.back()), sizes.back());
  EXPECT_GT(last.alloc[0][0], 4);
}

// Per-channel amplitude of a sine of frequency f in a decoded channel (least squares).
double ToneAmplitude(const std::vector<float>& x, double f, int rate) {
  double c = 0.0;
  double sn = 0.0;
  size_t n = 0;
  for (size_t i = 4096; i + 1024 < x.size(); ++i, ++n) {
    const double w = 2 * Pi * f * static_cast<double>(i) / rate;
    c += x[i] * std::cos(w);
    sn += x[i] * std::sin(w);
  }
  return 2.0 * std::sqrt(c * c + sn * sn) / static_cast<double>(n);
}

// Joint stereo: subbands from the bound up are intensity coded, yet a high tone in one channel
// must stay in that channel at its level, and everything below the bound is coded as in stereo.
TEST(Layer1JointStereo, IntensityKeepsEachChannelsLevels) {
  if (!HaveMpg123()) {
    GTEST_SKIP() << "mpg123 not installed";
  }
  const int rate = 44100;
  const int count = 384 * 150;
  std::vector<float> l(count);
  std::vector<float> r(count);
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / rate;
    l[static_cast<size_t>(i)] =
        static_cast<float>(0.2 * std::sin(2 * Pi * 440 * t) + 0.1 * std::sin(2 * Pi * 15000 * t));
    r[static_cast<size_t>(i)] =
        static_cast<float>(0.2 * std::sin(2 * Pi * 660 * t) + 0.05 * std::sin(2 * Pi * 17000 * t));
  }
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, rate, 2, 1, 192));
  std::vector<int> sizes;
  auto stream = Encode(enc, l, r, &sizes);
  size_t pos = 0;
  for (int size : sizes) {
    const ParsedFrame f = ParseFrame(stream.data() + pos, size);
    ASSERT_EQ(f.mode, 1);
    ASSERT_LE(f.audioBits, size * 8);
    pos += static_cast<size_t>(size);
  }
  Pcm wav;
  ASSERT_TRUE(DecodeWithMpg123(stream, "joint", wav));
  ASSERT_EQ(wav.channels, 2);
  const auto dl = Channel(wav, 0);
  const auto dr = Channel(wav, 1);
  EXPECT_NEAR(ToneAmplitude(dl, 440, rate), 0.2, 0.005);
  EXPECT_NEAR(ToneAmplitude(dr, 660, rate), 0.2, 0.005);
  EXPECT_LT(ToneAmplitude(dr, 440, rate), 0.002);
  EXPECT_LT(ToneAmplitude(dl, 660, rate), 0.002);
  EXPECT_NEAR(ToneAmplitude(dl, 15000, rate), 0.1, 0.015);  // within about 1.3 dB
  EXPECT_NEAR(ToneAmplitude(dr, 17000, rate), 0.05, 0.0075);
  EXPECT_LT(ToneAmplitude(dr, 15000, rate), 0.003);  // stays out of the other channel
  EXPECT_LT(ToneAmplitude(dl, 17000, rate), 0.003);
}

struct RoundTripRow {
  const char* name;
  int rate;
  int channels;  // source channels
  int mode;
  int kbps;
  Signal signal;
  double minSnrDb;  // per channel, after removing the codec delay
};

// Rows show their name in test listings rather than their bytes.
void PrintTo(const RoundTripRow& row, std::ostream* os) { *os << row.name; }

class Layer1RoundTrip : public testing::TestWithParam<RoundTripRow> {};

// Streams decoded by mpg123 give back the source: rate, channels, length and an SNR bound.
TEST_P(Layer1RoundTrip, DecodesBackToTheSource) {
  if (!HaveMpg123()) {
    GTEST_SKIP() << "mpg123 not installed";
  }
  const RoundTripRow& row = GetParam();
  Layer1Encoder enc;
  ASSERT_TRUE(Layer1Init(enc, row.rate, row.channels, row.mode, row.kbps));
  const int frames = row.rate * 3 / 2 / 384;
  auto l = MakeSignal(row.signal, row.rate, 0, 384 * frames);
  auto r = row.channels == 2 ? MakeSignal(row.signal, row.rate, 1, 384 * frames) : std::vector<float>{};
  auto stream = Encode(enc, l, r);
  Pcm wav;
  ASSERT_TRUE(DecodeWithMpg123(stream, row.name, wav));
  const int codedChannels = row.mode == 3 ? 1 : 2;
  EXPECT_EQ(wav.rate, row.rate);
  ASSERT_EQ(wav.channels, codedChannels);
  EXPECT_EQ(wav.samples.size(), static_cast<size_t>(384 * frames * codedChannels));
  EXPECT_EQ(FindDelay(l, Channel(wav, 0)), CodecDelay);
  for (int ch = 0; ch < codedChannels; ++ch) {
    const auto& src = ch == 1 && row.channels == 2 ? r : l;  // a mono source is in both
    const double snr = SnrDb(src, Channel(wav, ch), CodecDelay);
    std::printf("[ SNR      ] %s channel %d: %.1f dB\n", row.name, ch, snr);
    EXPECT_GT(snr, row.minSnrDb) << "channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Layer1RoundTrip,
    testing::Values(RoundTripRow{"stereo_44100_192_tones", 44100, 2, 0, 192, Signal::Tones, 45.0},
                    RoundTripRow{"stereo_44100_384_tones", 44100, 2, 0, 384, Signal::Tones, 70.0},
                    RoundTripRow{"mono_44100_192_tones", 44100, 1, 3, 192, Signal::Tones, 70.0},
                    RoundTripRow{"mono_44100_384_tones", 44100, 1, 3, 384, Signal::Tones, 75.0},
                    RoundTripRow{"stereo_48000_192_tones", 48000, 2, 0, 192, Signal::Tones, 45.0},
                    RoundTripRow{"stereo_48000_384_tones", 48000, 2, 0, 384, Signal::Tones, 70.0},
                    RoundTripRow{"mono_48000_192_tones", 48000, 1, 3, 192, Signal::Tones, 70.0},
                    RoundTripRow{"stereo_22050_192_tones", 22050, 2, 0, 192, Signal::Tones, 70.0},
                    RoundTripRow{"stereo_22050_256_tones", 22050, 2, 0, 256, Signal::Tones, 70.0},
                    RoundTripRow{"mono_22050_192_tones", 22050, 1, 3, 192, Signal::Tones, 75.0},
                    RoundTripRow{"stereo_32000_192_tones", 32000, 2, 0, 192, Signal::Tones, 50.0},
                    RoundTripRow{"stereo_16000_128_tones", 16000, 2, 0, 128, Signal::Tones, 60.0},
                    RoundTripRow{"joint_24000_192_tones", 24000, 2, 1, 192, Signal::Tones, 60.0},
                    RoundTripRow{"stereo_44100_192_noise", 44100, 2, 0, 192, Signal::Noise, 14.0},
                    RoundTripRow{"stereo_44100_384_noise", 44100, 2, 0, 384, Signal::Noise, 24.0},
                    RoundTripRow{"mono_48000_192_noise", 48000, 1, 3, 192, Signal::Noise, 24.0},
                    RoundTripRow{"mono_22050_192_noise", 22050, 1, 3, 192, Signal::Noise, 45.0},
                    RoundTripRow{"dual_44100_384_tones", 44100, 2, 2, 384, Signal::Tones, 70.0},
                    RoundTripRow{"joint_44100_384_tones", 44100, 2, 1, 384, Signal::Tones, 70.0},
                    RoundTripRow{"mono_source_stereo_44100_192", 44100, 1, 0, 192, Signal::Tones, 45.0}),
    [](const testing::TestParamInfo<RoundTripRow>& info) { return std::string(info.param.name); });
