#include "encoder_test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "model/settings.h"
#include "encoder/consolemonitor.h"
#include "platform/console.h"
#include "tests/support/converter.h"

void InstallFakeTompg(const std::string& dir) {
  WriteFile(dir + "tompg", ReadFile(FAKE_TOMPG));
  chmod((dir + "tompg").c_str(), 0755);
}

namespace {
// The fields after the command name, which is in parentheses and may hold blanks.
std::string StatFields(const std::string& path) {
  const std::string stat = ReadFile(path);
  const size_t close = stat.rfind(')');
  return close == std::string::npos ? std::string() : stat.substr(close + 2);
}
}  // namespace

char ProcState(int pid) {
  const std::string fields = StatFields("/proc/" + std::to_string(pid) + "/stat");
  return fields.empty() ? '?' : fields[0];
}

bool ProcSessionAndTty(int pid, int& session, int& ttyNr) {
  std::istringstream fields(StatFields("/proc/" + std::to_string(pid) + "/stat"));
  char state;
  int ppid, pgrp;
  return static_cast<bool>(fields >> state >> ppid >> pgrp >> session >> ttyNr);
}

bool ProcessRunning(ProcessInfo& process) { return ProcessExitCode(process) == ProcessStillActive; }

std::string ScreenRow(int row) {
  char cells[ConsoleLineLength];
  if (!ReadConsoleCells(row, ConsoleLineColumn, ConsoleLineLength, cells)) return "<unreadable>";
  std::string text(cells, ConsoleLineLength);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

bool FindConsoleCursor(int& row, int& column) {
  int rows = 0, columns = 0;
  if (!GetConsoleSize(rows, columns)) return false;
  // Save the cursor, write the marker, restore the cursor: the marker lands under the cursor.
  WriteConsole("\x1b" "7#\x1b" "8");
  int found = 0;
  for (int r = 0; r < rows; ++r) {
    std::string cells(static_cast<size_t>(columns), ' ');
    if (!ReadConsoleCells(r, 0, columns, cells.data())) return false;
    for (int c = 0; c < columns; ++c)
      if (cells[static_cast<size_t>(c)] == '#') row = r, column = c, ++found;
  }
  WriteConsole("\x1b" "7 \x1b" "8");
  return found == 1;
}

void ClearScreen() {
  OpenConsole();
  PumpConsole();
  ClearConsole();
}

void PutScreen(const std::string& top, const std::string& bottom) {
  ClearScreen();
  WriteConsole((top + "\n" + bottom).c_str());
}

void ResetConverter() {
  FreshConverter();
  ConsoleMonitor.ReadTimerEnabled = true;
  ConsoleMonitor.SetReadTimer = nullptr;
  ConsoleMonitor.ResumeAfterBox = false;
  AppSettings.Flags = 0;
  AppSettings.TompgDir[0] = '\0';
  if (ConsoleMonitor.ConsoleTitle.empty()) ConsoleSetup();
  ClearScreen();
}
