#include "decor/heliocaption.h"

#include <qdrawutil.h>

#include <QApplication>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QWhatsThis>
#include <QWindow>
#include <algorithm>

namespace {

bool InLayout(const QLayout* layout, const QWidget* widget) {
  if (!layout) return false;
  if (layout->menuBar() == widget) return true;
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (item->widget() == widget || (item->layout() && InLayout(item->layout(), widget))) return true;
  }
  return false;
}

// The frame a Qt window stands for, read from its flags before it is made frameless.
void BorderFromFlags(const QWidget* window, Qt::WindowFlags flags, HelioCaptionProperties& p) {
  const Qt::WindowType type = static_cast<Qt::WindowType>(int(flags & Qt::WindowType_Mask));
  const bool sizeable = window->minimumSize() != window->maximumSize();
  if (flags & Qt::FramelessWindowHint)
    p.BorderStyle = HelioBorderStyle::None;
  else if (type == Qt::Tool)
    p.BorderStyle = sizeable ? HelioBorderStyle::SizeToolWin : HelioBorderStyle::ToolWindow;
  else if (type == Qt::Dialog)
    p.BorderStyle = HelioBorderStyle::Dialog;
  else
    p.BorderStyle = sizeable ? HelioBorderStyle::Sizeable : HelioBorderStyle::Single;
  if (flags & Qt::CustomizeWindowHint) {
    p.BorderIcons.SystemMenu = flags.testFlag(Qt::WindowSystemMenuHint);
    p.BorderIcons.Minimize = flags.testFlag(Qt::WindowMinimizeButtonHint);
    p.BorderIcons.Maximize = flags.testFlag(Qt::WindowMaximizeButtonHint);
    p.BorderIcons.Help = flags.testFlag(Qt::WindowContextHelpButtonHint);
  } else {
    const bool ordinary = type != Qt::Tool && type != Qt::Dialog;
    p.BorderIcons = {true, ordinary, ordinary && sizeable, false};
  }
}

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

uint32_t DoubleClickTime() { return static_cast<uint32_t>(QApplication::doubleClickInterval()); }

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

HelioCaptionCreation CreateHelioCaption(QObject* owner) {
  auto* window = qobject_cast<QWidget*>(owner);
  if (!window || !window->isWindow())
    return {nullptr, QStringLiteral("The HelioCaption's owner must be a Form!")};
  return {new THelioCaption(window), QString()};
}

HelioCaptionCreation AttachSonivertCaption(QWidget* window, SonivertCaption which) {
  HelioCaptionCreation created = CreateHelioCaption(window);
  if (!created.Caption) return created;
  HelioCaptionProperties p = created.Caption->Properties();
  p.ActiveBeginColor = QColor(128, 0, 0);  // maroon
  p.ActiveEndColor = QColor(0, 0, 128);    // navy
  if (which == SonivertCaption::Main) {
    p.CaptionFont.setBold(true);
    p.BorderStyle = HelioBorderStyle::Single;
    p.BorderIcons = {true, true, false, false};  // fixed size: maximize is shown disabled
  } else {
    // Small tool frames without caption buttons: only the gradient and the caption text.
    p.BorderStyle = HelioBorderStyle::ToolWindow;
    p.BorderIcons = {false, false, false, false};
  }
  created.Caption->SetProperties(p);
  return created;
}

THelioCaption::THelioCaption(QWidget* owner)
    : QWidget(owner), Owner(owner), PreviousFlags(owner->windowFlags()) {
  Props.ApplicationNameFont = owner->font();
  Props.ApplicationNameFont.setBold(true);
  Props.CaptionFont = owner->font();
  Props.CaptionFont.setBold(false);
  BorderFromFlags(owner, PreviousFlags, Props);
  for (int k = 0; k < HelioButtonCount; ++k) Buttons[k].Kind = k;
  // The children go before the window, so the window must not be touched then.
  connect(owner, &QObject::destroyed, this, [this] { OwnerDying = true; });

  const bool wasVisible = owner->isVisible();
  owner->setWindowFlags(PreviousFlags | Qt::FramelessWindowHint);
  ApplyStrip();
  owner->installEventFilter(this);
  Active = owner->isActiveWindow();
  raise();
  show();
  if (wasVisible) owner->show();
}

THelioCaption::~THelioCaption() {
  if (OwnerDying) return;
  Owner->removeEventFilter(this);
  Props.BorderStyle = HelioBorderStyle::None;  // no strip: the window gets its height back
  ApplyStrip();
  const bool wasVisible = Owner->isVisible();
  Owner->setWindowFlags(PreviousFlags);
  if (wasVisible) {
    const bool quiet = Owner->testAttribute(Qt::WA_ShowWithoutActivating);
    Owner->setAttribute(Qt::WA_ShowWithoutActivating);
    Owner->show();
    Owner->setAttribute(Qt::WA_ShowWithoutActivating, quiet);
  }
}

void THelioCaption::SetProperties(const HelioCaptionProperties& properties) {
  if (properties == Props) return;
  Props = properties;
  ApplyStrip();
  update();
}

HelioWindowState THelioCaption::WindowState() const {
  const Qt::WindowStates s = Owner->windowState();
  if (s & Qt::WindowMinimized) return HelioWindowState::Minimized;
  if (s & Qt::WindowMaximized) return HelioWindowState::Maximized;
  return HelioWindowState::Normal;
}

HelioCaptionLayout THelioCaption::Layout() const {
  return ComputeHelioCaptionLayout(Owner->width(), Props.BorderStyle, Props.BorderIcons, WindowState(),
                                   HelioMetricsFromStyle(this));
}

void THelioCaption::ApplyStrip() {
  const int wanted = BottomEnd(Layout().CaptionRect);
  const int delta = wanted - Strip;
  if (delta != 0) {
    // Controls placed by position move down; those in a layout follow the top margin.
    for (QWidget* child : Owner->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child != this && !child->isWindow() && !InLayout(Owner->layout(), child))
        child->move(child->x(), child->y() + delta);
    QMargins margins = Owner->contentsMargins();
    margins.setTop(margins.top() + delta);
    Owner->setContentsMargins(margins);

    const int minH = Owner->minimumHeight(), maxH = Owner->maximumHeight();
    const int newMin = minH > 0 ? std::max(0, minH + delta) : 0;
    const int newMax = maxH < QWIDGETSIZE_MAX ? std::max(0, maxH + delta) : QWIDGETSIZE_MAX;
    if (delta > 0) {
      Owner->setMaximumHeight(newMax);
      Owner->setMinimumHeight(newMin);
    } else {
      Owner->setMinimumHeight(newMin);
      Owner->setMaximumHeight(newMax);
    }
    // A window that was never sized takes its size from its layout, which includes the margin.
    if (Owner->testAttribute(Qt::WA_Resized)) Owner->resize(Owner->width(), Owner->height() + delta);
    Strip = wanted;
  }
  setGeometry(0, 0, Owner->width(), Strip);
}

void THelioCaption::SyncButtons(const HelioCaptionLayout& layout) {
  for (int k = 0; k < HelioButtonCount; ++k) {
    THelioCaptionSystemButton& b = Buttons[k];
    b.Rect = layout.Buttons[k].Rect;
    b.Visible = layout.Buttons[k].Visible;
    b.Enabled = layout.Buttons[k].Enabled;
    if (!b.Visible || !b.Enabled) b.Pressed = b.Tracking = false;
  }
}

THelioCaptionSystemButton* THelioCaption::TrackingButton() {
  for (auto& b : Buttons)
    if (b.Tracking) return &b;
  return nullptr;
}

bool THelioCaption::eventFilter(QObject* watched, QEvent* event) {
  if (watched == RunningMenu &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
    // A second press on the icon closes the menu. The window system hands its release to the
    // menu, not to the caption, so the double click on the icon is completed here; the press
    // is not handed on to the caption, where it would open the menu again.
    const auto* e = static_cast<QMouseEvent*>(event);
    if (HelioMenuPress(Mouse, Layout(), mapFromGlobal(e->globalPosition().toPoint()), e->button()))
      RunningMenu->setAttribute(Qt::WA_NoMouseReplay);
    return false;
  }
  if (watched != Owner) return false;
  switch (event->type()) {
    case QEvent::WindowActivate:
      Active = true;
      update();
      break;
    case QEvent::WindowDeactivate:
      Active = false;
      update();
      break;
    case QEvent::ActivationChange:
      Active = Owner->isActiveWindow();
      update();
      break;
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
    case QEvent::WindowStateChange:
      update();
      break;
    case QEvent::Resize:
      setGeometry(0, 0, Owner->width(), Strip);
      break;
    case QEvent::StyleChange:
    case QEvent::FontChange:
      ApplyStrip();
      break;  // the caption's height may follow either
    case QEvent::MouseButtonRelease:
      // A right press on the caption released over the client area opens no menu.
      if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) Mouse.RightPressed = false;
      break;
    default:
      break;
  }
  return false;
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

void THelioCaption::Press(QMouseEvent* event) {
  const HelioCaptionLayout l = Layout();
  SyncButtons(l);
  const HelioPress press = HelioCaptionPress(Mouse, l, event->position().toPoint(), event->button(),
                                             WindowState(), HelioTickCount());
  if (press.Action == HelioPressAction::Ignore) return;
  Owner->raise();
  Owner->activateWindow();
  if (press.Action == HelioPressAction::PressButton && HelioButtonPress(Buttons[press.Button])) update();
  if (press.Action == HelioPressAction::IconMenu)
    ShowSystemMenu(mapToGlobal(QPoint(l.CaptionRect.x(), BottomEnd(l.CaptionRect))));
}

void THelioCaption::mousePressEvent(QMouseEvent* event) { Press(event); }

void THelioCaption::mouseDoubleClickEvent(QMouseEvent* event) {
  const HelioCaptionLayout l = Layout();
  SyncButtons(l);
  if (event->button() != Qt::LeftButton || !l.TextRect.contains(event->position().toPoint())) {
    Press(event);  // a fast second press on a button or the icon acts as a press
    return;
  }
  const THelioCaptionSystemButton& max = Buttons[HelioMaximizeButton];
  if (max.Visible && max.Enabled)
    SendSysCommand(WindowState() == HelioWindowState::Maximized ? HelioSysCommand::Restore
                                                                : HelioSysCommand::Maximize);
}

void THelioCaption::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pt = event->position().toPoint();
  if (THelioCaptionSystemButton* b = TrackingButton()) {
    if (HelioButtonMove(*b, pt)) update();
    return;
  }
  const QPoint screenPt = event->globalPosition().toPoint();
  HelioDragStep step = HelioCaptionDrag(Mouse, pt, screenPt, (event->buttons() & Qt::LeftButton) != 0,
                                        QApplication::startDragDistance());
  if (step.Action == HelioDragAction::StartSystemMove) {
    QWindow* w = Owner->windowHandle();
    if (!(w && w->startSystemMove())) step = HelioSystemMoveRefused(Mouse, screenPt);
  }
  if (step.Action == HelioDragAction::MoveWindow) Owner->move(step.WindowPos);
}

void THelioCaption::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pt = event->position().toPoint();
  const HelioCaptionLayout l = Layout();
  SyncButtons(l);
  THelioCaptionSystemButton* tracking = TrackingButton();
  switch (HelioCaptionRelease(Mouse, l, pt, event->button(), tracking != nullptr, HelioTickCount(),
                              DoubleClickTime())) {
    case HelioReleaseAction::ReleaseButton: {
      const HelioSysCommand command = HelioButtonRelease(*tracking, pt, WindowState());
      update();
      if (command != HelioSysCommand::None) SendSysCommand(command);
      break;
    }
    case HelioReleaseAction::Close:
      SendSysCommand(HelioSysCommand::Close);
      break;
    case HelioReleaseAction::SystemMenu:
      ShowSystemMenu(event->globalPosition().toPoint());
      break;
    case HelioReleaseAction::None:
      break;
  }
}

void THelioCaption::ShowSystemMenu(QPoint globalPos) {
  const HelioSystemMenuState s = ComputeHelioSystemMenu(WindowState(), Layout());
  QMenu menu;  // no parent: the window may be gone when the menu returns
  const auto add = [&](const QString& text, HelioSysCommand command, bool enabled) {
    QAction* a = menu.addAction(text);
    a->setData(static_cast<int>(command));
    a->setEnabled(enabled);
    if (s.Default == command) menu.setDefaultAction(a);
  };
  add(QStringLiteral("&Restore"), HelioSysCommand::Restore, s.Restore);
  add(QStringLiteral("&Move"), HelioSysCommand::Move, s.Move);
  add(QStringLiteral("&Size"), HelioSysCommand::Size, s.Size);
  add(QStringLiteral("Mi&nimize"), HelioSysCommand::Minimize, s.Minimize);
  add(QStringLiteral("Ma&ximize"), HelioSysCommand::Maximize, s.Maximize);
  menu.addSeparator();
  add(QStringLiteral("&Close"), HelioSysCommand::Close, s.Close);

  QPointer<THelioCaption> self(this);
  RunningMenu = &menu;
  Mouse.IconPressedInMenu = false;
  menu.installEventFilter(this);
  emit SystemMenuShown(&menu);
  QAction* chosen = menu.exec(globalPos);
  if (!self) return;
  RunningMenu = nullptr;
  if (chosen) {
    SendSysCommand(static_cast<HelioSysCommand>(chosen->data().toInt()));
  } else if (HelioMenuClosed(Mouse, HelioTickCount(), DoubleClickTime())) {
    SendSysCommand(HelioSysCommand::Close);
  }
}

void THelioCaption::SendSysCommand(HelioSysCommand command) {
  emit SysCommandSent(command);
  QWindow* handle = Owner->windowHandle();
  switch (command) {
    case HelioSysCommand::Close:
      Owner->close();
      break;  // through the window's close query
    case HelioSysCommand::Minimize:
      Owner->showMinimized();
      break;
    case HelioSysCommand::Maximize:
      Owner->showMaximized();
      break;
    case HelioSysCommand::Restore:
      Owner->showNormal();
      break;
    case HelioSysCommand::Move:
      if (handle) handle->startSystemMove();
      break;
    case HelioSysCommand::Size:
      if (handle) handle->startSystemResize(Qt::RightEdge | Qt::BottomEdge);
      break;
    case HelioSysCommand::ContextHelp:
      QWhatsThis::enterWhatsThisMode();
      break;
    case HelioSysCommand::None:
      break;
  }
}
