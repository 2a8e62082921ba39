// Grabs the main window (with a sample queue and a running job), the splash, about,
// configuration and directory browser windows into PNG files:
//   dialogs_screenshots OUTDIR [--dark]
// Run with QT_QPA_PLATFORM=offscreen (and QT_SCALE_FACTOR=2 for a high-density look).
#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <cstdio>
#include <cstring>

#include "app/scheduler.h"
#include "model/settings.h"
#include "app/dialogs.h"
#include "app/taboutform.h"
#include "app/tconfigform.h"
#include "app/tmainform.h"
#include "app/tsplashform.h"
#include "tests/support/darkpalette.h"
#include "ui_tmainform.h"

namespace {

bool Save(QWidget* w, const QString& path) {
  w->show();
  QApplication::processEvents();
  const bool ok = w->grab().save(path);
  w->hide();
  if (!ok) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTDIR [--dark]\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  if (argc > 2 && std::strcmp(argv[2], "--dark") == 0) {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(DarkPalette());
  }
  // The main window as it looks while a queue runs; its settings come from a store of its own.
  qputenv("XDG_CONFIG_HOME", (out + QStringLiteral("/.config")).toLocal8Bit());
  TMainForm mainForm;
  for (const char* line : {"Interview take 2.wav (3:20)", "Moonlight Sonata.wav (3:20)",
                           "Concert excerpt.mp3", "Voice memo.wav (1:05)"})
    mainForm.Controls()->JobLB->addItem(QString::fromLatin1(line));
  Converter.SubmissionActive = true;
  View.JobRunning = true;
  View.QueueCounter = QueueCounterText(4, true);
  View.StatusLine =
      "  Encoding /home/ann/Music/Field recording 03.wav [Layer 3; Joint stereo; 128 kbit/s] ...";
  View.StatusPathBegin = 11;  // the path: the part that gives way when the line is too long
  View.StatusPathEnd = View.StatusLine.find(" [");
  View.TimeText = "00:00:02";
  View.PercentText = "55%";
  View.Progress = 55;
  View.HasCurrentLine = true;
  View.CurrentLine = "Field recording 03.wav (3:20)";
  View.CurrentSelected = true;
  View.CurrentHint = "Suspend";
  mainForm.ApplyView();
  if (!Save(&mainForm, out + QStringLiteral("/mainform-offscreen.png"))) return 1;
  QString error;
  if (!CreateDialogWindows(nullptr, error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  SetDefaultSettings();
  std::strcpy(AppSettings.TompgDir, "/usr/local/bin/");
  AppSettings.DestinationDir = "/home/ann/Music/Converted/";
  ConfigForm->SetConfigCodecPath(AppSettings.TompgDir);
  ConfigForm->SetConfigDirPath(AppSettings.DestinationDir);
  ConfigForm->ConfigLayer3RB->setChecked(true);
  ConfigForm->ConfigJointRB->setChecked(true);
  ConfigForm->ConfigBitrateCB->setCurrentIndex(5);
  ConfigForm->ShowBoxCB->setChecked(true);
  SplashForm->SplashVersion->setText(QString::fromLatin1(VersionText));
  AboutForm->AboutVersion->setText(QString::fromLatin1(VersionText));
  TDirectoryBrowser browser(nullptr, "/usr/share");
  const bool ok = Save(ConfigForm, out + QStringLiteral("/config.png")) &&
                  Save(AboutForm, out + QStringLiteral("/about.png")) &&
                  Save(SplashForm, out + QStringLiteral("/splash.png")) &&
                  Save(&browser, out + QStringLiteral("/dirbrowser.png"));
  return ok ? 0 : 1;
}
