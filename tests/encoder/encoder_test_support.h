// Helpers of the encoder tests: the fake encoder, process states, the console screen and the
// scheduler's record. Files, scratch directories and polling come from tests/support.
#pragma once
#include <string>

#include "tests/support/files.h"

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
