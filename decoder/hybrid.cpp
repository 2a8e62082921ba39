// Hybrid filterbank, frequency to time: alias reduction, IMDCT with block-type windows and
// overlap-add, ISO/IEC 11172-3 2.4.3.4.10.
//
// The 36- and 12-point IMDCTs are evaluated with a fast factorisation in single precision:
// the IMDCT is a DCT-IV of the 18 (or 6) subband values unfolded by its symmetries; the DCT-IV
// becomes a DCT-II by the pre-additions x[k] += x[k-1] and output factors 1/(2 cos), and the
// DCT-II splits into two 9-point (or 3-point) cosine transforms, the odd one after the
// pre-additions x[k] += x[k-2] and with factors 1/(2 cos) of its own.
//
// Eight neighbouring subbands are transformed at once with AVX2 when the processor has it; the
// kernels (filterbank_kernels.h) are the same for one subband or eight, so both paths give
// identical samples.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "decoder/stages.h"
#include "decoder/tables/hybrid_tables.h"
#include "decoder/tables/synthesis_tables.h"
#include "decoder/vector_path.h"

namespace {

// Windows of block types 0, 1 and 3 (row 2 is unused: the short window is part of the short
// transform).
alignas(32) float ImdctWindows[4][36];

namespace portable {
#include "decoder/filterbank_kernels.h"
}  // namespace portable

// One subband sb with block type t: IMDCT, window, overlap-add.
void TransformSubband(const float* spectrum, int t, float (*out)[32], float (*overlap)[32], int sb) {
  float x[18];
  for (int k = 0; k < 18; ++k) x[k] = spectrum[18 * sb + k];
  const auto add = [&](int i, float first, float second) {
    out[i][sb] = first + overlap[i][sb];
    overlap[i][sb] = second;
  };
  if (t == 2) {
    float z[36];
    portable::ShortKernel(x, z);
    for (int i = 0; i < 18; ++i) add(i, z[i], z[18 + i]);
  } else {
    portable::LongKernel(x, ImdctWindows[t], add);
  }
}

#ifdef SONIVERT_X86
#include "decoder/avx2_begin.h"
namespace avx2 {
typedef float V8 __attribute__((vector_size(32)));
#include "decoder/avx_transpose.h"
#include "decoder/filterbank_kernels.h"

// The sign bit in the lanes of odd subbands: the frequency inversion of odd time slots.
inline __m256 OddSubbandSigns() {
  return _mm256_castsi256_ps(_mm256_setr_epi32(0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN));
}

// Subbands b..b+7, all with block type t, with the frequency inversion.
void TransformGroup(const float* spectrum, int t, float (*out)[32], float (*overlap)[32], int b) {
  // x[k] holds value k of the eight subbands: values 0..15 by two transposed 8 x 8 blocks,
  // 16 and 17 by gathers.
  V8 x[18], z[36];
  const float* first = spectrum + 18 * b;
  for (int half = 0; half < 2; ++half) {
    __m256 block[8];
    for (int lane = 0; lane < 8; ++lane) block[lane] = _mm256_loadu_ps(first + 18 * lane + 8 * half);
    Transpose8(block);
    for (int k = 0; k < 8; ++k) x[8 * half + k] = block[k];
  }
  const __m256i stride = _mm256_setr_epi32(0, 18, 36, 54, 72, 90, 108, 126);
  x[16] = _mm256_i32gather_ps(first + 16, stride, 4);
  x[17] = _mm256_i32gather_ps(first + 17, stride, 4);
  const __m256 odd = OddSubbandSigns();
  const auto add = [&](int i, V8 first, V8 second) {
    const V8 previous = _mm256_load_ps(&overlap[i][b]);
    const __m256 sum = first + previous;
    _mm256_store_ps(&out[i][b], i & 1 ? _mm256_xor_ps(sum, odd) : sum);
    _mm256_store_ps(&overlap[i][b], second);
  };
  if (t == 2) {
    ShortKernel(x, z);
    for (int i = 0; i < 18; ++i) add(i, z[i], z[18 + i]);
  } else {
    LongKernel(x, ImdctWindows[t], add);
  }
}
// Alias-reduction butterflies of the boundaries 1..last, the eight pairs of a boundary at once.
void AliasBoundaries(float* x, int last) {
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const __m256 cs = _mm256_loadu_ps(AliasCs), ca = _mm256_loadu_ps(AliasCa);
  for (int sb = 1; sb <= last; ++sb) {
    const __m256 bu = _mm256_permutevar8x32_ps(_mm256_loadu_ps(x + 18 * sb - 8), reverse);
    const __m256 bd = _mm256_loadu_ps(x + 18 * sb);
    const __m256 up = _mm256_sub_ps(_mm256_mul_ps(bu, cs), _mm256_mul_ps(bd, ca));
    const __m256 down = _mm256_add_ps(_mm256_mul_ps(bd, cs), _mm256_mul_ps(bu, ca));
    _mm256_storeu_ps(x + 18 * sb - 8, _mm256_permutevar8x32_ps(up, reverse));
    _mm256_storeu_ps(x + 18 * sb, down);
  }
}

// Silent subbands from `first` (a multiple of 8) on: the overlap alone, frequency inversion
// included; the overlap becomes zero.
void SilentSubbands(float (*out)[32], float (*overlap)[32], int first) {
  const __m256 odd = OddSubbandSigns();
  for (int i = 0; i < 18; ++i)
    for (int sb = first; sb < 32; sb += 8) {
      const __m256 v = _mm256_load_ps(&overlap[i][sb]);
      _mm256_store_ps(&out[i][sb], i & 1 ? _mm256_xor_ps(v, odd) : v);
      _mm256_store_ps(&overlap[i][sb], _mm256_setzero_ps());
    }
}
}  // namespace avx2
#include "decoder/avx2_end.h"
#endif

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
    for (auto& sample : channel) std::fill(std::begin(sample), std::end(sample), 0.0f);
}

void AliasReduce(int g, int c) {
  const GranuleInfo& gi = Decoder.Side.gr[g][c];
  if (gi.window_switching_flag && gi.block_type == 2 && !gi.mixed_block_flag) return;
  // Mixed blocks: only the boundary between the two long subbands. Long blocks: every boundary
  // that touches a nonzero subband (the others only turn zeros into zeros).
  const int last =
      gi.window_switching_flag && gi.block_type == 2 ? 1 : std::clamp(Decoder.ActiveSubbands[c], 1, 31);
  float* x = Decoder.DequantizedSpectrum[c];
#ifdef SONIVERT_X86
  if (VectorPath) return avx2::AliasBoundaries(x, last);
#endif
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
  float(*overlap)[32] = Decoder.OverlapBuffer[c];
  float(*out)[32] = Decoder.HybridOutput;

  // Alias reduction of long blocks reaches 8 lines into the first silent subband, so that one
  // is transformed as well.
  int active = std::clamp(Decoder.ActiveSubbands[c], 1, 32);
  if (blockType != 2) active = std::min(active + 1, 32);
  active = std::max(active, 2);

#ifdef SONIVERT_X86
  if (VectorPath && !mixed) {
    // Whole groups of eight: transforming the zeros of a silent subband gives what the copy
    // of its overlap gives. The frequency inversion is part of both.
    const int groups = (active + 7) / 8;
    for (int k = 0; k < groups; ++k) avx2::TransformGroup(spectrum, blockType, out, overlap, 8 * k);
    avx2::SilentSubbands(out, overlap, 8 * groups);
    return;
  }
#endif
  for (int sb = 0; sb < active; ++sb)
    TransformSubband(spectrum, mixed && sb < 2 ? 0 : blockType, out, overlap, sb);
  // Silent subbands: the transform of zeros is zero, so the output is the overlap alone.
  for (int i = 0; i < 18; ++i)
    for (int sb = active; sb < 32; ++sb) {
      out[i][sb] = overlap[i][sb];
      overlap[i][sb] = 0.0f;
    }
  // Frequency inversion: odd samples of odd subbands change sign.
  for (int i = 1; i < 18; i += 2)
    for (int sb = 1; sb < 32; sb += 2) out[i][sb] = -out[i][sb];
}
