// How the caption looks: its sizes taken from the style, and the paint of the gradient, the icon,
// the texts and the caption buttons. What it does with the mouse is in heliocaption.cpp.
#include <qdrawutil.h>

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <algorithm>

#include "decor/heliocaption.h"

namespace {

// The caption button images: the usual close cross, minimize bar, maximize box, restore pair of
// boxes and help question mark, drawn in the button text colour so they follow the palette.
void DrawGlyph(QPainter& p, const QRect& box, int kind, HelioWindowState state, const QColor& colour,
               const QColor& face) {
  const int s = box.width();
  const int t = std::max(1, s / 6);  // stroke
  p.save();
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  const auto frame = [&](QRect r, int top) {  // a window outline with a thicker top edge
    p.drawRect(r.x(), r.y(), r.width(), top);
    p.drawRect(r.x(), r.y(), std::max(1, t / 2), r.height());
    p.drawRect(r.right() + 1 - std::max(1, t / 2), r.y(), std::max(1, t / 2), r.height());
    p.drawRect(r.x(), r.bottom() + 1 - std::max(1, t / 2), r.width(), std::max(1, t / 2));
  };
  const bool restore = (kind == HelioMinimizeButton && state == HelioWindowState::Minimized) ||
                       (kind == HelioMaximizeButton && state == HelioWindowState::Maximized);
  if (restore) {
    const int w = s * 2 / 3;
    const QRect front(box.x(), box.bottom() + 1 - w, w, w);
    frame(QRect(box.right() + 1 - w, box.y(), w, w), t);
    p.fillRect(front, face);
    frame(front, t);
  } else if (kind == HelioMinimizeButton) {
    p.drawRect(box.x() + s / 8, box.bottom() + 1 - t, s * 5 / 8, t);
  } else if (kind == HelioMaximizeButton) {
    frame(box, t);
  } else if (kind == HelioHelpButton) {
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(std::max(1, s + s / 4));
    p.setFont(f);
    p.setPen(colour);
    p.drawText(box.adjusted(-s, -s, s, s), Qt::AlignCenter, QStringLiteral("?"));
  } else {
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour, t + 0.5, Qt::SolidLine, Qt::FlatCap);
    p.setPen(pen);
    const QRectF r = QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5);
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
  }
  p.restore();
}

}  // namespace

HelioMetrics HelioMetricsFromStyle(const QWidget* widget) {
  const QStyle* style = widget->style();
  QStyleOptionTitleBar option;
  option.initFrom(widget);
  option.titleBarFlags = Qt::Window;
  HelioMetrics m;
  m.CaptionHeight = style->pixelMetric(QStyle::PM_TitleBarHeight, &option, widget);
  option.titleBarFlags = Qt::Tool;
  m.SmallCaptionHeight = style->pixelMetric(QStyle::PM_TitleBarHeight, &option, widget);
  // Caption buttons are as wide and as high as the caption less its bottom line, as on the
  // desktops the layout rule was made for; the rule then trims them to fit inside the caption.
  m.CaptionButtonWidth = m.CaptionButtonHeight = m.CaptionHeight - 1;
  m.SmallCaptionButtonWidth = m.SmallCaptionHeight - 1;
  return m;
}

void THelioCaption::paintEvent(QPaintEvent*) {
  const HelioCaptionLayout l = Layout();
  SyncButtons(l);
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QRect cap = l.CaptionRect;
  if (cap.isEmpty()) return;
  p.setClipRect(cap);

  const QColor begin = Active ? Props.ActiveBeginColor : Props.InactiveBeginColor;
  const QColor end = Active ? Props.ActiveEndColor : Props.InactiveEndColor;
  const int n = Props.NumColors;
  if (n > 0 && n <= cap.width()) {
    for (int i = 0; i < n; ++i) p.fillRect(HelioBandRect(cap, n, i), HelioBandColor(begin, end, n, i));
  } else if (n > 0) {
    // More bands than columns: paint each column once instead of walking every band.
    for (int x = cap.x(); x < RightEnd(cap); ++x)
      p.fillRect(QRect(x, cap.y(), 1, cap.height()),
                 HelioBandColor(begin, end, n, HelioBandAtColumn(cap, n, x)));
  }

  if (!l.IconRect.isEmpty()) {
    QIcon icon = Owner->windowIcon();  // the application's icon when the window has none
    if (icon.isNull()) icon = QApplication::windowIcon();
    if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_TitleBarMenuButton, nullptr, this);
    const QRect target = l.IconRect.adjusted(2, 1, 0, -1);
    if (!target.isEmpty()) p.drawPixmap(target, icon.pixmap(target.size(), devicePixelRatioF()));
  }

  p.setPen(Active ? Props.ActiveFontColor : Props.InactiveFontColor);
  QFont nameFont = Props.ApplicationNameFont, captionFont = Props.CaptionFont;
  if (Props.AutoSize) {
    const int pixels = std::max(1, l.TextRect.height() - 5);
    nameFont.setPixelSize(pixels);
    captionFont.setPixelSize(pixels);
  }
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
  int textLeft = l.TextRect.x();
  if (!Props.ApplicationName.isEmpty() && l.TextRect.width() > 0) {
    p.setFont(nameFont);
    const QString name =
        p.fontMetrics().elidedText(Props.ApplicationName, Qt::ElideRight, l.TextRect.width());
    p.drawText(l.TextRect, flags, name);
    textLeft += p.fontMetrics().horizontalAdvance(name);
  }
  const QRect captionText(textLeft, l.TextRect.y(), RightEnd(l.TextRect) - textLeft, l.TextRect.height());
  if (captionText.width() > 0) {
    p.setFont(captionFont);
    p.drawText(captionText, flags,
               p.fontMetrics().elidedText(Owner->windowTitle(), Qt::ElideRight, captionText.width()));
  }

  for (const auto& b : Buttons) {
    if (!b.Visible || b.Rect.isEmpty()) continue;
    qDrawWinButton(&p, b.Rect, palette(), b.Pressed, &palette().button());
    const int side = std::max(1, std::min(b.Rect.width(), b.Rect.height()) / 2);
    QRect glyph(0, 0, side, side);
    glyph.moveCenter(b.Rect.center());
    if (b.Pressed) glyph.translate(1, 1);
    if (b.Enabled) {
      DrawGlyph(p, glyph, b.Kind, WindowState(), palette().color(QPalette::Active, QPalette::ButtonText),
                palette().button().color());
    } else {
      // Engraved, as disabled images are: a light copy one pixel down and right under a grey one.
      DrawGlyph(p, glyph.translated(1, 1), b.Kind, WindowState(), palette().color(QPalette::Light),
                palette().button().color());
      DrawGlyph(p, glyph, b.Kind, WindowState(), palette().color(QPalette::Disabled, QPalette::ButtonText),
                palette().button().color());
    }
  }
}
