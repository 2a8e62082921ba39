// Helpers of the encoder tests: the fake encoder, process states, the console screen and the
// scheduler's record. Files, scratch directories and polling come from tests/support.
#pragma once
#include <string>

#include "platform/process.h"
#include "tests/support/files.h"

// Copies the fake encoder into dir as an executable file named tompg.
void InstallFakeTompg(const std::string& dir);

// The state letter of a process from /proc ('R', 'S', 'T', ...); '?' when unreadable.
char ProcState(int pid);
// Fields 6 (session) and 7 (controlling terminal) of /proc/PID/stat.
bool ProcSessionAndTty(int pid, int& session, int& ttyNr);

// True while the process runs (polls without blocking).
bool ProcessRunning(ProcessInfo& process);

// Characters of columns 1..70 of a screen row, trailing blanks dropped.
std::string ScreenRow(int row);
// Clears the screen (both rows scrolled away) and takes anything pending in the terminal first.
void ClearScreen();
// Where the console's cursor stands, found by writing a marker under it and looking for it on the
// screen; the cursor does not move, and the cell, which must be blank, is blank again after.
// False without a console or when the marker is not found exactly once.
bool FindConsoleCursor(int& row, int& column);
// Puts two rows on the cleared screen as a program would print them: top, line feed, bottom.
void PutScreen(const std::string& top, const std::string& bottom);

// Resets the scheduler's record and the monitor to their start-up values for the next test.
void ResetConverter();
