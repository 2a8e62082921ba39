#include "tools/tompg/source.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

bool OpenSource(int fd, SoundSource& source, TompgError& error, const char*& detail) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = TompgError::CannotOpenInput;
    detail = std::strerror(errno);
    return false;
  }
  // A FIFO or a device has no length to read to: only regular files are sources.
  if (!S_ISREG(st.st_mode)) {
    error = TompgError::UnrecognizedPcm;
    detail = "not a regular file";
    return false;
  }
  error = TompgError::UnrecognizedPcm;
  switch (SoundOpen(fd, source)) {
    case SoundOpened:
      // Nothing to encode: no output is started, so none can be taken for a result.
      if (source.Empty) {
        SoundClose(source);
        detail = "no samples";
        return false;
      }
      return true;
    case SoundReadError:
      error = TompgError::CannotOpenInput;
      detail = "read failed";
      return false;
    case SoundBrokenWave:
      detail = "broken WAVE file";
      return false;
    case SoundNotPcm:
      detail = "not PCM";
      return false;
    case SoundUnknownType:
      detail = "unknown file type";
      return false;
  }
  return false;
}

long ReadCodedFrames(SoundSource& source, int codedChannels, float* raw, float* work, const float** coded) {
  const int from = source.Channels;
  long want = SourceStepSamples / from;
  if (want > SourceStepFrames) want = SourceStepFrames;
  const long n = SoundRead(source, raw, want);
  *coded = raw;
  if (n <= 0 || from == codedChannels) return n;
  if (from == 1) {
    for (long i = 0; i < n; ++i) work[2 * i] = work[2 * i + 1] = raw[i];
    *coded = work;
    return n;
  }
  const float* stereo = raw;
  if (from > 2) {
    SoundMixToStereo(source, raw, n, work);
    stereo = work;
    *coded = work;
    if (codedChannels == 2) return n;
  }
  // Two channels coded as one: in place is safe, sample i is written after 2i and 2i+1 are read.
  for (long i = 0; i < n; ++i) work[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
  *coded = work;
  return n;
}

const char* SourceEndDetail(const SoundSource& source, bool& damaged, char* text) {
  damaged = false;
  const SoundEnd end = SoundEndState(source);
  if (end == SoundComplete) return nullptr;
  const auto rate = static_cast<uint64_t>(source.SampleRate);
  const uint64_t at = source.FramesRead / rate;
  if (end == SoundDamaged) {
    damaged = true;
    std::snprintf(text, 64, "damaged data after %u:%02u", static_cast<unsigned>(at / 60),
                  static_cast<unsigned>(at % 60));
  } else if (source.Frames > 0) {
    const uint64_t all = source.Frames / rate;
    std::snprintf(text, 64, "%u:%02u of %u:%02u", static_cast<unsigned>(at / 60),
                  static_cast<unsigned>(at % 60), static_cast<unsigned>(all / 60),
                  static_cast<unsigned>(all % 60));
  } else {
    std::snprintf(text, 64, "after %u:%02u", static_cast<unsigned>(at / 60), static_cast<unsigned>(at % 60));
  }
  return text;
}
