// Sonivert: the application object, its windows in their start-up order, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "app/dialogs.h"
#include "app/tmainform.h"
#include "platform/outputsignals.h"
#include "sonivert_version.h"

namespace {

constexpr char HelpText[] =
    "Usage: sonivert\n"
    "Opens the Sonivert window: a queue that encodes WAV files to MPEG audio (with\n"
    "tompg) and decodes MP3 files to WAV.\n"
    "\n"
    "  --help     show this text and exit\n"
    "  --version  show the version and exit\n"
    "\n"
    "Settings: $XDG_CONFIG_HOME/sonivert/registry.reg\n"
    "(normally ~/.config/sonivert/registry.reg).\n"
    "See sonivert(1), tompg(1) and sonivert-decode(1).\n";

}  // namespace

int main(int argc, char** argv) {
  // Sonivert takes no arguments and ignores what it is given, except a request for its usage or
  // its version, answered before any window is made (so also without a display).
  for (int i = 1; i < argc; ++i) {
    const bool help = std::strcmp(argv[i], "--help") == 0;
    if (help || std::strcmp(argv[i], "--version") == 0) {
      if (help)
        std::fputs(HelpText, stdout);
      else
        std::printf("sonivert %s\n", SonivertVersion);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  // A decode that meets a file size limit fails with its box instead of ending the program; a
  // program ended by a signal leaves no half-written output behind.
  PrepareOutputSignals();
  QApplication application(argc, argv);
  // The name only: a display name would be appended to every box's and dialog's title.
  QApplication::setApplicationName(QStringLiteral("Sonivert"));
  // The desktop entry's name, so that the desktop shows the program's own icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(SonivertAppId));
  // The main window first (it loads the settings and sets up the console), then the splash,
  // about and configuration windows. A failure on the way ends the program after a box.
  TMainForm mainForm;
  QString error;
  if (!CreateDialogWindows(&mainForm, error)) {
    QMessageBox::critical(nullptr, QStringLiteral("Sonivert"), error);
    return 1;
  }
  mainForm.show();
  return QApplication::exec();
}
