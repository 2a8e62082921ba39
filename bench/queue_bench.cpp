// The window's queue run over a folder of sources, timed from the press of Start to the moment
// the last job's end has been handled: what the queue adds to the conversions themselves. The
// script queue_bench.sh runs it beside the same conversions done one after another on the
// command line.
//
//   build/bin/queue_bench SOURCE_DIR DESTINATION_DIR TOMPG_DIR
//
// Prints "queue: N jobs in T ms" and ends with 0 when every job gave its output without a box.
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "app/scheduler.h"
#include "model/settings.h"
#include "app/tmainform.h"
#include "platform/messagebox.h"
#include "ui_tmainform.h"

namespace {

int BoxCount = 0;

void CountBox(const char* text, const char* caption, BoxClosed closed) {
  std::fprintf(stderr, "box: %s: %s\n", caption, text);
  ++BoxCount;
  if (closed != nullptr) closed();
}

std::string WithSlash(std::string dir) { return dir.empty() || dir.back() == '/' ? dir : dir + "/"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: queue_bench SOURCE_DIR DESTINATION_DIR TOMPG_DIR\n");
    return 64;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  // The user's settings and Trash stay out of it.
  QTemporaryDir scratch;
  qputenv("XDG_CONFIG_HOME", (scratch.path() + QStringLiteral("/config")).toUtf8());
  qputenv("XDG_DATA_HOME", (scratch.path() + QStringLiteral("/data")).toUtf8());
  TMainForm form;
  MessageBoxHook = CountBox;
  AppSettings.DestinationDir = WithSlash(argv[2]);
  std::snprintf(AppSettings.TompgDir, sizeof AppSettings.TompgDir, "%s", WithSlash(argv[3]).c_str());
  AppSettings.Flags = FlagShowErrorBox;
  form.OpenDirectory(QString::fromLocal8Bit(argv[1]));
  form.Controls()->FileLB->selectAll();
  form.FileLBDblClick();
  const int jobs = QueueCount;

  QElapsedTimer clock;
  clock.start();
  form.Controls()->StartBT->click();
  while (QueueCount > 0 || !Converter.EndHandled || View.JobRunning) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  const qint64 ms = clock.elapsed();
  const int outputs = static_cast<int>(QDir(QString::fromLocal8Bit(argv[2])).entryList(QDir::Files).size());
  std::printf("queue: %d jobs in %lld ms, %d outputs, %d boxes\n", jobs, static_cast<long long>(ms), outputs,
              BoxCount);
  return jobs > 0 && outputs == jobs && BoxCount == 0 ? 0 : 1;
}
