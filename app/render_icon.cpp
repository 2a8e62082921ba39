// Renders the application icon (SVG) into the PNG sizes of the desktop's icon theme, at build
// time:  sonivert-render-icon ICON.svg OUTDIR NAME SIZE...
// writes OUTDIR/<SIZE>x<SIZE>/apps/NAME.png for each size.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
  // A build machine may have no display; the picture needs none.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s ICON.svg OUTDIR NAME SIZE...\n", argv[0]);
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  if (!renderer.isValid()) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  const QString outDir = QString::fromLocal8Bit(argv[2]);
  const QString name = QString::fromLocal8Bit(argv[3]);
  for (int i = 4; i < argc; ++i) {
    bool ok = false;
    const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
    if (!ok || size < 1 || size > 1024) {
      std::fprintf(stderr, "%s: not a size: %s\n", argv[0], argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!QDir().mkpath(dir) || !image.save(file)) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
      return 1;
    }
  }
  return 0;
}
