// Priority, suspend and resume of the running job: the encoder process and a decoder-like job
// thread.
#include "encoder/priority.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>

#include "model/queue.h"
#include "encoder/encoderjob.h"
#include "encoder_test_support.h"
#include "platform/jobthread.h"
#include "platform/process.h"
#include "platform/tick.h"

namespace {

std::atomic<uint64_t> Rounds{0};

// Stands in for the decoder: works in rounds with a checkpoint each, as the decoder does per frame.
uint32_t LoopingJob() {
  while (!JobCheckpoint()) ++Rounds;
  return 0;
}

int NiceOf(int id) {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(id));
}

class Priority : public testing::Test {
 protected:
  void SetUp() override { ResetConverter(); }
  void TearDown() override {
    Converter.EncoderJob = false;
    StopRunningJob();
    JoinJobThread(Converter.DecoderThread);
    KillProcess(Converter.EncoderProcess);
    WaitProcessEnd(Converter.EncoderProcess);
    Converter.EncoderJob = true;
  }
};

TEST(PriorityTable, NiceValuesByPosition) {
  EXPECT_EQ(PriorityNice(0), 19);
  EXPECT_EQ(PriorityNice(1), 0);
  EXPECT_EQ(PriorityNice(2), -5);
  EXPECT_EQ(PriorityNice(3), 0);
  EXPECT_EQ(PriorityNice(-1), 0);
}

TEST_F(Priority, DecoderThreadTakesTheNiceValueOfThePosition) {
  Converter.EncoderJob = false;
  ASSERT_TRUE(StartJobThread(Converter.DecoderThread, LoopingJob, PriorityNice(1)));
  ASSERT_TRUE(WaitFor([] { return Converter.DecoderThread.Tid.load() != 0; }));
  const int tid = Converter.DecoderThread.Tid;
  PriorityTBChange(0);
  EXPECT_TRUE(WaitFor([&] { return NiceOf(tid) == 19; }));
  if (geteuid() == 0) {
    PriorityTBChange(2);
    EXPECT_TRUE(WaitFor([&] { return NiceOf(tid) == -5; }));
  }
  PriorityTBChange(7);  // outside the track bar: ignored
  EXPECT_EQ(NiceOf(tid), geteuid() == 0 ? -5 : 19);
}

TEST_F(Priority, EncoderProcessTakesTheNiceValueOfThePosition) {
  ASSERT_EQ(StartConsoleProcess("/bin/sleep 30", PriorityNice(1), Converter.EncoderProcess), ProcessStarted);
  PriorityTBChange(0);
  EXPECT_EQ(NiceOf(Converter.EncoderProcess.Pid), 19);
  // High again: taken with privilege; without, refused, and the job is seen to keep Low.
  int actual = -1;
  const bool privileged = geteuid() == 0;
  EXPECT_EQ(ApplyJobPriority(2, actual), privileged ? PriorityHeld : PriorityRefused);
  EXPECT_EQ(NiceOf(Converter.EncoderProcess.Pid) + actual, privileged ? -5 - 1 : 19 + 0);
  StopRunningJob();
  ASSERT_TRUE(WaitFor([] { return ReadJobExitCode() != STILL_ACTIVE; }));
  PriorityTBChange(2);  // no job runs: nothing happens, and nothing is signalled
  EXPECT_FALSE(EncoderJobSucceeded(Converter.EncoderProcess, 0));
}

TEST_F(Priority, ClickWithoutTheHintDoesNothing) {
  Converter.StartTick = 5000;
  CurrentLBClick(false);
  EXPECT_FALSE(Converter.Suspended);
  EXPECT_EQ(Converter.StartTick, 5000);
}

TEST_F(Priority, SuspendAndResumeTheEncoderProcess) {
  ASSERT_EQ(StartConsoleProcess("/bin/sh -c \"while :; do :; done\"", 0, Converter.EncoderProcess),
            ProcessStarted);
  const int pid = Converter.EncoderProcess.Pid;
  Converter.StartTick = 1000;
  CurrentLBClick(true);
  EXPECT_TRUE(Converter.Suspended);
  EXPECT_TRUE(WaitFor([&] { return ProcState(pid) == 'T'; }));
  EXPECT_EQ(ReadJobExitCode(), STILL_ACTIVE) << "a suspended job still runs";
  // A pause of ten seconds, without waiting for them.
  Converter.SuspendTick = static_cast<double>(GetTickCount() - 10000u);
  CurrentLBClick(true);
  EXPECT_FALSE(Converter.Suspended);
  EXPECT_TRUE(WaitFor([&] { return ProcState(pid) != 'T'; }));
  EXPECT_GE(Converter.StartTick, 11000);
  EXPECT_LT(Converter.StartTick, 11000 + 5000);
  // Abort ends a suspended job as well.
  CurrentLBClick(true);
  EXPECT_TRUE(WaitFor([&] { return ProcState(pid) == 'T'; }));
  StopRunningJob();
  EXPECT_TRUE(WaitFor([] { return ReadJobExitCode() != STILL_ACTIVE; }));
  EXPECT_FALSE(Converter.EncoderProcess.ExitedNormally);
}

TEST_F(Priority, SuspendAndResumeTheDecoderThread) {
  Converter.EncoderJob = false;
  ASSERT_TRUE(StartJobThread(Converter.DecoderThread, LoopingJob, 0));
  Converter.StartTick = 1000;
  CurrentLBClick(true);
  EXPECT_TRUE(Converter.Suspended);
  // The paused thread waits at its checkpoint and makes no rounds until resumed.
  ASSERT_TRUE(WaitFor([] { return Converter.DecoderThread.Holding.load(); }));
  const uint64_t held = Rounds;
  EXPECT_EQ(Rounds.load(), held) << "the paused job made rounds";
  Converter.SuspendTick = static_cast<double>(GetTickCount() - 10000u);
  CurrentLBClick(true);
  EXPECT_FALSE(Converter.Suspended);
  EXPECT_TRUE(WaitFor([&] { return Rounds.load() > held + 1000; }));
  EXPECT_GE(Converter.StartTick, 11000);
  EXPECT_LT(Converter.StartTick, 11000 + 5000);
  // Abort of a paused decoder: the stop request releases the pause and the job ends with 0.
  CurrentLBClick(true);
  StopRunningJob();
  EXPECT_TRUE(WaitFor([] { return ReadJobExitCode() == 0; }));
}

TEST_F(Priority, PausedSpanAcrossATickWrap) {
  Converter.StartTick = 100;
  Converter.Suspended = true;
  Converter.EncoderJob = true;
  // Suspended 3 ms before the 32-bit tick count wrapped; resumed now.
  const uint32_t now = GetTickCount();
  Converter.SuspendTick = static_cast<double>(0xFFFFFFFDu);
  CurrentLBClick(true);
  const double span = Converter.StartTick - 100;
  EXPECT_GE(span, static_cast<double>(now) + 3);
  EXPECT_LT(span, static_cast<double>(now) + 3 + 5000);
}

}  // namespace
