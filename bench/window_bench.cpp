// The main window's own costs, offscreen: a scheduler tick over a full queue, a console read,
// the enqueue of 1000 files (beside a peer that only opens and reads the head of each file), and
// how late the GUI thread answers a 10 ms timer while the decoder thread works on a 300 s MP3.
//
//   build/bin/window_bench                       (needs build/bin/tompg for the MP3)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProcess>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/scheduler.h"
#include "model/settings.h"
#include "app/tmainform.h"
#include "encoder/consolemonitor.h"
#include "platform/console.h"
#include "platform/messagebox.h"
#include "ui_tmainform.h"

namespace {

TMainForm* Form = nullptr;
QTemporaryDir* Scratch = nullptr;

void NoBox(const char*, const char*, BoxClosed closed) {
  if (closed != nullptr) closed();
}

void WriteWav(const std::string& path, uint32_t dataBytes) {
  auto le = [](std::string& s, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  };
  std::string h = "RIFF";
  le(h, 36 + dataBytes, 4);
  h += "WAVEfmt ";
  le(h, 16, 4);
  le(h, 1, 2);
  le(h, 2, 2);
  le(h, 44100, 4);
  le(h, 176400, 4);
  le(h, 4, 2);
  le(h, 16, 2);
  h += "data";
  le(h, dataBytes, 4);
  h.append(dataBytes, '\0');
  std::ofstream(path, std::ios::binary) << h;
}

std::string FilesDir() { return Scratch->path().toStdString() + "/files/"; }

void FillQueue(int n) {
  Form->ClearBTClick();
  for (int i = 0; i < n; ++i) {
    QueueEntry e;
    e.Path = "/music/track" + std::to_string(i) + ".wav";
    e.BaseName = BaseNameOf(e.Path);
    e.IsWave = 1;
    e.Channels = 2;
    e.SampleRate = 44100;
    e.BitsPerSample = 16;
    e.Duration = 200;
    AppendQueueEntry(e);
    Form->Controls()->JobLB->addItem(QString::fromStdString(JobLineText(e)));
  }
}

void BM_WindowTick(benchmark::State& state) {
  FillQueue(static_cast<int>(state.range(0)));
  Form->Controls()->JobLB->item(static_cast<int>(state.range(0)) / 2)->setSelected(true);
  for (auto _ : state) Form->StatusTMTimer();
  Form->ClearBTClick();
}
BENCHMARK(BM_WindowTick)->Arg(1)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_ConsoleRead(benchmark::State& state) {
  Converter.EncoderJob = true;
  WriteConsole("\n frames 1234 bytes in 5678901 bytes out 456789");  // read from column 1
  for (auto _ : state) ReadConsoleTTimer(0);
  state.counters["frames"] = Converter.FramesDone;
}
BENCHMARK(BM_ConsoleRead)->Unit(benchmark::kMicrosecond);

// The enqueue of every file of a folder of 1000 WAV files, by one double click.
void BM_Enqueue1000(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Form->ClearBTClick();
    Form->OpenDirectory(QString::fromStdString(FilesDir()));
    Form->Controls()->FileLB->selectAll();
    state.ResumeTiming();
    Form->FileLBDblClick();
  }
  state.counters["queued"] = QueueCount;
  Form->ClearBTClick();
}
BENCHMARK(BM_Enqueue1000)->Unit(benchmark::kMillisecond)->Iterations(5);

// The peer: opening each of the same files and reading its first 64 bytes, which any
// inspection must do at least.
void BM_OpenAndReadHead1000(benchmark::State& state) {
  std::vector<std::string> names;
  for (int i = 0; i < 1000; ++i) names.push_back(FilesDir() + "file" + std::to_string(i) + ".wav");
  char head[64];
  for (auto _ : state) {
    for (const std::string& name : names) {
      const int fd = ::open(name.c_str(), O_RDONLY);
      benchmark::DoNotOptimize(::read(fd, head, sizeof head));
      ::close(fd);
    }
  }
}
BENCHMARK(BM_OpenAndReadHead1000)->Unit(benchmark::kMillisecond)->Iterations(5);

// How late a 10 ms timer fires on the GUI thread while a 300 s MP3 decodes through the queue.
void MeasureResponsiveness() {
  const std::string dir = Scratch->path().toStdString() + "/long/";
  ::mkdir(dir.c_str(), 0700);
  WriteWav(dir + "long.wav", 300u * 176400u);
  const QString tompg = QCoreApplication::applicationDirPath() + QStringLiteral("/tompg");
  QProcess encoder;
  encoder.setStandardOutputFile(QProcess::nullDevice());
  encoder.start(tompg, {QString::fromStdString(dir + "long.wav"), QString::fromStdString(dir + "long.mp3"),
                        QStringLiteral("-L3"), QStringLiteral("-B64"), QStringLiteral("-M1")});
  if (!encoder.waitForFinished(600000)) {
    std::printf("responsiveness: no tompg beside the benchmark\n");
    return;
  }
  ::unlink((dir + "long.wav").c_str());
  AppSettings.DestinationDir = dir;
  Form->OpenDirectory(QString::fromStdString(dir));
  Form->Controls()->FileLB->selectAll();
  Form->FileLBDblClick();
  Form->StartBTClick();
  // The peer: the same timer on the same window for the same time with no job.
  const auto measure = [](const auto& busy) {
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    double expected = 10;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      late.push_back(std::max(0.0, static_cast<double>(clock.elapsed()) - expected));
      expected = static_cast<double>(clock.elapsed()) + 10;
    });
    probe.start(10);
    while (busy(clock.elapsed())) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    probe.stop();
    std::sort(late.begin(), late.end());
    if (late.empty()) late.push_back(0);
    std::printf("%zu timer ticks in %.2f s, lateness median %.1f ms, p99 %.1f ms, max %.1f ms\n", late.size(),
                clock.elapsed() / 1000.0, late[late.size() / 2], late[late.size() * 99 / 100], late.back());
    return clock.elapsed();
  };
  std::printf("responsiveness during a 300 s MP3 decode: ");
  const qint64 decodeMs = measure(
      [](qint64) { return QueueCount > 0 || !Converter.EndHandled || Converter.StatusText != "Idle ..."; });
  std::printf("the same window idle for as long:         ");
  measure([decodeMs](qint64 elapsed) { return elapsed < decodeMs; });
  Form->StartBTClick();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QTemporaryDir scratch;
  Scratch = &scratch;
  qputenv("XDG_CONFIG_HOME", (scratch.path() + QStringLiteral("/config")).toUtf8());
  ::mkdir(FilesDir().c_str(), 0700);
  for (int i = 0; i < 1000; ++i) WriteWav(FilesDir() + "file" + std::to_string(i) + ".wav", 4410 * 4);
  TMainForm form;
  Form = &form;
  MessageBoxHook = NoBox;
  ::benchmark::Initialize(&argc, argv);
  ::benchmark::RunSpecifiedBenchmarks();
  MeasureResponsiveness();
  return 0;
}
