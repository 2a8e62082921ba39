// Stages of the Layer I encoder, shared by its source files and its tests.
#pragma once

#include <cstdint>

#include "tools/tompg/layer1.h"

// Analysis window, ISO/IEC 11172-3 Table 3-C.1, as integers k with C[i] = k / 2^21.
extern const int32_t Layer1WindowK[512];

// Signal-to-noise ratio in dB of each allocation value 0..14 (2..15 bits per sample, 0 = not
// coded): ISO/IEC 11172-3 Table 3-C.5 for 3, 7, 15, ... 32767 quantisation steps.
extern const float Layer1SnrDb[15];

// Scalefactor i = 0..62 of ISO/IEC 11172-3 Table 3-B.1: 2.0 * 2^(-i/3).
float Layer1Scalefactor(int index);

// Index of the smallest scalefactor not below maxAbs (0 when maxAbs exceeds 2.0).
int Layer1ScalefactorIndex(float maxAbs);

// Quantisation of a normalised sample x (|x| <= 1) with nb = 2..15 bits: ISO/IEC 11172-3
// Annex C, A * x + B, the nb most significant bits, the first of them inverted.
int Layer1Quantize(float x, int nb);

// Filterbank set-up of the record: window and matrixing table.
void Layer1InitFilterbank(Layer1Encoder& enc);

// Shifts 32 new samples into the FIFO X[512] (newest at X[0]) and computes the 32 subband
// samples: windowing Z = C * X, partial sums Y[0..63], matrixing (ISO/IEC 11172-3 Annex C.1.3).
void Layer1AnalysisStep(const Layer1Encoder& enc, float* fifo, const float* in32, float* out32);

// Psychoacoustic model set-up (FFT window and twiddles, critical band rates, absolute threshold).
void Layer1InitPsycho(Layer1Encoder& enc);

// Signal-to-mask ratio in dB per subband for one channel. samples512 is the 512-sample FFT
// block aligned with the frame's subband samples; scfMax the largest |sample| per subband.
void Layer1Psycho(const Layer1Encoder& enc, const float* samples512, const float* scfMax, float* smr);

// Greedy bit allocation (ISO/IEC 11172-3 Annex C.1.5): repeatedly gives one more bit per sample
// to the subband with the lowest mask-to-noise ratio that still fits into availableBits.
// active[ch][sb] false keeps a subband at 0 (silent). With two channels and bound < 32 the
// subbands from bound up are intensity coded: one allocation and one set of samples for both
// channels, taken from smr[0] and active[0], with two scalefactors; alloc[1] repeats alloc[0]
// there. Returns the bits used (<= availableBits).
int Layer1Allocate(const float (*smr)[32], const bool (*active)[32], int channels, int availableBits,
                   int (*alloc)[32], int bound = 32);
