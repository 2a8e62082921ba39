// The job thread: exit codes, stop and pause requests, and its nice value.
#include "platform/jobthread.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/files.h"

namespace {

std::atomic<int> Checkpoints{0};
std::atomic<bool> Release{false};

// Counts checkpoints until stopped; exit code 7 when stopped, 0 when released.
uint32_t LoopingEntry() {
  while (!Release) {
    if (JobCheckpoint()) return 7;
    ++Checkpoints;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}

uint32_t ReturnsStillActive() { return STILL_ACTIVE; }

int NiceOfThread(int tid) {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

}  // namespace

TEST(JobThread, ReadsNotRunningBeforeTheFirstStart) {
  JobThread job;
  EXPECT_EQ(JobThreadExitCode(job), 0u);
  EXPECT_FALSE(JobCheckpoint()) << "outside a job thread a checkpoint never stops";
}

TEST(JobThread, StillActiveWhileRunningThenStopCodeAfterStopRequest) {
  JobThread job;
  Release = false;
  ASSERT_TRUE(StartJobThread(job, LoopingEntry, 0));
  EXPECT_EQ(JobThreadExitCode(job), STILL_ACTIVE);
  RequestJobStop(job);
  ASSERT_TRUE(WaitFor([&] { return JobThreadExitCode(job) != STILL_ACTIVE; }));
  EXPECT_EQ(JobThreadExitCode(job), 7u);
  JoinJobThread(job);
}

TEST(JobThread, PauseHoldsTheThreadAtItsCheckpointAndStopReleasesIt) {
  JobThread job;
  Release = false;
  ASSERT_TRUE(StartJobThread(job, LoopingEntry, 0));
  ASSERT_TRUE(WaitFor([] { return Checkpoints.load() > 3; }));
  SetJobPaused(job, true);
  // Held at its checkpoint: from then on the count stands until the thread is resumed.
  ASSERT_TRUE(WaitFor([&] { return job.Holding.load(); }));
  const int held = Checkpoints.load();
  EXPECT_EQ(JobThreadExitCode(job), STILL_ACTIVE);
  EXPECT_EQ(Checkpoints.load(), held);
  SetJobPaused(job, false);
  const int resumedFrom = Checkpoints.load();
  ASSERT_TRUE(WaitFor([&] { return Checkpoints.load() > resumedFrom + 3; }));
  SetJobPaused(job, true);
  RequestJobStop(job);  // a paused job still stops
  ASSERT_TRUE(WaitFor([&] { return JobThreadExitCode(job) != STILL_ACTIVE; }));
  EXPECT_EQ(JobThreadExitCode(job), 7u);
  JoinJobThread(job);
}

TEST(JobThread, AResultEqualToStillActiveIsNotMistakenForRunning) {
  JobThread job;
  ASSERT_TRUE(StartJobThread(job, ReturnsStillActive, 0));
  JoinJobThread(job);
  EXPECT_NE(JobThreadExitCode(job), STILL_ACTIVE);
}

// A lower priority anybody may take; a higher one needs privilege (CAP_SYS_NICE). With it, it holds;
// without, the refusal is told and the thread keeps its value: each run checks the side it can.
TEST(JobThread, NiceValueAppliesAtStartAndWhileRunningAndARefusalIsTold) {
  JobThread job;
  Release = false;
  ASSERT_TRUE(StartJobThread(job, LoopingEntry, 10));
  ASSERT_TRUE(WaitFor([&] { return job.Tid.load() != 0 && NiceOfThread(job.Tid) == 10; }));
  EXPECT_TRUE(SetJobThreadNice(job, 19));
  EXPECT_EQ(NiceOfThread(job.Tid), 19);
  const bool raised = SetJobThreadNice(job, 10);
  const int error = errno;
  int nice = 0;
  EXPECT_TRUE(JobThreadNice(job, nice) && nice == (raised ? 10 : 19) && (raised || error == EACCES));
  Release = true;
  JoinJobThread(job);
  EXPECT_EQ(JobThreadExitCode(job), 0u);
}

TEST(JobThread, RestartsAfterAnEndedJob) {
  JobThread job;
  for (int round = 0; round < 3; ++round) {
    Release = true;
    ASSERT_TRUE(StartJobThread(job, LoopingEntry, 0));
    JoinJobThread(job);
    EXPECT_EQ(JobThreadExitCode(job), 0u);
  }
}
