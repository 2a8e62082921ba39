// The gradient caption of a titled window. The window becomes frameless (the window manager
// draws no title bar for it), grows by the height of the caption strip, and its client area
// moves down by that height unchanged. The strip is this widget, a child at the window's top.
// Its colours, fonts and frame are what the window's code sets (HelioCaptionProperties): the
// caption knows no window in particular.
#pragma once
#include <QFont>
#include <QString>
#include <QWidget>
#include <chrono>
#include <cstdint>

#include "decor/captionlayout.h"

class QMenu;

// Everything that decides how a caption looks; a change repaints it.
struct HelioCaptionProperties {
  QColor ActiveBeginColor = QColor(0, 0, 128);        // navy
  QColor ActiveEndColor = QColor(0, 0, 255);          // blue
  QColor ActiveFontColor = QColor(255, 255, 255);     // white
  QColor InactiveBeginColor = QColor(128, 128, 128);  // grey
  QColor InactiveEndColor = QColor(192, 192, 192);    // silver
  QColor InactiveFontColor = QColor(192, 192, 192);   // silver
  int NumColors = 64;
  QString ApplicationName;
  QFont ApplicationNameFont;  // the window's font, bold, when the caption is created
  QFont CaptionFont;          // the window's font, regular, when the caption is created
  bool AutoSize = false;      // both fonts sized to the text area's height less 5 pixels
  // The frame the window stands for (a frameless Qt window has none of its own).
  HelioBorderStyle BorderStyle = HelioBorderStyle::Single;
  HelioBorderIcons BorderIcons;
  bool operator==(const HelioCaptionProperties&) const = default;
};

class THelioCaption;
struct HelioCaptionCreation {
  THelioCaption* Caption = nullptr;  // owned by the window; null when creation failed
  QString Error;                     // the text to show when creation failed
};

// Creates the caption of `owner`, which must be a top-level window. Call it once the window's
// controls are in place: controls added later are not moved below the strip.
HelioCaptionCreation CreateHelioCaption(QObject* owner);

// The sizes of captions, frames and caption buttons from the widget's style. Frames are 0: the
// window manager draws no frame around a frameless window and the caption adds none.
HelioMetrics HelioMetricsFromStyle(const QWidget* widget);

// The clock the icon's double click is timed with: milliseconds of the monotonic clock in 32 bits,
// wrapping like the tick count the rule was made for. Tests replace it.
inline uint32_t HelioSteadyTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}
inline uint32_t (*HelioTickCount)() = HelioSteadyTickCount;

class THelioCaption : public QWidget {
  Q_OBJECT
 public:
  ~THelioCaption() override;

  const HelioCaptionProperties& Properties() const { return Props; }
  void SetProperties(const HelioCaptionProperties& properties);

  bool IsActive() const { return Active; }
  HelioCaptionLayout Layout() const;         // as the next paint will lay it out
  int StripHeight() const { return Strip; }  // what the window grew by
  const THelioCaptionSystemButton& Button(int kind) const { return Buttons[kind]; }
  HelioWindowState WindowState() const;

  // Carries out a command as the window system would for its own caption.
  void SendSysCommand(HelioSysCommand command);

 signals:
  void SysCommandSent(HelioSysCommand command);
  void SystemMenuShown(QMenu* menu);  // just before the menu runs; tests inspect it here

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  explicit THelioCaption(QWidget* owner);
  friend HelioCaptionCreation CreateHelioCaption(QObject* owner);

  void ApplyStrip();  // grows or shrinks the window to the current strip height
  void Press(QMouseEvent* event);
  void ShowSystemMenu(QPoint globalPos);
  void SyncButtons(const HelioCaptionLayout& layout);
  THelioCaptionSystemButton* TrackingButton();

  QWidget* Owner;
  Qt::WindowFlags PreviousFlags;
  bool OwnerDying = false;
  HelioCaptionProperties Props;
  THelioCaptionSystemButton Buttons[HelioButtonCount];
  bool Active = false;
  int Strip = 0;
  HelioCaptionMouse Mouse;       // the press, drag and double click under way
  QMenu* RunningMenu = nullptr;  // the system menu while it is shown
};
