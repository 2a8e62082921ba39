// The running job as the scheduler sees it: its exit status, its success, and ending it.
#pragma once
#include <cstdint>
#include <string>

#include "platform/process.h"

// An encoder job succeeded only when the process exited normally (not by a signal), a progress
// line was read (framesDone >= 0), and its 8-bit exit status equals framesDone modulo 256. A job
// killed by Abort or by closing the window is never a success, so its source is never deleted.
bool EncoderJobSucceeded(const ProcessInfo& process, int32_t framesDone);

// The exit status of the current or last job: the encoder process when Converter.EncoderJob is
// set, else the decoder thread. STILL_ACTIVE (259) while it runs; 0 before the first job. It only
// reads the status: nothing is reported from here.
uint32_t ReadJobExitCode();

// Asks the running job to end (Abort, closing the window): SIGTERM to the encoder process, which
// then removes its temporary output and ends; a stop request to the decoder thread, which
// discards its output and ends with exit code 0 at its next frame (a pause is released). Nothing
// happens when no job runs.
void StopRunningJob();
// Kills an encoder that did not end after StopRunningJob (SIGKILL). The decoder thread always
// ends at its next frame, so nothing is done for it.
void KillRunningEncoder();

// How long an encoder is given to end after StopRunningJob before it is killed.
constexpr uint32_t EncoderStopGraceMs = 2000;

// Ends the running job before the window closes and waits for it: the decoder is stopped and
// joined; the encoder is asked to end, killed when it has not after the grace period, and
// reaped. Temporary files a killed encoder left beside `output` are removed.
void FinishRunningJob(const std::string& output);
