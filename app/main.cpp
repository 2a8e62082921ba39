// Sonivert: the application object, its windows in their start-up order, the message loop.
#include <QApplication>
#include <QMessageBox>

#include "app/dialogs.h"
#include "app/tmainform.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  // A decode that meets a file size limit fails with its box instead of ending the program; a
  // program ended by a signal leaves no half-written output behind.
  PrepareOutputSignals();
  QApplication application(argc, argv);
  // The name only: a display name would be appended to every box's and dialog's title.
  QApplication::setApplicationName(QStringLiteral("Sonivert"));
  // The desktop entry's name, so that the desktop shows the program's own icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.sonivert.Sonivert"));
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
