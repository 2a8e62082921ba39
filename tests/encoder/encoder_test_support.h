// Helpers of the encoder tests: polling with a deadline, scratch directories, the fake encoder.
#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <thread>

// Polls cond every few milliseconds until it holds or the deadline passes.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 20000);

// A fresh scratch directory (ends in '/'), removed with its contents at the end of the test.
struct ScratchDir {
  std::string Path;
  ScratchDir();
  ~ScratchDir();
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
// Copies the fake encoder into dir as an executable file named tompg.
void InstallFakeTompg(const std::string& dir);

// The state letter of a process or thread from /proc ('R', 'S', 'T', ...); '?' when unreadable.
char ProcState(int pid);
char ThreadState(int tid);
// Fields 6 (session) and 7 (controlling terminal) of /proc/PID/stat.
bool ProcSessionAndTty(int pid, int& session, int& ttyNr);

// Characters of columns 1..70 of a screen row, trailing blanks dropped.
std::string ScreenRow(int row);
// Clears the screen (both rows scrolled away) and takes anything pending in the terminal first.
void ClearScreen();
// Puts two rows on the cleared screen as a program would print them: top, line feed, bottom.
void PutScreen(const std::string& top, const std::string& bottom);

// Resets the scheduler's record and the monitor to their start-up values for the next test.
void ResetConverter();
