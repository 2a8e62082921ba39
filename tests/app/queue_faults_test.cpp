// The queue under faults, on the real window: a killed encoder, a destination that disappears,
// a full disk, sources that change behind the queue's back, and a long run of mixed jobs. In
// every case no source is lost and the queue goes on.
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "window_fixture.h"

namespace {

class QueueFaults : public MainWindow {
 protected:
  void SetUp() override {
    MainWindow::SetUp();
    AppSettings.Flags = FlagShowErrorBox | FlagDeleteAfterEncoding;
  }
  // Waits until the queue is empty and the window idle, ticking faster than the window's timer
  // would; eachTick, when given, runs after every tick.
  bool WaitQueueEnd(int timeoutMs = 60000, const std::function<void()>& eachTick = {}) {
    return WaitForEvents(
        [&] {
          Form->StatusTMTimer();
          if (eachTick) eachTick();
          return QueueCount == 0 && Idle();
        },
        timeoutMs);
  }
  // Runs the queue to its end.
  bool RunQueue(int timeoutMs = 120000) {
    Form->Controls()->StartBT->click();
    const bool ended = WaitQueueEnd(timeoutMs);
    if (!ended)
      std::printf("queue %d, end handled %d, status '%s', boxes %zu\n", QueueCount, Converter.EndHandled,
                  View.StatusLine.c_str(), Boxes.size());
    return ended;
  }
  std::string Mp3() { return Root + "music/song.mp3"; }
  void CopyMp3() { QFile::copy(QStringLiteral(SONIVERT_TEST_MP3), QString::fromStdString(Mp3())); }
};

TEST_F(QueueFaults, EncoderKilledMidJobDeletesNothingAndTheQueueGoesOn) {
  HoldEncoderMidJob();
  WriteTone(Root + "music/long.wav", 48000, 2, 16, 60.0);
  WriteTone(Root + "music/short.wav", 44100, 1, 16, 0.5);
  const std::string before = ReadFile(Root + "music/long.wav");
  Select({"long.wav", "short.wav"});
  Form->FileLBDblClick();
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitForEvents([&] { return View.JobRunning && Converter.BytesDone > 0; }));
  ::kill(Converter.EncoderProcess.Pid, SIGKILL);
  ReleaseEncoder();  // the next job runs the real encoder to its end
  ASSERT_TRUE(WaitForEvents([&] { return QueueCount == 0 && Converter.EndHandled && !View.JobRunning; }));
  EXPECT_EQ(ReadFile(Root + "music/long.wav"), before);
  EXPECT_FALSE(FileExists(Root + "music/short.wav"));  // the next job succeeded: its source went to the trash
  EXPECT_TRUE(FileExists(Root + "out/short.mp3"));
}

TEST_F(QueueFaults, DestinationRemovedMidQueueFailsEachJobAndKeepsEverySource) {
  WriteTone(Root + "music/a.wav", 44100, 2, 16, 0.5);
  WriteTone(Root + "music/b.wav", 44100, 2, 16, 0.5);
  CopyMp3();
  Select({"a.wav"});
  Form->FileLBDblClick();
  ASSERT_TRUE(RunQueue());
  EXPECT_TRUE(FileExists(Root + "out/a.mp3"));
  // The destination goes between two jobs; the converter stays active.
  QDir(QString::fromStdString(Root + "out")).removeRecursively();
  Select({"b.wav", "song.mp3"});
  Form->FileLBDblClick();
  ASSERT_TRUE(WaitQueueEnd());
  ASSERT_EQ(Boxes.size(), 2u);
  EXPECT_EQ(Boxes[0], Root + "music/b.wav: Cannot create output file\n" + Root + "music/b.wav");
  EXPECT_TRUE(FileExists(Root + "music/b.wav"));
  EXPECT_TRUE(FileExists(Mp3()));
  bool decodeReported = false;
  for (const std::string& box : Boxes)
    decodeReported |= box.rfind(Mp3() + ": Unable to decode source file", 0) == 0;
  EXPECT_TRUE(decodeReported);
}

TEST_F(QueueFaults, FullDiskDuringAnEncodeKeepsTheSource) {
  if (::geteuid() != 0) GTEST_SKIP() << "a small file system needs root to mount";
  ASSERT_EQ(::mount("tmpfs", (Root + "out").c_str(), "tmpfs", 0, "size=64k"), 0);
  WriteTone(Root + "music/big.wav", 44100, 2, 16, 30.0);  // about 480 KB of MP3 at 128 kbit/s
  CopyMp3();
  Select({"big.wav", "song.mp3"});
  Form->FileLBDblClick();
  const bool ran = RunQueue();
  ::umount2((Root + "out").c_str(), MNT_DETACH);
  ASSERT_TRUE(ran);
  EXPECT_TRUE(FileExists(Root + "music/big.wav"));
  EXPECT_TRUE(FileExists(Mp3()));
  EXPECT_FALSE(Boxes.empty());
}

TEST_F(QueueFaults, SourcesRemovedOrReplacedAfterEnqueueAreReported) {
  WriteTone(Root + "music/gone.wav", 44100, 2, 16, 0.5);
  WriteTone(Root + "music/swapped.wav", 44100, 2, 16, 0.5);
  CopyMp3();
  Select({"gone.wav", "song.mp3", "swapped.wav"});
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, 3);
  ::unlink((Root + "music/gone.wav").c_str());
  ::unlink(Mp3().c_str());
  WriteFile(Root + "music/swapped.wav", "now a text file");
  ASSERT_TRUE(RunQueue());
  ASSERT_EQ(Boxes.size(), 3u) << (Boxes.empty() ? "" : Boxes[0]);
  EXPECT_EQ(Boxes[0], Root + "music/gone.wav: Cannot open input file\n" + Root + "music/gone.wav");
  EXPECT_EQ(Boxes[1].rfind(Mp3() + ": Unable to decode source file", 0), 0u);
  EXPECT_EQ(Boxes[2], Root + "music/swapped.wav: Unrecognized PCM format\n" + Root + "music/swapped.wav");
  EXPECT_TRUE(FileExists(Root + "music/swapped.wav"));
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool UnderAddressSanitizer = true;
#else
constexpr bool UnderAddressSanitizer = false;
#endif
#else
constexpr bool UnderAddressSanitizer = false;
#endif

// Processes whose parent is this one, zombies included, from /proc.
int Children() {
  const std::string self = std::to_string(::getpid());
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    // Fields after the command name, which is in parentheses and may hold anything: state, parent.
    const std::string stat = ReadFile(it->path().string() + "/stat");
    const size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) continue;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string state, parent;
    fields >> state >> parent;
    if (parent == self) ++n;
  }
  return n;
}
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// SONIVERT_SOAK_FILES sets the length of the run (1000 for the full soak; the suite runs 60).
TEST_F(QueueFaults, SoakOfMixedJobsLeavesNoDescriptorChildOrGrowth) {
  const char* env = std::getenv("SONIVERT_SOAK_FILES");
  const int files = env != nullptr ? std::atoi(env) : 60;
  AppSettings.Flags = FlagShowErrorBox;
  for (int i = 0; i < files; ++i) {
    char name[32];
    if (i % 2 == 0) {
      std::snprintf(name, sizeof name, "s%04d.wav", i);
      WriteTone(Root + "music/" + name, 22050, 1 + i % 4 / 2, 16, 0.2);
    } else {
      std::snprintf(name, sizeof name, "s%04d.mp3", i);
      QFile::copy(QStringLiteral(SONIVERT_TEST_MP3), QString::fromStdString(Root + "music/" + name));
    }
  }
  Form->OpenDirectory(QString::fromStdString(Root + "music"));
  Form->Controls()->FileLB->selectAll();
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, files);
  // The baseline is taken once the run is under way: the window's browser maps the MIME
  // database once, lazily, on a thread of its own.
  const int warmUp = std::min(100, files / 2);
  long rssAfter100 = 0;
  int fdsBefore = 0;
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitQueueEnd(30 * 60 * 1000, [&] {
    if (rssAfter100 == 0 && QueueCount <= files - warmUp) {
      rssAfter100 = ResidentKb();
      fdsBefore = OpenFdCount();
    }
  }));
  const long rssEnd = ResidentKb();
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();
  QDir out(QString::fromStdString(Root + "out"));
  EXPECT_EQ(out.entryList(QDir::Files).size(), files);
  for (const QString& name : out.entryList(QDir::Files)) {
    const std::string head = ReadFile((Root + "out/") + name.toStdString()).substr(0, 4);
    EXPECT_TRUE(head == "RIFF" || (head.size() == 4 && static_cast<unsigned char>(head[0]) == 0xFF))
        << name.toStdString();
  }
  EXPECT_EQ(QDir(QString::fromStdString(Root + "music")).entryList(QDir::Files).size(), files);
  // The baseline is taken while a job runs and may hold that job's files (two more than at the
  // end were seen under load); a descriptor left behind by each job still shows over 30 jobs.
  EXPECT_LE(OpenFdCount(), fdsBefore);
  EXPECT_EQ(Children(), 0);
  // AddressSanitizer keeps freed blocks in quarantine, so the resident size grows there without a
  // leak; its leak check at exit covers that build instead.
  if (!UnderAddressSanitizer) {
    EXPECT_LT(rssEnd - rssAfter100, 10 * 1024);
  }
  std::printf(
      "soak: %d jobs; descriptors %d after %d jobs, %d at the end; resident %ld kB after %d jobs, %ld kB "
      "at the end\n",
      files, fdsBefore, warmUp, OpenFdCount(), rssAfter100, warmUp, rssEnd);
}

}  // namespace
