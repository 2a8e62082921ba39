// The splash window: the picture with the version in its corner, shown modally while the main
// window first appears and closed by its own timer.
#pragma once
#include <QDialog>
#include <QTimer>
#include <cstdint>

#include "ui_tsplashform.h"

// Ticks of SplashTimer still to count before the splash closes. Starts at 25 when the program
// starts and is never reset, so only the first showing lasts about 2.6 seconds.
extern int32_t SplashTicks;

class TSplashForm : public QDialog, public Ui::TSplashForm {
  Q_OBJECT
 public:
  explicit TSplashForm(QWidget* owner);
  QTimer* SplashTimer;  // 100 ms, stopped until the splash is opened
  void SplashTimerTimer();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};

extern TSplashForm* SplashForm;
