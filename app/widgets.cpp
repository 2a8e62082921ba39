#include "app/widgets.h"

#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QWidget>

void PlaceVersionLabel(QLabel* label, int windowWidth) {
  const int height = qMax(18, label->sizeHint().height());
  const int width = qMax(114, label->sizeHint().width());
  label->setGeometry(windowWidth - 6 - width, 6, width, height);
}

void CentreOnScreen(QWidget* window) {
  if (QScreen* s = window->screen()) window->move(s->availableGeometry().center() - window->rect().center());
}

QString BytesToText(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }
std::string TextToBytes(const QString& text) { return QFile::encodeName(text).toStdString(); }

QPixmap RenderPicture(const char* resource, QSize size, qreal pixelRatio) {
  QSvgRenderer renderer(QString::fromLatin1(resource));
  if (!renderer.isValid()) return QPixmap();
  QPixmap pixmap(size * pixelRatio);
  pixmap.setDevicePixelRatio(pixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}
