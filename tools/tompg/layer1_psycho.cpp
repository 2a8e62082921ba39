// Psychoacoustic model of the Layer I encoder, after model 1 of ISO/IEC 11172-3 Annex D:
// 512-point FFT, tonal and non-tonal components, spreading, global masking threshold against
// the threshold in quiet, and the signal-to-mask ratio of each subband.
#include <bit>
#include <cmath>
#include <cstdint>

#include "tools/tompg/layer1_internal.h"

namespace {

constexpr int FftSize = 512;
constexpr int Lines = 257;  // lines 0..256 of the power spectrum
constexpr int MaxComponents = 160;
constexpr float FullScaleDb = 96.0f;  // a full-scale sine peaks at 96 dB on the model's scale

struct Component {
  int line;
  float bark;
  float levelDb;
  bool tonal;
  // Filled in once the list is final: masking index added to the level, and the slopes of
  // the spreading function below and above the masker.
  float base;
  float lowerSlope;
  float upperSlope;
};

// 2^x to about 2.3e-4 relative (0.001 dB): a cubic for the fraction times the power of two
// built in the exponent field. Thresholds need no more.
inline float FastExp2(float x) {
  x = x < -125.0f ? -125.0f : (x > 125.0f ? 125.0f : x);
  int whole = static_cast<int>(x);  // truncates towards zero: step down for negatives
  if (static_cast<float>(whole) > x) {
    --whole;
  }
  const float f = x - static_cast<float>(whole);
  const float p = 1.0f + f * (0.6951786f + f * (0.2261871f + f * 0.0781808f));
  const uint32_t bits = static_cast<uint32_t>(whole + 127) << 23;
  return p * std::bit_cast<float>(bits);
}

// log2(x) for normal x > 0 to about 4e-6: the exponent field, and for the mantissa m in
// [sqrt(1/2), sqrt(2)) the series ln m = 2 (t + t^3/3 + t^5/5), t = (m - 1) / (m + 1).
inline float FastLog2(float x) {
  const uint32_t bits = std::bit_cast<uint32_t>(x);
  int exponent = static_cast<int>((bits >> 23) & 0xFF) - 127;
  float m = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);  // [1, 2)
  if (m > 1.41421356f) {
    m *= 0.5f;
    ++exponent;
  }
  const float t = (m - 1.0f) / (m + 1.0f);
  const float t2 = t * t;
  const float ln = 2.0f * t * (1.0f + t2 * (0.33333333f + t2 * 0.2f));
  return static_cast<float>(exponent) + ln * 1.44269504f;  // 1 / ln 2
}

float Db(float power) {
  return 3.0103f * FastLog2(power + 1e-30f);  // 10 log10(power)
}

float Power(float db) {
  return FastExp2(db * 0.33219281f);  // 10^(db/10)
}

// Critical band rate in Bark of a frequency in Hz.
double Bark(double hz) {
  return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

// Threshold in quiet in dB SPL (Terhardt's approximation), taken as dB on the model's scale.
double ThresholdInQuiet(double hz) {
  const double f = std::fmax(hz, 20.0) / 1000.0;
  const double db =
      3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 1e-3 * f * f * f * f;
  return std::fmin(db, 130.0);
}

// In-place radix-2 FFT of 256 complex values; the twiddles of the 512-point table at even
// indices are the 256-point ones.
void Fft256(const Layer1Encoder& enc, float* re, float* im) {
  constexpr int n = FftSize / 2;
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      float t = re[i];
      re[i] = re[j];
      re[j] = t;
      t = im[i];
      im[i] = im[j];
      im[j] = t;
    }
  }
  for (int len = 2; len <= n; len <<= 1) {
    const int half = len >> 1;
    const int step = FftSize / len;
    for (int start = 0; start < n; start += len) {
      for (int k = 0; k < half; ++k) {
        const float wr = enc.twiddle[k * step][0];
        const float wi = enc.twiddle[k * step][1];
        const int a = start + k;
        const int b = a + half;
        const float tr = re[b] * wr - im[b] * wi;
        const float ti = re[b] * wi + im[b] * wr;
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
    }
  }
}

// Power |X[k]|^2, k = 0..256, of the 512-point DFT of real x: the even samples as real and
// the odd ones as imaginary parts go through one 256-point FFT Z, then
// X[k] = (Z[k] + Z*[256-k]) / 2 - i W^k (Z[k] - Z*[256-k]) / 2 with W = e^(-2 pi i / 512).
void RealPowerSpectrum(const Layer1Encoder& enc, const float* x, float* power) {
  constexpr int n = FftSize / 2;
  float re[n];
  float im[n];
  for (int i = 0; i < n; ++i) {
    re[i] = x[2 * i];
    im[i] = x[2 * i + 1];
  }
  Fft256(enc, re, im);
  for (int k = 0; k <= n; ++k) {
    const int a = k % n;
    const int b = (n - k) % n;
    const float er = 0.5f * (re[a] + re[b]);  // even part E = (Z[k] + Z*[n-k]) / 2
    const float ei = 0.5f * (im[a] - im[b]);
    const float dr = 0.5f * (re[a] - re[b]);  // D = (Z[k] - Z*[n-k]) / 2
    const float di = 0.5f * (im[a] + im[b]);
    // odd part O = -i D
    const float orr = di;
    const float oi = -dr;
    const float wr = k < n ? enc.twiddle[k][0] : -1.0f;
    const float wi = k < n ? enc.twiddle[k][1] : 0.0f;
    const float xr = er + wr * orr - wi * oi;
    const float xi = ei + wr * oi + wi * orr;
    power[k] = xr * xr + xi * xi;
  }
}

// Masking index av and the slopes of the spreading function vf of Annex D (model 1).
void PrepareMasker(Component& c) {
  const float av = c.tonal ? -1.525f - 0.275f * c.bark - 4.5f : -1.525f - 0.175f * c.bark - 0.5f;
  c.base = c.levelDb + av;
  c.lowerSlope = 0.4f * c.levelDb + 6.0f;
  c.upperSlope = 17.0f - 0.15f * c.levelDb;
}

// Masking threshold in dB that one component leaves at dz Bark from it, -3 <= dz < 8.
float IndividualThreshold(const Component& c, float dz) {
  float vf;
  if (dz < -1.0f) {
    vf = 17.0f * (dz + 1.0f) - c.lowerSlope;
  } else if (dz < 0.0f) {
    vf = c.lowerSlope * dz;
  } else if (dz < 1.0f) {
    vf = -17.0f * dz;
  } else {
    vf = -(dz - 1.0f) * c.upperSlope - 17.0f;
  }
  return c.base + vf;
}

}  // namespace

void Layer1InitPsycho(Layer1Encoder& enc) {
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < FftSize; ++i) {
    enc.hann[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * pi * i / FftSize)));
  }
  for (int k = 0; k < FftSize / 2; ++k) {
    enc.twiddle[k][0] = static_cast<float>(std::cos(2.0 * pi * k / FftSize));
    enc.twiddle[k][1] = static_cast<float>(-std::sin(2.0 * pi * k / FftSize));
  }
  for (int k = 0; k < Lines; ++k) {
    const double hz = k * static_cast<double>(enc.sampleRate) / FftSize;
    enc.barkLine[k] = static_cast<float>(Bark(hz));
    enc.athLine[k] = static_cast<float>(ThresholdInQuiet(hz)) + enc.athOffsetDb;
  }
}

void Layer1Psycho(const Layer1Encoder& enc, const float* samples512, const float* scfMax, float* smr) {
  float windowed[FftSize];
  for (int i = 0; i < FftSize; ++i) {
    windowed[i] = samples512[i] * enc.hann[i];
  }
  float power[Lines];
  RealPowerSpectrum(enc, windowed, power);
  // A sine of amplitude A on a line gives |F| = A * N / 4 through the Hann window.
  const float norm = FullScaleDb - Db(static_cast<float>(FftSize / 4) * (FftSize / 4));
  float level[Lines];
  for (int k = 0; k < Lines; ++k) {
    level[k] = Db(power[k]) + norm;
  }

  // Tonal components: local maxima at least 7 dB above their neighbourhood, which widens
  // with frequency. Their lines (and the neighbourhood) leave the noise sum.
  Component comps[MaxComponents];
  int count = 0;
  bool used[Lines] = {};
  for (int k = 3; k <= 249 && count < MaxComponents; ++k) {
    if (!(level[k] > level[k - 1] && level[k] >= level[k + 1])) {
      continue;
    }
    const int reach = k < 63 ? 2 : (k < 127 ? 3 : 6);
    bool tonal = true;
    for (int j = 2; j <= reach && tonal; ++j) {
      tonal = level[k] - level[k - j] >= 7.0f && level[k] - level[k + j] >= 7.0f;
    }
    if (!tonal) {
      continue;
    }
    const float sum = power[k - 1] + power[k] + power[k + 1];
    comps[count++] = Component{k, enc.barkLine[k], Db(sum) + norm, true, 0.0f, 0.0f, 0.0f};
    for (int j = -reach; j <= reach; ++j) {
      used[k + j] = true;
    }
  }
  // Tonal components closer than 0.5 Bark: only the stronger masks.
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    if (kept > 0 && comps[i].bark - comps[kept - 1].bark < 0.5f) {
      if (comps[i].levelDb > comps[kept - 1].levelDb) {
        comps[kept - 1] = comps[i];
      }
      continue;
    }
    comps[kept++] = comps[i];
  }
  count = kept;

  // Non-tonal components: the remaining power of each critical band, placed at its
  // power-weighted mean line.
  int k = 1;
  while (k < Lines && count < MaxComponents) {
    const int band = static_cast<int>(enc.barkLine[k]);
    float sum = 0.0f;
    float weighted = 0.0f;
    for (; k < Lines && static_cast<int>(enc.barkLine[k]) == band; ++k) {
      if (!used[k]) {
        sum += power[k];
        weighted += power[k] * static_cast<float>(k);
      }
    }
    if (sum > 0.0f) {
      int line = static_cast<int>(weighted / sum + 0.5f);
      line = line < 1 ? 1 : (line > Lines - 1 ? Lines - 1 : line);
      comps[count++] = Component{line, enc.barkLine[line], Db(sum) + norm, false, 0.0f, 0.0f, 0.0f};
    }
  }

  // Components below the threshold in quiet mask nothing audible.
  kept = 0;
  for (int i = 0; i < count; ++i) {
    if (comps[i].levelDb >= enc.athLine[comps[i].line]) {
      comps[kept++] = comps[i];
    }
  }
  count = kept;

  // Maskers in order of critical band rate, so that each evaluation point visits only those
  // within reach (-3..8 Bark).
  for (int i = 1; i < count; ++i) {
    const Component c = comps[i];
    int j = i;
    for (; j > 0 && comps[j - 1].bark > c.bark; --j) {
      comps[j] = comps[j - 1];
    }
    comps[j] = c;
  }
  for (int i = 0; i < count; ++i) {
    PrepareMasker(comps[i]);
  }

  // Global masking threshold, evaluated on every line of the low subbands and more sparsely
  // higher up, where the critical bands span several subbands; its minimum within a subband
  // is the subband's threshold.
  int first = 0;  // first masker with dz < 8 (points come in rising order)
  for (int n = 0; n < 32; ++n) {
    const int step = n < 6 ? 1 : (n < 12 ? 2 : 4);
    float minThreshold = 1e30f;
    for (int line = 8 * n; line < 8 * n + 8; line += step) {
      const int l = line == 0 ? 1 : line;
      const float z = enc.barkLine[l];
      float sum = Power(enc.athLine[l]);
      while (first < count && z - comps[first].bark >= 8.0f) {
        ++first;
      }
      for (int i = first; i < count; ++i) {
        const float dz = z - comps[i].bark;
        if (dz < -3.0f) {
          break;
        }
        sum += Power(IndividualThreshold(comps[i], dz));
      }
      minThreshold = std::fmin(minThreshold, Db(sum));
    }
    // Sound pressure level of the subband: its strongest line, or the level the
    // scalefactor stands for, whichever is higher (a transient within the frame).
    float spl = -300.0f;
    for (int line = 8 * n; line < 8 * n + 8; ++line) {
      spl = std::fmax(spl, level[line]);
    }
    spl = std::fmax(spl, 20.0f * std::log10(scfMax[n] * 32768.0f + 1e-30f) - 10.0f);
    smr[n] = spl - minThreshold;
  }
}
