#include "encoder/priority.h"

#include <cerrno>
#include <cstdlib>

#include "model/queue.h"
#include "platform/jobthread.h"
#include "platform/process.h"
#include "platform/tick.h"

const uint32_t PriorityClassTable[3] = {0x40, 0x20, 0x80};

int NiceForPriorityClass(uint32_t priorityClass) {
  switch (priorityClass) {
    case 0x40:
      return 19;  // idle: runs only when nothing else wants the processor
    case 0x20:
      return 0;  // normal
    case 0x80:
      return -5;  // high: ahead of ordinary programs, far from real-time
  }
  return 0;
}

bool ValidPriorityPosition(int position) { return position >= 0 && position <= 2; }

// The decoder thread takes the same nice values as the encoder process, so that a position
// means the same for both kinds of job.
int PriorityNice(int position) {
  return ValidPriorityPosition(position) ? NiceForPriorityClass(PriorityClassTable[position]) : 0;
}

void PriorityTBChange(int position) {
  if (!ValidPriorityPosition(position)) return;
  if (Converter.EncoderJob) {
    if (ProcessExitCode(Converter.EncoderProcess) == STILL_ACTIVE) {
      SetProcessNice(Converter.EncoderProcess, PriorityNice(position));  // may fail: not examined
    }
  } else if (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE) {
    SetJobThreadNice(Converter.DecoderThread, PriorityNice(position));
  }
}

int PriorityPositionOfNice(int nice) {
  int nearest = 1;
  for (int position : {0, 2}) {
    if (std::abs(nice - PriorityNice(position)) < std::abs(nice - PriorityNice(nearest))) nearest = position;
  }
  return nearest;
}

JobPriorityResult ApplyJobPriority(int position, int& actual) {
  const int wanted = PriorityNice(position);
  int nice = wanted;
  if (Converter.EncoderJob) {
    if (ProcessExitCode(Converter.EncoderProcess) != STILL_ACTIVE) return PriorityHeld;
    if (SetProcessNice(Converter.EncoderProcess, wanted)) return PriorityHeld;
    const int error = errno;
    ProcessNice(Converter.EncoderProcess, nice);
    errno = error;
  } else {
    JobThread& job = Converter.DecoderThread;
    if (JobThreadExitCode(job) != STILL_ACTIVE) return PriorityHeld;
    if (job.Tid.load() == 0) return PriorityPending;
    if (SetJobThreadNice(job, wanted)) return PriorityHeld;
    const int error = errno;
    JobThreadNice(job, nice);
    errno = error;
  }
  actual = PriorityPositionOfNice(nice);
  return PriorityRefused;
}

void CurrentLBClick(bool hintShown) {
  if (!hintShown) return;
  if (!Converter.Suspended) {
    Converter.Suspended = true;
    if (Converter.EncoderJob)
      SuspendProcess(Converter.EncoderProcess);
    else
      SetJobPaused(Converter.DecoderThread, true);
    Converter.SuspendTick = GetTickCount();
  } else {
    Converter.Suspended = false;
    if (Converter.EncoderJob)
      ResumeProcess(Converter.EncoderProcess);
    else
      SetJobPaused(Converter.DecoderThread, false);
    // The span in 32-bit tick arithmetic, so that a wrap of the counter during the pause counts
    // the true span.
    const uint32_t paused = GetTickCount() - static_cast<uint32_t>(Converter.SuspendTick);
    Converter.StartTick += paused;
  }
}
