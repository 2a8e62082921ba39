// libFuzzer entry for the encoder's WAV reader: the input bytes are the WAV file, in an
// in-memory file. An opened file is read to its end in pieces of varying size, as the encoder
// reads it. Besides the sanitizers' checks: an accepted format is one the reader can convert,
// every sample is within full scale, and the frames read are exactly the whole frames of the
// data chunk (as cut to the file), with the read position never past the data's end.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_io.h"
#include "tools/tompg/wavsource.h"

namespace {

void Fail(const char* what) {
  fprintf(stderr, "WAV reader: %s\n", what);
  abort();
}

// 4608 frames of two channels: more than the reader's own piece of 2048 frames.
float Samples[4608 * 2];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = fuzzio::InputAsFile("wavsource-fuzz", data, size);

  WavSource source;
  const WavOpenResult result = WavOpen(fd, source);
  if (result == WavOpenResult::ReadError) Fail("a read error on an in-memory file");
  if (result != WavOpenResult::Ok) return 0;
  if (source.channels < 1 || source.channels > 2 || source.bytesPerSample < 1 || source.bytesPerSample > 4 ||
      source.blockAlign != source.channels * source.bytesPerSample || source.sampleRate <= 0)
    Fail("an accepted format the reader cannot convert");
  if (source.dataOffset > size || source.dataSize > size - source.dataOffset)
    Fail("the data chunk reaches past the end of the file");

  const uint64_t wholeFrames = source.dataSize / uint32_t(source.blockAlign);
  uint64_t frames = 0;
  // Piece sizes as the encoders ask for them (1152 or 384 frames) and some odd ones.
  static const long Pieces[] = {1152, 384, 1, 4608, 7, 2048};
  for (int i = 0;; i++) {
    const long want = Pieces[i % 6];
    const long got = WavRead(source, Samples, want);
    if (got < 0) Fail("a read error on an in-memory file");
    if (got > want) Fail("more frames than asked for");
    if (source.consumed > source.dataSize) Fail("read past the end of the data");
    for (long k = 0; k < got * source.channels; k++)
      if (!std::isfinite(Samples[k]) || Samples[k] < -1.0f || Samples[k] > 1.0f)
        Fail("a sample beyond full scale");
    frames += uint64_t(got);
    if (got == 0) break;
    if (frames > wholeFrames) Fail("more frames than the data holds");
  }
  if (frames != wholeFrames) Fail("frames of the data lost");
  if (source.consumed != source.dataSize) Fail("the data is not consumed to its end");
  return 0;
}
