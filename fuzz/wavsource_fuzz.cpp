// libFuzzer entry for tompg's source reader: the input bytes are a sound file (WAV, RF64,
// Wave64, AIFF, FLAC, Ogg Vorbis or Opus, or anything else), in an in-memory file, opened through
// libsndfile's entry point as tompg opens it (OpenSource) and read to its end as the encoder
// reads it, in steps, mixed down to the coded channels (one or two, by the input's first byte).
// Besides the sanitizers' checks: an accepted source is one the encoder can take (1 to 64
// channels, a rate it can resample), every coded sample is finite and within full scale (float
// samples are clipped, never wrapped), the reader never reports a position past the end of the
// file, and the end is told as complete, ended early or damaged.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_io.h"
#include "tools/tompg/source.h"

namespace {

void Fail(const char* what) {
  fprintf(stderr, "source reader: %s\n", what);
  abort();
}

float Raw[SourceStepSamples];
float Work[SourceStepFrames * 2];

// An input that decodes to very many frames (a FLAC of constant blocks) is read this far.
constexpr uint64_t MaxFramesRead = 1 << 21;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = fuzzio::InputAsFile("wavsource-fuzz", data, size);
  const int codedChannels = size > 0 && (data[0] & 1) ? 1 : 2;

  SoundSource source;
  TompgError error{};
  const char* detail = nullptr;
  if (!OpenSource(fd, source, error, detail)) {
    if (error == TompgError::CannotOpenInput) Fail("a read error on an in-memory file");
    if (detail == nullptr) Fail("a refusal without a reason");
    return 0;
  }
  if (source.Channels < 1 || source.Channels > SoundMaxChannels || source.SampleRate < 1000 ||
      source.SampleRate > 768000)
    Fail("an accepted source the encoder cannot take");

  uint64_t frames = 0;
  for (;;) {
    const float* coded = nullptr;
    const long got = ReadCodedFrames(source, codedChannels, Raw, Work, &coded);
    if (got < 0 || got > SourceStepFrames) Fail("a step of more frames than asked for");
    if (got == 0) break;
    for (long k = 0; k < got * codedChannels; k++)
      if (!std::isfinite(coded[k]) || coded[k] < -1.0f || coded[k] > 1.0f) Fail("a sample beyond full scale");
    frames += uint64_t(got);
    if (SoundBytesRead(source) > size) Fail("a position past the end of the file");
    if (frames >= MaxFramesRead) break;
  }
  if (frames != source.FramesRead) Fail("frames miscounted");
  char text[64];
  bool damaged = false;
  const char* ended = SourceEndDetail(source, damaged, text);
  if (damaged && ended == nullptr) Fail("damage without a detail");
  SoundClose(source);
  return 0;
}
