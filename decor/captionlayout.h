// The caption's geometry, colours, button rules and answers to the mouse as plain functions, so
// that the widget only applies them and tests can check them without a window.
#pragma once
#include <QColor>
#include <QRect>
#include <cstdint>

// The first column right of a rectangle and the first row below it (QRect's right() and
// bottom() are the last ones inside).
inline int RightEnd(const QRect& r) { return r.x() + r.width(); }
inline int BottomEnd(const QRect& r) { return r.y() + r.height(); }

// How a window is framed. A frameless Qt window has none of these itself; the caption is told
// which one the window stands for.
enum class HelioBorderStyle { None, Single, Sizeable, Dialog, ToolWindow, SizeToolWin };

// The caption elements the window asks for.
struct HelioBorderIcons {
  bool SystemMenu = true;
  bool Minimize = true;
  bool Maximize = true;
  bool Help = false;
  bool operator==(const HelioBorderIcons&) const = default;
};

enum class HelioWindowState { Normal, Minimized, Maximized };

// Sizes in pixels that the layout is built from (taken from the style, see HelioMetricsFromStyle).
struct HelioMetrics {
  int SizingFrame = 0;         // frame of a resizable window
  int FixedFrame = 0;          // frame of any other bordered window
  int CaptionHeight = 0;       // ordinary windows
  int SmallCaptionHeight = 0;  // tool windows
  int CaptionButtonWidth = 0;
  int CaptionButtonHeight = 0;
  int SmallCaptionButtonWidth = 0;  // tool windows
};

enum HelioButtonKind { HelioCloseButton, HelioMinimizeButton, HelioMaximizeButton, HelioHelpButton };
inline constexpr int HelioButtonCount = 4;

// What a caption asks the window to do, as the system menu's commands would.
enum class HelioSysCommand { None, Size, Move, Minimize, Maximize, Close, Restore, ContextHelp };

// One caption button: a flat button drawn and driven by the caption. Rect is in window
// coordinates; the layout sets Rect, Visible and Enabled before every paint.
struct THelioCaptionSystemButton {
  QRect Rect;
  int Kind = HelioCloseButton;
  bool Visible = false;  // invisible until the layout places it
  bool Enabled = true;
  bool Pressed = false;
  bool Tracking = false;
};

struct HelioCaptionLayout {
  int FrameThickness = 0;
  QRect CaptionRect;
  QRect IconRect;     // zero width at the caption's left end when there is no icon
  QRect ButtonsRect;  // zero width at the caption's right end when there are no buttons
  QRect TextRect;
  THelioCaptionSystemButton Buttons[HelioButtonCount];  // indexed by HelioButtonKind
};

HelioCaptionLayout ComputeHelioCaptionLayout(int windowWidth, HelioBorderStyle style, HelioBorderIcons icons,
                                             HelioWindowState state, const HelioMetrics& metrics);

// Where a press still counts for a button: 2 pixels more above and below, and for the close
// button 2 more on its right, so the gaps between buttons and caption edges are not dead.
QRect HelioButtonHitArea(const THelioCaptionSystemButton& button);

// Band `band` of `numColors` across `caption`: its rectangle and its colour.
QRect HelioBandRect(const QRect& caption, int numColors, int band);
QColor HelioBandColor(const QColor& begin, const QColor& end, int numColors, int band);
// The band that paints column x (caption.left() <= x <= caption.right()).
int HelioBandAtColumn(const QRect& caption, int numColors, int x);

// The system menu's item states, from the window state and the caption buttons.
struct HelioSystemMenuState {
  bool Restore = true, Move = true, Size = true, Minimize = true, Maximize = true, Close = true;
  HelioSysCommand Default = HelioSysCommand::Close;
  bool operator==(const HelioSystemMenuState&) const = default;
};
HelioSystemMenuState ComputeHelioSystemMenu(HelioWindowState state, const HelioCaptionLayout& layout);

// Press, track and release of one caption button. The first two return true when the button
// must be repainted; the release returns the command to send (None when released outside).
bool HelioButtonPress(THelioCaptionSystemButton& button);
bool HelioButtonMove(THelioCaptionSystemButton& button, QPoint point);
HelioSysCommand HelioButtonRelease(THelioCaptionSystemButton& button, QPoint point, HelioWindowState state);

// The caption button whose hit area holds point, tried close, maximize, minimize, help (the close
// button's hit area reaches past its right edge); -1 for none.
int HelioButtonAt(const HelioCaptionLayout& layout, QPoint point);

// What the caption remembers between mouse events. Points are in window coordinates, which are
// the caption strip's too.
struct HelioCaptionMouse {
  bool IconClickPending = false;   // a left press on the icon waits for the click that closes
  uint32_t IconClickTick = 0;      // the tick count of that press
  bool IconPressedInMenu = false;  // the system menu was closed by a left press on the icon
  bool RightPressed = false;       // a right press left of the buttons: the menu opens on release
  bool DragPending = false;        // a left press on the caption may become a move
  bool DragByHand = false;         // the window system took no move: the caption follows the cursor
  QPoint DragStart;                // where that press was
};

// A press of any button. Every press on the caption brings the window forward; on a caption
// button a left press goes to the button; on the icon it opens the system menu. The record now
// waits for the icon's second click, a drag (never of a maximized window) or a right release.
enum class HelioPressAction { Ignore, Raise, PressButton, IconMenu };
struct HelioPress {
  HelioPressAction Action = HelioPressAction::Ignore;  // Ignore: the press missed the caption
  int Button = -1;                                     // the kind pressed, for PressButton
};
HelioPress HelioCaptionPress(HelioCaptionMouse& mouse, const HelioCaptionLayout& layout, QPoint point,
                             Qt::MouseButton button, HelioWindowState state, uint32_t now);

// A move. A left press that has travelled startDistance pixels (Manhattan) becomes a move by the
// window system, so that it works under X11 and Wayland alike. Where the system refuses (an X
// server without a window manager that offers it), HelioSystemMoveRefused makes the caption move
// the window itself; WindowPos then keeps the press point under the cursor.
enum class HelioDragAction { None, StartSystemMove, MoveWindow };
struct HelioDragStep {
  HelioDragAction Action = HelioDragAction::None;
  QPoint WindowPos;  // for MoveWindow: the window's top left corner on the screen
};
HelioDragStep HelioCaptionDrag(HelioCaptionMouse& mouse, QPoint point, QPoint screenPoint, bool leftHeld,
                               int startDistance);
HelioDragStep HelioSystemMoveRefused(HelioCaptionMouse& mouse, QPoint screenPoint);

// A release. The left one ends a drag, belongs to a caption button that holds the press
// (buttonTracking), or on the caption ends the icon's double click: Close when it comes within
// doubleClickTime ticks of the icon's press. A right one opens the system menu at the cursor when
// the press was on the caption left of the buttons and the release is on the caption, off them.
enum class HelioReleaseAction { None, ReleaseButton, Close, SystemMenu };
HelioReleaseAction HelioCaptionRelease(HelioCaptionMouse& mouse, const HelioCaptionLayout& layout,
                                       QPoint point, Qt::MouseButton button, bool buttonTracking,
                                       uint32_t now, uint32_t doubleClickTime);

// The system menu takes the mouse while it is open, so the icon's second press lands on it.
// HelioMenuPress: true when a press is that one (the menu must not hand it on to the caption,
// where it would open the menu again). HelioMenuClosed, when the menu closed with nothing chosen:
// true when that press completed the double click in time, and the window is to close.
bool HelioMenuPress(HelioCaptionMouse& mouse, const HelioCaptionLayout& layout, QPoint point,
                    Qt::MouseButton button);
bool HelioMenuClosed(HelioCaptionMouse& mouse, uint32_t now, uint32_t doubleClickTime);
