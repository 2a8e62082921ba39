// The queue as a user meets it, on the real window: a cancelled job destroys nothing and leaves
// nothing, an output never replaces a file that the queue still has to convert, and a box that
// nobody closes never holds the queue up.
#include <QMessageBox>
#include <QPointer>
#include <QFileSystemModel>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

#include "decoder/decoder.h"
#include "tests/support/frames.h"
#include "window_fixture.h"

namespace {

class QueueScenes : public MainWindow {
 protected:
  void Enqueue(const std::vector<std::string>& names) {
    Select(names);
    Form->FileLBDblClick();
    ASSERT_EQ(QueueCount, static_cast<int>(names.size())) << (Boxes.empty() ? "" : Boxes.back());
  }
  bool WaitIdle() {
    return WaitForEvents([&] { return QueueCount == 0 && Idle(); });
  }
};

// A stream long enough that no decode finishes before the test acts on it.
void WriteLongMp3(const std::string& path) {
  FrameFields f;
  f.mode = 0;
  const std::vector<uint8_t> frames = Frames(20000, f);
  WriteFile(path, std::string(frames.begin(), frames.end()));
}

TEST_F(QueueScenes, AbortOrCloseOfADecodeKeepsTheEarlierOutputAndLeavesNothing) {
  WriteLongMp3(Root + "music/x.mp3");
  WriteFile(Root + "out/x.wav", "a complete, earlier x.wav");
  for (bool close : {false, true}) {
    Enqueue({"x.mp3"});
    Form->Controls()->StartBT->click();
    ASSERT_TRUE(View.JobRunning);
    if (close) {
      Form->close();  // and OK to the question
    } else {
      Form->Controls()->AbortBT->click();
    }
    ASSERT_TRUE(WaitForEvents([&] { return JobThreadExitCode(Converter.DecoderThread) != STILL_ACTIVE; }));
    EXPECT_LT(Converter.BytesDone, 20000u * 417) << "the decode was not cut short";
    EXPECT_EQ(ReadFile(Root + "out/x.wav"), "a complete, earlier x.wav") << (close ? "close" : "abort");
    EXPECT_EQ(ListDir(Root + "out"), "x.wav");
    if (!close) {
      ASSERT_TRUE(WaitIdle());
      EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Start"));
      EXPECT_TRUE(Boxes.empty()) << Boxes.front();
    }
    EXPECT_EQ(ListDir(Root + "data/Trash/files"), "") << "the kept x.wav stays in the Trash too";
  }
  EXPECT_EQ(Boxes.size(), 1u);  // the close question
}

// An encoder that neither ends nor cleans up when asked: it is killed after the grace period,
// and the window removes the temporary file it left. The earlier output stays.
TEST_F(QueueScenes, AbortOfAnEncoderThatIgnoresItKillsItAndRemovesItsTemporaryFile) {
  UseEncoderScript(
      "trap '' TERM\n"
      "printf 'partial' > \"$2.tmp-$(printf %06x $(($$ * 4 % 16777216)))\"\n"
      "printf ' frames 1 bytes in 4096 bytes out 418'\n"
      "while :; do sleep 0.01; done\n");
  WriteTone(Root + "music/y.wav", 44100, 2, 16, 1.0);
  WriteFile(Root + "out/y.mp3", "a complete, earlier y.mp3");
  WriteFile(Root + "out/y.mp3.tmp-ffffff", "another writer's, still in the making");
  Enqueue({"y.wav"});
  Form->Controls()->StartBT->click();
  // Until the encoder's own temporary file stands beside the two.
  ASSERT_TRUE(WaitForEvents([&] {
    const std::string names = ListDir(Root + "out");
    return std::count(names.begin(), names.end(), ' ') == 2;
  }));
  Form->Controls()->AbortBT->click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_FALSE(Converter.EncoderProcess.ExitedNormally);
  EXPECT_EQ(ListDir(Root + "out"), "y.mp3 y.mp3.tmp-ffffff");
  EXPECT_EQ(ReadFile(Root + "out/y.mp3"), "a complete, earlier y.mp3");
  EXPECT_TRUE(FileExists(Root + "music/y.wav"));
}

// Destination = the sources' own folder, a.mp3 and a.wav queued (in that order, as the file list
// has them): decoding a.mp3 would replace a.wav before its turn. a.mp3 is taken from the queue
// with a box naming both files; a.wav is encoded, and the a.mp3 it replaces goes to the Trash.
TEST_F(QueueScenes, AnOutputNeverReplacesAQueuedSourceAndAReplacedFileGoesToTheTrash) {
  AppSettings.DestinationDir = Root + "music/";
  WriteTone(Root + "music/a.wav", 44100, 2, 16, 0.5);
  QFile::copy(QStringLiteral(SONIVERT_TEST_MP3), QString::fromStdString(Root + "music/a.mp3"));
  const std::string wav = ReadFile(Root + "music/a.wav"), mp3 = ReadFile(Root + "music/a.mp3");
  Enqueue({"a.mp3", "a.wav"});
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitIdle());
  ASSERT_EQ(Boxes.size(), 1u);
  const std::string both = Root + "music/a.mp3\nwould be converted to\n" + Root + "music/a.wav";
  EXPECT_TRUE(Boxes[0].starts_with("Output file is a queued source: ") && Boxes[0].ends_with(both)) << Boxes[0];
  EXPECT_TRUE(ReadFile(Root + "music/a.wav") == wav) << "a queued source was replaced before its turn";
  const std::string encoded = ReadFile(Root + "music/a.mp3");
  EXPECT_TRUE(encoded != mp3 && encoded.size() > 4) << "a.wav was not encoded";
  EXPECT_TRUE(ReadFile(Root + "data/Trash/files/a.mp3") == mp3) << "the replaced a.mp3 is lost";
}

// x.wav and x.WAV give x.mp3 and x (2).mp3, each its own source's. Encoders that fail (after showing
// progress, with the count for status; or exit 1 without a known line) are told; "delete" keeps both.
TEST_F(QueueScenes, EveryOutputIsItsOwnAndEveryFailureIsTold) {
  AppSettings.Flags = FlagShowErrorBox | FlagDeleteAfterEncoding;
  const std::string real = QCoreApplication::applicationDirPath().toStdString() + "/tompg";
  UseEncoderScript("case \"$1\" in\n"
                   "  *fails.wav) printf ' frames 5 bytes in 4096 bytes out 2090'; exit 5;;\n"
                   "  *one.wav) exit 1;;\n"
                   "esac\nexec '" + real + "' \"$@\"\n");
  for (const char* name : {"fails.wav", "one.wav", "x.WAV"}) WriteTone(Root + "music/" + name, 44100, 2, 16, 0.5);
  WriteTone(Root + "music/x.wav", 44100, 2, 16, 1.0);
  auto encoded = [&](const std::string& wav) {
    RunQuiet({real, wav, Root + "ref.mp3", "-L3", "-B64", "-M1"});
    return ReadFile(Root + "ref.mp3");
  };
  const std::string a = encoded(Root + "music/x.wav"), b = encoded(Root + "music/x.WAV");
  Enqueue({"fails.wav", "one.wav", "x.wav", "x.WAV"});
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitIdle());
  const std::string first = ReadFile(Root + "out/x.mp3"), second = ReadFile(Root + "out/x (2).mp3");
  EXPECT_TRUE(a != b && ((first == a && second == b) || (first == b && second == a))) << "an output is lost";
  ASSERT_EQ(Boxes.size(), 2u);
  const std::string fails = Root + "music/fails.wav", one = Root + "music/one.wav";
  EXPECT_EQ(Boxes[0], fails + ": Encoding failed: exit status 5, but the output was not written\nLast line of the "
                              "encoder: frames 5 bytes in 4096 bytes out 2090\n" + fails);
  EXPECT_EQ(Boxes[1], one + ": Encoding failed: exit status 1, before any progress line\n" + one);
  EXPECT_EQ(ListDir(Root + "music") + " | " + ListDir(Root + "out"), "fails.wav one.wav | x (2).mp3 x.mp3");
}

// Abort while the box of an encoder's error line is open: closing the box does not switch the
// converter back on, and the next file does not start.
TEST_F(QueueScenes, AbortDuringAnEncoderErrorBoxStays) {
  HoldBoxes = true;
  UseEncoderScript(
      "printf ' CANNOT CREATE OUTPUT FILE\\n'\n"
      "while :; do sleep 0.01; done\n");
  WriteTone(Root + "music/a.wav", 44100, 2, 16, 0.5);
  WriteTone(Root + "music/b.wav", 44100, 2, 16, 0.5);
  Enqueue({"a.wav", "b.wav"});
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitForEvents([&] { return !Boxes.empty(); }));
  EXPECT_EQ(Boxes[0], Root + "music/a.wav: Cannot create output file\n" + Root + "music/a.wav");
  EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Start"));  // off while the box is open
  Form->Controls()->AbortBT->click();
  ASSERT_TRUE(WaitForEvents([&] { return Idle(); }));
  CloseHeldBoxes();
  Form->StatusTMTimer();
  EXPECT_FALSE(Converter.SubmissionActive);
  EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Start"));
  EXPECT_EQ(QueueCount, 1);
}

// The real boxes: opened without waiting, the queue runs on while one is open, and a long path
// wraps inside a box no wider than the screen.
TEST_F(QueueScenes, RealBoxesOpenWithoutWaiting) {
  delete Form;
  Form = new TMainForm;  // its own boxes this time, not the recorder
  AppSettings.DestinationDir = Root + "out/";
  const std::string deep = Root + "music/" + std::string(60, 'd') + "/";
  ::mkdir(deep.c_str(), 0700);
  // Two frames whose main data lies before the file: a stream, but no audio to decode.
  FrameFields noAudio;
  noAudio.mainDataBegin = 500;
  const std::vector<uint8_t> empty = Frames(2, noAudio);
  WriteFile(deep + "empty.mp3", std::string(empty.begin(), empty.end()));
  WriteTone(deep + "t.wav", 44100, 2, 16, 0.5);
  Form->OpenDirectory(QString::fromStdString(deep));
  Form->Controls()->FileLB->selectAll();
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, 2);
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_TRUE(FileExists(Root + "out/t.mp3"));
  QMessageBox* box = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* b = qobject_cast<QMessageBox*>(w); b != nullptr && b->isVisible()) box = b;
  }
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->windowTitle(), QString::fromStdString(deep + "empty.mp3"));
  EXPECT_LE(box->width(), box->screen()->availableGeometry().width());
  const QPointer<QMessageBox> closing = box;  // the box deletes itself once closed
  box->button(QMessageBox::Ok)->click();
  EXPECT_TRUE(WaitForEvents([&] { return closing.isNull() || !closing->isVisible(); }));
}

// The smaller things a user saw: a decode that starts shows its own progress, not the last one's;
// an MP3 entry's bitrate (kbit/s) never selects a bitrate item; the information line is whole.
TEST_F(QueueScenes, ProgressBitrateListAndInformationLineOfAnMp3) {
  FrameFields low;  // 8 kbit/s, 22.05 kHz
  low.id = 0;
  low.bitrateIndex = 1;
  FrameFields wide;  // 320 kbit/s joint stereo
  wide.bitrateIndex = 14;
  wide.mode = 1;
  const auto bytes = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
  WriteFile(Root + "music/low.mp3", bytes(Frames(2, low)));
  WriteFile(Root + "music/wide.mp3", bytes(Frames(2, wide)));
  Enqueue({"low.mp3", "wide.mp3"});
  auto* ui = Form->Controls();
  ui->JobLB->item(0)->setSelected(true);
  Form->JobLBClick();
  EXPECT_EQ(ui->BitrateCB->currentIndex(), -1) << "8 kbit/s selected item 8";
  ui->JobLB->item(0)->setSelected(false);
  ui->JobLB->item(1)->setSelected(true);
  Form->StatusTMTimer();
  const QString info = ui->WavInfoP->text();
  EXPECT_EQ(info, QStringLiteral("  Layer 3; Joint stereo; 44khz; 320kbit/s"));
  EXPECT_LE(QFontMetrics(ui->WavInfoP->font()).horizontalAdvance(info), ui->WavInfoP->contentsRect().width());

  // Neither can be decoded: the output folder is missing. The decoder never reads a frame, and
  // the position shown is this job's, 0, not the 999999 a last decode left.
  AppSettings.DestinationDir = Root + "missing/";
  InputPosition.store(999999);
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitIdle());
  EXPECT_EQ(InputPosition.load(), 0u);
  EXPECT_EQ(Boxes.size(), 2u);
}

// A folder that changes on disk does not scroll the tree back to the current folder once the
// user has scrolled it elsewhere.
TEST_F(QueueScenes, TheTreeKeepsTheUsersScrollPosition) {
  for (int i = 0; i < 80; ++i) ::mkdir((Root + "music/d" + std::to_string(100 + i)).c_str(), 0700);
  Form->OpenDirectory(QString::fromStdString(Root + "music/d170"));
  QTreeView* tree = Form->Controls()->DirectoryLB;
  QScrollBar* bar = tree->verticalScrollBar();
  ASSERT_TRUE(WaitForEvents([&] { return bar->value() > 0; }, 10000)) << "the current folder was not shown";
  bar->triggerAction(QAbstractSlider::SliderToMinimum);  // the user scrolls up
  ASSERT_EQ(bar->value(), 0);
  auto* model = static_cast<QFileSystemModel*>(tree->model());
  int reads = 0;
  const QString music = QString::fromStdString(Root + "music");
  QObject scope;  // the count's connections end with the test
  QObject::connect(model, &QFileSystemModel::directoryLoaded, &scope,
                   [&](const QString& path) { reads += path == music; });
  // The tree reacts to a read at once, to the sort after it through the event queue.
  bool sorted = false;
  QObject::connect(model, &QFileSystemModel::layoutChanged, &scope,
                   [&] { QTimer::singleShot(0, &scope, [&] { sorted = true; }); });
  ::mkdir((Root + "music/d099").c_str(), 0700);
  ASSERT_TRUE(WaitForEvents([&] { return reads > 0 && sorted; })) << "the change was not seen";
  EXPECT_EQ(bar->value(), 0);
}

}  // namespace
