// The running job as the scheduler sees it: its exit status, its success, and killing it.
#pragma once
#include <cstdint>

#include "platform/process.h"

// An encoder job succeeded only when the process exited normally (not by a signal), a progress
// line was read (framesDone >= 0), and its 8-bit exit status equals framesDone modulo 256. A job
// killed by Abort or by closing the window is never a success, so its source is never deleted.
bool EncoderJobSucceeded(const ProcessInfo& process, int32_t framesDone);

// The exit status of the current or last job: the encoder process when Converter.EncoderJob is
// set, else the decoder thread. STILL_ACTIVE (259) while it runs; 0 before the first job. When an
// encoder is first found ended, the console is read once more, so that the progress line it
// wrote last (and an error line) is taken before its end is judged.
uint32_t ReadJobExitCode();

// Kills the running job (Abort, closing the window): SIGKILL for the encoder process; a stop
// request for the decoder thread, which closes its files and ends with exit code 0 at its next
// frame (a pause is released). Nothing happens when no job runs.
void KillRunningJob();
