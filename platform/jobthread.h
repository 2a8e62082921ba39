// A worker thread for one conversion job, with the requests the GUI thread may make of it.
// Linux cannot stop or pause a thread from outside safely, so the thread itself calls
// JobCheckpoint() at regular points (the decoder: once per frame); a stop request then ends it
// cleanly and a pause request holds it there until resumed.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// The exit code of a job that is still running, as on Windows.
constexpr uint32_t STILL_ACTIVE = 259;

struct JobThread {
  std::thread Thread;
  bool Started = false;               // GUI thread only
  std::atomic<uint32_t> ExitCode{0};  // STILL_ACTIVE while the entry runs
  std::atomic<bool> StopRequested{false};
  std::atomic<bool> PauseRequested{false};
  std::atomic<int> Nice{0};  // wanted nice value of the thread
  std::atomic<int> Tid{0};   // kernel thread id, 0 until it runs
  std::atomic<bool> Holding{false};  // the thread waits at a checkpoint, paused
  std::mutex PauseLock;
  std::condition_variable PauseWake;
};

// Starts entry on a new thread. Joins a previous thread of this record first (it must have
// ended). The thread starts with the given nice value. Returns false when no thread can be made.
bool StartJobThread(JobThread& job, uint32_t (*entry)(), int nice);
// STILL_ACTIVE while the entry runs, then its result; 0 before the first start.
uint32_t JobThreadExitCode(const JobThread& job);
// Asks the thread to stop at its next checkpoint (also releases a pause).
void RequestJobStop(JobThread& job);
// Pauses or resumes the thread at its checkpoints.
void SetJobPaused(JobThread& job, bool paused);
// Sets the thread's nice value (at once when it runs, else when it starts). False, with errno
// set, when the running thread's value could not be set: a higher priority needs privilege.
bool SetJobThreadNice(JobThread& job, int nice);
// The running thread's nice value; false when it is not known (the thread has not started yet or
// has ended).
bool JobThreadNice(const JobThread& job, int& nice);
// Waits for the thread to end (after a stop request, promptly).
void JoinJobThread(JobThread& job);

// Called by the job's own thread: waits while paused; true when the job should stop now.
// Outside a job thread it always returns false.
bool JobCheckpoint();

// One descriptor that becomes readable when a job ends: a job thread's entry has returned, or a
// child process watched with WatchProcessEnd has ended. The window polls it so that the end of a
// job is handled at once, not at the next status tick. TakeJobEnds() takes what it reported, so
// that it is quiet again until the next end. -1 when the kernel offers no such descriptor; the
// status tick then notices ends on its own.
int JobEndDescriptor();
void TakeJobEnds();
// Adds a descriptor that becomes readable once at a job's end (a process's pidfd). It leaves the
// set by itself when it is closed.
void WatchJobEnd(int fd);
