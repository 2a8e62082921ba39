#include "platform/jobthread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
thread_local JobThread* CurrentJob = nullptr;

void ApplyNice(int tid, int nice) {
  if (tid != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);  // may fail: unprivileged
}
}  // namespace

bool StartJobThread(JobThread& job, uint32_t (*entry)(), int nice) {
  JoinJobThread(job);
  job.StopRequested = false;
  job.PauseRequested = false;
  job.Nice = nice;
  job.Tid = 0;
  job.ExitCode = STILL_ACTIVE;
  // std::thread reports failure by an exception; this is the one place it is caught.
  try {
    job.Thread = std::thread([&job, entry] {
      CurrentJob = &job;
      const int tid = static_cast<int>(syscall(SYS_gettid));
      job.Tid = tid;
      ApplyNice(tid, job.Nice);
      const uint32_t code = entry();
      CurrentJob = nullptr;
      job.ExitCode = code == STILL_ACTIVE ? code + 1 : code;
    });
  } catch (...) {
    job.ExitCode = 0;
    return false;
  }
  job.Started = true;
  return true;
}

uint32_t JobThreadExitCode(const JobThread& job) { return job.Started ? job.ExitCode.load() : 0; }

void RequestJobStop(JobThread& job) {
  {
    std::lock_guard<std::mutex> lock(job.PauseLock);
    job.StopRequested = true;
  }
  job.PauseWake.notify_all();
}

void SetJobPaused(JobThread& job, bool paused) {
  {
    std::lock_guard<std::mutex> lock(job.PauseLock);
    job.PauseRequested = paused;
  }
  job.PauseWake.notify_all();
}

void SetJobThreadNice(JobThread& job, int nice) {
  job.Nice = nice;
  if (job.Started && job.ExitCode == STILL_ACTIVE) ApplyNice(job.Tid, nice);
}

void JoinJobThread(JobThread& job) {
  if (job.Thread.joinable()) job.Thread.join();
}

bool JobCheckpoint() {
  JobThread* job = CurrentJob;
  if (job == nullptr) return false;
  if (job->PauseRequested) {
    std::unique_lock<std::mutex> lock(job->PauseLock);
    job->PauseWake.wait(lock, [job] { return !job->PauseRequested || job->StopRequested; });
  }
  return job->StopRequested;
}
