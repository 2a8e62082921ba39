#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/jobthread.h"
#include "platform/tick.h"

static_assert(ProcessStillActive == STILL_ACTIVE, "processes and threads share the running code");

std::vector<std::string> SplitCommandLine(const char* line) {
  std::vector<std::string> args;
  const char* p = line;
  // The program path: quotes group, nothing is escaped.
  std::string program;
  bool quoted = false;
  for (; *p != '\0'; ++p) {
    if (*p == '"')
      quoted = !quoted;
    else if (!quoted && (*p == ' ' || *p == '\t'))
      break;
    else
      program += *p;
  }
  args.push_back(program);
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') break;
    std::string arg;
    quoted = false;
    while (*p != '\0') {
      if (!quoted && (*p == ' ' || *p == '\t')) break;
      if (*p == '\\') {
        size_t n = 0;
        while (*p == '\\') ++n, ++p;
        if (*p == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg += '"';
            ++p;
          }
          // with an even count the quote is handled as a quote by the next round
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (*p == '"') {
        if (quoted && p[1] == '"') {
          arg += '"';
          p += 2;
          continue;
        }
        quoted = !quoted;
        ++p;
        continue;
      }
      arg += *p++;
    }
    args.push_back(arg);
  }
  return args;
}

namespace {

// In the child between fork and exec only async-signal-safe calls are made.
[[noreturn]] void RunChild(int slave, int errorPipe, int nice, const char* path, char* const* argv) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
  }
  setsid();
  ioctl(slave, TIOCSCTTY, 0);
  dup2(slave, 0);
  dup2(slave, 1);
  dup2(slave, 2);
  // Handles of the program are not inherited, whichever part of it opened them.
#ifdef SYS_close_range
  syscall(SYS_close_range, 3u, ~0u, 4u /* CLOSE_RANGE_CLOEXEC */);
#endif
  setpriority(PRIO_PROCESS, 0, nice);  // a raise without privilege fails and is ignored
  execv(path, argv);
  const int error = errno;
  ssize_t ignored = write(errorPipe, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

bool Live(const ProcessInfo& process) { return process.Pid > 0 && !process.Ended; }

// Records the end from a wait status; without one (the child was reaped elsewhere, for instance
// with SIGCHLD ignored) the end is unknown and never reads as a normal exit.
void RecordEnd(ProcessInfo& process, const int* status) {
  process.Ended = true;
  if (process.EndFd >= 0) {
    close(process.EndFd);
    process.EndFd = -1;
  }
  if (status == nullptr) {
    process.ExitedNormally = false;
    process.ExitCode = ProcessLostCode;
  } else if (WIFEXITED(*status)) {
    process.ExitedNormally = true;
    process.ExitCode = static_cast<uint32_t>(WEXITSTATUS(*status));
  } else {
    process.ExitedNormally = false;
    process.ExitCode =
        ProcessKilledBase + static_cast<uint32_t>(WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  }
}

}  // namespace

ProcessStartResult StartConsoleProcess(const char* commandLine, int nice, ProcessInfo& process) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) return ProcessEmptyCommand;
  if (!OpenConsole()) return ProcessNoConsole;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  // A close-on-exec pipe reports a failed exec: end of file means the program runs.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return ProcessForkFailed;
  const pid_t pid = fork();
  if (pid < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return ProcessForkFailed;
  }
  if (pid == 0) RunChild(ConsoleSlaveFd(), pipeFds[1], nice, argv[0], argv.data());
  close(pipeFds[1]);
  int error = 0;
  ssize_t got;
  do got = read(pipeFds[0], &error, sizeof error);
  while (got < 0 && errno == EINTR);
  close(pipeFds[0]);

  process = ProcessInfo{};
  process.Pid = pid;
  if (got > 0) {
    // The child ends at once with status 127; reap it so that no zombie stays behind.
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    process.Ended = true;
    process.ExitCode = 127;
    process.ExitedNormally = true;
    errno = error;
    return ProcessExecFailed;
  }
  // Readable once the child has ended, so that its end can be handled at once. The child cannot
  // have been reaped yet, so the pid still names it.
#ifdef SYS_pidfd_open
  process.EndFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (process.EndFd >= 0) {
    fcntl(process.EndFd, F_SETFD, FD_CLOEXEC);
    WatchJobEnd(process.EndFd);
  }
#endif
  return ProcessStarted;
}

uint32_t ProcessExitCode(ProcessInfo& process) {
  if (process.Pid <= 0) return 0;
  if (process.Ended) return process.ExitCode;
  int status = 0;
  pid_t r;
  do r = waitpid(process.Pid, &status, WNOHANG);
  while (r < 0 && errno == EINTR);
  if (r == 0) return ProcessStillActive;
  RecordEnd(process, r < 0 ? nullptr : &status);
  return process.ExitCode;
}

// Signals go only to a child that has not been reaped: until then its pid cannot be reused.
bool KillProcess(ProcessInfo& process) { return Live(process) && kill(process.Pid, SIGKILL) == 0; }
bool TerminateProcess(ProcessInfo& process) {
  if (!Live(process) || kill(process.Pid, SIGTERM) != 0) return false;
  kill(process.Pid, SIGCONT);
  return true;
}
bool SuspendProcess(ProcessInfo& process) { return Live(process) && kill(process.Pid, SIGSTOP) == 0; }
bool ResumeProcess(ProcessInfo& process) { return Live(process) && kill(process.Pid, SIGCONT) == 0; }

bool SetProcessNice(ProcessInfo& process, int nice) {
  if (!Live(process)) return false;
  // On Linux a nice value belongs to a thread; a process priority means all of its threads.
  char dirName[64];
  std::snprintf(dirName, sizeof dirName, "/proc/%d/task", process.Pid);
  bool ok = true;
  bool any = false;
  if (DIR* dir = opendir(dirName)) {
    while (dirent* entry = readdir(dir)) {
      const int tid = std::atoi(entry->d_name);
      if (tid <= 0) continue;
      any = true;
      if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0) ok = false;
    }
    closedir(dir);
  }
  if (!any) ok = setpriority(PRIO_PROCESS, static_cast<id_t>(process.Pid), nice) == 0;
  return ok;
}

bool ProcessNice(const ProcessInfo& process, int& nice) {
  if (!Live(process)) return false;
  errno = 0;
  nice = getpriority(PRIO_PROCESS, static_cast<id_t>(process.Pid));
  return errno == 0;
}

void WaitProcessEnd(ProcessInfo& process) {
  if (!Live(process)) return;
  int status = 0;
  pid_t r;
  do r = waitpid(process.Pid, &status, 0);
  while (r < 0 && errno == EINTR);
  RecordEnd(process, r == process.Pid ? &status : nullptr);
}

bool WaitProcessEndFor(ProcessInfo& process, int timeoutMs) {
  const uint32_t start = GetTickCount();
  for (;;) {
    if (ProcessExitCode(process) != ProcessStillActive) return true;
    const int left = MillisecondsLeft(start, timeoutMs);
    if (left == 0) return false;
    if (process.EndFd >= 0) {
      pollfd end{process.EndFd, POLLIN, 0};
      poll(&end, 1, left);
    } else {
      usleep(2000);  // no pidfd: look again shortly
    }
  }
}
