// Streamed sample-rate conversion (libsoxr, high quality) for sources whose rate no layer codes.
#pragma once

#include <soxr.h>

struct Resampler {
  soxr_t soxr = nullptr;
  int channels = 0;
};

bool ResamplerOpen(Resampler& r, int inRate, int outRate, int channels);

// Converts inFrames interleaved frames (in may be null with inFrames 0 to drain the filter at the
// end) into out, which has room for outCapacity frames. Sets *inUsed to the frames taken; returns
// the frames produced, or -1 on an error.
long ResamplerProcess(Resampler& r, const float* in, long inFrames, long* inUsed, float* out,
                      long outCapacity);

void ResamplerClose(Resampler& r);
