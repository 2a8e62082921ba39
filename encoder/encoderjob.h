// The running job as the scheduler sees it: its exit status, its success, and ending it.
#pragma once
#include <cstdint>
#include <string>

#include "platform/paths.h"
#include "platform/process.h"

// The exit rule of an encoder job: the process exited normally (not by a signal), a progress
// line was read (framesDone >= 0), and its 8-bit exit status equals framesDone modulo 256. A job
// killed by Abort or by closing the window never passes it, so its source is never deleted.
bool EncoderJobSucceeded(const ProcessInfo& process, int32_t framesDone);
// Why an ended encoder job failed, "" when it succeeded: it must pass the exit rule and leave its
// output complete under the output's name (`output`, links followed): a new file there, so its
// temporary file was renamed (the file `before` had the name when the job started), that begins
// with at least one whole MPEG audio frame. A status that matches the count alone proves nothing:
// a run that fails after its screen showed N frames may well exit with status N.
std::string EncoderJobFailure(const ProcessInfo& process, int32_t framesDone, const std::string& output,
                              const FileIdentity& before);
// True when the file begins with a whole MPEG audio frame (any layer; MPEG-1 or the lower
// sampling frequencies of MPEG-2), by the framing rules the decoder reads headers with.
bool BeginsWithMpegFrame(const std::string& path);

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
