// Polyphase synthesis subband filter and PCM output: ISO/IEC 11172-3 Annex B 3-B.2 (the
// synthesis filterbank of 2.4.3.4.10 / Figure A.2): matrixing, the V FIFO, windowing with D.
//
// The FIFO is never shifted: each channel keeps two halves of 16 slots of 32 matrixed values
// and a slot index that moves down by one per time slot while the half toggles, so that the 16
// taps of every output sample lie in the current half at slots slot, slot + 1, .., slot + 15
// (mod 16). Each half is held slot-major ([slot][row]) so that 8 neighbouring output samples
// read neighbouring values: the windowing runs 8 samples at a time, each sample keeping its own
// accumulation order t = 0..15, so vector and scalar paths give identical sums. A granule's 18
// time slots are matrixed first (eight at a time with AVX2, the same butterflies per slot), then
// go through the FIFO and the windowing, one by one on the portable path and two side by side
// on the AVX2 path.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "decoder/stages.h"
#include "decoder/tables/hybrid_tables.h"
#include "decoder/tables/synthesis_tables.h"
#include "decoder/vector_path.h"

namespace {

// One half of a channel's FIFO: 16 slots of 32 rows.
using Half = float[16][32];

namespace portable {
#include "decoder/filterbank_kernels.h"
}  // namespace portable

// Output samples j = 0..31 of the time slot at index `slot` of `half`, to out[j * stride].
void WindowPortable(const Half& half, int slot, int16_t* out, int stride) {
  float acc[32];
  const float* b = half[slot];
  for (int j = 0; j < 32; ++j) acc[j] = SynthesisWindow[0][j] * b[j];
  for (int t = 1; t < 16; ++t) {
    b = half[(slot + t) & 15];
    for (int j = 0; j < 32; ++j) acc[j] += SynthesisWindow[t][j] * b[j];
  }
  for (int j = 0; j < 32; ++j) out[j * stride] = PcmSample(acc[j]);
}

#ifdef SONIVERT_X86
#include "decoder/avx2_begin.h"
namespace avx2 {
typedef float V8 __attribute__((vector_size(32)));
#include "decoder/filterbank_kernels.h"

// The PCM of one slot's 32 sums: clamping to [-32768, 32767] before the truncating conversion
// equals truncating, then saturating; max returns the bound for NaN, as the portable path does.
// Stereo output (stride 2) goes into the 32-bit sample pairs at `out`, channel c's half of each.
inline __attribute__((always_inline)) void StorePcm(const __m256* a, int16_t* out, int stride, int c) {
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
      const __m256i other = _mm256_loadu_si256(at);
      _mm256_storeu_si256(at, c ? _mm256_blend_epi16(other, _mm256_slli_epi32(v[q], 16), 0xAA)
                                : _mm256_blend_epi16(other, v[q], 0x55));
    }
  }
}

#include "decoder/avx_transpose.h"

// Matrixes the eight time slots s0..s0+7 of HybridOutput into X[s - s0][m].
void MatrixEight(int s0, float (*X)[32]) {
  // The input, slot-major in HybridOutput, is transposed in 8 x 8 blocks: in[k] holds subband
  // k of the eight slots.
  V8 in[32], out[32];
  for (int q = 0; q < 4; ++q) {
    __m256 block[8];
    for (int lane = 0; lane < 8; ++lane)
      block[lane] = _mm256_load_ps(&Decoder.HybridOutput[s0 + lane][8 * q]);
    Transpose8(block);
    for (int r = 0; r < 8; ++r) in[8 * q + r] = block[r];
  }
  Matrix<V8, 32>(in, out);
  for (int q = 0; q < 4; ++q) {
    __m256 block[8];
    for (int r = 0; r < 8; ++r) block[r] = out[8 * q + r];
    Transpose8(block);
    for (int lane = 0; lane < 8; ++lane) _mm256_store_ps(X[lane] + 8 * q, block[lane]);
  }
}

// The rows of one slot from its matrixed values X[0..31], as EmitSlot writes them: those of the
// current half (CurrentRows), and those of the other half (OtherRows).
inline __attribute__((always_inline)) void CurrentRows(const float* X, float* cur) {
  const __m256 v16 = _mm256_load_ps(X + 16), v24 = _mm256_load_ps(X + 24);
  const __m256 two = _mm256_set1_ps(2.0f), minusTwo = _mm256_set1_ps(-2.0f);
  const __m256i reverse = _mm256_setr_epi32(0, 7, 6, 5, 4, 3, 2, 1);  // lane 0 kept, 1..7 reversed
  _mm256_store_ps(cur, _mm256_mul_ps(two, v16));
  _mm256_store_ps(cur + 8, _mm256_mul_ps(two, v24));
  // cur[16] = 0, cur[17..23] = -2 X[31..25]; cur[24..31] = -2 X[24..17].
  _mm256_store_ps(cur + 16, _mm256_blend_ps(_mm256_mul_ps(minusTwo, _mm256_permutevar8x32_ps(v24, reverse)),
                                            _mm256_setzero_ps(), 0x01));
  _mm256_store_ps(
      cur + 24, _mm256_mul_ps(minusTwo, _mm256_blend_ps(_mm256_permutevar8x32_ps(v16, reverse), v24, 0x01)));
}

inline __attribute__((always_inline)) void OtherRows(const float* X, float* other) {
  const __m256 v0 = _mm256_load_ps(X), v8 = _mm256_load_ps(X + 8), v16 = _mm256_load_ps(X + 16);
  const __m256 minusTwo = _mm256_set1_ps(-2.0f);
  const __m256i reverse = _mm256_setr_epi32(0, 7, 6, 5, 4, 3, 2, 1);
  // other[0..7] = -2 X[16], -2 X[15..9]; other[8..15] = -2 X[8..1]; other[16..31] = -2 X[0..15].
  _mm256_store_ps(other,
                  _mm256_mul_ps(minusTwo, _mm256_blend_ps(_mm256_permutevar8x32_ps(v8, reverse), v16, 0x01)));
  _mm256_store_ps(other + 8,
                  _mm256_mul_ps(minusTwo, _mm256_blend_ps(_mm256_permutevar8x32_ps(v0, reverse), v8, 0x01)));
  _mm256_store_ps(other + 16, _mm256_mul_ps(minusTwo, v0));
  _mm256_store_ps(other + 24, _mm256_mul_ps(minusTwo, v8));
}

// Two time slots, the first at FIFO slot index Slot of half `first`, the second at Slot - 1
// (mod 16) of half `second`, into out0 and out1. The windowing sums of each sample are those of
// the portable path (8 samples a register, taps in the order t = 0..15, multiply then add), but
// the two slots' sums run side by side and share each window load. The second slot's rows for
// the first half overwrite the row that the first slot's last tap reads: they are stored last.
template <int Slot>
void EmitTwoSlots(const float* X0, const float* X1, Half& first, Half& second, int16_t* out0, int16_t* out1,
                  int stride, int c) {
  constexpr int Next = (Slot + 15) & 15;
  CurrentRows(X0, first[Slot]);
  OtherRows(X0, second[Slot]);
  CurrentRows(X1, second[Next]);
  // Eight samples at a time (q), each pair of sums over the 16 taps before the next eight.
  __m256 a0[4], a1[4];
#ifdef __clang__
#pragma unroll
#else
#pragma GCC unroll 4
#endif
  for (int q = 0; q < 4; ++q) {
    const __m256 w0 = _mm256_load_ps(SynthesisWindow[0] + 8 * q);
    __m256 s0 = _mm256_mul_ps(w0, _mm256_load_ps(first[Slot] + 8 * q));
    __m256 s1 = _mm256_mul_ps(w0, _mm256_load_ps(second[Next] + 8 * q));
#ifdef __clang__
#pragma unroll
#else
#pragma GCC unroll 16
#endif
    for (int t = 1; t < 16; ++t) {
      const __m256 w = _mm256_load_ps(SynthesisWindow[t] + 8 * q);
      s0 = _mm256_add_ps(s0, _mm256_mul_ps(w, _mm256_load_ps(first[(Slot + t) & 15] + 8 * q)));
      s1 = _mm256_add_ps(s1, _mm256_mul_ps(w, _mm256_load_ps(second[(Next + t) & 15] + 8 * q)));
    }
    a0[q] = s0;
    a1[q] = s1;
    // Keeps the compiler from hoisting the next eight samples' loads into this block, which
    // would run it out of registers.
    asm volatile("" ::: "memory");
  }
  StorePcm(a0, out0, stride, c);
  StorePcm(a1, out1, stride, c);
  OtherRows(X1, first[Next]);
}

using TwoSlotFunction = void (*)(const float*, const float*, Half&, Half&, int16_t*, int16_t*, int, int);
const TwoSlotFunction EmitBySlot[16] = {
    EmitTwoSlots<0>,  EmitTwoSlots<1>,  EmitTwoSlots<2>,  EmitTwoSlots<3>, EmitTwoSlots<4>,  EmitTwoSlots<5>,
    EmitTwoSlots<6>,  EmitTwoSlots<7>,  EmitTwoSlots<8>,  EmitTwoSlots<9>, EmitTwoSlots<10>, EmitTwoSlots<11>,
    EmitTwoSlots<12>, EmitTwoSlots<13>, EmitTwoSlots<14>, EmitTwoSlots<15>};

// The 18 time slots of channel c from their matrixed values, into PcmBlock, two at a time; slot
// index and half stay in registers.
void EmitGranule(int c, const float (*X)[32]) {
  const int h = Decoder.SynthesisHalf[c] & 1;
  int slot = Decoder.SynthesisSlot[c] & 15;
  const int stride = Decoder.ChannelCount == 2 ? 2 : 1;
  int16_t* block = Decoder.PcmBlock;
  for (int s = 0; s < 18; s += 2) {
    EmitBySlot[slot](X[s], X[s + 1], Decoder.SynthesisBuffer[c][h], Decoder.SynthesisBuffer[c][1 - h], block,
                     block + 32 * stride, stride, c);
    block += 64 * stride;
    slot = (slot + 14) & 15;
  }
  // 18 slots: the half toggles an even number of times.
  Decoder.SynthesisSlot[c] = slot;
  Decoder.SynthesisHalf[c] = h;
}
}  // namespace avx2
#include "decoder/avx2_end.h"
#endif

// Time slot s of channel c from its matrixed values X[0..31]: the rows of both halves, the
// windowing into PcmBlock, the advance of slot and half.
void EmitSlot(int c, int s, const float* X) {
  const int h = Decoder.SynthesisHalf[c] & 1;
  const int slot = Decoder.SynthesisSlot[c] & 15;
  Half& current = Decoder.SynthesisBuffer[c][h];
  // V[0..31] (rows 2 V[j]) into the current half, V[32..63] into the other, same slot.
  float* cur = current[slot];
  float* other = Decoder.SynthesisBuffer[c][1 - h][slot];
  const bool stereo = Decoder.ChannelCount == 2;
  int16_t* block = Decoder.PcmBlock + (stereo ? 64 : 32) * s;
  for (int j = 0; j < 16; ++j) cur[j] = 2.0f * X[16 + j];
  cur[16] = 0.0f;
  for (int j = 1; j < 16; ++j) cur[32 - j] = -cur[j];
  other[0] = -2.0f * X[16];
  for (int d = 0; d < 16; ++d) other[16 + d] = other[16 - d] = -2.0f * X[d];
  WindowPortable(current, slot, stereo ? block + c : block, stereo ? 2 : 1);
  Decoder.SynthesisSlot[c] = (slot + 15) & 15;
  Decoder.SynthesisHalf[c] = 1 - h;
}

}  // namespace

int16_t PcmSample(float sum) {
  // Truncation toward zero, then saturation to 16 bits (NaN, which valid input cannot
  // produce, gives -32768 like the vector path).
  if (sum >= 32767.0f) return 32767;
  if (!(sum > -32768.0f)) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(sum));
}

void ResetSynthesis() {
  for (auto& channel : Decoder.SynthesisBuffer)
    for (auto& half : channel)
      for (auto& slot : half) std::fill(std::begin(slot), std::end(slot), 0.0f);
  Decoder.SynthesisSlot[0] = Decoder.SynthesisSlot[1] = 0;
  Decoder.SynthesisHalf[0] = Decoder.SynthesisHalf[1] = 0;
}

void SynthesiseGranule(int c) {
  c &= 1;
  float(*matrixed)[32] = Decoder.MatrixedSlots;
  // Every slot is matrixed before the first goes into the FIFO: the rows of slot s + 1 overwrite
  // FIFO entries that the windowing of slot s still reads.
#ifdef SONIVERT_X86
  if (VectorPath) {
    // Slots 0..7, 8..15 and 10..17: the last group matrixes slots 10..15 again, to the same values.
    avx2::MatrixEight(0, matrixed);
    avx2::MatrixEight(8, matrixed + 8);
    avx2::MatrixEight(10, matrixed + 10);
    avx2::EmitGranule(c, matrixed);
    return;
  }
#endif
  for (int s = 0; s < 18; ++s) portable::Matrix<float, 32>(Decoder.HybridOutput[s], matrixed[s]);
  for (int s = 0; s < 18; ++s) EmitSlot(c, s, matrixed[s]);
}
