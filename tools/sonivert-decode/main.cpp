// sonivert-decode INPUT.mp3 OUTPUT.wav: runs one decoder job, exactly as the application does,
// and exits with the job's exit code.
#include <cstdio>
#include <cstring>

#include "decoder/decoder.h"
#include "platform/files.h"
#include "platform/jobthread.h"

namespace {
// Exit codes of the tool itself, apart from the job's codes (sysexits.h values).
enum ToolExitCode : int {
  ToolUsage = 64,     // wrong arguments or a path too long for the job's buffers
  ToolNoThread = 71,  // the job thread could not be started
};
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs(
        "usage: sonivert-decode INPUT.mp3 OUTPUT.wav\n"
        "Decodes an MPEG audio Layer III file into a 16-bit PCM WAV file.\n",
        stderr);
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
  if (!StartJobThread(job, DecoderThreadMain, 0)) {
    fputs("sonivert-decode: the decoder thread cannot be started\n", stderr);
    return ToolNoThread;
  }
  JoinJobThread(job);
  const uint32_t code = JobThreadExitCode(job);
  if (code != DecoderOk) fprintf(stderr, "sonivert-decode: %s\n", DecoderExitText(code));
  return static_cast<int>(code);
}
