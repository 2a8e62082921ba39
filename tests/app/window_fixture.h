// The real main window offscreen in a scratch folder of its own: settings, music, outputs.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QFile>
#include <QListView>
#include <QListWidget>
#include <QStringListModel>
#include <cstdio>
#include <string>
#include <vector>

#include "app/scheduler.h"
#include "model/settings.h"
#include "app/tmainform.h"
#include "tests/support/boxes.h"
#include "tests/support/converter.h"
#include "tests/support/files.h"
#include "tests/support/qtwait.h"
#include "tests/support/wave.h"
#include "ui_tmainform.h"

// A PCM WAVE file of a 440 Hz tone in every channel.
inline void WriteTone(const std::string& path, int rate, int channels, int bits, double seconds) {
  WavSignal tone;
  tone.rate = rate;
  tone.channels = channels;
  tone.bits = bits;
  tone.seconds = seconds;
  tone.leftTones = tone.rightTones = {440.0};
  tone.amplitude = 0.3;
  ASSERT_GT(WriteWav(path, tone).dataSize, 0u) << path;
}

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir((Root + "config").c_str(), 0700);
    ::mkdir((Root + "music").c_str(), 0700);
    ::mkdir((Root + "out").c_str(), 0700);
    ::mkdir((Root + "data").c_str(), 0700);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Root + "config"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(Root + "data"));  // the trash
    // Each test starts as the program does: nothing queued, the converter idle and inactive.
    QueueCount = 0;
    FreshConverter();
    View = MainView{};
    Form = new TMainForm;
    StartRecordingBoxes();
    AppSettings.DestinationDir = Root + "out/";
  }
  void TearDown() override {
    delete Form;
    StopRecordingBoxes();
  }
  // The real encoder takes well under a second for minutes of audio: too short a job to suspend,
  // abort or kill at a chosen moment. This puts an encoder in its place that reports its first
  // frame and is then held mid-job until ReleaseEncoder(); from there on it is the real tompg.
  void HoldEncoderMidJob() {
    const std::string real = QCoreApplication::applicationDirPath().toStdString() + "/tompg";
    UseEncoderScript("printf ' frames 1 bytes in 4096 bytes out 418'\n"
                     "while [ ! -e '" + Root + "held/go' ]; do sleep 0.01; done\n"
                     "exec '" + real + "' \"$@\"\n");
  }
  // Puts a shell script in the encoder's place (in held/, the encoder's directory from now on).
  void UseEncoderScript(const std::string& script) {
    const std::string dir = Root + "held/";
    ::mkdir(dir.c_str(), 0700);
    WriteFile(dir + "tompg", "#!/bin/sh\n" + script);
    ::chmod((dir + "tompg").c_str(), 0755);
    ASSERT_LT(dir.size(), sizeof AppSettings.TompgDir);
    std::snprintf(AppSettings.TompgDir, sizeof AppSettings.TompgDir, "%s", dir.c_str());
  }
  void ReleaseEncoder() { WriteFile(Root + "held/go", ""); }

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

  ScratchDir Dir;
  const std::string Root = Dir.Path;
  TMainForm* Form = nullptr;
};
