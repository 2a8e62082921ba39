// The console: terminal screen model of 80 x 2 fed from the pseudo-terminal.
#include "platform/console.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <string>

#include "encoder/consolemonitor.h"
#include "encoder_test_support.h"
#include "platform/process.h"

namespace {

std::string Cells(int row, int column, int count) {
  std::string text(static_cast<size_t>(count), '\0');
  if (!ReadConsoleCells(row, column, count, text.data())) return "<unreadable>";
  return text;
}

class Console : public testing::Test {
 protected:
  void SetUp() override { ResetConverter(); }
  void TearDown() override { SetConsoleSize(ConsoleRows, ConsoleColumns); }
};

TEST_F(Console, LineFeedScrollsAndCarriageReturnRewritesInPlace) {
  const struct {
    const char* Written;
    const char* Row0;
    const char* Row1;
  } rows[] = {
      {"one\ntwo", "one", "two"},
      {"one\ntwo\nthree", "two", "three"},
      {"one\ntwo\n", "two", ""},
      {"frames 1 bytes\rframes 22", "", "frames 22bytes"},  // only what is written over changes
      {"abc\r\x1b[2Kxy", "", "xy"},                         // erase line, as progress printers do
      {"abc\ndef\x1b[1;1HZ", "Zbc", "def"},                 // cursor addressing
      {"caf\xc3\xa9 \x01", "", "caf?"},                     // outside printable ASCII
  };
  for (const auto& row : rows) {
    ClearScreen();
    WriteConsole(row.Written);
    std::string row0 = Cells(0, 0, 80), row1 = Cells(1, 0, 80);
    row0.erase(row0.find_last_not_of(' ') + 1);
    row1.erase(row1.find_last_not_of(' ') + 1);
    EXPECT_EQ(row0, row.Row0) << row.Written;
    EXPECT_EQ(row1, row.Row1) << row.Written;
  }
}

TEST_F(Console, CellsOutsideTheScreenAreNotRead) {
  char out[80];
  EXPECT_TRUE(ReadConsoleCells(1, 1, 70, out));
  EXPECT_TRUE(ReadConsoleCells(0, 0, 80, out));
  EXPECT_FALSE(ReadConsoleCells(2, 1, 70, out));
  EXPECT_FALSE(ReadConsoleCells(-1, 1, 70, out));
  EXPECT_FALSE(ReadConsoleCells(0, 11, 70, out));
  EXPECT_FALSE(ReadConsoleCells(0, -1, 10, out));
}

TEST_F(Console, FitConsoleCutsAGrownScreenBackToTwoRows) {
  const struct {
    int Rows;
    int FittedRows;
  } rows[] = {{25, 2}, {4, 2}, {3, 3}, {2, 2}, {1, 1}};
  for (const auto& row : rows) {
    ASSERT_TRUE(SetConsoleSize(row.Rows, 80));
    FitConsole();
    int r = 0, c = 0;
    ASSERT_TRUE(GetConsoleSize(r, c));
    EXPECT_EQ(r, row.FittedRows) << row.Rows;
    EXPECT_EQ(c, 80);
    winsize size{};
    ASSERT_EQ(ioctl(ConsoleMasterFd(), TIOCGWINSZ, &size), 0);
    EXPECT_EQ(size.ws_row, row.FittedRows) << "the terminal's window size follows";
    EXPECT_EQ(size.ws_col, 80);
  }
}

TEST_F(Console, SetupNamesTheConsoleAfterTheProcessAndLeavesTheCursorInTheBottomRow) {
  EXPECT_EQ(ConsoleMonitor.ConsoleTitle, "Sonivert Console " + std::to_string(getpid()));
  EXPECT_EQ(ConsoleTitleText(), ConsoleMonitor.ConsoleTitle);
  EXPECT_GE(ConsoleMasterFd(), 0);
  int row = -1, column = -1;
  ASSERT_TRUE(FindConsoleCursor(row, column));
  EXPECT_EQ(row, 1);
  EXPECT_EQ(column, 0);
}

// Everything a child wrote before it ended can be read as soon as its end is seen.
TEST_F(Console, OutputOfAnEndedChildIsReadableAtOnce) {
  for (int i = 0; i < 20; ++i) {
    ProcessInfo process;
    ASSERT_EQ(StartConsoleProcess("/usr/bin/printf \" last %d\" 12345", 0, process), ProcessStarted);
    ASSERT_TRUE(WaitFor([&] { return !ProcessRunning(process); }));
    PumpConsole();
    EXPECT_EQ(ScreenRow(1), "last 12345") << "round " << i;
    ClearScreen();
  }
}

// A writer far faster than the reader: it blocks on the full terminal until the reader takes
// the output; every byte arrives in order and the last line is read correctly.
TEST_F(Console, FastWriterLosesNothing) {
  const int lines = 20000;
  ProcessInfo process;
  ASSERT_EQ(StartConsoleProcess("/bin/sh -c \"i=0; while [ $i -lt 20000 ]; do echo \\\"line $i\\\"; "
                                "i=$((i+1)); done; printf ' frames 20000 bytes in 7 bytes out 9'\"",
                                0, process),
            ProcessStarted);
  unsigned long long expected = 0;
  for (int i = 0; i < lines; ++i) expected += std::string("line " + std::to_string(i)).size() + 2;  // CR LF
  expected += std::string(" frames 20000 bytes in 7 bytes out 9").size();
  unsigned long long taken = 0;
  ASSERT_TRUE(WaitFor([&] {
    taken += PumpConsole();
    return !ProcessRunning(process);
  }));
  taken += PumpConsole();
  EXPECT_EQ(taken, expected);
  EXPECT_EQ(ScreenRow(0), "ine 19999");
  EXPECT_EQ(ScreenRow(1), "frames 20000 bytes in 7 bytes out 9");
}

}  // namespace
