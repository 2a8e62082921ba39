// Renders a sample of each of Sonivert's captioned windows to PNG files, for looking at them:
//   caption_render OUTDIR [--dark] [--inactive]
// writes OUTDIR/caption-main.png, caption-configure.png and caption-about.png;
//   caption_render --run
// shows the main sample for trying the caption by hand and prints each command it sends.
#include <QApplication>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtTest/QTest>
#include <cstdio>
#include <memory>

#include "app/captions.h"
#include "tests/support/darkpalette.h"

namespace {

std::unique_ptr<QWidget> MainSample() {
  auto w = std::make_unique<QWidget>();
  w->setWindowTitle(QStringLiteral("Sonivert"));
  w->setFixedSize(632, 425);
  auto* files = new QFrame(w.get());
  files->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  files->setGeometry(8, 8, 393, 393);
  auto* jobs = new QFrame(w.get());
  jobs->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  jobs->setGeometry(408, 8, 217, 257);
  (new QPushButton(QStringLiteral("Configuration"), jobs))->setGeometry(8, 16, 97, 25);
  (new QPushButton(QStringLiteral("Start"), jobs))->setGeometry(8, 50, 67, 24);
  return w;
}

std::unique_ptr<QWidget> ConfigureSample() {
  auto w = std::make_unique<QWidget>(nullptr, Qt::Tool);
  w->setWindowTitle(QStringLiteral("Sonivert configuration"));
  w->setFixedSize(378, 329);
  auto* general = new QGroupBox(QStringLiteral("General options"), w.get());
  general->setGeometry(8, 8, 362, 150);
  (new QPushButton(QStringLiteral("OK"), w.get()))->setGeometry(210, 296, 75, 25);
  (new QPushButton(QStringLiteral("Cancel"), w.get()))->setGeometry(295, 296, 75, 25);
  return w;
}

std::unique_ptr<QWidget> AboutSample() {
  auto w = std::make_unique<QWidget>(nullptr, Qt::Tool);
  w->setWindowTitle(QStringLiteral("About Sonivert"));
  w->setFixedSize(320, 219);
  auto* picture = new QLabel(w.get());
  picture->setGeometry(0, 0, 320, 201);
  picture->setStyleSheet(QStringLiteral("background: black"));
  auto* credit = new QLabel(QStringLiteral("Credit line"), w.get());
  credit->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  credit->setGeometry(0, 201, 320, 18);
  return w;
}

// A stand-in for the application's icon, so the sample does not show the toolkit's own.
QIcon SampleIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(230, 160, 30));
  p.setPen(QPen(QColor(90, 50, 0), 2));
  p.drawEllipse(3, 3, 26, 26);
  p.setBrush(QColor(90, 50, 0));
  p.drawEllipse(12, 12, 8, 8);
  return QIcon(pm);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: caption_render OUTDIR [--dark] [--inactive]\n");
    return 2;
  }
  const QStringList args = QApplication::arguments();
  if (args.at(1) == QStringLiteral("--run")) {
    std::unique_ptr<QWidget> w = MainSample();
    const HelioCaptionCreation c = AttachSonivertCaption(w.get(), SonivertCaption::Main);
    if (!c.Caption) return 1;
    QObject::connect(c.Caption, &THelioCaption::SysCommandSent, [](HelioSysCommand s) {
      std::printf("command %d\n", static_cast<int>(s));
      std::fflush(stdout);
    });
    w->show();
    return QApplication::exec();
  }
  if (args.contains(QStringLiteral("--dark"))) QApplication::setPalette(DarkPalette());
  QApplication::setWindowIcon(SampleIcon());
  const bool inactive = args.contains(QStringLiteral("--inactive"));
  QWidget other;  // takes the activation for the inactive look
  other.resize(50, 50);

  struct Sample {
    const char* File;
    std::unique_ptr<QWidget> Window;
    SonivertCaption Which;
  };
  Sample samples[] = {{"caption-main.png", MainSample(), SonivertCaption::Main},
                      {"caption-configure.png", ConfigureSample(), SonivertCaption::Configure},
                      {"caption-about.png", AboutSample(), SonivertCaption::About}};
  int failures = 0;
  for (Sample& s : samples) {
    const HelioCaptionCreation c = AttachSonivertCaption(s.Window.get(), s.Which);
    if (!c.Caption) {
      std::fprintf(stderr, "%s\n", qPrintable(c.Error));
      return 1;
    }
    QWidget* active = inactive ? &other : s.Window.get();
    s.Window->show();
    active->show();
    active->activateWindow();
    if (!QTest::qWaitForWindowActive(active)) std::fprintf(stderr, "%s: not activated\n", s.File);
    const QString path = args.at(1) + QLatin1Char('/') + QLatin1String(s.File);
    if (!s.Window->grab().save(path)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
