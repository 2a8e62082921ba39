// The real main window, offscreen: files go from the browser into the queue, the converter runs
// the real encoder (tompg beside the test program) and the real decoder thread, and nothing a
// user queued is ever touched.
#include <QTimer>

#include "app/dialogs.h"
#include "encoder/rates.h"
#include "app/taboutform.h"
#include "app/tconfigform.h"
#include "app/tdirectorybrowser.h"
#include "app/tsplashform.h"
#include "window_fixture.h"

namespace {

TEST_F(MainWindow, EnqueueShowsLinesFormatsAndStopsAtARefusedFile) {
  WriteTone(Root + "music/a.b.wav", 22050, 1, 8, 1.0);
  WriteFile(Root + "music/b.wav", "not a wave file at all");
  WriteTone(Root + "music/c.wav", 48000, 2, 24, 0.5);
  Select({"a.b.wav", "b.wav", "c.wav"});
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, 1);
  EXPECT_EQ(JobQueue[0].BaseName, "a.b");
  EXPECT_EQ(JobQueue[0].ChannelMode, 3);  // mono, whatever the default
  ASSERT_EQ(Boxes.size(), 1u);
  EXPECT_EQ(Boxes[0], "Unknown file type: Unknown file type\n" + Root + "music/b.wav");
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
  // The lists are in the numbering of the tables the status line and the encoder use.
  ASSERT_EQ(ui->BitrateCB->count(), BitrateCount);
  for (int i = 0; i < BitrateCount; ++i)
    EXPECT_EQ(ui->BitrateCB->itemText(i), QString::number(BitrateTable[i]) + QStringLiteral(" kbit/s"));
  for (QAbstractButton* mode : {ui->ModeRB0, ui->ModeRB1, ui->ModeRB2, ui->ModeRB3})
    EXPECT_EQ(mode->text(), QString::fromLatin1(ModeNameTable[mode->objectName().back().digitValue()]));
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
  const std::string wavBefore = ReadFile(Root + "music/tone.wav");
  Select({"song.mp3", "tone.wav"});
  Form->FileLBDblClick();
  ASSERT_EQ(QueueCount, 2);
  Form->Controls()->StartBT->click();
  EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Stop"));
  ASSERT_TRUE(WaitForEvents([&] { return QueueCount == 0 && Idle(); })) << View.StatusLine;
  EXPECT_TRUE(Boxes.empty()) << Boxes.front();

  // The encoded file starts with a Layer III frame header, the decoded one matches the
  // command-line decoder byte for byte.
  const std::string mp3 = ReadFile(Root + "out/tone.mp3");
  ASSERT_GE(mp3.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(mp3[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(mp3[1]) & 0xFE, 0xFA);
  const std::string reference = Root + "reference.wav";
  ASSERT_EQ(RunQuiet({QCoreApplication::applicationDirPath().toStdString() + "/sonivert-decode",
                      Root + "music/song.mp3", reference}),
            0);
  EXPECT_EQ(ReadFile(Root + "out/song.wav"), ReadFile(reference));
  EXPECT_EQ(ReadFile(Root + "music/tone.wav"), wavBefore);

  // A long encode: suspended by a click on its line, resumed, aborted. The queue keeps its rest.
  AppSettings.Flags |= FlagDeleteAfterEncoding;
  HoldEncoderMidJob();
  WriteTone(Root + "music/long.wav", 48000, 2, 16, 120.0);
  const std::string longBefore = ReadFile(Root + "music/long.wav");
  Select({"long.wav", "tone.wav"});
  Form->FileLBDblClick();
  ASSERT_TRUE(WaitForEvents([&] { return View.JobRunning && Converter.BytesDone > 0; }));
  Form->CurrentLBClick();
  EXPECT_TRUE(Converter.Suspended);
  ASSERT_TRUE(
      WaitForEvents([&] { return Form->Controls()->CurrentLB->toolTip() == QStringLiteral("Resume"); }));
  Form->CurrentLBClick();
  EXPECT_FALSE(Converter.Suspended);
  Form->Controls()->AbortBT->click();
  ASSERT_TRUE(WaitForEvents([&] { return Idle(); }));
  EXPECT_EQ(Form->Controls()->StartBT->text(), QStringLiteral("Start"));
  EXPECT_EQ(QueueCount, 1);
  EXPECT_EQ(ReadFile(Root + "music/long.wav"), longBefore);
  EXPECT_EQ(ReadFile(Root + "music/tone.wav"), wavBefore);
}

// One rule of what a drive is: the main window and the directory browser list the same ones.
TEST_F(MainWindow, TheDirectoryBrowserListsTheMainWindowsDrives) {
  TDirectoryBrowser browser(Form, "/");
  QStringList ours, its;
  for (int i = 0; i < Form->Controls()->DriveCB->count(); ++i) ours << Form->Controls()->DriveCB->itemText(i);
  for (int i = 0; i < browser.DriveComboBox1->count(); ++i) its << browser.DriveComboBox1->itemText(i);
  EXPECT_EQ(ours, its);
  EXPECT_TRUE(ours.contains(QStringLiteral("/")));
}

// Start-up: the dialogs come after the main window, which owns them; showing the main window
// opens the splash, which closes itself on its 26th tick (the first tick when shown again).
TEST_F(MainWindow, StartUpOrderAndTheSplashOnShow) {
  QString error;
  ASSERT_TRUE(CreateDialogWindows(Form, error)) << error.toStdString();
  for (QWidget* dialog : {static_cast<QWidget*>(SplashForm), static_cast<QWidget*>(AboutForm),
                          static_cast<QWidget*>(ConfigForm)}) {
    EXPECT_EQ(dialog->parentWidget(), Form);
  }
  SplashTicks = 2;  // a short count: the rule, not the 2.5 seconds, is under test
  // The splash runs a modal loop of its own; a timer looks in from inside it.
  int shown = 0;
  bool wasVisible = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (SplashForm->isVisible() && !wasVisible) ++shown;
    wasVisible = SplashForm->isVisible();
  });
  watch.start(5);
  Form->show();
  ASSERT_TRUE(WaitForEvents([&] { return shown == 1 && !wasVisible; }, 10000));
  EXPECT_EQ(SplashForm->SplashVersion->text(), QStringLiteral("Version 0.5"));
  EXPECT_EQ(SplashTicks, 0);
  Form->hide();
  Form->show();  // shown again: the splash opens and closes at its first tick
  ASSERT_TRUE(WaitForEvents([&] { return shown == 2 && !wasVisible; }, 10000));
  // The dialogs go with the window at the end of the test; nothing may reach them after.
  SplashForm = nullptr;
  AboutForm = nullptr;
  ConfigForm = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
