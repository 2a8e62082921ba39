// Outputs in the making as many processes make them at once (a batch over one folder).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/outputfile.h"
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
  std::set<std::string> names;
  char pid[32], temp[4096];
  for (size_t i = 0; i < children.size() && std::fscanf(lines, "%31s %4095s", pid, temp) == 2; ++i) {
    EXPECT_EQ(std::strtoul(temp + output.size() + 5, nullptr, 16) >> 2, std::strtoul(pid, nullptr, 10)) << temp;
    names.insert(std::string(temp).substr(dir.Path.size()));
  }
  std::fclose(lines);
  std::string expected;
  for (const std::string& name : names) expected += (expected.empty() ? "" : " ") + name;
  EXPECT_EQ(names.size(), children.size());
  EXPECT_EQ(ListDir(dir.Path), expected);
  close(hold[1]);  // the children discard their outputs and end
  for (pid_t child : children) waitpid(child, nullptr, 0);
  EXPECT_EQ(ListDir(dir.Path), "");
}
