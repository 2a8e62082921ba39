// The real main window, offscreen: files go from the browser into the queue, the converter runs
// the real encoder (tompg beside the test program) and the real decoder thread, and nothing a
// user queued is ever touched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QListWidget>
#include <QProcess>
#include <QStringListModel>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/scheduler.h"
#include "app/core/settings.h"
#include "app/tmainform.h"
#include "platform/messagebox.h"
#include "ui_tmainform.h"

namespace {

std::vector<std::string> Boxes;
bool RecordBox(const char* text, const char* caption, MessageBoxButtons) {
  Boxes.push_back(std::string(caption) + ": " + text);
  return true;
}

// Lets the event loop run until cond holds or the deadline passes.
template <typename Cond>
bool WaitFor(Cond cond, int timeoutMs = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!cond()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A PCM WAVE file of a 440 Hz tone.
void WriteTone(const std::string& path, uint32_t rate, uint16_t channels, uint16_t bits, double seconds) {
  const uint32_t frames = static_cast<uint32_t>(rate * seconds);
  const uint32_t bytesPerSample = bits / 8u;
  std::string data;
  for (uint32_t i = 0; i < frames; ++i) {
    const double v = 0.3 * std::sin(2 * M_PI * 440.0 * i / rate);
    for (uint16_t c = 0; c < channels; ++c) {
      if (bits == 8) data.push_back(static_cast<char>(128 + static_cast<int>(v * 127)));
      else PutLe(data, static_cast<uint32_t>(static_cast<int32_t>(v * ((1 << (bits - 1)) - 1))), bytesPerSample);
    }
  }
  std::string wav = "RIFF";
  PutLe(wav, 36 + static_cast<uint32_t>(data.size()), 4);
  wav += "WAVEfmt ";
  PutLe(wav, 16, 4);
  PutLe(wav, 1, 2);
  PutLe(wav, channels, 2);
  PutLe(wav, rate, 4);
  PutLe(wav, rate * channels * bytesPerSample, 4);
  PutLe(wav, channels * bytesPerSample, 2);
  PutLe(wav, bits, 2);
  wav += "data";
  PutLe(wav, static_cast<uint32_t>(data.size()), 4);
  std::ofstream(path, std::ios::binary) << wav << data;
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    Root = Dir.path().toStdString() + "/";
    ::mkdir((Root + "config").c_str(), 0700);
    ::mkdir((Root + "music").c_str(), 0700);
    ::mkdir((Root + "out").c_str(), 0700);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Root + "config"));
    QueueCount = 0;
    Form = new TMainForm;
    MessageBoxHook = RecordBox;
    Boxes.clear();
    AppSettings.DestinationDir = Root + "out/";
  }
  void TearDown() override {
    delete Form;
    MessageBoxHook = MessageBoxToStderr;
  }
  // Shows the music folder and selects the named files in FileLB.
  void Select(const std::vector<std::string>& names) {
    Form->OpenDirectory(QString::fromStdString(Root + "music"));
    QListView* files = Form->Controls()->FileLB;
    auto* model = static_cast<QStringListModel*>(files->model());
    for (const std::string& name : names) {
      const int row = model->stringList().indexOf(QString::fromStdString(name));
      ASSERT_GE(row, 0) << name;
      files->selectionModel()->select(model->index(row), QItemSelectionModel::Select);
    }
  }
  bool Idle() const { return Converter.EndHandled && View.StatusLine == "  Idle ..."; }

  QTemporaryDir Dir;
  std::string Root;
  TMainForm* Form = nullptr;
};

TEST_F(MainWindow, EnqueueShowsLinesFormatsAndStopsAtARefusedFile) {
  WriteTone(Root + "music/a.b.wav", 22050, 1, 8, 1.0);
  std::ofstream(Root + "music/b.wav") << "not a wave file at all";
  WriteTone(Root + "music/c.wav", 48000, 2, 24, 0.5);
  Select({"a.b.wav", "b.wav", "c.wav"});
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, 1);
  EXPECT_EQ(JobQueue[0].BaseName, "a.b");
  EXPECT_EQ(JobQueue[0].ChannelMode, 3);  // mono, whatever the default
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "Unknown file type: " + Root + "music/b.wav");
  EXPECT_FALSE(Form->Controls()->FileLB->selectionModel()->hasSelection());  // re-read
  QListWidget* jobs = Form->Controls()->JobLB;
  ASSERT_EQ(jobs->count(), 1);
  EXPECT_EQ(jobs->item(0)->text(), QStringLiteral("a.b.wav (0:01)"));

  // Selected, the mono entry enables the controls; choosing Stereo jumps back to Mono.
  jobs->item(0)->setSelected(true);
  Form->StatusTMTimer();
  auto* ui = Form->Controls();
  EXPECT_TRUE(ui->ModeRG->isEnabled());
  EXPECT_EQ(ui->WavInfoP->text(), QStringLiteral("  22050hz; 8bit; mono"));
  ui->ModeRB0->click();
  EXPECT_TRUE(ui->ModeRB3->isChecked());
  EXPECT_EQ(JobQueue[0].ChannelMode, 3);
  ui->BitrateCB->setCurrentIndex(0);
  Form->BitrateCBChange(0);
  EXPECT_EQ(JobQueue[0].Bitrate, 0);

  // Only a drag from FileLB with a selection is taken.
  EXPECT_FALSE(Form->JobLBDragOver(Form->Controls()->FileLB));
  Select({"c.wav"});
  EXPECT_TRUE(Form->JobLBDragOver(Form->Controls()->FileLB));
  EXPECT_FALSE(Form->JobLBDragOver(Form->Controls()->DirectoryLB));
  Form->JobLBDragDrop();
  EXPECT_EQ(QueueCount, 2);
}

TEST_F(MainWindow, ConvertsAWavAndAnMp3ToTheEndThenAbortAndSuspendTouchNoSource) {
  WriteTone(Root + "music/tone.wav", 44100, 2, 16, 2.0);
  QFile::copy(QStringLiteral(SONIVERT_TEST_MP3), QString::fromStdString(Root + "music/song.mp3"));
  const std::string wavBefore = ReadAll(Root + "music/tone.wav");
  Select({"song.mp3", "tone.wav"});
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, 2);
  Form->Controls()->StartBT->click();
  EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Stop"));
  ASSERT_TRUE(WaitFor([&] { return QueueCount == 0 && Idle(); })) << View.StatusLine;
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();

  // The encoded file starts with a Layer III frame header, the decoded one matches the
  // command-line decoder byte for byte.
  const std::string mp3 = ReadAll(Root + "out/tone.mp3");
  ASSERT_GE(mp3.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(mp3[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(mp3[1]) & 0xFE, 0xFA);
  const QString reference = QString::fromStdString(Root + "reference.wav");
  ASSERT_EQ(QProcess::execute(QCoreApplication::applicationDirPath() + QStringLiteral("/sonivert-decode"),
                              {QString::fromStdString(Root + "music/song.mp3"), reference}),
            0);
  EXPECT_EQ(ReadAll(Root + "out/song.wav"), ReadAll(reference.toStdString()));
  EXPECT_EQ(ReadAll(Root + "music/tone.wav"), wavBefore);

  // A long encode: suspended by a click on its line, resumed, aborted. The queue keeps its rest.
  AppSettings.Flags |= FlagDeleteAfterEncoding;
  WriteTone(Root + "music/long.wav", 48000, 2, 16, 120.0);
  const std::string longBefore = ReadAll(Root + "music/long.wav");
  Select({"long.wav", "tone.wav"});
  Form->FileLBDblClick();
  ASSERT_TRUE(WaitFor([&] { return View.JobRunning && Converter.BytesDone > 0; }));
  Form->CurrentLBClick();
  EXPECT_TRUE(Converter.Suspended);
  ASSERT_TRUE(WaitFor([&] { return Form->Controls()->CurrentLB->toolTip() == QStringLiteral("Resume"); }));
  Form->CurrentLBClick();
  EXPECT_FALSE(Converter.Suspended);
  Form->Controls()->AbortBT->click();
  ASSERT_TRUE(WaitFor([&] { return Idle(); }));
  EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Start"));
  EXPECT_EQ(QueueCount, 1);
  EXPECT_EQ(ReadAll(Root + "music/long.wav"), longBefore);
  EXPECT_EQ(ReadAll(Root + "music/tone.wav"), wavBefore);
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
