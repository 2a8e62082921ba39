// Polyphase synthesis subband filter and PCM output: ISO/IEC 11172-3 Annex B 3-B.2 (the
// synthesis filterbank of 2.4.3.4.10 / Figure A.2): matrixing, the V FIFO, windowing with D.
//
// The FIFO is never shifted: each channel keeps two halves of 16 slots of 32 matrixed values
// and a slot index that moves down by one per time slot while the half toggles, so that the 16
// taps of every output sample lie in the current half at slots c, c + 1, .., c + 15 (mod 16).
// Each half is held slot-major ([slot][row]) so that 8 neighbouring output samples read
// neighbouring values: the windowing runs 8 samples at a time, each sample keeping its own
// accumulation order t = 0..15, so vector and scalar paths give identical sums.
#include <algorithm>
#include <cstdint>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SONIVERT_X86 1
#endif

#include "decoder/stages.h"
#include "decoder/tables/synthesis_tables.h"

namespace {

// The scaled window by tap: [t][j] = SynthesisWindow[j][t], filled once by ScaleSynthesisWindow.
alignas(32) float WindowByTap[16][32];

// One half of a channel's FIFO: 16 slots of 32 rows.
using Half = float[16][32];
static_assert(sizeof(Half) == sizeof(Decoder.SynthesisBuffer[0][0]), "a half holds 16 x 32 values");

Half& HalfOf(int ch, int h) { return *reinterpret_cast<Half*>(&Decoder.SynthesisBuffer[ch][h][0][0]); }

// X[m] = sum over k of x[k] * cos(m * (2k + 1) * pi/(2N)) by butterflies: the even outputs are
// the N/2-point transform of the sums x[k] + x[N-1-k]; the N/2-point transform of the weighted
// differences (x[k] - x[N-1-k]) * 2 cos((2k + 1) pi/(2N)) gives X[2m+1] + X[2m-1] (X[-1] = X[1]),
// so the odd outputs follow by a chain of subtractions.
template <int N>
inline void Matrix(const float* x, float* X) {
  if constexpr (N == 1) {
    X[0] = x[0];
  } else {
    constexpr int H = N / 2;
    float sum[H], diff[H], even[H], odd[H];
    for (int k = 0; k < H; ++k) {
      sum[k] = x[k] + x[N - 1 - k];
      diff[k] = (x[k] - x[N - 1 - k]) * MatrixingCosines[(32 / N) * (2 * k + 1) - 1];
    }
    Matrix<H>(sum, even);
    Matrix<H>(diff, odd);
    for (int m = 0; m < H; ++m) X[2 * m] = even[m];
    X[1] = odd[0] * 0.5f;
    for (int m = 1; m < H; ++m) X[2 * m + 1] = odd[m] - X[2 * m - 1];
  }
}


// Output samples j = 0..31 of the slot at index c of half `half`, to pcm[j * stride].
void WindowGeneric(const Half& half, int c, int16_t* pcm, int stride) {
  float acc[32];
  const float* b = half[c];
  for (int j = 0; j < 32; ++j) acc[j] = WindowByTap[0][j] * b[j];
  for (int t = 1; t < 16; ++t) {
    b = half[(c + t) & 15];
    for (int j = 0; j < 32; ++j) acc[j] += WindowByTap[t][j] * b[j];
  }
  for (int j = 0; j < 32; ++j) pcm[j * stride] = PcmSample(acc[j]);
}

#ifdef SONIVERT_X86
// The same sums, 8 samples per AVX register, multiply then add (no fused multiply-add).
__attribute__((target("avx2"))) void WindowAvx2(const Half& half, int c, int16_t* pcm, int stride) {
  const float* b = half[c];
  __m256 a0 = _mm256_mul_ps(_mm256_load_ps(WindowByTap[0] + 0), _mm256_load_ps(b + 0));
  __m256 a1 = _mm256_mul_ps(_mm256_load_ps(WindowByTap[0] + 8), _mm256_load_ps(b + 8));
  __m256 a2 = _mm256_mul_ps(_mm256_load_ps(WindowByTap[0] + 16), _mm256_load_ps(b + 16));
  __m256 a3 = _mm256_mul_ps(_mm256_load_ps(WindowByTap[0] + 24), _mm256_load_ps(b + 24));
  for (int t = 1; t < 16; ++t) {
    b = half[(c + t) & 15];
    const float* w = WindowByTap[t];
    a0 = _mm256_add_ps(a0, _mm256_mul_ps(_mm256_load_ps(w + 0), _mm256_load_ps(b + 0)));
    a1 = _mm256_add_ps(a1, _mm256_mul_ps(_mm256_load_ps(w + 8), _mm256_load_ps(b + 8)));
    a2 = _mm256_add_ps(a2, _mm256_mul_ps(_mm256_load_ps(w + 16), _mm256_load_ps(b + 16)));
    a3 = _mm256_add_ps(a3, _mm256_mul_ps(_mm256_load_ps(w + 24), _mm256_load_ps(b + 24)));
  }
  // Clamping to [-32768, 32767] before the truncating conversion equals truncating, then
  // saturating; max/min return the bound for NaN, as the scalar path does for the low bound.
  const __m256 lo = _mm256_set1_ps(-32768.0f);
  const __m256 hi = _mm256_set1_ps(32767.0f);
  const __m256i i0 = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(a0, lo), hi));
  const __m256i i1 = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(a1, lo), hi));
  const __m256i i2 = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(a2, lo), hi));
  const __m256i i3 = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(a3, lo), hi));
  // packs works within 128-bit lanes; the permute puts the 16 samples back in order.
  const __m256i p01 = _mm256_permute4x64_epi64(_mm256_packs_epi32(i0, i1), 0xD8);
  const __m256i p23 = _mm256_permute4x64_epi64(_mm256_packs_epi32(i2, i3), 0xD8);
  if (stride == 1) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pcm), p01);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(pcm + 16), p23);
  } else {
    alignas(32) int16_t samples[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(samples), p01);
    _mm256_store_si256(reinterpret_cast<__m256i*>(samples + 16), p23);
    for (int j = 0; j < 32; ++j) pcm[j * stride] = samples[j];
  }
}
#endif

using WindowFunction = void (*)(const Half&, int, int16_t*, int);
WindowFunction Windowing = WindowGeneric;
bool VectorAvailable = false;

}  // namespace

int16_t PcmSample(float sum) {
  // Truncation toward zero, then saturation to 16 bits (NaN, which valid input cannot
  // produce, gives -32768 like the vector path).
  if (sum >= 32767.0f) return 32767;
  if (!(sum > -32768.0f)) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(sum));
}

bool SelectSynthesisPath(bool vector) {
  Windowing = WindowGeneric;
#ifdef SONIVERT_X86
  if (vector && VectorAvailable) Windowing = WindowAvx2;
#endif
  return vector && VectorAvailable;
}

void ScaleSynthesisWindow() {
  // The window is scaled in place, so a second call would scale it twice: only the first counts.
  static bool scaled = false;
  if (scaled) return;
  scaled = true;
  // 16383.5 = 32767 / 2: the stored rows hold 2 V, and full scale is 32767.
  for (int j = 0; j < 32; ++j)
    for (int t = 0; t < 16; ++t) {
      SynthesisWindow[j][t] *= 16383.5f;
      WindowByTap[t][j] = SynthesisWindow[j][t];
    }
#ifdef SONIVERT_X86
  __builtin_cpu_init();
  VectorAvailable = __builtin_cpu_supports("avx2");
#endif
  SelectSynthesisPath(true);
}

void ResetSynthesis() {
  for (auto& channel : Decoder.SynthesisBuffer)
    for (auto& half : channel)
      for (auto& row : half) std::fill(std::begin(row), std::end(row), 0.0f);
  Decoder.SynthesisSlot[0] = Decoder.SynthesisSlot[1] = 0;
  Decoder.SynthesisHalf[0] = Decoder.SynthesisHalf[1] = 0;
}

void SynthesiseSlot(int ch, int s) {
  float in[32], X[32];
  for (int k = 0; k < 32; ++k) in[k] = Decoder.HybridOutput[k][s];
  Matrix<32>(in, X);

  const int h = Decoder.SynthesisHalf[ch] & 1;
  const int c = Decoder.SynthesisSlot[ch] & 15;
  // V[0..31] (rows 2 V[j]) into the current half, V[32..63] into the other, same slot.
  float* cur = HalfOf(ch, h)[c];
  float* other = HalfOf(ch, 1 - h)[c];
  for (int j = 0; j < 16; ++j) cur[j] = 2.0f * X[16 + j];
  cur[16] = 0.0f;
  for (int j = 1; j < 16; ++j) cur[32 - j] = -cur[j];
  other[0] = -2.0f * X[16];
  for (int d = 0; d < 16; ++d) other[16 + d] = other[16 - d] = -2.0f * X[d];

  if (Decoder.ChannelCount == 2)
    Windowing(HalfOf(ch, h), c, Decoder.PcmBlock + 64 * s + ch, 2);
  else
    Windowing(HalfOf(ch, h), c, Decoder.PcmBlock + 32 * s, 1);

  Decoder.SynthesisSlot[ch] = (c + 15) & 15;
  Decoder.SynthesisHalf[ch] = 1 - h;
}
