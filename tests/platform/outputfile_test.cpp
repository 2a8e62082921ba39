// Outputs in the making as many processes at once make them (a batch over one folder): each
// draws a temporary name that only it can draw, and none is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

#include "platform/files.h"
#include "tests/support/files.h"

namespace {

// Reads what the children wrote to fd until it holds `lines` lines or the deadline passes.
std::string ReadLines(int fd, int lines) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::string text;
  WaitFor([&] {
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    return n == 0 || static_cast<int>(std::count(text.begin(), text.end(), '\n')) >= lines;
  });
  return text;
}

TEST(PendingOutput, ProcessesStartedTogetherDrawTemporaryNamesOfTheirOwn) {
  constexpr int Children = 8;
  ScratchDir dir;
  const std::string output = dir.File("out.wav");
  int go[2], report[2], done[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(report), 0);
  ASSERT_EQ(pipe(done), 0);
  std::set<pid_t> pids;
  for (int i = 0; i < Children; ++i) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // All children wait for the end of the start pipe, so that they create their outputs at
      // one moment, and hold them open until the parent has looked.
      char c;
      close(go[1]);
      while (read(go[0], &c, 1) > 0) {
      }
      PendingOutput out;
      const bool made = CreatePendingOutput(output.c_str(), out);
      const std::string line = std::to_string(getpid()) + " " + (made ? out.TempPath : "-") + "\n";
      WriteAll(report[1], line.data(), line.size());
      close(done[1]);
      while (read(done[0], &c, 1) > 0) {
      }
      DiscardPendingOutput(out);
      _exit(made ? 0 : 1);
    }
    pids.insert(pid);
  }
  close(go[0]);
  close(go[1]);  // start
  close(report[1]);
  close(done[0]);
  const std::string text = ReadLines(report[0], Children);
  close(report[0]);
  const std::string listed = ListDir(dir.Path);
  close(done[1]);  // the children discard their outputs and end
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "an output could not be made";
  }

  std::set<std::string> names;
  size_t at = 0;
  for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const std::string pid = line.substr(0, line.find(' '));
    const std::string temp = line.substr(line.find(' ') + 1);
    // A name that carries its process's id is one that no other running process draws, and
    // so none whose file a signal to another process could remove.
    EXPECT_EQ(temp.rfind(output + ".tmp-" + pid + "-", 0), 0u) << temp;
    names.insert(temp.substr(dir.Path.size()));
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(Children)) << text;
  std::string expected;
  for (const std::string& name : names) expected += (expected.empty() ? "" : " ") + name;
  EXPECT_EQ(listed, expected) << "every temporary file exists while its output is made";
  EXPECT_EQ(ListDir(dir.Path), "") << "a temporary file was left behind";
}

}  // namespace
