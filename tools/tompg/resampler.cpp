#include "tools/tompg/resampler.h"

bool ResamplerOpen(Resampler& r, int inRate, int outRate, int channels) {
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  r.soxr = soxr_create(inRate, outRate, static_cast<unsigned>(channels), &error, &io, &quality, nullptr);
  r.channels = channels;
  return error == nullptr && r.soxr != nullptr;
}

long ResamplerProcess(Resampler& r, const float* in, long inFrames, long* inUsed, float* out,
                      long outCapacity) {
  size_t used = 0;
  size_t produced = 0;
  soxr_error_t error = soxr_process(r.soxr, in, static_cast<size_t>(inFrames), in ? &used : nullptr, out,
                                    static_cast<size_t>(outCapacity), &produced);
  if (inUsed) *inUsed = static_cast<long>(used);
  return error ? -1 : static_cast<long>(produced);
}

void ResamplerClose(Resampler& r) {
  if (r.soxr) soxr_delete(r.soxr);
  r.soxr = nullptr;
}
