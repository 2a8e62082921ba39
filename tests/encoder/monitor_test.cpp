// The console monitor: progress and error lines read from the screen, on the model and through
// a fake encoder on the real pseudo-terminal.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/queue.h"
#include "model/settings.h"
#include "encoder/commandline.h"
#include "encoder/consolemonitor.h"
#include "encoder/encoderjob.h"
#include "encoder_test_support.h"
#include "platform/console.h"
#include "platform/messagebox.h"

namespace {

struct BoxRecord {
  std::string Text;
  std::string Caption;
  bool TimerOffDuringBox;
  bool SubmissionOffDuringBox;
};
std::vector<BoxRecord> Boxes;
std::vector<bool> TimerCalls;
BoxClosed OpenBox = nullptr;  // the box still open, to be closed by the test

void RecordBox(const char* text, const char* caption, BoxClosed closed) {
  Boxes.push_back({text, caption, !ConsoleMonitor.ReadTimerEnabled, !Converter.SubmissionActive});
  OpenBox = closed;
}
void CloseBox() {
  const BoxClosed closed = OpenBox;
  OpenBox = nullptr;
  if (closed != nullptr) closed();
}

void RecordTimer(bool enabled) { TimerCalls.push_back(enabled); }

class Monitor : public testing::Test {
 protected:
  void SetUp() override {
    ResetConverter();
    Boxes.clear();
    TimerCalls.clear();
    MessageBoxHook = RecordBox;
    OpenBox = nullptr;
    ConsoleMonitor.SetReadTimer = RecordTimer;
    Converter.CurrentSource = "/music/take 1.wav";
    Converter.FramesDone = 7;
    Converter.BytesDone = 8;
    Converter.BytesOut = 9;
  }
  void TearDown() override {
    MessageBoxHook = MessageBoxToStderr;
    KillProcess(Converter.EncoderProcess);
    WaitProcessEnd(Converter.EncoderProcess);
  }
};

struct ProgressRow {
  const char* Top;
  const char* Bottom;
  int32_t Frames;
  uint32_t In;
  uint32_t Out;
};

TEST_F(Monitor, ProgressLineWithThePartialMatchRule) {
  const ProgressRow rows[] = {
      {"", " frames 12 bytes in 4096 bytes out 1044", 12, 4096, 1044},
      {"", " frames 12 bytes", 12, 8, 9},  // cut after the count
      {"", " frames 12 bytes in", 12, 8, 9},
      {"", " frames 12 bytes in 4096 bytes", 12, 4096, 9},
      {"", " frames12 bytes in4096 bytes out1044", 12, 4096, 1044},  // a blank matches none too
      {"", " frame 12 bytes in 1 bytes out 2", 7, 8, 9},             // no field before the mismatch
      {"", " frames x bytes in 1 bytes out 2", 7, 8, 9},
      {"", " fr", 7, 8, 9},
      {"", "frames 12 bytes in 1 bytes out 2", 7, 8, 9},  // column 0 is not read
      {"", "xframes 3 bytes in 4 bytes out 5", 3, 4, 5},
      {"", " frames 4294967295 bytes in 4294967296 bytes out 1", -1, 0, 1},  // wraps as %u does
      {" frames 5 bytes in 6 bytes out 7", "", 5, 6, 7},                     // blank bottom row: row 0
      {" frames 5 bytes in 6 bytes out 7", "  frames 1 bytes in 2 bytes out 3", 5, 6, 7},
      {" frames 5 bytes in 6 bytes out 7", " frames 1 bytes in 2 bytes out 3", 1, 2, 3},
      {" frames 5 bytes in 6 bytes out 7", " x", 7, 8, 9},  // bottom row has text: used
  };
  for (const ProgressRow& row : rows) {
    Converter.FramesDone = 7;
    Converter.BytesDone = 8;
    Converter.BytesOut = 9;
    PutScreen(row.Top, row.Bottom);
    ReadConsoleTTimer(0);
    EXPECT_EQ(Converter.FramesDone, row.Frames) << row.Top << " / " << row.Bottom;
    EXPECT_EQ(Converter.BytesDone, row.In) << row.Top << " / " << row.Bottom;
    EXPECT_EQ(Converter.BytesOut, row.Out) << row.Top << " / " << row.Bottom;
  }
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(Monitor, DecoderJobCopiesTheInputPositionAndReadsNoLine) {
  Converter.EncoderJob = false;
  PutScreen("", " frames 1 bytes in 2 bytes out 3");
  ReadConsoleTTimer(123456);
  EXPECT_EQ(Converter.BytesDone, 123456u);
  EXPECT_EQ(Converter.FramesDone, 7);
}

struct ErrorRow {
  const char* Line;
  const char* Box;
  const char* NoticeSuffix;
};
const ErrorRow ErrorRows[] = {
    {" UNRECOGNIZED PCM FILE format 3", "Unrecognized PCM format", ": Unrecognized PCM format"},
    {" UNRECOGNIZED PCM FILE", "Unrecognized PCM format", ": Unrecognized PCM format"},
    {" CANNOT CREATE OUTPUT FILE", "Cannot create output file", ": Cannot create output file"},
    {" CANNOT_OPEN_INPUT_FILE", "Cannot open input file", ": Cannot open input file"},
};

TEST_F(Monitor, ErrorLineShowsABoxWhenTheFlagIsSet) {
  AppSettings.Flags = FlagShowErrorBox;
  for (const ErrorRow& row : ErrorRows) {
    for (bool active : {true, false}) {
      Boxes.clear();
      TimerCalls.clear();
      Converter.SubmissionActive = active;
      // As the encoder leaves it: the line, then a line break.
      PutScreen(row.Line, "");
      ReadConsoleTTimer(0);
      ASSERT_EQ(Boxes.size(), 1u) << row.Line;
      EXPECT_EQ(Boxes[0].Text, row.Box + std::string("\n/music/take 1.wav"));  // the reason first
      EXPECT_EQ(Boxes[0].Caption, "/music/take 1.wav");
      EXPECT_TRUE(Boxes[0].TimerOffDuringBox);
      EXPECT_TRUE(Boxes[0].SubmissionOffDuringBox);
      // The box does not hold the reader up; until it closes the converter stays off and a tick
      // meanwhile reports nothing again.
      EXPECT_FALSE(Converter.SubmissionActive);
      ReadConsoleTTimer(0);
      EXPECT_EQ(Boxes.size(), 1u);
      CloseBox();
      EXPECT_EQ(TimerCalls, (std::vector<bool>{false, true}));
      EXPECT_TRUE(ConsoleMonitor.ReadTimerEnabled);
      EXPECT_EQ(Converter.SubmissionActive, active) << "restored after the report";
      EXPECT_EQ(Converter.NoticeTicks, 0);
      // The line break scrolled the error away: it is reported once.
      ReadConsoleTTimer(0);
      EXPECT_EQ(Boxes.size(), 1u) << row.Line;
      EXPECT_EQ(ScreenRow(0), "");
      EXPECT_EQ(ScreenRow(1), "");
    }
  }
}

TEST_F(Monitor, ErrorLineSetsTheNoticeWhenTheFlagIsClear) {
  AppSettings.Flags = FlagDeleteAfterEncoding;  // bit 0 clear
  for (const ErrorRow& row : ErrorRows) {
    Converter.NoticeTicks = 0;
    Converter.NoticeText.clear();
    Converter.SubmissionActive = true;
    PutScreen(row.Line, "");
    ReadConsoleTTimer(0);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Converter.NoticeText, std::string("/music/take 1.wav") + row.NoticeSuffix);
    EXPECT_EQ(Converter.NoticeTicks, 10);
    EXPECT_TRUE(Converter.SubmissionActive);
    Converter.NoticeTicks = 0;
    ReadConsoleTTimer(0);
    EXPECT_EQ(Converter.NoticeTicks, 0) << "reported once";
  }
}

TEST_F(Monitor, NearMissesAreNotErrorLines) {
  AppSettings.Flags = FlagShowErrorBox;
  const char* rows[] = {
      " UNRECOGNIZED PCM FILEX",  // the 22nd character must be a blank
      " UNRECOGNIZED PCM FIL",    // (the cell after it reads as a blank: not this prefix)
      "UNRECOGNIZED PCM FILE ",   // starts in column 0
      " CANNOT OPEN INPUT FILE",  // blanks where the encoder writes underscores
      " cannot_open_input_file", " CANNOT CREATE OUTPUT",
  };
  for (const char* line : rows) {
    PutScreen(line, "");
    ReadConsoleTTimer(0);
    EXPECT_TRUE(Boxes.empty()) << line;
    EXPECT_EQ(Converter.NoticeTicks, 0) << line;
  }
}

TEST_F(Monitor, ErrorLeftOnTheBottomRowMovesUpOneRow) {
  // With the error still on the bottom row the line break moves it to row 0, where the next tick
  // finds it once more: this is the behaviour of a two-row screen, the encoder ends its error
  // lines with a line break so that this cannot happen.
  AppSettings.Flags = 0;
  PutScreen("", " CANNOT_OPEN_INPUT_FILE");
  ReadConsoleTTimer(0);
  EXPECT_EQ(Converter.NoticeTicks, 10);
  EXPECT_EQ(ScreenRow(0), "CANNOT_OPEN_INPUT_FILE");
}

TEST_F(Monitor, TickWhileTheTimerIsOffDoesNothing) {
  ConsoleMonitor.ReadTimerEnabled = false;
  PutScreen("", " frames 1 bytes in 2 bytes out 3");
  ReadConsoleTTimer(0);
  EXPECT_EQ(Converter.FramesDone, 7);
}

// The fake encoder runs the source file as a script; these helpers start one.
struct FakeJob {
  ScratchDir Dir;
  std::string Source;
  std::string Output;
};

EncoderLaunchResult LaunchFake(FakeJob& job, const std::string& script) {
  InstallFakeTompg(job.Dir.Path);
  std::strncpy(AppSettings.TompgDir, job.Dir.Path.c_str(), TompgDirSize - 1);
  job.Source = job.Dir.Path + "in put.wav";
  job.Output = job.Dir.Path + "out put.mp3";
  WriteFile(job.Source, script);
  QueueEntry entry;
  entry.Path = job.Source;
  entry.Layer = 2;
  entry.ChannelMode = 1;
  entry.Bitrate = 5;
  Converter.CurrentSource = entry.Path;
  Converter.FramesDone = -1;
  Converter.BytesDone = 0;
  Converter.BytesOut = 0;
  return LaunchEncoder(entry, job.Output, 1);
}

bool Ended() { return ReadJobExitCode() != STILL_ACTIVE; }

TEST_F(Monitor, FakeEncoderProgressInPlaceThenMatchingStatus) {
  FakeJob job;
  ASSERT_EQ(LaunchFake(job,
                       "printf ' frames 1 bytes in 100 bytes out 10'\n"
                       "printf '\\r frames 2 bytes in 200 bytes out 20'\n"
                       "while [ ! -e \"$2.go\" ]; do sleep 0.01; done\n"
                       "printf '\\r frames 300 bytes in 4096 bytes out 1044'\n"
                       "exit 44\n"),
            EncoderLaunched);
  ASSERT_TRUE(WaitFor([] {
    ReadConsoleTTimer(0);
    return Converter.FramesDone == 2;
  }));
  EXPECT_EQ(Converter.BytesDone, 200u);
  EXPECT_EQ(Converter.BytesOut, 20u);
  EXPECT_EQ(ReadJobExitCode(), STILL_ACTIVE);
  // The arguments arrived as built: blanks inside the quoted paths stay in one argument.
  EXPECT_EQ(ReadFile(job.Output), job.Source + "\n" + job.Output + "\n-L3\n-B64\n-M1\n-P2\n-S0\n-N4\n");
  WriteFile(job.Output + ".go", "");
  // The end is seen before any further monitor tick: the last line is read all the same, also
  // when it is still on its way through the terminal.
  ASSERT_TRUE(WaitFor(Ended));
  ReadFinalEncoderLines();
  EXPECT_EQ(Converter.FramesDone, 300);
  EXPECT_EQ(Converter.BytesDone, 4096u);
  EXPECT_TRUE(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone));
}

TEST_F(Monitor, FakeEncoderStatusRules) {
  const struct {
    const char* Script;
    bool Success;
  } rows[] = {
      {"printf ' frames 300 bytes in 1 bytes out 1'\nexit 44\n", true},
      {"printf ' frames 300 bytes in 1 bytes out 1'\nexit 45\n", false},
      {"exit 0\n", false},  // no progress line: FramesDone stays -1
      {"printf ' frames 300 bytes in 1 bytes out 1'\nkill -9 $$\n", false},
  };
  for (const auto& row : rows) {
    FakeJob job;
    ASSERT_EQ(LaunchFake(job, row.Script), EncoderLaunched);
    ASSERT_TRUE(WaitFor(Ended));
    ReadFinalEncoderLines();
    EXPECT_EQ(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone), row.Success) << row.Script;
  }
}

// A new job must not take the last progress line of the one before as its own.
TEST_F(Monitor, LaunchClearsTheLastJobsProgress) {
  PutScreen("", " frames 44 bytes in 1 bytes out 1");
  FakeJob job;
  ASSERT_EQ(LaunchFake(job, "exit 44\n"), EncoderLaunched);
  ASSERT_TRUE(WaitFor(Ended));
  ReadConsoleTTimer(0);
  EXPECT_EQ(Converter.FramesDone, -1);
  EXPECT_FALSE(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone));
}

TEST_F(Monitor, FakeEncoderErrorLines) {
  for (uint32_t flags : {0u, uint32_t{FlagShowErrorBox}}) {
    for (const ErrorRow& row : ErrorRows) {
      Boxes.clear();
      Converter.NoticeTicks = 0;
      AppSettings.Flags = flags;
      Converter.SubmissionActive = true;
      FakeJob job;
      ASSERT_EQ(LaunchFake(job, std::string("printf '") + row.Line + "\\n'\nexit 1\n"), EncoderLaunched);
      ASSERT_TRUE(WaitFor([] {
        ReadConsoleTTimer(0);
        return !Boxes.empty() || Converter.NoticeTicks != 0;
      }));
      if (flags != 0) {
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, row.Box + ("\n" + job.Source));
        EXPECT_EQ(Boxes[0].Caption, job.Source);
        CloseBox();
      } else {
        EXPECT_EQ(Converter.NoticeText, job.Source + row.NoticeSuffix);
        EXPECT_EQ(Converter.NoticeTicks, 10);
      }
      EXPECT_TRUE(Converter.SubmissionActive);
      ASSERT_TRUE(WaitFor(Ended));
      ReadFinalEncoderLines();
      EXPECT_LE(Boxes.size(), 1u) << "reported once";
      EXPECT_FALSE(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone));
    }
  }
}

TEST_F(Monitor, MissingEncoderIsALaunchFailure) {
  ScratchDir dir;
  std::strncpy(AppSettings.TompgDir, dir.Path.c_str(), TompgDirSize - 1);
  QueueEntry entry;
  entry.Path = dir.Path + "a.wav";
  Converter.EncoderProcess = ProcessInfo{};
  EXPECT_EQ(LaunchEncoder(entry, dir.Path + "a.mp3", 1), EncoderNotStarted);
  EXPECT_EQ(Converter.EncoderProcess.Pid, 0) << "the record of the last job stays";
  EXPECT_EQ(LaunchEncoder(entry, dir.Path + "a.mp3", 3), EncoderBadChoice);
  std::strncpy(AppSettings.TompgDir, "/opt/my \"tools\"/", TompgDirSize - 1);
  EXPECT_EQ(LaunchEncoder(entry, dir.Path + "a.mp3", 1), EncoderProgramUnusable);
}

}  // namespace
