// The encoder console: a pseudo-terminal whose output is kept in a terminal screen model, so
// that carriage returns, line feeds, scrolling and escape sequences behave as on a terminal of
// 80 columns and 2 rows. There is one console per program; it is never closed.
#pragma once
#include <cstddef>
#include <string>

constexpr int ConsoleColumns = 80;
constexpr int ConsoleRows = 2;

// Opens the pseudo-terminal and the screen model of 80 x 2 (once; later calls only report
// whether the console exists). Returns true when the console exists; false also when the master
// side cannot be made non-blocking, since a blocking read would freeze the window.
bool OpenConsole();
// The slave side (what a child gets as its terminal) and the master side (for a socket notifier
// of the window); -1 without a console.
int ConsoleSlaveFd();
int ConsoleMasterFd();

// The title is only kept as text: there is no console window to show it.
void SetConsoleTitle(const char* title);
const std::string& ConsoleTitleText();

// Reads everything the children have written so far (without blocking) into the screen model.
// Returns the number of bytes taken. One call takes at most a few megabytes so that the GUI
// thread is never held by a writer that outpaces it; the rest stays in the terminal and is taken
// by the next call, so nothing is lost. The monitor calls it on each of its ticks; the main
// window may also call it from a QSocketNotifier (Read) on ConsoleMasterFd().
size_t PumpConsole();
// Reads everything that was written to the terminal before this call, waiting for it if need be
// (at most timeoutMs): the terminal hands a child's output to the reading side a moment after the
// write, so a child that has just ended may have left its last line in transit. False when it
// did not all arrive in time or there is no console.
bool SyncConsole(int timeoutMs);

// Copies the characters of `count` cells of screen row `row`, starting at column `column`, into
// out[0 .. count-1] (no terminating zero is written). Empty cells read as blanks, characters
// outside printable ASCII as '?'. False (and nothing copied) when the cells lie outside the screen.
bool ReadConsoleCells(int row, int column, int count, char* out);

// Writes text into the screen model as if a program had written it to the terminal; a line feed
// also returns the cursor to column 0, as the terminal's output processing does for children.
void WriteConsole(const char* text);

// Blanks the whole screen and puts the cursor at the start of its bottom row.
void ClearConsole();

// The screen size (rows x columns); false without a console.
bool GetConsoleSize(int& rows, int& columns);
// Resizes the screen model and the terminal's window size. The program keeps 80 x 2; other sizes
// serve tests (a console that has grown, as a user could do with a console window elsewhere).
// False without a console, for a size out of range (nothing changes then), or when the terminal
// refused the window size (the model has the new size; the children still see the old one).
bool SetConsoleSize(int rows, int columns);
