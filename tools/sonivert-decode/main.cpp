// sonivert-decode INPUT.mp3 OUTPUT.wav: runs one decoder job, exactly as the application does,
// and exits with the job's exit code.
#include <cstdio>
#include <cstring>

#include "decoder/decoder.h"
#include "platform/jobthread.h"
#include "platform/outputfile.h"
#include "platform/outputsignals.h"
#include "sonivert_version.h"

namespace {
// Exit codes of the tool itself, apart from the job's codes (sysexits.h values).
enum ToolExitCode : int {
  ToolUsage = 64,     // wrong arguments or a path too long for the job's buffers
  ToolNoThread = 71,  // the job thread could not be started
  ToolIoError = 74,   // the usage or version text could not be written
};

constexpr char Usage[] =
    "usage: sonivert-decode [-n] INPUT.mp3 OUTPUT.wav\n"
    "Decodes an MPEG audio Layer III file into a 16-bit PCM WAV file.\n";

// The file a failed job's code concerns: the source when it cannot be read or holds no audio,
// else the output.
const char* FileOfExitCode(uint32_t code, const char* input, const char* output) {
  return code == DecoderInputFailed || code == DecoderNoAudio ? input : output;
}

// A file name as one line of text: control characters (a line break, an escape sequence) as '?'.
void PrintName(const char* name) {
  for (const char* p = name; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    fputc(c < 0x20 || c == 0x7F ? '?' : c, stderr);
  }
}

// The start of a message about the source: "sonivert-decode: NAME: ".
void SourceLine(const char* input) {
  fputs("sonivert-decode: ", stderr);
  PrintName(input);
  fputs(": ", stderr);
}

// What the decode met besides audio, on standard error: the audio around it was decoded, so the
// exit status stays 0, but the user learns what was left out and where.
void ReportDamage(const DecodeReport& r, const char* input) {
  const uint32_t listed = r.SkippedRuns < DecodeReportRuns ? r.SkippedRuns : DecodeReportRuns;
  for (uint32_t i = 0; i < listed; ++i) {
    SourceLine(input);
    fprintf(stderr, "skipped %llu bytes that hold no frame of the stream, at byte %llu\n",
            static_cast<unsigned long long>(r.RunBytes[i]), static_cast<unsigned long long>(r.RunOffset[i]));
  }
  if (r.SkippedRuns > listed) {
    SourceLine(input);
    fprintf(stderr, "skipped damaged bytes at %u places, %llu bytes in all\n", r.SkippedRuns,
            static_cast<unsigned long long>(r.SkippedBytes));
  }
  if (r.SilencedFrames > 0) {
    SourceLine(input);
    fprintf(stderr, r.SilencedFrames == 1 ? "%u frame after skipped bytes lost its data with them and was decoded as silence\n"
                                          : "%u frames after skipped bytes lost their data with them and were decoded as silence\n",
            r.SilencedFrames);
  }
  if (r.CorruptFrames > 0) {
    SourceLine(input);
    fprintf(stderr, r.CorruptFrames == 1 ? "%u frame held a corrupt Huffman code word\n"
                                         : "%u frames held a corrupt Huffman code word\n",
            r.CorruptFrames);
  }
  if (r.CutBytes > 0) {
    SourceLine(input);
    fprintf(stderr, "the file ends inside a frame, at byte %llu: its last %u bytes were left out\n",
            static_cast<unsigned long long>(r.CutOffset), r.CutBytes);
  }
}
}  // namespace

int main(int argc, char** argv) {
  // -n keeps an existing output. Without it the output replaces what it is told to write, as cp
  // and sox do: never into the Trash.
  argc = TakeNoClobberOption(argc, argv);
  // Usage and version on request, on standard output; only as the sole argument, which is never
  // a decode.
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    fputs(Usage, stdout);
    fputs(
        "\n"
        "  -n, --no-clobber  keep an existing OUTPUT.wav and write nothing (status 8)\n"
        "  --help            show this text and exit\n"
        "  --version         show the version and exit\n"
        "\n"
        "Tags are skipped, an encoder's information frame is not played and its delay and\n"
        "padding are cut off; damage is skipped and named on standard error.\n"
        "The output appears only when complete and replaces a file of its name (which\n"
        "is not moved to the Trash). Exit status: 0 decoded, 1 the source cannot be\n"
        "opened, 2 the output cannot be created, 3 a write failed, 4 no audio in the\n"
        "source, 5 the WAV size limit was reached, 8 the output exists (-n), 64 wrong\n"
        "arguments (see sonivert-decode(1)).\n",
        stdout);
    return fflush(stdout) == 0 ? 0 : ToolIoError;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    printf("sonivert-decode (Sonivert) %s\n", SonivertVersion);
    return fflush(stdout) == 0 ? 0 : ToolIoError;
  }
  if (argc != 3) {
    fputs(Usage, stderr);
    return ToolUsage;
  }
  for (int i = 1; i <= 2; ++i) {
    if (std::strlen(argv[i]) >= static_cast<size_t>(DecoderPathSize)) {
      fprintf(stderr, "sonivert-decode: path too long (at most %d characters): %.40s...\n",
              DecoderPathSize - 1, argv[i]);
      return ToolUsage;
    }
  }
  // Ended from outside, the tool leaves no temporary file behind; a file size limit gives a
  // failed write (exit code 3) instead of a silent death.
  PrepareOutputSignals();
  InitDecoderTables();
  std::strcpy(DecoderInput, argv[1]);
  std::strcpy(DecoderOutput, argv[2]);
  static JobThread job;
  uint32_t code = DecoderOutputExists;  // an output kept by -n is refused before any decoding
  if (!OutputKeptByRule(argv[2])) {
    if (!StartJobThread(job, DecoderThreadMain, 0)) {
      fputs("sonivert-decode: the decoder thread cannot be started\n", stderr);
      return ToolNoThread;
    }
    JoinJobThread(job);
    code = JobThreadExitCode(job);
  }
  // A job that ran has ended: its report is complete (a job never started reports nothing).
  ReportDamage(LastDecodeReport, argv[1]);
  if (code != DecoderOk) {
    // Among many decodes at once (a batch), the message says which one failed.
    fputs("sonivert-decode: ", stderr);
    PrintName(FileOfExitCode(code, argv[1], argv[2]));
    fprintf(stderr, ": %s\n", DecoderExitText(code));
  }
  return static_cast<int>(code);
}
