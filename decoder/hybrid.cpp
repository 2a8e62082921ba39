// Hybrid filterbank, frequency to time: alias reduction, IMDCT with block-type windows and
// overlap-add, ISO/IEC 11172-3 2.4.3.4.10.
//
// The 36- and 12-point IMDCTs are evaluated with a fast factorisation in single precision:
// the IMDCT is a DCT-IV of the 18 (or 6) subband values unfolded by its symmetries; the DCT-IV
// becomes a DCT-II by the pre-additions x[k] += x[k-1] and output factors 1/(2 cos), and the
// DCT-II splits into two 9-point (or 3-point) cosine transforms, the odd one after the
// pre-additions x[k] += x[k-2] and with factors 1/(2 cos) of its own.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "decoder/stages.h"
#include "decoder/tables/hybrid_tables.h"

namespace {

// Windows of block types 0, 1 and 3 (row 2 is unused: the short window is part of the short
// transform).
alignas(32) float ImdctWindows[4][36];

// 9-point cosine transform out[m] = sum over r of in[r] * cos(10 degrees * (2m + 1) * r),
// by its even and odd halves: outputs m and 8 - m share both halves with opposite signs.
inline void Cosine9(const float* a, float* out) {
  const float c10 = Imdct9Cos[0], c20 = Imdct9Cos[1], c30 = Imdct9Cos[2], c40 = Imdct9Cos[3];
  const float c50 = Imdct9Cos[4], c70 = Imdct9Cos[5], c80 = Imdct9Cos[6];
  const float t0 = a[0] + 0.5f * a[6];
  const float e0 = t0 + a[2] * c20 + a[4] * c40 + a[8] * c80;
  const float e1 = (a[0] - a[6]) + 0.5f * (a[2] - a[4] - a[8]);
  const float e2 = t0 - a[2] * c80 - a[4] * c20 + a[8] * c40;
  const float e3 = t0 - a[2] * c40 + a[4] * c80 - a[8] * c20;
  const float o0 = a[1] * c10 + a[3] * c30 + a[5] * c50 + a[7] * c70;
  const float o1 = (a[1] - a[5] - a[7]) * c30;
  const float o2 = a[1] * c50 - a[3] * c30 - a[5] * c70 + a[7] * c10;
  const float o3 = a[1] * c70 - a[3] * c30 + a[5] * c10 - a[7] * c50;
  out[0] = e0 + o0;
  out[8] = e0 - o0;
  out[1] = e1 + o1;
  out[7] = e1 - o1;
  out[2] = e2 + o2;
  out[6] = e2 - o2;
  out[3] = e3 + o3;
  out[5] = e3 - o3;
  out[4] = a[0] - a[2] + a[4] - a[6] + a[8];
}

// Long block: 36-point IMDCT of one subband, window, overlap-add.
void LongTransform(const float* in, const float* window, float* out, float* overlap) {
  float x[18];
  for (int k = 0; k < 18; ++k) x[k] = in[k];
  for (int k = 17; k >= 1; --k) x[k] += x[k - 1];
  for (int k = 17; k >= 3; k -= 2) x[k] += x[k - 2];
  float even[9], odd[9], e[9], o[9];
  for (int r = 0; r < 9; ++r) {
    even[r] = x[2 * r];
    odd[r] = x[2 * r + 1];
  }
  Cosine9(even, e);
  Cosine9(odd, o);
  float c[18];  // the DCT-IV: c[m] = sum over k of in[k] * cos(pi/72 * (2m + 1) * (2k + 1))
  for (int m = 0; m < 9; ++m) {
    const float om = o[m] * Imdct36OddFactor[m];
    c[m] = (e[m] + om) * Imdct36OutputFactor[m];
    c[17 - m] = (e[m] - om) * Imdct36OutputFactor[17 - m];
  }
  // y[i] = c[9 + i] (i = 0..8), -c[26 - i] (i = 9..26), -c[i - 27] (i = 27..35).
  for (int i = 0; i < 9; ++i) out[i] = c[9 + i] * window[i] + overlap[i];
  for (int i = 9; i < 18; ++i) out[i] = -c[26 - i] * window[i] + overlap[i];
  for (int i = 18; i < 27; ++i) overlap[i - 18] = -c[26 - i] * window[i];
  for (int i = 27; i < 36; ++i) overlap[i - 18] = -c[i - 27] * window[i];
}

// Short blocks: three 12-point IMDCTs of the windows' six values each, windowed and overlapped
// within the 36-sample block, then overlap-add with the previous granule.
void ShortTransform(const float* in, float* out, float* overlap) {
  float u[36] = {};
  for (int w = 0; w < 3; ++w) {
    float x[6];
    for (int k = 0; k < 6; ++k) x[k] = in[6 * w + k];
    for (int k = 5; k >= 1; --k) x[k] += x[k - 1];
    x[5] += x[3];
    x[3] += x[1];
    const float e0 = x[0] + x[2] * Sqrt3Half + x[4] * 0.5f;
    const float e1 = x[0] - x[4];
    const float e2 = x[0] - x[2] * Sqrt3Half + x[4] * 0.5f;
    const float o0 = (x[1] + x[3] * Sqrt3Half + x[5] * 0.5f) * Imdct12OddFactor[0];
    const float o1 = (x[1] - x[5]) * Imdct12OddFactor[1];
    const float o2 = (x[1] - x[3] * Sqrt3Half + x[5] * 0.5f) * Imdct12OddFactor[2];
    float c[6];
    c[0] = (e0 + o0) * Imdct12OutputFactor[0];
    c[5] = (e0 - o0) * Imdct12OutputFactor[5];
    c[1] = (e1 + o1) * Imdct12OutputFactor[1];
    c[4] = (e1 - o1) * Imdct12OutputFactor[4];
    c[2] = (e2 + o2) * Imdct12OutputFactor[2];
    c[3] = (e2 - o2) * Imdct12OutputFactor[3];
    // y[i] = c[3 + i] (i = 0..2), -c[8 - i] (i = 3..8), -c[i - 9] (i = 9..11), windowed.
    float* dst = u + 6 + 6 * w;
    for (int i = 0; i < 3; ++i) dst[i] += c[3 + i] * ShortWindow[i];
    for (int i = 3; i < 9; ++i) dst[i] += -c[8 - i] * ShortWindow[i];
    for (int i = 9; i < 12; ++i) dst[i] += -c[i - 9] * ShortWindow[i];
  }
  for (int i = 0; i < 18; ++i) {
    out[i] = u[i] + overlap[i];
    overlap[i] = u[18 + i];
  }
}

}  // namespace

void BuildImdctWindows() {
  // The angles use the single-precision constants pi/36 and pi/12; the sines are evaluated in
  // double precision and rounded once.
  const double long36 = 0.08726646f;
  const double short12 = 0.2617994f;
  for (int i = 0; i < 36; ++i) {
    const float normal = static_cast<float>(std::sin((i + 0.5) * long36));
    ImdctWindows[0][i] = normal;
    ImdctWindows[2][i] = 0.0f;
    // Start window (type 1): normal rising half, flat, short falling half, zero.
    ImdctWindows[1][i] = i < 18   ? normal
                         : i < 24 ? 1.0f
                         : i < 30 ? static_cast<float>(std::sin((i - 18 + 0.5) * short12))
                                  : 0.0f;
    // Stop window (type 3): zero, short rising half, flat, normal falling half.
    ImdctWindows[3][i] = i < 6    ? 0.0f
                         : i < 12 ? static_cast<float>(std::sin((i - 6 + 0.5) * short12))
                         : i < 18 ? 1.0f
                                  : normal;
  }
}

void ResetHybrid() {
  for (auto& channel : Decoder.OverlapBuffer)
    for (auto& subband : channel) std::fill(std::begin(subband), std::end(subband), 0.0f);
}

void AliasReduce(int g, int c) {
  const GranuleInfo& gi = Decoder.Side.gr[g][c];
  if (gi.window_switching_flag && gi.block_type == 2 && !gi.mixed_block_flag) return;
  // Mixed blocks: only the boundary between the two long subbands. Long blocks: every boundary
  // that touches a nonzero subband (the others only turn zeros into zeros).
  const int last = gi.window_switching_flag && gi.block_type == 2
                       ? 1
                       : std::clamp(Decoder.ActiveSubbands[c], 1, 31);
  float* x = Decoder.DequantizedSpectrum[c];
  for (int sb = 1; sb <= last; ++sb) {
    float* up = x + 18 * sb - 1;
    float* down = x + 18 * sb;
    for (int i = 0; i < 8; ++i) {
      const float bu = up[-i];
      const float bd = down[i];
      up[-i] = bu * AliasCs[i] - bd * AliasCa[i];
      down[i] = bd * AliasCs[i] + bu * AliasCa[i];
    }
  }
}

void HybridChannel(int g, int c) {
  const GranuleInfo& gi = Decoder.Side.gr[g][c];
  const bool switched = gi.window_switching_flag != 0;
  const int blockType = switched ? (gi.block_type & 3) : 0;
  // mixed_block_flag puts the two lowest subbands under the normal window whatever the block
  // type (ISO/IEC 11172-3 2.4.2.7): start and stop blocks may carry it too, as the
  // conformance stream for block switching does.
  const bool mixed = switched && gi.mixed_block_flag;
  const float* spectrum = Decoder.DequantizedSpectrum[c];
  float(*overlap)[18] = Decoder.OverlapBuffer[c];
  float(*out)[18] = Decoder.HybridOutput;

  // Alias reduction of long blocks reaches 8 lines into the first silent subband, so that one
  // is transformed as well.
  int active = std::clamp(Decoder.ActiveSubbands[c], 1, 32);
  if (blockType != 2) active = std::min(active + 1, 32);
  active = std::max(active, 2);

  for (int sb = 0; sb < active; ++sb) {
    const int t = mixed && sb < 2 ? 0 : blockType;
    if (t == 2)
      ShortTransform(spectrum + 18 * sb, out[sb], overlap[sb]);
    else
      LongTransform(spectrum + 18 * sb, ImdctWindows[t], out[sb], overlap[sb]);
  }
  // Silent subbands: the transform of zeros is zero, so the output is the overlap alone.
  for (int sb = active; sb < 32; ++sb) {
    for (int i = 0; i < 18; ++i) out[sb][i] = overlap[sb][i];
    std::fill(std::begin(overlap[sb]), std::end(overlap[sb]), 0.0f);
  }
  // Frequency inversion of the odd subbands.
  for (int sb = 1; sb < 32; sb += 2)
    for (int i = 1; i < 18; i += 2) out[sb][i] = -out[sb][i];
}
