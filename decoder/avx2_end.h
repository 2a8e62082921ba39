// Closes a region opened by decoder/avx2_begin.h.
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
