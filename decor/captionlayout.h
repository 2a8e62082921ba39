// The caption's geometry, colours and button rules as plain functions, so that the widget only
// applies them and tests can check them without a window.
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
