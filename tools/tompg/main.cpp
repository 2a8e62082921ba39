// tompg: encodes a sound file (WAV, RF64, Wave64, AIFF, FLAC, Ogg Vorbis, Opus) to MPEG audio
// Layer I, II or III.
//
//   tompg "SOURCE.wav" "OUTPUT.mpN" -L<1|2|3> -B<kbit/s per channel> -M<0|1|2|3> -P2 -S0 -N4
//
// The console shows one progress line, rewritten in place; failures are reported with one error
// line (see console.h). On success the exit status is the final frame count modulo 256.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encoder/rates.h"
#include "platform/outputfile.h"
#include "platform/outputsignals.h"
#include "platform/paths.h"
#include "platform/writeall.h"
#include "sonivert_version.h"
#include "tools/tompg/backend.h"
#include "tools/tompg/console.h"
#include "tools/tompg/resampler.h"
#include "tools/tompg/source.h"

namespace {

struct Options {
  const char* source = nullptr;
  const char* output = nullptr;
  int layer = 0;           // -L: 1..3
  int kbpsPerChannel = 0;  // -B
  int mode = -1;           // -M: 0..3
};

// Source frames read per step.
constexpr long ReadFrames = SourceStepFrames;
// Resampled frames produced per step: never more than the encoders take in one call.
constexpr long ResampledFrames = BackendMaxSamples;

// The whole working state of one run: one record, no allocation while encoding.
struct Job {
  Options options;
  ConsoleState console;
  SoundSource source;
  Resampler resampler;
  bool resampling = false;
  Backend backend;
  FrameCounter counter;
  PendingOutput output;  // written under a temporary name, renamed when complete
  int codedChannels = 0;
  uint64_t bytesOut = 0;
  uint32_t bytesIn = 0;  // of the source file, as far as it has been read
  float raw[SourceStepSamples];
  float coded[ReadFrames * 2];
  float resampled[ResampledFrames * 2];
  float left[BackendMaxSamples];
  float right[BackendMaxSamples];
  uint8_t encoded[BackendOutputBytes];
};

Job job;

bool ParseNumber(const char* text, int low, int high, int& value) {
  if (!*text) return false;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (*end || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

bool ParseCommandLine(int argc, char** argv, Options& o) {
  if (argc < 3) return false;
  o.source = argv[1];
  o.output = argv[2];
  for (int i = 3; i < argc; ++i) {
    const char* a = argv[i];
    if (a[0] != '-' || !a[1]) return false;
    int ignored = 0;
    bool ok = false;
    switch (a[1]) {
      case 'L':
        ok = ParseNumber(a + 2, 1, 3, o.layer);
        break;
      case 'B':
        ok = ParseNumber(a + 2, 8, 448, o.kbpsPerChannel);
        break;
      case 'M':
        ok = ParseNumber(a + 2, 0, 3, o.mode);
        break;
      // Psychoacoustic, stereo and noise options of the command line: accepted, not used.
      case 'P':
      case 'S':
      case 'N':
        ok = ParseNumber(a + 2, 0, 99, ignored);
        break;
      default:
        break;
    }
    if (!ok) return false;
  }
  return o.layer != 0 && o.kbpsPerChannel != 0 && o.mode >= 0;
}

// What `tompg --help` shows.
constexpr char HelpText[] =
    "Usage: tompg [-n] SOURCE OUTPUT -L<1-3> -B<kbit/s> -M<0-3> [-P<n> -S<n> -N<n>]\n"
    "Encodes a sound file to MPEG audio Layer I, II or III.\n"
    "\n"
    "  -n, --no-clobber  keep an existing OUTPUT: write nothing and end with the\n"
    "                 line for an output that cannot be created\n"
    "  -L1, -L2, -L3  the MPEG audio layer\n"
    "  -B<n>          bitrate per coded channel in kbit/s, 8 to 448; the nearest\n"
    "                 legal bitrate of the layer and sample rate is used\n"
    "  -M<n>          channel mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono\n"
    "  -P<n> -S<n> -N<n>  accepted (0 to 99) and ignored\n"
    "  --help         show this text and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Progress is one line on standard output, rewritten in place. On success the exit\n"
    "status is the number of frames written, modulo 256; on failure a line that names\n"
    "the error and the file, and a status of 242 to 255 (see tompg(1)). A complete\n"
    "output replaces a file of its name; the old file is not moved to the Trash.\n"
    "\n"
    "Sources: WAV (PCM 8 to 32 bits, extensible, 32 and 64-bit float), RF64, Wave64,\n"
    "AIFF and AIFF-C, FLAC, Ogg Vorbis and Opus. More than two channels are mixed\n"
    "down to stereo (ITU-R BS.775: centre and surrounds at -3 dB, LFE left out).\n"
    "Layer III starts with an information frame (not counted) that gives decoders\n"
    "the encoder delay and padding, so they play back the source's exact length.\n";

// Asked for its usage or its version: tells it on standard output and returns the exit status
// (0, or the write failure's), else -1. Only as the sole argument: a command line with a source
// and an output never means either.
int ShowHelpOrVersion(int argc, char** argv) {
  if (argc != 2) return -1;
  bool written;
  if (std::strcmp(argv[1], "--help") == 0) {
    written = WriteAll(1, HelpText, sizeof HelpText - 1);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    char line[64];
    const int n = std::snprintf(line, sizeof line, "tompg (Sonivert) %s\n", SonivertVersion);
    written = WriteAll(1, line, static_cast<size_t>(n));
  } else {
    return -1;
  }
  return written ? 0 : static_cast<int>(TompgError::WriteFailed);
}

// The reason shown for an output that -n keeps.
constexpr char KeptText[] = "file exists, kept (-n)";

// Ends a failed run: the partial output is removed, so that no half stream is ever mistaken for
// a result, and a file that already had the output's name stays as it was.
int Fail(TompgError error, const char* detail) {
  int status = ShowError(job.console, error, detail);
  DiscardPendingOutput(job.output);
  return status;
}

bool WriteEncoded(long bytes) {
  if (bytes <= 0) return true;
  if (!WriteAll(job.output.Fd, job.encoded, static_cast<size_t>(bytes))) return false;
  CountFrames(job.counter, job.encoded, bytes);
  job.bytesOut += static_cast<uint64_t>(bytes);
  return true;
}

enum class StepResult { Ok, WriteFailed, EncoderFailed };

// Codes n interleaved frames at the coded rate and channel count.
StepResult Encode(const float* interleaved, long n) {
  while (n > 0) {
    long take = n < BackendMaxSamples ? n : BackendMaxSamples;
    // One channel is coded from the frames as they are; two are split into their own rows.
    const float* left = interleaved;
    if (job.codedChannels == 2) {
      for (long i = 0; i < take; ++i) {
        job.left[i] = interleaved[2 * i];
        job.right[i] = interleaved[2 * i + 1];
      }
      left = job.left;
    }
    long bytes = BackendEncode(job.backend, left, job.right, take, job.encoded, BackendOutputBytes);
    if (bytes < 0) return StepResult::EncoderFailed;
    if (!WriteEncoded(bytes)) return StepResult::WriteFailed;
    interleaved += take * job.codedChannels;
    n -= take;
  }
  return StepResult::Ok;
}

// Passes coded-channel frames through the resampler when one is needed; in null drains it.
StepResult Resample(const float* in, long n) {
  if (!job.resampling) return Encode(in, n);
  for (;;) {
    long used = 0;
    long produced = ResamplerProcess(job.resampler, in, n, &used, job.resampled, ResampledFrames);
    if (produced < 0) return StepResult::EncoderFailed;
    StepResult r = Encode(job.resampled, produced);
    if (r != StepResult::Ok) return r;
    if (in) {
      in += used * job.codedChannels;
      n -= used;
      if (n == 0 && produced < ResampledFrames) return StepResult::Ok;
    } else if (produced == 0) {
      return StepResult::Ok;
    }
  }
}

// The frames of audio written: the Layer III information frame in front is none.
uint32_t AudioFrames() {
  const auto leading = static_cast<uint32_t>(BackendLeadingFrames(job.backend));
  return job.counter.frames > leading ? job.counter.frames - leading : 0;
}

void Progress(bool final) {
  // The numbers never shrink: the reader may have looked ahead before it read the samples.
  const auto at = static_cast<uint32_t>(SoundBytesRead(job.source));
  if (at > job.bytesIn) job.bytesIn = at;
  ShowProgress(job.console, AudioFrames(), job.bytesIn, static_cast<uint32_t>(job.bytesOut), final);
}

int Run(int argc, char** argv) {
  Options& o = job.options;
  if (!ParseCommandLine(argc, argv, o)) return ShowError(job.console, TompgError::Usage, nullptr);
  job.console.source = o.source;
  job.console.output = o.output;

  int inFd;
  do inFd = open(o.source, O_RDONLY | O_CLOEXEC);
  while (inFd < 0 && errno == EINTR);
  if (inFd < 0) return ShowError(job.console, TompgError::CannotOpenInput, std::strerror(errno));
  struct stat inStat {};
  if (fstat(inFd, &inStat) != 0 || S_ISDIR(inStat.st_mode))
    return ShowError(job.console, TompgError::CannotOpenInput,
                     std::strerror(S_ISDIR(inStat.st_mode) ? EISDIR : errno));
  TompgError sourceError{};
  const char* sourceDetail = nullptr;
  if (!OpenSource(inFd, job.source, sourceError, sourceDetail))
    return ShowError(job.console, sourceError, sourceDetail);

  int rate = CodedSampleRate(job.source.SampleRate);
  job.codedChannels = o.mode == ModeMono ? 1 : 2;
  int totalKbps = o.kbpsPerChannel * (o.mode == ModeMono ? 1 : 2);
  int kbps = NearestBitrate(o.layer, rate, o.mode, totalKbps);
  if (kbps == 0 || !BackendOpen(job.backend, o.layer, rate, job.codedChannels, o.mode, kbps))
    return ShowError(job.console, TompgError::UnrecognizedPcm, "cannot code this format");
  job.resampling = rate != job.source.SampleRate;
  if (job.resampling && !ResamplerOpen(job.resampler, job.source.SampleRate, rate, job.codedChannels))
    return ShowError(job.console, TompgError::UnrecognizedPcm, "cannot resample");

  // Replacing the output would destroy the source if both are the same file.
  if (IsSameFile(o.source, o.output))
    return ShowError(job.console, TompgError::CannotCreateOutput, "output is the source");
  if (OutputKeptByRule(o.output)) return ShowError(job.console, TompgError::CannotCreateOutput, KeptText);
  if (!CreatePendingOutput(o.output, job.output))
    return ShowError(job.console, TompgError::CannotCreateOutput, std::strerror(errno));

  Progress(true);
  for (;;) {
    const float* coded = nullptr;
    long n = ReadCodedFrames(job.source, job.codedChannels, job.raw, job.coded, &coded);
    StepResult r = StepResult::Ok;
    if (n > 0) {
      r = Resample(coded, n);
    } else if (job.resampling) {
      r = Resample(nullptr, 0);
    }
    if (r == StepResult::Ok && n == 0) {
      long bytes = BackendFlush(job.backend, job.encoded, BackendOutputBytes);
      if (bytes < 0)
        r = StepResult::EncoderFailed;
      else if (!WriteEncoded(bytes))
        r = StepResult::WriteFailed;
    }
    if (r == StepResult::WriteFailed) return Fail(TompgError::WriteFailed, std::strerror(errno));
    if (r == StepResult::EncoderFailed) return Fail(TompgError::EncoderFailed, nullptr);
    if (n == 0) break;
    Progress(false);
  }
  // A source that gave nothing, or broke off inside (a damaged FLAC or Ogg file), is never taken
  // for a short success; one that was cut off is encoded as far as it goes, and said so.
  char endText[64];
  bool damaged = false;
  const char* ended = SourceEndDetail(job.source, damaged, endText);
  if (job.source.ReadError && job.source.Io.Failed) return Fail(TompgError::CannotOpenInput, "read failed");
  if (damaged) return Fail(TompgError::CannotOpenInput, ended);
  if (job.source.FramesRead == 0) return Fail(TompgError::UnrecognizedPcm, "no samples");
  if (!BackendWriteInfoFrame(job.backend, job.output.Fd, job.encoded, BackendOutputBytes))
    return Fail(TompgError::WriteFailed, std::strerror(errno));
  if (ended) ShowNotice(job.console, NoticeEndedEarly, ended);
  SoundClose(job.source);
  BackendClose(job.backend);
  ResamplerClose(job.resampler);
  close(inFd);
  // The output takes its name only now; a failed close or rename is a failed write.
  if (!CommitPendingOutput(job.output)) {
    // A file that took the output's name meanwhile stays under -n: the output is not written.
    if (job.output.ExistingKept) return ShowError(job.console, TompgError::CannotCreateOutput, KeptText);
    return ShowError(job.console, TompgError::WriteFailed, std::strerror(errno));
  }
  Progress(true);
  return static_cast<int>(AudioFrames() % 256);
}

}  // namespace

int main(int argc, char** argv) {
  // -n keeps an existing output. Without it the output replaces what it is told to write, as cp
  // and sox do: never into the Trash.
  argc = TakeNoClobberOption(argc, argv);
  const int asked = ShowHelpOrVersion(argc, argv);
  if (asked >= 0) return asked;
  // A closed console or a file size limit must give an error line, not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  // SIGHUP (the console went away), SIGINT, SIGTERM: the temporary output is removed, then
  // the process ends by the same signal, so that its parent sees how it ended.
  PrepareOutputSignals();
  return Run(argc, argv);
}
