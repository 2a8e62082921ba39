#include "encoder/encoderjob.h"

#include "model/queue.h"
#include "platform/jobthread.h"
#include "platform/outputfile.h"

bool EncoderJobSucceeded(const ProcessInfo& process, int32_t framesDone) {
  if (!process.Ended || !process.ExitedNormally || framesDone < 0) return false;
  return process.ExitCode == static_cast<uint32_t>(framesDone) % 256u;
}

uint32_t ReadJobExitCode() {
  if (!Converter.EncoderJob) return JobThreadExitCode(Converter.DecoderThread);
  return ProcessExitCode(Converter.EncoderProcess);
}

void StopRunningJob() {
  if (Converter.EncoderJob) {
    if (ProcessExitCode(Converter.EncoderProcess) == STILL_ACTIVE) TerminateProcess(Converter.EncoderProcess);
  } else if (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE) {
    RequestJobStop(Converter.DecoderThread);
  }
}

void KillRunningEncoder() {
  if (Converter.EncoderJob && ProcessExitCode(Converter.EncoderProcess) == STILL_ACTIVE)
    KillProcess(Converter.EncoderProcess);
}

void FinishRunningJob(const std::string& output) {
  // Each call does nothing without a thread that was started or a process that has not ended.
  if (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE) RequestJobStop(Converter.DecoderThread);
  JoinJobThread(Converter.DecoderThread);
  if (ProcessExitCode(Converter.EncoderProcess) != STILL_ACTIVE) return;
  TerminateProcess(Converter.EncoderProcess);
  if (!WaitProcessEndFor(Converter.EncoderProcess, static_cast<int>(EncoderStopGraceMs))) {
    KillProcess(Converter.EncoderProcess);
    WaitProcessEnd(Converter.EncoderProcess);
  }
  if (!output.empty()) RemoveLeftoverOutputs(output, Converter.EncoderProcess.Pid);
}
