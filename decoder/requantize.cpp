// Requantization, reordering of short blocks and stereo processing of one granule:
// ISO/IEC 11172-3 2.4.3.4.7 to 2.4.3.4.9, with the intensity stereo rule of ISO/IEC 13818-3
// 2.4.3.2 for ID 0 frames.
//
// Every value taken from the stream (gains, scale factors, intensity positions, coded counts,
// spectral magnitudes) is bounded before it indexes a table, so no input reaches outside one.
//
// Long blocks, the common case, go band by band through line loops that AVX2 does eight lines at
// a time (the power law and mid/side together); short-block windows without intensity stereo
// too, stored through the reordering. The vector loops perform the scalar operations lane by
// lane, so both paths give identical values.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "decoder/stages.h"
#include "decoder/tables/requantize_tables.h"
#include "decoder/tables/scalefactor_tables.h"
#include "decoder/vector_path.h"

namespace {

// Intensity position of a line that is not intensity-coded.
constexpr int NoIntensity = 0xFEED;
// 1/sqrt(2) as a double: mid/side is evaluated in double precision and rounded once.
constexpr double InvSqrt2 = 0.707106781188;

enum BlockKind { LongBlocks, ShortBlocks, MixedBlocks };

BlockKind KindOf(const GranuleInfo& gi) {
  if (!gi.window_switching_flag || gi.block_type != 2) return LongBlocks;
  return gi.mixed_block_flag ? MixedBlocks : ShortBlocks;
}

// 2^(e/4) for the integer exponent e, 0 below 2^(-127/4): an entry of QuarterPowerTable, for
// the quarter powers of |e| mod 4 (the negative ones for a negative e), times the power of two
// for the rest, 2^(+-(|e| div 4)). Multiplying by a power of two is exact, so this equals the
// entry scaled by the integer 2^(|e| div 4) or divided by it.
inline float PowerGain(int e) {
  if (e < -127) return 0.0f;
  if (e > 127) e = 127;  // global_gain has 8 bits, so e <= 45; the bound only keeps the shift defined
  const int m = e < 0 ? -e : e;
  const int k = e < 0 ? -(m >> 2) : m >> 2;
  const float power = std::bit_cast<float>(static_cast<uint32_t>(127 + k) << 23);
  return QuarterPowerTable[(e < 0 ? 4 : 0) + (m & 3)] * power;
}

// PowerGain of every exponent from -128 (a gain of 0) to 127, at index e + 128; made once, on
// first use, so that the long bands take their gains from a table.
const float* PowerGains() {
  static const auto table = [] {
    std::array<float, 256> t{};
    for (int e = -128; e < 128; ++e) t[e + 128] = PowerGain(e);
    return t;
  }();
  return table.data();
}

// Gain of long band b (0..21), from the table of PowerGains().
inline float LongGain(const float* gains, const GranuleInfo& gi, const int32_t* scalefac, int b) {
  const int m = gi.scalefac_scale ? 2 : 1;
  int e = gi.global_gain - 210 - scalefac[b] * (1 << m);
  if (gi.preflag) e -= Pretab[b] * (1 << m);
  return gains[std::clamp(e, -128, 127) + 128];
}

// Gain of short band b (0..12), window w.
inline float ShortGain(const GranuleInfo& gi, const int32_t (*scalefac)[3], int b, int w) {
  const int e = gi.global_gain - 210 - 8 * gi.subblock_gain[w] - scalefac[b][w] * (gi.scalefac_scale ? 4 : 2);
  return PowerGains()[std::clamp(e, -128, 127) + 128];
}

// sign(v) * |v|^(4/3) * gain. Valid streams carry magnitudes up to 8206, all in the table;
// anything larger (only a broken Huffman stage could produce it) takes the last entry.
inline float SignedPower(int32_t v, float gain) {
  uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  if (m >= static_cast<uint32_t>(Pow43Entries)) m = Pow43Entries - 1;
  const float r = gain * Pow43Table[m];
  return v < 0 ? -r : r;
}

// Mid/side of one line pair in double precision, rounded once to float.
inline void MidSideLine(float& left, float& right) {
  const double m = left;
  const double s = right;
  left = static_cast<float>((m + s) * InvSqrt2);
  right = static_cast<float>((m - s) * InvSqrt2);
}

#ifdef SONIVERT_X86
#include "decoder/avx2_begin.h"
namespace avx2 {
// SignedPower of the eight lines q[0..7] with their gains.
inline __m256 SignedPowers(const int32_t* q, __m256 gain) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
  // |INT32_MIN| stays 2^31 as an unsigned value, so the unsigned minimum bounds every input.
  const __m256i m = _mm256_min_epu32(_mm256_abs_epi32(v), _mm256_set1_epi32(Pow43Entries - 1));
  __m256 power;
  if (_mm256_testz_si256(m, _mm256_set1_epi32(~15))) {
    // Every magnitude below 16, as in most lines: the table's first 16 entries by two permutes
    // (bit 3 of the magnitude, moved to the sign bit, picks the second eight), not a gather.
    const __m256 low = _mm256_permutevar8x32_ps(_mm256_loadu_ps(Pow43Table), m);
    const __m256 high = _mm256_permutevar8x32_ps(_mm256_loadu_ps(Pow43Table + 8), m);
    power = _mm256_blendv_ps(low, high, _mm256_castsi256_ps(_mm256_slli_epi32(m, 28)));
  } else {
    power = _mm256_i32gather_ps(Pow43Table, m, 4);
  }
  const __m256 r = _mm256_mul_ps(gain, power);
  return _mm256_xor_ps(r, _mm256_castsi256_ps(_mm256_and_si256(v, _mm256_set1_epi32(INT32_MIN))));
}

// Four lines of mid m and side s into left[0..3] and right[0..3], through MidSideLine's
// operations (in double precision, then rounded to float).
inline void MidSideFour(__m128 m4, __m128 s4, float* left, float* right) {
  const __m256d k = _mm256_set1_pd(InvSqrt2);
  const __m256d m = _mm256_cvtps_pd(m4);
  const __m256d s = _mm256_cvtps_pd(s4);
  _mm_storeu_ps(left, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_add_pd(m, s), k)));
  _mm_storeu_ps(right, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_sub_pd(m, s), k)));
}

void MidSide(float* left, float* right, int begin, int end) {
  int j = begin;
  for (; j + 4 <= end; j += 4) MidSideFour(_mm_loadu_ps(left + j), _mm_loadu_ps(right + j), left + j, right + j);
  for (; j < end; ++j) MidSideLine(left[j], right[j]);
}

// Eight lines of both channels into left[0..7] and right[0..7], through MidSideLine's
// operations when midSide is set.
inline void StoreEight(__m256 l, __m256 r, bool midSide, float* left, float* right) {
  if (!midSide) {
    _mm256_storeu_ps(left, l);
    _mm256_storeu_ps(right, r);
    return;
  }
  MidSideFour(_mm256_castps256_ps128(l), _mm256_castps256_ps128(r), left, right);
  MidSideFour(_mm256_extractf128_ps(l, 1), _mm256_extractf128_ps(r, 1), left + 4, right + 4);
}

// Lines from..to-1 of one band, gains g0 and g1 (and mid/side when midSide is set), eight at a
// time: the last eight may run up to seven lines past `to`, which the next band overwrites or the
// caller clears, but never past line 575.
void JointBandLines(const int32_t* q0, const int32_t* q1, float g0, float g1, float* out0, float* out1,
                    int from, int to, bool midSide) {
  const __m256 gain0 = _mm256_set1_ps(g0), gain1 = _mm256_set1_ps(g1);
  int j = from;
  for (; j < to && j + 8 <= 576; j += 8)
    StoreEight(SignedPowers(q0 + j, gain0), SignedPowers(q1 + j, gain1), midSide, out0 + j, out1 + j);
  for (; j < to; ++j) {
    out0[j] = SignedPower(q0[j], g0);
    out1[j] = SignedPower(q1[j], g1);
    if (midSide) MidSideLine(out0[j], out1[j]);
  }
}

// Coded lines i..i+n-1 of one window of a short band, both channels with gains g0 and g1
// (mid/side when midSide is set), stored through the reordering: eight lines are worked out at a
// time and the run's own stored. The granule's last lines go one by one, so that no read passes
// the spectrum's end.
void JointShortRun(const int32_t* q0, const int32_t* q1, float g0, float g1, bool midSide,
                   const int16_t* reorder, float* out0, float* out1, int i, int n) {
  alignas(32) float left[8], right[8];
  const __m256 gain0 = _mm256_set1_ps(g0), gain1 = _mm256_set1_ps(g1);
  int k = 0;
  for (; k < n && i + k + 8 <= 576; k += 8) {
    StoreEight(SignedPowers(q0 + i + k, gain0), SignedPowers(q1 + i + k, gain1), midSide, left, right);
    for (int x = 0; x < 8 && k + x < n; ++x) {
      const int at = reorder[i + k + x];
      out0[at] = left[x];
      out1[at] = right[x];
    }
  }
  for (; k < n; ++k) {
    const int at = reorder[i + k];
    out0[at] = SignedPower(q0[i + k], g0);
    out1[at] = SignedPower(q1[i + k], g1);
    if (midSide) MidSideLine(out0[at], out1[at]);
  }
}

// The same for one channel.
void ShortRun(const int32_t* q, float g, const int16_t* reorder, float* out, int i, int n) {
  alignas(32) float values[8];
  const __m256 gain = _mm256_set1_ps(g);
  int k = 0;
  for (; k < n && i + k + 8 <= 576; k += 8) {
    _mm256_store_ps(values, SignedPowers(q + i + k, gain));
    for (int x = 0; x < 8 && k + x < n; ++x) out[reorder[i + k + x]] = values[x];
  }
  for (; k < n; ++k) out[reorder[i + k]] = SignedPower(q[i + k], g);
}

// One band's lines for one channel, as JointBandLines.
void BandLines(const int32_t* q, float g, float* out, int from, int to) {
  const __m256 gain = _mm256_set1_ps(g);
  int j = from;
  for (; j < to && j + 8 <= 576; j += 8) _mm256_storeu_ps(out + j, SignedPowers(q + j, gain));
  for (; j < to; ++j) out[j] = SignedPower(q[j], g);
}
}  // namespace avx2
#include "decoder/avx2_end.h"
#endif

// Sets gain[from..to-1] to v, four at a time: it may write up to three entries past `to`, which
// the next band overwrites (the arrays have GainSpare entries of room at the end).
constexpr int GainSpare = 4;
inline void FillGain(float* gain, int from, int to, float v) {
  for (int k = from; k < to; k += 4) {
    gain[k] = v;
    gain[k + 1] = v;
    gain[k + 2] = v;
    gain[k + 3] = v;
  }
}

// out[j] = sign(q[j]) |q[j]|^(4/3) gain[j] for j < n.
void PowerLines(const int32_t* q, const float* gain, float* out, int n) {
  for (int j = 0; j < n; ++j) out[j] = SignedPower(q[j], gain[j]);
}

// Mid/side over lines begin..end-1 of both channels, in place.
void MidSide(float* left, float* right, int begin, int end) {
#ifdef SONIVERT_X86
  if (VectorPath) return avx2::MidSide(left, right, begin, end);
#endif
  for (int j = begin; j < end; ++j) MidSideLine(left[j], right[j]);
}

int CodedCount(int c) { return std::clamp(Decoder.CodedLineCount[c], 0, 576); }

const int16_t* ReorderTable(const FrameHeader& header) {
  const int sf =
      header.sampling_frequency >= 0 && header.sampling_frequency <= 2 ? header.sampling_frequency : 0;
  if (header.mpeg25) return Mpeg25ShortReorderTable[sf];
  return ShortReorderTable[header.ID & 1][sf];
}

// Width of short band b within one window.
int ShortWidth(int b) {
  const int16_t* end = Decoder.ShortBandEnd;
  return b == 0 ? end[0] + 1 : end[b] - end[b - 1];
}

// Subbands that can hold nonzero values when the coded lines are 0..n-1: for long blocks in
// line order, for short and mixed blocks through the short reordering (the band that holds
// coded line n - 1 lies at or below the first band whose last line reaches n div 3).
int SubbandsForCount(int n, BlockKind kind) {
  if (kind == LongBlocks) return n <= 0 ? 1 : (n - 1) / 18 + 1;
  int l = 0;
  while (l < 12 && Decoder.ShortBandEnd[l] < n / 3) ++l;
  return std::clamp((Decoder.ShortBandEnd[l] - 1) / 6 + 1, 1, 32);
}

// Long bands that lie in the first 36 lines (the long part of a mixed block): 8 for ID 1, 6 for ID 0.
int MixedLongBands() {
  int b = 0;
  while (b < 21 && Decoder.LongBandEnd[b] < 36) ++b;
  return b;
}

// ---- plain path ------------------------------------------------------------------------

void DequantizeLongLines(const GranuleInfo& gi, const int32_t* q, const int32_t* scalefac, float* out,
                         int count, int limit) {
  const float* gains = PowerGains();
  int j = 0;
#ifdef SONIVERT_X86
  if (VectorPath) {
    // Band by band with the band's gain: no table of gains per line.
    for (int b = 0; b < 22 && j < count; ++b) {
      const int end = std::min(Decoder.LongBandEnd[b] + 1, count);
      avx2::BandLines(q, LongGain(gains, gi, scalefac, b), out, j, end);
      j = end;
    }
  } else
#endif
  {
    float gain[576 + GainSpare];
    for (int b = 0; b < 22 && j < count; ++b) {
      const int end = std::min(Decoder.LongBandEnd[b] + 1, count);
      FillGain(gain, j, end, LongGain(gains, gi, scalefac, b));
      j = end;
    }
    PowerLines(q, gain, out, j);
  }
  for (; j < limit; ++j) out[j] = 0.0f;
}

// Short bands from band b, coded line i, through the reordering; returns the coded line reached.
int DequantizeShortBands(const GranuleInfo& gi, const int32_t* q, const int32_t (*scalefac)[3], float* out,
                         const int16_t* reorder, int count, int b, int i) {
  for (; b < 13 && i < count; ++b) {
    const int width = ShortWidth(b);
    for (int w = 0; w < 3; ++w, i += width) {
      const float gain = ShortGain(gi, scalefac, b, w);
#ifdef SONIVERT_X86
      if (VectorPath) {
        avx2::ShortRun(q, gain, reorder, out, i, width);
        continue;
      }
#endif
      for (int f = 0; f < width; ++f) out[reorder[i + f]] = SignedPower(q[i + f], gain);
    }
  }
  return i;
}

// ---- joint stereo ----------------------------------------------------------------------

struct StereoBand {
  float gainLeft;
  float gainRight;  // used when the band is not intensity-coded
  int position;     // intensity position, NoIntensity when the band is not intensity-coded
};

struct StereoFrame {
  int id;
  bool midSide;
  const float* lsfRow;
};

// The four per-line rules. Rules 1 and 3 are evaluated in double precision and rounded once to
// float; for rule 1 the product of a float by (1 - float ratio) is exact in double, so the
// result equals an extended-precision evaluation.
// Rules 1 and 2: the intensity-coded line v (the left channel's value) at valid position p.
inline void IntensityLine(const StereoFrame& f, int p, float v, float& left, float& right) {
  if (f.id == 1) {
    const double ratio = IntensityRatioTable[p];
    left = static_cast<float>(static_cast<double>(v) * (1.0 - ratio));
    right = static_cast<float>(static_cast<double>(v) * ratio);
  } else if (p == 0) {
    left = right = v;
  } else if (p & 1) {
    left = v * f.lsfRow[(p + 1) / 2];
    right = v;
  } else {
    left = v;
    right = v * f.lsfRow[p / 2];
  }
}

inline void StereoLine(const StereoFrame& f, const StereoBand& band, int32_t ql, int32_t qr, float& left,
                       float& right) {
  const float v = SignedPower(ql, band.gainLeft);
  const int p = band.position;
  if (p != NoIntensity) {
    IntensityLine(f, p, v, left, right);
  } else if (f.midSide) {
    left = v;
    right = SignedPower(qr, band.gainRight);
    MidSideLine(left, right);
  } else {
    left = v;
    right = SignedPower(qr, band.gainRight);
  }
}

// Validity of an intensity position: ID 1 positions 0..6. 7 is the standard's illegal
// position; 8..15 (possible with scale factors of four bits) have no ratio and are treated as
// illegal too, so the band is decoded as mid/side or left/right like position 7. ID 0: any
// position other than the band's illegal one (all of 0..31 have a factor in LsfIntensityTable).
int CheckedPosition(int id, int p, int limit) {
  if (id == 1) return p >= 0 && p <= 6 ? p : NoIntensity;
  return p >= 0 && p <= 31 && p != limit ? p : NoIntensity;
}

struct Bounds {
  int longBand;      // first intensity-coded long band (22: none)
  int shortBand[3];  // first intensity-coded short band per window (13: none)
};

// Intensity position of long band b, which lies in the intensity region. Band 21 carries no
// scale factor (a position of 0 would send the whole band to the right channel): it takes band
// 20's position when band 20 is in the intensity region too, and is not intensity-coded
// otherwise.
int LongPosition(const StereoFrame& f, const Bounds& bounds, int g, int b) {
  if (b == 21) {
    if (bounds.longBand > 20) return NoIntensity;
    b = 20;
  }
  return CheckedPosition(f.id, Decoder.scalefac_l[g][1][b], Decoder.IsLimitLong[b]);
}

// The same for short band b, window w; band 12 takes band 11's position.
int ShortPosition(const StereoFrame& f, const Bounds& bounds, int g, int b, int w) {
  if (b == 12) {
    if (bounds.shortBand[w] > 11) return NoIntensity;
    b = 11;
  }
  return CheckedPosition(f.id, Decoder.scalefac_s[g][1][b][w], Decoder.IsLimitShort[b]);
}

// Highest short band (from band `top` down to band `bottom`) in which window w of the right
// channel holds a nonzero value; bottom - 1 if there is none.
int LastNonzeroShortBand(const int32_t* q, int w, int top, int bottom) {
  const int16_t* end = Decoder.ShortBandEnd;
  for (int b = top; b >= bottom; --b) {
    const int width = ShortWidth(b);
    const int first = 3 * (end[b] + 1 - width) + w * width;
    for (int i = first + width - 1; i >= first; --i)
      if (q[i] != 0) return b;
  }
  return bottom - 1;
}

// First long band whose last line reaches line j (at most 21).
int LongBandOfLine(int j) {
  int b = 0;
  while (b < 21 && Decoder.LongBandEnd[b] < j) ++b;
  return b;
}

// First short band whose last coded position 3 * (last line) + 2 reaches coded line n.
int ShortBandOfCoded(int n) {
  int b = 0;
  while (b < 12 && 3 * Decoder.ShortBandEnd[b] + 2 < n) ++b;
  return b;
}

// The intensity bound of ISO/IEC 11172-3 2.4.3.4.9.3: intensity coding starts in the band
// above the highest nonzero value of the right channel (per window for short blocks).
Bounds IntensityBounds(const FrameHeader& header, BlockKind kind) {
  Bounds bounds{22, {13, 13, 13}};
  if (!(header.mode_extension & 1)) return bounds;
  const int32_t* q = Decoder.QuantizedSpectrum[1];
  const int count = CodedCount(1);

  if (kind == LongBlocks) {
    // The spare entry at 576 is zero, so the scan may start at the count itself. With an all
    // zero right channel the scan stops at line 0 and band 0 stays left/right coded.
    int j = count;
    while (j > 0 && q[j] == 0) --j;
    bounds.longBand = LongBandOfLine(j) + 1;
    return bounds;
  }

  // Every band down to band 0 is scanned (band 3, the first short band, for mixed blocks): a
  // window whose right channel is nonzero only in band 0 keeps band 0 left/right coded.
  const int bottom = kind == MixedBlocks ? 3 : 0;
  const int top = ShortBandOfCoded(count);
  bool any = false;
  for (int w = 0; w < 3; ++w) {
    const int b = LastNonzeroShortBand(q, w, top, bottom);
    bounds.shortBand[w] = b + 1;  // bottom when the window holds no nonzero value
    any = any || b >= bottom;
  }
  if (kind == MixedBlocks) {
    // The two numberings of a mixed block are kept apart: long bands of lines 0..35 against
    // their own bound, short bands from band 3 against the per-window short bounds. When the
    // right channel has a nonzero value in the short part, all of the long part is below the
    // bound; otherwise the bound lies in the long part and every short band is intensity-coded.
    if (any) {
      bounds.longBand = MixedLongBands();
    } else {
      int j = std::min(35, count);
      while (j > 0 && q[j] == 0) --j;
      bounds.longBand = LongBandOfLine(j) + 1;
    }
  }
  if (header.ID == 1) {
    const int top3 = std::max({bounds.shortBand[0], bounds.shortBand[1], bounds.shortBand[2]});
    bounds.shortBand[0] = bounds.shortBand[1] = bounds.shortBand[2] = top3;
  }
  return bounds;
}

// Both channels of long bands 0..bandLimit-1, lines below `count`, each with its own gains, and
// mid/side in bands below firstIntensity when the frame has it; returns the line reached.
int JointLongPower(bool midSide, int firstIntensity, int g, int count, int bandLimit) {
  const GranuleInfo& g0 = Decoder.Side.gr[g][0];
  const GranuleInfo& g1 = Decoder.Side.gr[g][1];
  const int32_t* q0 = Decoder.QuantizedSpectrum[0];
  const int32_t* q1 = Decoder.QuantizedSpectrum[1];
  float* out0 = Decoder.DequantizedSpectrum[0];
  float* out1 = Decoder.DequantizedSpectrum[1];
  const float* gains = PowerGains();
  int n = 0;
#ifdef SONIVERT_X86
  if (VectorPath) {
    // Band by band with the bands' gains, mid/side in the same pass.
    for (int b = 0; b < bandLimit && n < count; ++b) {
      const int end = std::min(Decoder.LongBandEnd[b] + 1, count);
      const float gain0 = LongGain(gains, g0, Decoder.scalefac_l[g][0], b);
      const float gain1 = LongGain(gains, g1, Decoder.scalefac_l[g][1], b);
      avx2::JointBandLines(q0, q1, gain0, gain1, out0, out1, n, end, midSide && b < firstIntensity);
      n = end;
    }
    return n;
  }
#endif
  float gain0[576 + GainSpare], gain1[576 + GainSpare];
  for (int b = 0; b < bandLimit && n < count; ++b) {
    const int end = std::min(Decoder.LongBandEnd[b] + 1, count);
    FillGain(gain0, n, end, LongGain(gains, g0, Decoder.scalefac_l[g][0], b));
    FillGain(gain1, n, end, LongGain(gains, g1, Decoder.scalefac_l[g][1], b));
    n = end;
  }
  PowerLines(q0, gain0, out0, n);
  PowerLines(q1, gain1, out1, n);
  if (midSide && firstIntensity > 0)
    MidSide(out0, out1, 0, std::min(n, Decoder.LongBandEnd[firstIntensity - 1] + 1));
  return n;
}

// Long bands from band 0 up to (not including) band `bandLimit`, lines below `count`; returns
// the line reached. Both channels are requantized with their own gains, mid/side below the
// intensity bound; the bands above it are intensity-coded from the left channel's values (or,
// at an illegal position, treated like those below).
int JointLongLines(const StereoFrame& f, const Bounds& bounds, int g, int count, int bandLimit) {
  float* out0 = Decoder.DequantizedSpectrum[0];
  float* out1 = Decoder.DequantizedSpectrum[1];
  const int firstIntensity = std::min(bounds.longBand, bandLimit);
  const int n = JointLongPower(f.midSide, firstIntensity, g, count, bandLimit);
  int j = firstIntensity == 0 ? 0 : std::min(n, Decoder.LongBandEnd[firstIntensity - 1] + 1);
  for (int b = firstIntensity; b < bandLimit && j < n; ++b) {
    const int end = std::min(Decoder.LongBandEnd[b] + 1, n);
    const int p = LongPosition(f, bounds, g, b);
    if (p != NoIntensity) {
      for (int k = j; k < end; ++k) IntensityLine(f, p, out0[k], out0[k], out1[k]);
    } else if (f.midSide) {
      MidSide(out0, out1, j, end);
    }
    j = end;
  }
  return n;
}

// Short bands from band b, coded line i, through the reordering; returns the coded line reached.
int JointShortBands(const StereoFrame& f, const Bounds& bounds, int g, int count, const int16_t* reorder,
                    int b, int i) {
  const GranuleInfo& g0 = Decoder.Side.gr[g][0];
  const GranuleInfo& g1 = Decoder.Side.gr[g][1];
  const int32_t* q0 = Decoder.QuantizedSpectrum[0];
  const int32_t* q1 = Decoder.QuantizedSpectrum[1];
  float* out0 = Decoder.DequantizedSpectrum[0];
  float* out1 = Decoder.DequantizedSpectrum[1];
  for (; b < 13 && i < count; ++b) {
    const int width = ShortWidth(b);
    for (int w = 0; w < 3; ++w) {
      StereoBand band;
      band.gainLeft = ShortGain(g0, Decoder.scalefac_s[g][0], b, w);
      band.position = b >= bounds.shortBand[w] ? ShortPosition(f, bounds, g, b, w) : NoIntensity;
      band.gainRight = band.position == NoIntensity ? ShortGain(g1, Decoder.scalefac_s[g][1], b, w) : 0.0f;
#ifdef SONIVERT_X86
      if (VectorPath && band.position == NoIntensity) {
        avx2::JointShortRun(q0, q1, band.gainLeft, band.gainRight, f.midSide, reorder, out0, out1, i, width);
        i += width;
        continue;
      }
#endif
      for (int k = 0; k < width; ++k, ++i) {
        const int at = reorder[i];
        StereoLine(f, band, q0[i], q1[i], out0[at], out1[at]);
      }
    }
  }
  return i;
}

}  // namespace

void DequantizeChannel(const FrameHeader& header, int g, int c) {
  const GranuleInfo& gi = Decoder.Side.gr[g][c];
  const int32_t* q = Decoder.QuantizedSpectrum[c];
  float* out = Decoder.DequantizedSpectrum[c];
  const int count = CodedCount(c);
  const BlockKind kind = KindOf(gi);
  const int16_t* reorder = ReorderTable(header);

  if (kind == LongBlocks) {
    DequantizeLongLines(gi, q, Decoder.scalefac_l[g][c], out, count, 576);
  } else {
    int i = 0;
    if (kind == MixedBlocks) {
      // Long bands in lines 0..35 (pretab is zero there), in line order.
      int j = 0;
      const int longEnd = std::min(count, 36);
      const float* gains = PowerGains();
      for (int b = 0; b < 21 && j < longEnd && Decoder.LongBandEnd[b] < 36; ++b) {
        const int end = std::min(Decoder.LongBandEnd[b] + 1, longEnd);
        const float gain = LongGain(gains, gi, Decoder.scalefac_l[g][c], b);
        for (; j < end; ++j) out[j] = SignedPower(q[j], gain);
      }
      for (; j < 36; ++j) out[j] = 0.0f;
      i = DequantizeShortBands(gi, q, Decoder.scalefac_s[g][c], out, reorder, count, 3, 36);
    } else {
      i = DequantizeShortBands(gi, q, Decoder.scalefac_s[g][c], out, reorder, count, 0, 0);
    }
    for (; i < 576; ++i) out[reorder[i]] = 0.0f;
  }
  // Subbands above the coded lines are silent; the hybrid stage copies their overlap instead of
  // transforming zeros, which gives the same samples.
  Decoder.ActiveSubbands[c] = SubbandsForCount(count, kind);
}

void JointStereoGranule(const FrameHeader& header, int g) {
  // Channel 0's block type decides the layout of both channels.
  const BlockKind kind = KindOf(Decoder.Side.gr[g][0]);
  const int count = std::max(CodedCount(0), CodedCount(1));
  const int16_t* reorder = ReorderTable(header);
  StereoFrame f;
  f.id = header.ID & 1;
  f.midSide = (header.mode_extension & 2) != 0;
  f.lsfRow = LsfIntensityTable[Decoder.IntensityScale & 1];
  const Bounds bounds = IntensityBounds(header, kind);
  float* out0 = Decoder.DequantizedSpectrum[0];
  float* out1 = Decoder.DequantizedSpectrum[1];

  if (kind == LongBlocks) {
    int j = JointLongLines(f, bounds, g, count, 22);
    for (; j < 576; ++j) out0[j] = out1[j] = 0.0f;
  } else {
    int i = 0;
    if (kind == MixedBlocks) {
      int j = JointLongLines(f, bounds, g, std::min(count, 36), MixedLongBands());
      for (; j < 36; ++j) out0[j] = out1[j] = 0.0f;
      i = JointShortBands(f, bounds, g, count, reorder, 3, 36);
    } else {
      i = JointShortBands(f, bounds, g, count, reorder, 0, 0);
    }
    for (; i < 576; ++i) out0[reorder[i]] = out1[reorder[i]] = 0.0f;
  }
  // Both channels end at the larger coded count: in the intensity region the right channel is
  // made from the left one, below it each channel has its own lines (the left count alone would
  // drop right-channel lines above it).
  Decoder.ActiveSubbands[0] = Decoder.ActiveSubbands[1] = SubbandsForCount(count, kind);
}
