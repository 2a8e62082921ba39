// Outputs in the making as many processes make them at once (a batch over one folder), and what
// an interrupted or killed writer leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <algorithm>

#include "platform/outputfile.h"
#include "platform/outputsignals.h"
#include "platform/writeall.h"
#include "tests/support/files.h"

// Eight processes make the same output at once and hold it: each draws a temporary name made of
// its process id (and two bits of attempt), so no other running process can draw it (nor a
// signal to another process remove its file); all eight exist side by side, none is left after.
TEST(PendingOutput, ProcessesAtOnceDrawTemporaryNamesOfTheirOwn) {
  ScratchDir dir;
  const std::string output = dir.File("out.wav");
  int report[2], hold[2];
  ASSERT_EQ(pipe(report), 0);
  ASSERT_EQ(pipe(hold), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < 8; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      PendingOutput out;
      const bool made = CreatePendingOutput(output.c_str(), out);
      // One write below PIPE_BUF: the lines of the children never mix.
      const std::string line = std::to_string(getpid()) + " " + (made ? out.TempPath : "-") + "\n";
      WriteAll(report[1], line.data(), line.size());
      char c;
      close(hold[1]);
      while (read(hold[0], &c, 1) > 0) {
      }
      DiscardPendingOutput(out);
      _exit(0);
    }
    children.push_back(pid);
  }
  close(report[1]);
  close(hold[0]);
  FILE* lines = fdopen(report[0], "r");
  char pid[32], temp[4096];
  for (size_t i = 0; i < children.size(); ++i) {
    ASSERT_EQ(std::fscanf(lines, "%31s %4095s", pid, temp), 2);
    EXPECT_EQ(std::strtoul(temp + output.size() + 5, nullptr, 16) >> 2, std::strtoul(pid, nullptr, 10)) << temp;
  }
  std::fclose(lines);
  const std::string names = ListDir(dir.Path);  // eight names side by side
  EXPECT_EQ(std::count(names.begin(), names.end(), ' '), 7) << names;
  close(hold[1]);  // the children discard their outputs and end
  for (pid_t child : children) waitpid(child, nullptr, 0);
  EXPECT_EQ(ListDir(dir.Path), "");
}

// An interrupt removes every file still in the making, however many are written at once (a save of
// the settings while the decoder writes its output), and none that is done.
TEST(PendingOutput, SignalRemovesEveryFileInTheMaking) {
  ScratchDir dir;
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    PrepareOutputSignals();
    PendingOutput first, second, third;
    if (!CreatePendingOutput(dir.File("a.wav").c_str(), first) ||
        !CreatePendingOutput(dir.File("b.wav").c_str(), second) ||
        !CreatePendingOutput(dir.File("c.wav").c_str(), third))
      _exit(1);
    DiscardPendingOutput(second);
    if (!CommitPendingOutput(third)) _exit(1);
    raise(SIGTERM);
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(ListDir(dir.Path), "c.wav");
}

// What a killed writer left is told by its process id in the one temporary-name form; the files
// of other writers, which may still be in the making, other names and directories stay.
TEST(PendingOutput, LeftoversOfAKilledWriterAreRemovedAndNothingElse) {
  ScratchDir dir;
  // Process 0x1234: digits 0x48d0 to 0x48d3; 0x48d4 is process 0x1235's first attempt.
  for (const char* name : {"out.wav.tmp-0048d0", "out.wav.tmp-0048d3", "out.wav.tmp-0048d4",
                           "out.wav.tmp-0048D1", "out.wav.tmp-48d0", "other.wav.tmp-0048d0"})
    WriteFile(dir.File(name), "half");
  ASSERT_EQ(mkdir(dir.File("out.wav.tmp-0048d1").c_str(), 0700), 0);
  EXPECT_EQ(RemoveLeftoverOutputs(dir.File("out.wav"), 0x1234), 2);
  EXPECT_EQ(ListDir(dir.Path),
            "other.wav.tmp-0048d0 out.wav.tmp-0048D1 out.wav.tmp-0048d1 out.wav.tmp-0048d4 out.wav.tmp-48d0");
}
