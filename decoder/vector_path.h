// The decoder's choice between its AVX2 code and its portable code: one processor check and one
// switch for every stage. A stage opens its AVX2 code with decoder/avx2_begin.h, closes it with
// decoder/avx2_end.h, and runs it while VectorPath is true. Both paths perform the same
// single-precision operations in the same order, so they give identical samples.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define SONIVERT_X86 1
#endif

// True while the stages take their AVX2 code: from program start on when the processor has AVX2.
extern bool VectorPath;

// Turns the AVX2 code on (where the processor has it) or off, so that tests and benchmarks can
// run the portable code on any machine. Returns whether the AVX2 code is now in use.
bool UseVectorPath(bool on);
