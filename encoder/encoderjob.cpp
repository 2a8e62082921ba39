#include "encoder/encoderjob.h"

#include "app/core/queue.h"
#include "encoder/consolemonitor.h"
#include "platform/jobthread.h"

bool EncoderJobSucceeded(const ProcessInfo& process, int32_t framesDone) {
  if (!process.Ended || !process.ExitedNormally || framesDone < 0) return false;
  return process.ExitCode == static_cast<uint32_t>(framesDone) % 256u;
}

uint32_t ReadJobExitCode() {
  if (!Converter.EncoderJob) return JobThreadExitCode(Converter.DecoderThread);
  const uint32_t code = ProcessExitCode(Converter.EncoderProcess);
  // All the ended encoder wrote is in the terminal now; read it before the end is judged (not
  // while an error box is open: the monitor is off then, and the next status read catches up).
  if (code != STILL_ACTIVE && Converter.EncoderProcess.Pid != 0 && !ConsoleMonitor.FinalLinesRead &&
      ConsoleMonitor.ReadTimerEnabled) {
    ConsoleMonitor.FinalLinesRead = true;
    ReadConsoleTTimer(0);
  }
  return code;
}

void KillRunningJob() {
  if (Converter.EncoderJob) {
    if (ProcessExitCode(Converter.EncoderProcess) == STILL_ACTIVE) KillProcess(Converter.EncoderProcess);
  } else if (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE) {
    RequestJobStop(Converter.DecoderThread);
  }
}
