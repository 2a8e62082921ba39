#include "app/tsplashform.h"

#include "app/dialogs.h"
#include "app/widgets.h"

int32_t SplashTicks = 25;
TSplashForm* SplashForm = nullptr;

TSplashForm::TSplashForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setupUi(this);
  setFixedSize(320, 200);
  PlaceVersionLabel(SplashVersion, 320);
  SplashTimer = new QTimer(this);
  SplashTimer->setInterval(100);
  connect(SplashTimer, &QTimer::timeout, this, &TSplashForm::SplashTimerTimer);
}

void TSplashForm::SplashTimerTimer() {
  if (SplashTicks > 0) {
    --SplashTicks;
    return;
  }
  SplashTimer->stop();
  done(QDialog::Accepted);
}

void TSplashForm::showEvent(QShowEvent* event) {
  // Rendered at every showing, for the pixel ratio of the screen it appears on.
  SplashIM->setPixmap(RenderPicture(SplashPictureResource, SplashIM->size(), devicePixelRatioF()));
  CentreOnScreen(this);
  QDialog::showEvent(event);
}

void TSplashForm::hideEvent(QHideEvent* event) {
  // However the splash went (its timer, or Escape), its timer must not run on unseen.
  SplashTimer->stop();
  QDialog::hideEvent(event);
}
