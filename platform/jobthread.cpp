#include "platform/jobthread.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {
thread_local JobThread* CurrentJob = nullptr;

bool ApplyNice(int tid, int nice) { return tid == 0 || setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0; }

// The set of end descriptors (an epoll instance) and the counter a job thread raises as its
// last act. Both are made once and live as long as the program. Edge-triggered: each end is
// reported once, however long its descriptor stays readable.
struct JobEnds {
  int Set = -1;
  int ThreadEnded = -1;
};

const JobEnds& Ends() {
  static const JobEnds ends = [] {
    JobEnds e;
    e.Set = epoll_create1(EPOLL_CLOEXEC);
    e.ThreadEnded = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (e.Set >= 0 && e.ThreadEnded >= 0) {
      epoll_event event{};
      event.events = EPOLLIN | EPOLLET;
      event.data.fd = e.ThreadEnded;
      epoll_ctl(e.Set, EPOLL_CTL_ADD, e.ThreadEnded, &event);
    }
    return e;
  }();
  return ends;
}

void SignalThreadEnd() {
  const int fd = Ends().ThreadEnded;
  if (fd >= 0) eventfd_write(fd, 1);
}
}  // namespace

int JobEndDescriptor() { return Ends().Set; }

void TakeJobEnds() {
  const JobEnds& ends = Ends();
  if (ends.Set < 0) return;
  epoll_event events[8];
  while (epoll_wait(ends.Set, events, 8, 0) > 0) {
  }
  eventfd_t ignored = 0;
  if (ends.ThreadEnded >= 0) eventfd_read(ends.ThreadEnded, &ignored);
}

void WatchJobEnd(int fd) {
  const JobEnds& ends = Ends();
  if (ends.Set < 0 || fd < 0) return;
  epoll_event event{};
  event.events = EPOLLIN | EPOLLET;
  event.data.fd = fd;
  epoll_ctl(ends.Set, EPOLL_CTL_ADD, fd, &event);
}

bool StartJobThread(JobThread& job, uint32_t (*entry)(), int nice) {
  JoinJobThread(job);
  Ends();  // made before any thread may signal through it
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
      SignalThreadEnd();
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

bool SetJobThreadNice(JobThread& job, int nice) {
  job.Nice = nice;
  return !job.Started || job.ExitCode != STILL_ACTIVE || ApplyNice(job.Tid, nice);
}

bool JobThreadNice(const JobThread& job, int& nice) {
  const int tid = job.Tid;
  if (!job.Started || job.ExitCode != STILL_ACTIVE || tid == 0) return false;
  errno = 0;
  nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  return errno == 0;
}

void JoinJobThread(JobThread& job) {
  if (job.Thread.joinable()) job.Thread.join();
}

bool JobCheckpoint() {
  JobThread* job = CurrentJob;
  if (job == nullptr) return false;
  if (job->PauseRequested) {
    std::unique_lock<std::mutex> lock(job->PauseLock);
    job->Holding = true;
    job->PauseWake.wait(lock, [job] { return !job->PauseRequested || job->StopRequested; });
    job->Holding = false;
  }
  return job->StopRequested;
}
