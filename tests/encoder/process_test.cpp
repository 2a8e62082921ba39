// Processes on the console's pseudo-terminal: exit status, launch failure, kill, stop and
// continue, priority, session and terminal; and the success rule of an encoder job.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include "encoder/encoderjob.h"
#include "encoder_test_support.h"
#include "platform/console.h"
#include "platform/jobthread.h"

namespace {

uint32_t WaitEnd(ProcessInfo& process) {
  EXPECT_TRUE(WaitFor([&] {
    PumpConsole();  // a child blocked on a full terminal must be able to finish
    return !ProcessRunning(process);
  }));
  return ProcessExitCode(process);
}

TEST(ConsoleProcess, ExitStatusIsItsLowEightBits) {
  const struct {
    const char* Line;
    uint32_t Code;
  } rows[] = {{"/bin/sh -c \"exit 0\"", 0},
              {"/bin/sh -c \"exit 44\"", 44},
              {"/bin/sh -c \"exit 300\"", 44},
              {"/bin/sh -c \"exit 255\"", 255}};
  for (const auto& row : rows) {
    ProcessInfo process;
    ASSERT_EQ(StartConsoleProcess(row.Line, 0, process), ProcessStarted) << row.Line;
    EXPECT_EQ(WaitEnd(process), row.Code) << row.Line;
    EXPECT_TRUE(process.ExitedNormally);
  }
}

TEST(ConsoleProcess, ReadsStillActiveWhileRunningAndNothingBeforeAStart) {
  ProcessInfo none;
  EXPECT_EQ(ProcessExitCode(none), 0u);
  EXPECT_FALSE(KillProcess(none));
  ProcessInfo process;
  ASSERT_EQ(StartConsoleProcess("/bin/sleep 30", 0, process), ProcessStarted);
  EXPECT_EQ(ProcessExitCode(process), STILL_ACTIVE);
  EXPECT_TRUE(KillProcess(process));
  WaitEnd(process);
}

// A program that cannot run is a launch failure at once, not a job that ends with 127 later.
TEST(ConsoleProcess, ExecFailureIsReportedSynchronously) {
  ScratchDir dir;
  WriteFile(dir.Path + "data", "not a program");
  const struct {
    std::string Line;
    ProcessStartResult Result;
    int Errno;
  } rows[] = {{dir.Path + "missing/tompg \"a\" \"b\"", ProcessExecFailed, ENOENT},
              {dir.Path + "data x", ProcessExecFailed, EACCES},
              {"", ProcessEmptyCommand, 0},
              {"\"\" x", ProcessEmptyCommand, 0}};
  for (const auto& row : rows) {
    ProcessInfo process;
    errno = 0;
    EXPECT_EQ(StartConsoleProcess(row.Line.c_str(), 0, process), row.Result) << row.Line;
    if (row.Result == ProcessExecFailed) {
      EXPECT_EQ(errno, row.Errno) << row.Line;
    }
  }
}

TEST(ConsoleProcess, KilledProcessReadsAsAbnormalEndAndNeverAsSuccess) {
  ProcessInfo process;
  ASSERT_EQ(StartConsoleProcess("/bin/sleep 30", 0, process), ProcessStarted);
  ASSERT_TRUE(KillProcess(process));
  const uint32_t code = WaitEnd(process);
  EXPECT_FALSE(process.ExitedNormally);
  EXPECT_EQ(code, ProcessKilledBase + SIGKILL);
  EXPECT_NE(code, STILL_ACTIVE);
  for (int32_t frames : {-1, 0, 9, 265, 0x7fffffff})
    EXPECT_FALSE(EncoderJobSucceeded(process, frames)) << frames;
  EXPECT_FALSE(KillProcess(process)) << "a reaped pid must never be signalled";
}

TEST(ConsoleProcess, StopAndContinue) {
  ProcessInfo process;
  ASSERT_EQ(StartConsoleProcess("/bin/sh -c \"while :; do :; done\"", 0, process), ProcessStarted);
  ASSERT_TRUE(SuspendProcess(process));
  EXPECT_TRUE(WaitFor([&] { return ProcState(process.Pid) == 'T'; }));
  EXPECT_EQ(ProcessExitCode(process), STILL_ACTIVE) << "a stopped process still runs";
  ASSERT_TRUE(ResumeProcess(process));
  EXPECT_TRUE(WaitFor([&] { return ProcState(process.Pid) != 'T'; }));
  ASSERT_TRUE(SuspendProcess(process));
  EXPECT_TRUE(WaitFor([&] { return ProcState(process.Pid) == 'T'; }));
  KillProcess(process);  // a stopped process can be killed
  WaitEnd(process);
  EXPECT_EQ(process.ExitCode, ProcessKilledBase + SIGKILL);
}

TEST(ConsoleProcess, PriorityAtStartAndWhileRunning) {
  ProcessInfo process;
  ASSERT_EQ(StartConsoleProcess("/bin/sleep 30", 19, process), ProcessStarted);
  errno = 0;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(process.Pid)), 19);
  const bool privileged = geteuid() == 0;
  // Taking a higher priority back needs privilege; without it the process keeps 19.
  EXPECT_EQ(SetProcessNice(process, 0), privileged);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(process.Pid)), privileged ? 0 : 19);
  EXPECT_EQ(SetProcessNice(process, -5), privileged);
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(process.Pid)), privileged ? -5 : 19);
  KillProcess(process);
  WaitEnd(process);
  EXPECT_FALSE(SetProcessNice(process, 0));
}

TEST(ConsoleProcess, RunsInItsOwnSessionOnTheConsoleTerminal) {
  ProcessInfo process;
  // Exit 0 only when all three standard streams are the terminal, which is 80 x 2.
  ASSERT_EQ(StartConsoleProcess("/bin/sh -c \"[ -t 0 ] && [ -t 1 ] && [ -t 2 ] && "
                                "[ \\\"$(stty size)\\\" = '2 80' ] && exec sleep 30\"",
                                0, process),
            ProcessStarted);
  int session = 0, tty = 0;
  EXPECT_TRUE(WaitFor([&] { return ProcSessionAndTty(process.Pid, session, tty) && tty != 0; }));
  EXPECT_EQ(session, process.Pid);
  EXPECT_NE(tty, 0) << "the terminal is the controlling terminal";
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile("/proc/" + std::to_string(process.Pid) + "/comm") == "sleep\n" ||
           !ProcessRunning(process);
  }));
  EXPECT_EQ(ProcessExitCode(process), STILL_ACTIVE) << "a check failed: the shell ended early";
  KillProcess(process);
  WaitEnd(process);
}

TEST(EncoderJobSucceeded, NormalEndWithProgressAndMatchingStatus) {
  const struct {
    bool Ended;
    bool Normal;
    uint32_t Code;
    int32_t Frames;
    bool Success;
  } rows[] = {
      {true, true, 44, 300, true},  // 300 frames: status 300 mod 256
      {true, true, 0, 0, true},     // an empty file: no frames, status 0, one progress line
      {true, true, 0, 256, true},
      {true, true, 45, 300, false},  // mismatch
      {true, true, 0, -1, false},    // never printed progress
      {true, true, 255, -1, false},
      {true, false, 44, 300, false},  // ended by a signal
      {true, false, ProcessKilledBase + 9, 9, false},
      {false, false, STILL_ACTIVE, 259, false},  // still running
      {true, true, 127, 127, true},              // a status is a status, even 127
  };
  for (const auto& row : rows) {
    ProcessInfo process;
    process.Pid = 1234;
    process.Ended = row.Ended;
    process.ExitedNormally = row.Normal;
    process.ExitCode = row.Code;
    EXPECT_EQ(EncoderJobSucceeded(process, row.Frames), row.Success) << row.Code << " " << row.Frames;
  }
}

}  // namespace
