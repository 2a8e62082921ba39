// The scheduler tick and the queue list rules, without widgets: a fake job (its exit code set by
// the test) stands for the encoder process and the decoder thread.
#include "app/scheduler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/settings.h"
#include "decoder/decoder.h"
#include "encoder/consolemonitor.h"
#include "encoder/encoderjob.h"
#include "platform/jobthread.h"
#include "platform/messagebox.h"
#include "tests/support/converter.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"

namespace {

struct FakeJob {
  uint32_t ExitCode = 0;  // STILL_ACTIVE while it "runs"
  bool Succeeds = true;   // the encoder success rule's answer
  EncoderLaunchResult Launch = EncoderLaunched;
  bool DecoderStarts = true;
  int Starts = 0, Kills = 0;
  std::vector<std::string> Removed;
  bool RemoveWorks = true;
  bool SameFile = false;
  std::vector<std::string> Boxes;  // caption: text
  std::vector<std::pair<uint32_t, uint32_t>> Notices;
  std::vector<std::string> Leftovers;  // outputs whose leftovers were removed
  int ForcedKills = 0;
  bool Answer = true;  // to the close question
  std::vector<std::string> Outputs, TakenBack;  // outputs started; outputs put back after a failure
  std::vector<BoxClosed> Closers;               // of the boxes shown
} Job;

EncoderLaunchResult FakeLaunch(const QueueEntry&, const std::string& output, int) {
  Job.Outputs.push_back(output);
  if (Job.Launch == EncoderLaunched) {
    ++Job.Starts;
    Job.ExitCode = STILL_ACTIVE;
  }
  return Job.Launch;
}
bool FakeDecoder(int) {
  if (Job.DecoderStarts) {
    ++Job.Starts;
    Job.ExitCode = STILL_ACTIVE;
  }
  return Job.DecoderStarts;
}
// Boxes stay open: the tick must go on without them.
void FakeBox(const char* text, const char* caption, BoxClosed closed) {
  Job.Boxes.push_back(std::string(caption) + ": " + text), Job.Closers.push_back(closed);
}
bool FakeQuestion(const char* text, const char* caption) {
  Job.Boxes.push_back(std::string(caption) + ": " + text);
  return Job.Answer;
}

QueueEntry Entry(const char* path, bool wave) {
  QueueEntry e;
  e.Path = path;
  e.BaseName = BaseNameOf(path);
  e.FileSize = 1000;
  e.IsWave = wave;
  e.Layer = 2;
  e.ChannelMode = 1;
  e.Bitrate = wave ? 5 : 128;
  e.Duration = 67;
  e.SampleRate = 44100;
  e.Channels = 2;
  e.BitsPerSample = 16;
  return e;
}

class Tick : public ::testing::Test {
 protected:
  void SetUp() override {
    Job = FakeJob{};
    FreshConverter();
    ConsoleMonitor = ConsoleMonitorState{};
    View = MainView{};
    QueueCount = 0;
    AppSettings = Settings{};
    AppSettings.DestinationDir = "/out/";
    SetDefaultSchedulerOps();
    Scheduler.LaunchEncoderJob = FakeLaunch;
    Scheduler.StartDecoderJob = FakeDecoder;
    Scheduler.JobExitCode = [] { return Job.ExitCode; };
    Scheduler.EncoderFailure = [] { return Job.Succeeds ? std::string() : std::string("exit status 3"); };
    Scheduler.ReadFinalLines = [] {};
    Scheduler.StopJob = [] {
      ++Job.Kills;
      Job.ExitCode = 0;
      Job.Succeeds = false;
    };
    Scheduler.KillEncoder = [] { ++Job.ForcedKills; };
    Scheduler.RemoveLeftovers = [](const std::string& output) { Job.Leftovers.push_back(output); };
    Scheduler.RemoveSource = [](const std::string& p) {
      Job.Removed.push_back(p);
      return Job.RemoveWorks ? std::string() : std::string("refused");
    };
    Scheduler.TakeOutputBack = [](const std::string& output) { Job.TakenBack.push_back(output); };
    Scheduler.SameFile = [](const std::string& a, const std::string& b) { return Job.SameFile || a == b; };
    Scheduler.QueueDone = [](uint32_t ok, uint32_t failed) { Job.Notices.push_back({ok, failed}); };
    MessageBoxHook = FakeBox;
    QuestionHook = FakeQuestion;
  }
  void TearDown() override {
    MessageBoxHook = MessageBoxToStderr;
    QuestionHook = QuestionToStderr;
    SetDefaultSchedulerOps();
  }
  void Queue(const char* path, bool wave) { AppendQueueEntry(Entry(path, wave)); }
  void End(uint32_t code) { Job.ExitCode = code; }
};

// A converter as the program starts it: the first tick finds no job end to handle (and no frame
// count an exit code could match), starts nothing, and shows it idle and off.
TEST_F(Tick, FirstTickOfANewConverterIsIdleAndOff) {
  Queue("/in/a.wav", true);
  StatusTMTimer(0);
  EXPECT_EQ(View.StatusLine, "  Idle ...");
  EXPECT_EQ(View.QueueCounter, "  1 file in queue [submission inactive]");
  EXPECT_EQ(View.PercentText, " ");
  EXPECT_TRUE(Job.Boxes.empty() && Job.Removed.empty());
  EXPECT_EQ(Job.Starts, 0);
  StartBTClick();  // the one job then counts once: no phantom end of a job before it
  for (uint32_t t : {500u, 1000u}) StatusTMTimer(t), End(1);
  EXPECT_EQ(Job.Notices, (std::vector<std::pair<uint32_t, uint32_t>>{{1u, 0u}}));
}

TEST_F(Tick, IdleActiveWithEmptyQueueStartsFilesAddedLater) {
  StartBTClick();
  StatusTMTimer(1000);
  EXPECT_EQ(View.QueueCounter, "  0 files in queue [submission active]");
  EXPECT_EQ(View.StatusLine, "  Idle ...");
  EXPECT_EQ(Job.Starts, 0);
  Queue("/in/a.wav", true);
  StatusTMTimer(1500);
  EXPECT_EQ(View.QueueCounter, "  1 file in queue [submission active]");  // counted before the start
  EXPECT_EQ(Job.Starts, 1);
  EXPECT_EQ(QueueCount, 0);
  EXPECT_EQ(View.HeadLinesTaken, 1u);
  EXPECT_EQ(View.CurrentLine, "a.wav (1:07)");
  EXPECT_EQ(View.StatusLine, "  Encoding /in/a.wav [Layer 3; Joint stereo; 128 kbit/s] ...");
  EXPECT_TRUE(View.JobRunning);
  EXPECT_EQ(View.CurrentHint, std::string("Suspend"));
}

TEST_F(Tick, InactiveCounterAndNoStart) {
  Queue("/in/a.wav", true);
  Queue("/in/b.mp3", false);
  StatusTMTimer(0);
  EXPECT_EQ(View.QueueCounter, "  2 files in queue [submission inactive]");
  EXPECT_EQ(Job.Starts, 0);
}

TEST_F(Tick, EncoderSuccessDeletesOnlyWithFlagAndStopLetsTheJobFinish) {
  AppSettings.Flags = FlagDeleteAfterEncoding;
  Queue("/in/a.wav", true);
  Queue("/in/b.wav", true);
  StartBTClick();
  StatusTMTimer(0);
  StartBTClick();  // Stop during the job: it runs on, nothing further starts
  EXPECT_FALSE(Converter.SubmissionActive);
  StatusTMTimer(500);
  EXPECT_TRUE(View.JobRunning);
  End(7);
  StatusTMTimer(1000);
  EXPECT_EQ(Job.Removed, std::vector<std::string>{"/in/a.wav"});
  EXPECT_EQ(View.FileListRereads, 1u);
  EXPECT_EQ(Job.Starts, 1);
  EXPECT_EQ(QueueCount, 1);
  EXPECT_FALSE(View.HasCurrentLine);
  EXPECT_EQ(Converter.FramesDone, -1);
}

// A failed encode keeps its source, puts back what its output's name held and is told once, as an
// error line is: not again after its own error line, never when killed.
TEST_F(Tick, FailedEncodeIsToldOnceAndNeverDeletes) {
  AppSettings.Flags = FlagDeleteAfterEncoding | FlagShowErrorBox;
  for (const char* path : {"/in/a.wav", "/in/b.wav", "/in/c.wav"}) Queue(path, true);
  StartBTClick();
  StatusTMTimer(0);
  Job.Succeeds = false;
  End(3);
  StatusTMTimer(500);
  EXPECT_EQ(Job.Boxes, std::vector<std::string>{"/in/a.wav: Encoding failed: exit status 3\n/in/a.wav"});
  EXPECT_EQ(Job.Starts, 1);  // not while the box is open
  Job.Closers[0]();
  StatusTMTimer(600);  // the box is closed: b starts
  ConsoleMonitor.JobFailureReported = true;  // as b's error line would
  End(3);
  StatusTMTimer(700);  // b fails; c starts
  AbortBTClick();
  StatusTMTimer(1000);  // kills c
  StatusTMTimer(1500);  // end of the killed job
  EXPECT_TRUE(Job.Kills == 1 && Job.Boxes.size() == 1 && Job.Removed.empty());
  EXPECT_EQ(Job.TakenBack, (std::vector<std::string>{"/out/a.mp3", "/out/b.mp3", "/out/c.mp3"}));
}

TEST_F(Tick, AbortKeepsTheRestOfTheQueueAndStartRetriesIt) {
  Queue("/in/a.wav", true);
  Queue("/in/b.wav", true);
  Queue("/in/c.wav", true);
  StartBTClick();
  StatusTMTimer(0);
  AbortBTClick();
  StatusTMTimer(500);
  StatusTMTimer(1000);
  EXPECT_EQ(QueueCount, 2);
  EXPECT_EQ(JobQueue[0].Path, "/in/b.wav");
  EXPECT_EQ(View.StatusLine, "  Idle ...");
  StartBTClick();
  StatusTMTimer(1500);
  EXPECT_EQ(Converter.CurrentSource, "/in/b.wav");
}

TEST_F(Tick, FailedLaunchesKeepTheEntryAndStop) {
  struct Row {
    EncoderLaunchResult launch;
    const char* caption;
  } rows[] = {
      {EncoderNotStarted, "TOMPG not found: TOMPG not found. Please change configuration settings."},
      {EncoderLineTooLong, "Unable to start encoding: encoder command line too long\n/in/a.wav"},
      {EncoderLineAmbiguous, "Unable to start encoding: a path cannot be passed"},
  };
  for (const Row& row : rows) {
    SetUp();
    Queue("/in/a.wav", true);
    Job.Launch = row.launch;
    StartBTClick();
    StatusTMTimer(0);
    ASSERT_EQ(Job.Boxes.size(), 1u);
    EXPECT_EQ(Job.Boxes[0].substr(0, std::string(row.caption).size()), row.caption);
    EXPECT_EQ(QueueCount, 1);
    EXPECT_FALSE(Converter.SubmissionActive);
    EXPECT_FALSE(Converter.SubmissionActive);
    EXPECT_EQ(View.HeadLinesTaken, 0u);
  }
}

TEST_F(Tick, DecoderJobsReportFailuresAndNeverDelete) {
  AppSettings.Flags = FlagDeleteAfterEncoding;  // no box flag: the decoder's box shows anyway
  Queue("/in/a.mp3", false);
  Queue("/in/b.mp3", false);
  Queue("/in/c.wav", true);
  StartBTClick();
  StatusTMTimer(0);
  EXPECT_FALSE(Converter.EncoderJob);
  EXPECT_STREQ(DecoderOutput, "/out/a.wav");
  EXPECT_EQ(View.StatusLine, "  Decoding /in/a.mp3 [Layer 3; Joint stereo; 128 kbit/s] ...");
  End(0);
  StatusTMTimer(500);  // a ends well, b starts
  End(3);
  StatusTMTimer(1000);  // b fails, c (an encode) starts
  ASSERT_EQ(Job.Boxes.size(), 1u);
  EXPECT_EQ(Job.Boxes[0].rfind("/in/b.mp3: Unable to decode source file", 0), 0u);
  EXPECT_TRUE(Job.Removed.empty());
  EXPECT_TRUE(Converter.EncoderJob);
  End(9);
  StatusTMTimer(1500);
  ASSERT_EQ(Job.Notices.size(), 1u);
  EXPECT_EQ(Job.Notices[0], std::make_pair(2u, 1u));
}

TEST_F(Tick, OutputThatIsItsOwnSourceIsDroppedUntouched) {
  Queue("/out/x.wav", false);  // an MP3 named x.wav in the destination directory
  Queue("/in/b.mp3", false);
  Job.SameFile = true;
  StartBTClick();
  StatusTMTimer(0);
  EXPECT_EQ(Job.Starts, 0);
  ASSERT_EQ(Job.Boxes.size(), 1u);
  EXPECT_NE(Job.Boxes[0].find("/out/x.wav"), std::string::npos);
  EXPECT_EQ(QueueCount, 1);
  EXPECT_EQ(View.HeadLinesTaken, 1u);
  EXPECT_TRUE(Converter.SubmissionActive);  // the queue goes on
  Job.SameFile = false;
  StatusTMTimer(500);
  EXPECT_EQ(Converter.CurrentSource, "/in/b.mp3");
}

TEST_F(Tick, DecoderPathTooLongIsRefusedNotCut) {
  const std::string path = "/in/" + std::string(400, 'a') + ".mp3";
  Queue(path.c_str(), false);
  StartBTClick();
  StatusTMTimer(0);
  EXPECT_EQ(Job.Starts, 0);
  EXPECT_EQ(QueueCount, 1);
  ASSERT_EQ(Job.Boxes.size(), 1u);
  EXPECT_EQ(Job.Boxes[0].rfind("Unable to start decoding", 0), 0u);
}

// An unattended batch: every box stays open, and each end is handled once, in the same tick that
// starts the next job; a decode that yields no audio is a failure like any other.
TEST_F(Tick, BoxesLeftOpenNeverHoldTheQueueAndEachEndCountsOnce) {
  AppSettings.Flags = FlagDeleteAfterEncoding | FlagShowErrorBox;
  Job.RemoveWorks = false;
  Queue("/in/a.wav", true);
  Queue("/in/b.mp3", false);
  Queue("/in/c.mp3", false);
  StartBTClick();
  StatusTMTimer(0);
  End(5);
  StatusTMTimer(10);  // a ends: its deletion fails; b starts at once
  ASSERT_EQ(Job.Boxes.size(), 1u);
  EXPECT_EQ(Job.Boxes[0], "/in/a.wav: Unable to delete source file: refused\n/in/a.wav");
  EXPECT_EQ(Converter.CurrentSource, "/in/b.mp3");
  End(DecoderNoAudio);
  StatusTMTimer(20);  // b fails; c starts
  ASSERT_EQ(Job.Boxes.size(), 2u);
  EXPECT_EQ(Job.Boxes[1].rfind("/in/b.mp3: Unable to decode source file", 0), 0u);
  EXPECT_EQ(Converter.CurrentSource, "/in/c.mp3");
  EXPECT_EQ(Job.Starts, 3);
  End(0);
  for (uint32_t t = 30; t < 60; t += 10) StatusTMTimer(t);  // more ticks than ends
  EXPECT_EQ(Job.Notices, (std::vector<std::pair<uint32_t, uint32_t>>{{2u, 1u}}));
}

TEST_F(Tick, AbortAsksTheJobToEndKillsAStuckEncoderAndCountsNothing) {
  Queue("/in/a.wav", true);
  Queue("/in/b.wav", true);
  AbortBTClick();  // with no job running: spent, it must not end the next job that starts
  StatusTMTimer(0);
  StartBTClick();
  StatusTMTimer(0);
  EXPECT_EQ(Job.Kills, 0) << "an old abort killed the next job";
  StatusTMTimer(0);
  Scheduler.StopJob = [] { ++Job.Kills; };  // this encoder does not end when asked
  AbortBTClick();
  StatusTMTimer(100);
  EXPECT_EQ(Job.Kills, 1);
  EXPECT_FALSE(Converter.SubmissionActive);
  StatusTMTimer(100 + EncoderStopGraceMs - 1);
  EXPECT_EQ(Job.ForcedKills, 0);
  StatusTMTimer(100 + EncoderStopGraceMs);
  EXPECT_EQ(Job.ForcedKills, 1);
  Job.Succeeds = false;
  End(ProcessKilledBase + 9);
  StatusTMTimer(3000);
  EXPECT_EQ(Job.Leftovers, std::vector<std::string>{"/out/a.mp3"});
  StartBTClick();  // on again, the queue runs empty: the stopped job counts as nothing
  Job.Succeeds = true;
  for (uint32_t t : {3500u, 4000u}) StatusTMTimer(t), End(1);
  EXPECT_EQ(Job.Notices, (std::vector<std::pair<uint32_t, uint32_t>>{{1u, 0u}}));
}

TEST_F(Tick, StatusLineNamesTheBitrateCodedAndWhereThePathIs) {
  QueueEntry mono = Entry("/in/voice.wav", true);
  mono.SampleRate = 22050;
  mono.Channels = 1;
  mono.ChannelMode = 3;
  mono.Bitrate = 11;  // 320 kbit/s: more than 22.05 kHz can carry
  AppendQueueEntry(mono);
  StartBTClick();
  StatusTMTimer(0);
  EXPECT_EQ(View.StatusLine, "  Encoding /in/voice.wav [Layer 3; Mono; 160 kbit/s] ...");
  EXPECT_EQ(View.StatusLine.substr(View.StatusPathBegin, View.StatusPathEnd - View.StatusPathBegin),
            "/in/voice.wav");
}

TEST_F(Tick, ClearDuringAJobLeavesTheJob) {
  Queue("/in/a.wav", true);
  Queue("/in/b.wav", true);
  StartBTClick();
  StatusTMTimer(0);
  ClearBTClick();
  StatusTMTimer(500);
  EXPECT_EQ(QueueCount, 0);
  EXPECT_TRUE(View.HasCurrentLine);
  EXPECT_TRUE(View.JobRunning);
  End(1);
  StatusTMTimer(1000);
  EXPECT_FALSE(View.HasCurrentLine);
}

TEST_F(Tick, ProgressTimeAndSuspendedBlinking) {
  Queue("/in/a.wav", true);
  StartBTClick();
  StatusTMTimer(10000);
  StatusTMTimer(12000);
  EXPECT_EQ(View.PercentText, "0%");
  // Before any progress: 1000 x 2000 ms - 2000 ms = 1998 s.
  EXPECT_EQ(View.TimeText, "00:33:18");
  Converter.BytesDone = 499;
  StatusTMTimer(14000);  // 4 s for half: 4 s to go
  EXPECT_EQ(View.PercentText, "49%");
  EXPECT_EQ(View.TimeText, "00:00:04");
  Converter.Suspended = true;
  StatusTMTimer(20000);
  EXPECT_EQ(Converter.ElapsedMs, 4000);
  EXPECT_EQ(View.TimeText, "00:00:04");
  EXPECT_EQ(View.CurrentHint, std::string("Resume"));
  const bool first = View.CurrentSelected;
  StatusTMTimer(20500);
  EXPECT_NE(View.CurrentSelected, first);
  End(0);
  StatusTMTimer(21000);
  EXPECT_FALSE(Converter.Suspended);
  EXPECT_EQ(View.PercentText, " ");
  EXPECT_EQ(View.TimeText, " ");
}

TEST_F(Tick, NoticeReplacesTheStatusForTenTicks) {
  Converter.NoticeText = "/in/a.wav: Cannot open input file";
  Converter.NoticeTicks = 10;
  for (int i = 0; i < 10; ++i) StatusTMTimer(i * 500);
  EXPECT_EQ(View.StatusLine, "  /in/a.wav: Cannot open input file");
  StatusTMTimer(5000);
  EXPECT_EQ(View.StatusLine, "  Idle ...");
}

TEST_F(Tick, CloseAsksOnlyWhileAJobRuns) {
  EXPECT_TRUE(FormCloseQuery());
  EXPECT_TRUE(Job.Boxes.empty());
  Queue("/in/a.mp3", false);
  StartBTClick();
  StatusTMTimer(0);
  Job.Answer = false;  // Cancel
  EXPECT_FALSE(FormCloseQuery());
  EXPECT_EQ(Job.Boxes.back(), "Close Sonivert: You are about to cancel decoding of\n/in/a.mp3");
  EXPECT_EQ(Job.Kills, 0);
  Job.Answer = true;
  EXPECT_TRUE(FormCloseQuery());
  EXPECT_EQ(Job.Kills, 1);
}

// Two sources of one base name: the second writes the next free name and says so. A source or an
// output the Trash cannot take: the job is dropped with a box naming the file and why, nothing is
// deleted or replaced, and the queue goes on.
TEST_F(Tick, OutputsNeverCollideAndWithoutATrashNothingIsDeletedOrReplaced) {
  AppSettings.Flags = FlagDeleteAfterEncoding;
  for (const char* path : {"/a/x.wav", "/b/x.WAV", "/in/kept.wav", "/in/x.wav"}) Queue(path, true);
  Queue("/in/y.mp3", false);
  Scheduler.SourceTrashRefusal = [](const std::string& p) { return p == "/in/kept.wav" ? std::string("read-only") : std::string(); };
  Scheduler.SetOutputAside = [](const std::string& o) { return o == "/out/y.wav" ? std::string("no Trash") : std::string(); };
  StartBTClick();
  for (uint32_t t = 0; t < 60; t += 10) StatusTMTimer(t), End(1);
  EXPECT_EQ(Job.Outputs, (std::vector<std::string>{"/out/x.mp3", "/out/x (2).mp3", "/out/x (3).mp3"}));
  EXPECT_EQ(Job.Removed, (std::vector<std::string>{"/a/x.wav", "/b/x.WAV", "/in/x.wav"}));
  ASSERT_EQ(Job.Boxes.size(), 2u);
  EXPECT_EQ(Job.Boxes[0], "Source file cannot go to the Trash: The source cannot go to the Trash after its encode: "
                          "read-only. It was kept, and taken from the queue.\n/in/kept.wav");
  EXPECT_EQ(Job.Boxes[1], "Output file cannot go to the Trash: A file has the output's name and cannot go to the "
                          "Trash: no Trash. It was kept, and the source was taken from the queue.\n/out/y.wav\n/in/y.mp3");
  StatusTMTimer(100);  // the run is over: a new one may replace what it wrote
  Queue("/c/x.wav", true);
  StatusTMTimer(110);
  EXPECT_EQ(View.StatusLine, "  Encoding /c/x.wav [Layer 3; Joint stereo; 128 kbit/s] ...");
}

// While the close question is open the job's end is handled and nothing starts; a job closing stops
// counts neither way. A refused priority is told, and the one the job really had is kept.
TEST_F(Tick, CloseQuestionHoldsTheQueueAStoppedJobCountsNothingAndARefusedPriorityIsTold) {
  for (const char* path : {"/in/a.mp3", "/in/b.mp3", "/in/c.mp3"}) Queue(path, false);
  PriorityPosition = 2;
  Scheduler.ApplyPriority = [](int position, int& actual) {
    actual = 1, errno = EACCES;
    return position == 2 ? PriorityRefused : PriorityHeld;
  };
  StartBTClick();
  StatusTMTimer(0);
  EXPECT_EQ(PriorityPosition, 1);
  EXPECT_EQ(View.StatusLine, "  Priority High refused: Permission denied; runs at Normal");
  QuestionHook = [](const char*, const char*) {  // a's end while the question is open; Cancel
    for (uint32_t t : {10u, 20u}) StatusTMTimer(t), Job.ExitCode = 0;
    return false;
  };
  EXPECT_FALSE(FormCloseQuery());
  EXPECT_TRUE(Job.Starts == 1 && !View.HasCurrentLine);
  StatusTMTimer(30);  // b starts
  QuestionHook = FakeQuestion;  // OK: b is stopped
  EXPECT_TRUE(FormCloseQuery());
  for (uint32_t t : {40u, 50u}) StatusTMTimer(t), End(0);
  EXPECT_EQ(Job.Starts, 3);
  EXPECT_EQ(Job.Notices, (std::vector<std::pair<uint32_t, uint32_t>>{{2u, 0u}}));
}

TEST(Displays, PercentAndRemainingTimeRules) {
  EXPECT_EQ(PercentOf(1000, 1000), 99u);
  EXPECT_EQ(PercentOf(5000, 1000), 0u);      // above 100 shows 0
  EXPECT_EQ(PercentOf(7, 0xFFFFFFFFu), 0u);  // the denominator wraps to 0
  EXPECT_EQ(RemainingText(3600.0 * 1000 * 125 + 7999), "125:00:07");
  EXPECT_EQ(RemainingText(-1000.0), "1193046:28:15");  // -1 s read as 2^32 - 1
  EXPECT_EQ(QueueCounterText(1, false), "  1 file in queue [submission inactive]");
}

TEST(QueueLines, NamesAndPlayingTimes) {
  EXPECT_EQ(BaseNameOf("/m/a.b.wav"), "a.b");
  EXPECT_EQ(BaseNameOf("/m/README"), "README");
  EXPECT_EQ(BaseNameOf("/m.d/x"), "x");
  EXPECT_EQ(PlayingTime(125 * 60 + 7), "125:07");
  QueueEntry mp3 = Entry("/m/song.mp3", false);
  mp3.Duration = 3 * 60 + 25;
  EXPECT_EQ(JobLineText(mp3), "song.mp3 (3:25)") << "an MP3 file shows its playing time too";
}

TEST(FormatControls, SelectionDefaultsMonoRuleAndBitrateFollow) {
  QueueCount = 0;
  AppSettings = Settings{};
  QueueEntry mono = Entry("/m/mono.wav", true);
  mono.Channels = 1;
  mono.ChannelMode = 3;
  mono.Bitrate = 2;
  AppendQueueEntry(mono);
  AppendQueueEntry(Entry("/m/s.mp3", false));
  FormatDisplay d = FormatDisplayFor(0, true);
  EXPECT_TRUE(d.Enabled);
  EXPECT_EQ(d.ChannelMode, 3);
  EXPECT_EQ(d.Bitrate, 2);
  EXPECT_EQ(d.InfoText, "  44100hz; 16bit; mono");
  EXPECT_EQ(FormatDisplayFor(0, false).Bitrate, -1);
  d = FormatDisplayFor(1, false);  // an MP3 shows the defaults, BitrateCB whatever the flag says
  EXPECT_FALSE(d.Enabled);
  EXPECT_EQ(d.Bitrate, 5);
  EXPECT_EQ(d.Layer, 2);
  EXPECT_EQ(d.InfoText, "  Layer 3; Joint stereo; 44khz; 128kbit/s");
  d = FormatDisplayFor(-1, true);
  EXPECT_FALSE(d.Enabled);
  EXPECT_EQ(d.InfoText, "");
  EXPECT_EQ(ModeChoiceFor(0, 0), 3);
  EXPECT_EQ(ModeChoiceFor(1, 0), 0);
  QueueCount = 0;
}

}  // namespace

namespace {

TEST(Enqueue, InspectSourceWorksOnTheQueueSlotBeingFilled) {
  ScratchDir dir;
  const std::string path = dir.File("a.mp3");
  const std::vector<uint8_t> frames = Frames(2, FrameFields{});  // 128 kbit/s: 417 bytes each
  WriteFile(path, std::string(frames.begin(), frames.end()));
  const int slot = QueueCount;  // the entry being added is not counted yet
  JobQueue[slot] = QueueEntry{};
  JobQueue[slot].Path = path;
  EXPECT_EQ(InspectSource(slot), InspectAccepted);
  EXPECT_EQ(JobQueue[slot].Bitrate, 128);
  EXPECT_EQ(JobQueue[slot].FileSize, 834u);
  JobQueue[slot] = QueueEntry{};
  EXPECT_EQ(InspectSource(-1), InspectCannotOpen);
  EXPECT_EQ(InspectSource(MaxQueueEntries), InspectCannotOpen);
}

TEST(Enqueue, AFullQueueTakesNothingMore) {
  QueueCount = MaxQueueEntries;
  std::string line;
  EXPECT_EQ(EnqueueFile("/nonexistent/a.wav", line), EnqueueQueueFull);
  EXPECT_EQ(QueueCount, MaxQueueEntries);
  QueueCount = 0;
  EXPECT_EQ(EnqueueFile("/nonexistent/a.wav", line), InspectCannotOpen);
  EXPECT_EQ(QueueCount, 0);
}

TEST(Settings, TompgBesideTheProgramIsTheDefaultOnlyWhenItIsThere) {
  ScratchDir scratch;
  const std::string dir = scratch.Dir();
  AppSettings = Settings{};
  PreferTompgBeside(dir);
  EXPECT_STREQ(AppSettings.TompgDir, "");  // nothing there
  const std::string tompg = dir + "/tompg";
  WriteFile(tompg, "");
  PreferTompgBeside(dir);
  EXPECT_STREQ(AppSettings.TompgDir, "");  // not executable
  chmod(tompg.c_str(), 0755);
  PreferTompgBeside(dir);
  EXPECT_EQ(std::string(AppSettings.TompgDir), dir + "/");
}

}  // namespace
