// Sonivert: the application object, its windows in their start-up order, the message loop.
#include <QApplication>

#include "app/tmainform.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Sonivert"));
  QApplication::setApplicationDisplayName(QStringLiteral("Sonivert"));
  TMainForm mainForm;
  mainForm.show();
  return QApplication::exec();
}
