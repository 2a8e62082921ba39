// Polyphase synthesis subband filter and PCM output: ISO/IEC 11172-3 Annex B 3-B.2 (the
// synthesis filterbank of 2.4.3.4.10 / Figure A.2): matrixing, the V FIFO, windowing with D.
//
// The FIFO is never shifted: each channel keeps two halves of 16 slots of 32 matrixed values
// and a slot index that moves down by one per time slot while the half toggles, so that the 16
// taps of every output sample lie in the current half at slots c, c + 1, .., c + 15 (mod 16).
// Each half is held slot-major ([slot][row]) so that 8 neighbouring output samples read
// neighbouring values: the windowing runs 8 samples at a time, each sample keeping its own
// accumulation order t = 0..15, so vector and scalar paths give identical sums. A granule's 18
// time slots are matrixed eight at a time with AVX2 (the same butterflies per slot).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SONIVERT_X86 1
#endif

#include "decoder/stages.h"
#include "decoder/tables/hybrid_tables.h"
#include "decoder/tables/synthesis_tables.h"

namespace {

// The scaled window by tap: [t][j] = SynthesisWindow[j][t], filled once by ScaleSynthesisWindow.
alignas(32) float WindowByTap[16][32];

// One half of a channel's FIFO: 16 slots of 32 rows.
using Half = float[16][32];

bool VectorAvailable = false;
bool UseVector = false;

// Matrixed values of eight neighbouring time slots, with the input they were made from.
struct SlotGroup {
  int first = -1;
  alignas(32) float input[8][32];
  alignas(32) float values[32][8];  // [m][slot - first]
};
SlotGroup Group;

namespace portable {
#include "decoder/filterbank_kernels.h"
}  // namespace portable

// Output samples j = 0..31 of the slot at index c of `half`, to out[j * stride].
void WindowPortable(const Half& half, int c, int16_t* out, int stride) {
  float acc[32];
  const float* b = half[c];
  for (int j = 0; j < 32; ++j) acc[j] = WindowByTap[0][j] * b[j];
  for (int t = 1; t < 16; ++t) {
    b = half[(c + t) & 15];
    for (int j = 0; j < 32; ++j) acc[j] += WindowByTap[t][j] * b[j];
  }
  for (int j = 0; j < 32; ++j) out[j * stride] = PcmSample(acc[j]);
}

#ifdef SONIVERT_X86
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
typedef float V8 __attribute__((vector_size(32)));
#include "decoder/filterbank_kernels.h"

// The same sums, 8 samples per register, multiply then add (no fused multiply-add). Stereo
// output (stride 2) goes into the 32-bit sample pairs at `out`, channel ch's half of each.
void Window(const Half& half, int c, int16_t* out, int stride, int ch) {
  const float* b = half[c];
  __m256 a[4];
  for (int q = 0; q < 4; ++q) a[q] = _mm256_mul_ps(_mm256_load_ps(WindowByTap[0] + 8 * q), _mm256_load_ps(b + 8 * q));
  for (int t = 1; t < 16; ++t) {
    b = half[(c + t) & 15];
    const float* w = WindowByTap[t];
    for (int q = 0; q < 4; ++q)
      a[q] = _mm256_add_ps(a[q], _mm256_mul_ps(_mm256_load_ps(w + 8 * q), _mm256_load_ps(b + 8 * q)));
  }
  // Clamping to [-32768, 32767] before the truncating conversion equals truncating, then
  // saturating; max returns the bound for NaN, as the portable path does.
  const __m256 lo = _mm256_set1_ps(-32768.0f);
  const __m256 hi = _mm256_set1_ps(32767.0f);
  __m256i v[4];
  for (int q = 0; q < 4; ++q) v[q] = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(a[q], lo), hi));
  if (stride == 1) {
    // packs works within 128-bit lanes; the permute puts the 16 samples back in order.
    const __m256i p01 = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[0], v[1]), 0xD8);
    const __m256i p23 = _mm256_permute4x64_epi64(_mm256_packs_epi32(v[2], v[3]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), p01);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), p23);
  } else {
    // The values are in 16-bit range: channel 0 takes the low half of each 32-bit pair,
    // channel 1 the high half; the other channel's samples are kept.
    for (int q = 0; q < 4; ++q) {
      __m256i* at = reinterpret_cast<__m256i*>(out + 16 * q);
      const __m256i old = _mm256_loadu_si256(at);
      _mm256_storeu_si256(at, ch ? _mm256_blend_epi16(old, _mm256_slli_epi32(v[q], 16), 0xAA)
                                 : _mm256_blend_epi16(old, v[q], 0x55));
    }
  }
}

// Matrixes the eight time slots s0..s0+7 of HybridOutput: X[m][lane].
void MatrixEight(int s0, float (*X)[8]) {
  const __m256i stride = _mm256_setr_epi32(0, 32, 64, 96, 128, 160, 192, 224);
  V8 in[32], out[32];
  for (int k = 0; k < 32; ++k) in[k] = _mm256_i32gather_ps(&Decoder.HybridOutput[s0][k], stride, 4);
  Matrix<V8, 32>(in, out);
  for (int m = 0; m < 32; ++m) _mm256_store_ps(X[m], out[m]);
}
}  // namespace avx2
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif

// One time slot of channel ch from its matrixed values X[m * step]: the rows of both halves,
// the windowing into PcmBlock, the advance of slot and half.
void EmitSlot(int ch, int s, const float* X, int step) {
  const int h = Decoder.SynthesisHalf[ch] & 1;
  const int c = Decoder.SynthesisSlot[ch] & 15;
  Half& current = Decoder.SynthesisBuffer[ch][h];
  // V[0..31] (rows 2 V[j]) into the current half, V[32..63] into the other, same slot.
  float* cur = current[c];
  float* other = Decoder.SynthesisBuffer[ch][1 - h][c];
  for (int j = 0; j < 16; ++j) cur[j] = 2.0f * X[(16 + j) * step];
  cur[16] = 0.0f;
  for (int j = 1; j < 16; ++j) cur[32 - j] = -cur[j];
  other[0] = -2.0f * X[16 * step];
  for (int d = 0; d < 16; ++d) other[16 + d] = other[16 - d] = -2.0f * X[d * step];

  const bool stereo = Decoder.ChannelCount == 2;
  int16_t* block = Decoder.PcmBlock + (stereo ? 64 : 32) * s;
#ifdef SONIVERT_X86
  if (UseVector)
    avx2::Window(current, c, block, stereo ? 2 : 1, ch);
  else
#endif
    WindowPortable(current, c, stereo ? block + ch : block, stereo ? 2 : 1);

  Decoder.SynthesisSlot[ch] = (c + 15) & 15;
  Decoder.SynthesisHalf[ch] = 1 - h;
}

}  // namespace

int16_t PcmSample(float sum) {
  // Truncation toward zero, then saturation to 16 bits (NaN, which valid input cannot
  // produce, gives -32768 like the vector path).
  if (sum >= 32767.0f) return 32767;
  if (!(sum > -32768.0f)) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(sum));
}

bool SelectSynthesisPath(bool vector) {
  UseVector = vector && VectorAvailable;
  return UseVector;
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
      for (auto& slot : half) std::fill(std::begin(slot), std::end(slot), 0.0f);
  Decoder.SynthesisSlot[0] = Decoder.SynthesisSlot[1] = 0;
  Decoder.SynthesisHalf[0] = Decoder.SynthesisHalf[1] = 0;
}

void SynthesiseSlot(int ch, int s) {
  ch &= 1;
  s = std::clamp(s, 0, 17);
#ifdef SONIVERT_X86
  if (UseVector) {
    // Slots 0, 8 and 16 matrix the groups 0..7, 8..15 and 10..17 at once; the other slots take
    // their values from the group when their input is still the one the group was made from
    // (each slot's values depend on its own input only), else they are matrixed alone.
    if (s == 0 || s == 8 || s == 16) {
      Group.first = s == 16 ? 10 : s;
      avx2::MatrixEight(Group.first, Group.values);
      std::memcpy(Group.input, Decoder.HybridOutput[Group.first], sizeof Group.input);
    }
    const int lane = s - Group.first;
    if (Group.first >= 0 && lane >= 0 && lane < 8 &&
        std::memcmp(Group.input[lane], Decoder.HybridOutput[s], sizeof Group.input[lane]) == 0) {
      EmitSlot(ch, s, &Group.values[0][lane], 8);
      return;
    }
  }
#endif
  float X[32];
  portable::Matrix<float, 32>(Decoder.HybridOutput[s], X);
  EmitSlot(ch, s, X, 1);
}
