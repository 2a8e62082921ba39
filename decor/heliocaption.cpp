#include "decor/heliocaption.h"

#include <QApplication>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
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

uint32_t DoubleClickTime() { return static_cast<uint32_t>(QApplication::doubleClickInterval()); }

}  // namespace

HelioCaptionCreation CreateHelioCaption(QObject* owner) {
  auto* window = qobject_cast<QWidget*>(owner);
  if (!window || !window->isWindow())
    return {nullptr, QStringLiteral("The HelioCaption's owner must be a Form!")};
  return {new THelioCaption(window), QString()};
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
