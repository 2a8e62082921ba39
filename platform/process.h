// Child processes on the encoder console: start, poll, kill, stop and continue, priority.
//
// A program is started from one command line, split into arguments with the rules of the
// Windows C runtime (the encoder's command line is specified as one text). The child runs in a
// session of its own with the console's pseudo-terminal as controlling terminal and as its
// standard input, output and error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One started child process and what is known of its end.
struct ProcessInfo {
  int Pid = 0;                  // 0: none started
  bool Ended = false;           // reaped (or lost): the pid must not be signalled any more
  bool ExitedNormally = false;  // ended through exit(), not by a signal
  uint32_t ExitCode = 0;        // after the end: the 8-bit exit status, or an abnormal-end value
  int EndFd = -1;               // readable once the process has ended (a pidfd); closed when reaped
};

// Exit code read while the process runs (the value Windows reports for a live process).
constexpr uint32_t ProcessStillActive = 259;
// Exit code of a process ended by a signal: this base plus the signal number. It lies above every
// 8-bit status and every frame count an encoder can report, and never reads as "still active".
constexpr uint32_t ProcessKilledBase = 0xC0000000u;
// Exit code when the end could not be observed (the child was reaped elsewhere).
constexpr uint32_t ProcessLostCode = 0xC00000FFu;

// Results of starting a process.
enum ProcessStartResult {
  ProcessStarted = 0,   // running; the ProcessInfo is filled
  ProcessEmptyCommand,  // the command line names no program
  ProcessNoConsole,     // the console's pseudo-terminal could not be opened
  ProcessForkFailed,    // no new process could be made
  ProcessExecFailed,    // the program could not be run (missing, not executable, ...)
};

// Splits a command line with the Windows C runtime rules. The first token is the program path:
// up to the first blank or tab, where a double quote starts or ends a quoted stretch (quotes
// are dropped, backslashes kept). Each later argument: blanks and tabs separate arguments
// outside quotes; a double quote starts or ends a quoted stretch; inside quotes two double
// quotes give one literal quote; 2n backslashes before a quote give n backslashes and the quote
// acts as above; 2n+1 backslashes before a quote give n backslashes and a literal quote;
// backslashes not followed by a quote are literal.
std::vector<std::string> SplitCommandLine(const char* commandLine);

// Starts the program that commandLine names on the console's pseudo-terminal, with the given
// nice value (a value the caller may not take, such as a negative one without privilege, is
// ignored and the child keeps the parent's). The start is synchronous: a program that cannot be
// executed gives ProcessExecFailed here, with errno set to what its exec failed with. The program
// path is used as written (relative paths from the current directory); the PATH is not searched.
ProcessStartResult StartConsoleProcess(const char* commandLine, int nice, ProcessInfo& process);

// Polls without blocking. ProcessStillActive while the process runs (also while it is stopped);
// after its end the exit code as described at ProcessInfo; 0 when no process was started.
uint32_t ProcessExitCode(ProcessInfo& process);

// SIGKILL; false when there is no live process.
bool KillProcess(ProcessInfo& process);
// Asks the process to end: SIGTERM, then SIGCONT so that a stopped process can act on it. A
// program that handles SIGTERM cleans up first (the encoder removes its temporary output).
// False when there is no live process.
bool TerminateProcess(ProcessInfo& process);
// SIGSTOP / SIGCONT to the whole process; false when there is no live process.
bool SuspendProcess(ProcessInfo& process);
bool ResumeProcess(ProcessInfo& process);
// Sets the nice value of every thread of the process. Taking a higher priority needs privilege;
// without it the call fails and the process keeps its value (false is returned).
bool SetProcessNice(ProcessInfo& process, int nice);

// The nice value of the process (of its first thread); false when it is not running.
bool ProcessNice(const ProcessInfo& process, int& nice);

// Waits (blocking) for the end of a process that was killed; used at shut-down and by tests.
void WaitProcessEnd(ProcessInfo& process);
// Waits at most timeoutMs for the end of a process; true when it has ended (and is reaped).
bool WaitProcessEndFor(ProcessInfo& process, int timeoutMs);
