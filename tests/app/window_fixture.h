// The real main window offscreen in a scratch folder of its own: settings, music, outputs.
#pragma once
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QListWidget>
#include <QStringListModel>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/scheduler.h"
#include "app/core/settings.h"
#include "app/tmainform.h"
#include "platform/messagebox.h"
#include "ui_tmainform.h"


inline std::vector<std::string> Boxes;
inline bool RecordBox(const char* text, const char* caption, MessageBoxButtons) {
  Boxes.push_back(std::string(caption) + ": " + text);
  return true;
}

// Lets the event loop run until cond holds or the deadline passes.
template <typename Cond>
inline bool WaitFor(Cond cond, int timeoutMs = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!cond()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A PCM WAVE file of a 440 Hz tone.
inline void WriteTone(const std::string& path, uint32_t rate, uint16_t channels, uint16_t bits, double seconds) {
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
    // Each test starts as the program does: nothing queued, the converter idle and inactive.
    QueueCount = 0;
    Converter.~ConverterState();
    new (&Converter) ConverterState();
    View = MainView{};
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

