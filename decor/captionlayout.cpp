#include "decor/captionlayout.h"

#include <algorithm>

namespace {

// Rectangles are worked out by their edges (right and bottom exclusive) and stored as QRect.
QRect Edges(int left, int top, int right, int bottom) {
  return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

bool IsToolStyle(HelioBorderStyle style) {
  return style == HelioBorderStyle::ToolWindow || style == HelioBorderStyle::SizeToolWin;
}

// a * b / c rounded to the nearest integer, halves away from zero; 0 when c is 0.
int64_t HelioMulDivRound(int64_t a, int64_t b, int64_t c) {
  if (c == 0) return 0;
  const int64_t product = a * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t p = product < 0 ? -product : product;
  const int64_t d = c < 0 ? -c : c;
  const int64_t q = (2 * p + d) / (2 * d);  // nearest, halves up in magnitude
  return negative ? -q : q;
}

int Channel(int begin, int end, int numColors, int band) {
  return begin + static_cast<int>(HelioMulDivRound(end - begin, band, numColors - 1));
}

// The second click on the icon closes within the double-click time; the first is forgotten
// either way. The unsigned difference stays right across the tick counter's wrap.
bool IconSecondClick(HelioCaptionMouse& mouse, uint32_t now, uint32_t doubleClickTime) {
  mouse.IconClickPending = false;
  return now - mouse.IconClickTick <= doubleClickTime;
}

}  // namespace

HelioCaptionLayout ComputeHelioCaptionLayout(int windowWidth, HelioBorderStyle style, HelioBorderIcons icons,
                                             HelioWindowState state, const HelioMetrics& m) {
  HelioCaptionLayout l;
  const bool tool = IsToolStyle(style);
  const bool sizeable = style == HelioBorderStyle::Sizeable || style == HelioBorderStyle::SizeToolWin;
  if (style == HelioBorderStyle::None)
    l.FrameThickness = 0;
  else if (sizeable && state != HelioWindowState::Minimized)
    l.FrameThickness = m.SizingFrame;
  else
    l.FrameThickness = m.FixedFrame;

  // A window without border has no caption to paint.
  const int captionHeight =
      style == HelioBorderStyle::None ? 0 : std::max(0, (tool ? m.SmallCaptionHeight : m.CaptionHeight) - 1);
  const int f = l.FrameThickness;
  l.CaptionRect = Edges(f, f, windowWidth - f, f + captionHeight);
  const int capLeft = l.CaptionRect.x(), capTop = l.CaptionRect.y();
  const int capRight = RightEnd(l.CaptionRect), capBottom = BottomEnd(l.CaptionRect);

  for (int k = 0; k < HelioButtonCount; ++k) l.Buttons[k].Kind = k;
  THelioCaptionSystemButton& close = l.Buttons[HelioCloseButton];
  THelioCaptionSystemButton& minimize = l.Buttons[HelioMinimizeButton];
  THelioCaptionSystemButton& maximize = l.Buttons[HelioMaximizeButton];
  THelioCaptionSystemButton& help = l.Buttons[HelioHelpButton];
  const bool ordinaryWithIcon = style == HelioBorderStyle::Single || style == HelioBorderStyle::Sizeable;
  if (style != HelioBorderStyle::None && icons.SystemMenu) {
    close.Visible = true;
    if (!tool) {
      if (style != HelioBorderStyle::Dialog && (icons.Minimize || icons.Maximize)) {
        // Both appear together; the one the window does not allow is shown disabled.
        minimize.Visible = maximize.Visible = true;
        minimize.Enabled = icons.Minimize;
        maximize.Enabled = icons.Maximize;
      }
      help.Visible = icons.Help && !ordinaryWithIcon;
    }
  }
  int shown = 0;
  for (const auto& b : l.Buttons) shown += b.Visible ? 1 : 0;

  l.IconRect = ordinaryWithIcon && icons.SystemMenu
                   ? Edges(capLeft, capTop, capLeft + m.CaptionButtonWidth, capBottom)
                   : Edges(capLeft, capTop, capLeft, capBottom);
  int buttonsWidth = 0;
  if (shown > 0) buttonsWidth = 2 + (tool ? m.SmallCaptionButtonWidth : (m.CaptionButtonWidth - 2) * shown);
  l.ButtonsRect = Edges(capRight - buttonsWidth, capTop + 2, capRight, capBottom - 2);
  l.TextRect = Edges(RightEnd(l.IconRect) + 2, capTop + 2, l.ButtonsRect.x() - 2, capBottom - 2);

  const int buttonsRight = RightEnd(l.ButtonsRect), buttonsTop = l.ButtonsRect.y();
  if (tool) {
    close.Rect = Edges(l.ButtonsRect.x() + 2, buttonsTop, buttonsRight - 2, BottomEnd(l.ButtonsRect));
  } else {
    const int w = m.CaptionButtonWidth - 2, h = m.CaptionButtonHeight - 4;
    close.Rect = QRect(buttonsRight - m.CaptionButtonWidth, buttonsTop, w, h);
    maximize.Rect = QRect(close.Rect.x() - 2 - w, buttonsTop, w, h);
    minimize.Rect = QRect(maximize.Rect.x() - w, buttonsTop, w, h);
    help.Rect = QRect((minimize.Visible ? minimize.Rect.x() : close.Rect.x()) - w, buttonsTop, w, h);
  }
  for (auto& b : l.Buttons)
    if (!b.Visible) b.Rect = QRect();
  return l;
}

QRect HelioButtonHitArea(const THelioCaptionSystemButton& button) {
  return button.Rect.adjusted(0, -2, button.Kind == HelioCloseButton ? 2 : 0, 2);
}

QRect HelioBandRect(const QRect& caption, int numColors, int band) {
  const int w = caption.width();
  const int left = caption.x() + static_cast<int>(HelioMulDivRound(w, band, numColors));
  const int right = caption.x() + static_cast<int>(HelioMulDivRound(w, band + 1, numColors));
  return Edges(left, caption.y(), right, BottomEnd(caption));
}

QColor HelioBandColor(const QColor& begin, const QColor& end, int numColors, int band) {
  if (numColors <= 1) return QColor(begin.rgb());
  return QColor(Channel(begin.red(), end.red(), numColors, band),
                Channel(begin.green(), end.green(), numColors, band),
                Channel(begin.blue(), end.blue(), numColors, band));
}

int HelioBandAtColumn(const QRect& caption, int numColors, int x) {
  // Band starts never decrease, so the last band starting at or before x is the one covering
  // it (zero-width bands in between paint nothing).
  const int64_t offset = x - caption.x();
  int lo = 0, hi = numColors - 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (HelioMulDivRound(caption.width(), mid, numColors) <= offset)
      lo = mid;
    else
      hi = mid - 1;
  }
  return lo;
}

HelioSystemMenuState ComputeHelioSystemMenu(HelioWindowState state, const HelioCaptionLayout& layout) {
  HelioSystemMenuState s;
  if (state != HelioWindowState::Normal) {
    s.Default = HelioSysCommand::Restore;
    s.Size = s.Move = false;
    if (state == HelioWindowState::Maximized)
      s.Maximize = false;
    else
      s.Minimize = false;
  } else {
    s.Restore = false;
  }
  const auto& max = layout.Buttons[HelioMaximizeButton];
  const auto& min = layout.Buttons[HelioMinimizeButton];
  if (!max.Visible || !max.Enabled) s.Maximize = false;
  if (!min.Visible || !min.Enabled) s.Minimize = false;
  return s;
}

bool HelioButtonPress(THelioCaptionSystemButton& button) {
  if (!button.Visible || !button.Enabled) return false;
  button.Pressed = button.Tracking = true;
  return true;
}

bool HelioButtonMove(THelioCaptionSystemButton& button, QPoint point) {
  if (!button.Tracking) return false;
  const bool inside = HelioButtonHitArea(button).contains(point);
  if (inside == button.Pressed) return false;
  button.Pressed = inside;
  return true;
}

HelioSysCommand HelioButtonRelease(THelioCaptionSystemButton& button, QPoint point, HelioWindowState state) {
  if (!button.Tracking) return HelioSysCommand::None;
  button.Tracking = button.Pressed = false;
  if (!HelioButtonHitArea(button).contains(point)) return HelioSysCommand::None;
  switch (button.Kind) {
    case HelioCloseButton:
      return HelioSysCommand::Close;
    case HelioMinimizeButton:
      return state == HelioWindowState::Minimized ? HelioSysCommand::Restore : HelioSysCommand::Minimize;
    case HelioMaximizeButton:
      return state == HelioWindowState::Maximized ? HelioSysCommand::Restore : HelioSysCommand::Maximize;
    case HelioHelpButton:
      return HelioSysCommand::ContextHelp;
  }
  return HelioSysCommand::None;
}

int HelioButtonAt(const HelioCaptionLayout& layout, QPoint point) {
  for (int kind : {HelioCloseButton, HelioMaximizeButton, HelioMinimizeButton, HelioHelpButton}) {
    const THelioCaptionSystemButton& b = layout.Buttons[kind];
    if (b.Visible && HelioButtonHitArea(b).contains(point)) return kind;
  }
  return -1;
}

HelioPress HelioCaptionPress(HelioCaptionMouse& mouse, const HelioCaptionLayout& layout, QPoint point,
                             Qt::MouseButton button, HelioWindowState state, uint32_t now) {
  if (!layout.CaptionRect.contains(point)) return {};
  const bool left = button == Qt::LeftButton;
  if (const int kind = HelioButtonAt(layout, point); kind >= 0)
    return left ? HelioPress{HelioPressAction::PressButton, kind} : HelioPress{HelioPressAction::Raise, -1};
  if (left && layout.IconRect.contains(point)) {
    mouse.IconClickPending = true;
    mouse.IconClickTick = now;
    return {HelioPressAction::IconMenu, -1};
  }
  if (left) {
    // A maximized window cannot be dragged.
    mouse.DragPending = state != HelioWindowState::Maximized;
    mouse.DragStart = point;
  } else if (button == Qt::RightButton && point.x() < layout.ButtonsRect.x()) {
    mouse.RightPressed = true;
  }
  return {HelioPressAction::Raise, -1};
}

HelioDragStep HelioCaptionDrag(HelioCaptionMouse& mouse, QPoint point, QPoint screenPoint, bool leftHeld,
                               int startDistance) {
  if (mouse.DragPending && leftHeld && (point - mouse.DragStart).manhattanLength() >= startDistance) {
    mouse.DragPending = false;
    mouse.DragByHand = false;  // until the window system refuses
    return {HelioDragAction::StartSystemMove, QPoint()};
  }
  if (mouse.DragByHand && leftHeld) return {HelioDragAction::MoveWindow, screenPoint - mouse.DragStart};
  return {};
}

HelioDragStep HelioSystemMoveRefused(HelioCaptionMouse& mouse, QPoint screenPoint) {
  mouse.DragByHand = true;
  return {HelioDragAction::MoveWindow, screenPoint - mouse.DragStart};
}

HelioReleaseAction HelioCaptionRelease(HelioCaptionMouse& mouse, const HelioCaptionLayout& layout,
                                       QPoint point, Qt::MouseButton button, bool buttonTracking,
                                       uint32_t now, uint32_t doubleClickTime) {
  if (button == Qt::LeftButton) {
    mouse.DragPending = mouse.DragByHand = false;
    if (buttonTracking) return HelioReleaseAction::ReleaseButton;
    if (mouse.IconClickPending && layout.CaptionRect.contains(point) &&
        IconSecondClick(mouse, now, doubleClickTime))
      return HelioReleaseAction::Close;
    return HelioReleaseAction::None;
  }
  if (button != Qt::RightButton) return HelioReleaseAction::None;
  const bool pressedHere = mouse.RightPressed;
  mouse.RightPressed = false;
  // Released over the client area or on a caption button: no menu.
  if (!pressedHere || !layout.CaptionRect.contains(point) || HelioButtonAt(layout, point) >= 0)
    return HelioReleaseAction::None;
  return HelioReleaseAction::SystemMenu;
}

bool HelioMenuPress(HelioCaptionMouse& mouse, const HelioCaptionLayout& layout, QPoint point,
                    Qt::MouseButton button) {
  if (button != Qt::LeftButton || !layout.IconRect.contains(point)) return false;
  mouse.IconPressedInMenu = true;
  return true;
}

bool HelioMenuClosed(HelioCaptionMouse& mouse, uint32_t now, uint32_t doubleClickTime) {
  return mouse.IconPressedInMenu && mouse.IconClickPending && IconSecondClick(mouse, now, doubleClickTime);
}
