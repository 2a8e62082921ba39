// Opens a region compiled for AVX2 (functions chosen at run time by a CPU check); close it with
// decoder/avx2_end.h. No fused multiply-add: the products are not contracted
// (-ffp-contract=off), so both paths give the same values.
// No include guard: a file may open more than one region.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
