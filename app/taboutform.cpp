#include "app/taboutform.h"

#include <QMouseEvent>

#include "app/captions.h"
#include "app/dialogs.h"
#include "app/widgets.h"

TAboutForm* AboutForm = nullptr;

TAboutForm::TAboutForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setupUi(this);
  // The credit panel keeps its 18 pixels unless the desktop's font needs more: then the line
  // wraps and the window grows with it rather than cutting it.
  AboutCreditP->setWordWrap(true);
  const int creditHeight = qMax(18, AboutCreditP->heightForWidth(320));
  AboutCreditP->setGeometry(0, 201, 320, creditHeight);
  setFixedSize(320, 201 + creditHeight);
  PlaceVersionLabel(AboutVersion, 320);
  for (QWidget* w : {static_cast<QWidget*>(AboutIM), static_cast<QWidget*>(AboutVersion),
                     static_cast<QWidget*>(AboutCreditP)}) {
    w->installEventFilter(this);
    w->setCursor(Qt::PointingHandCursor);
  }
  // The gradient caption: the window grows by its strip.
  AboutMC = AttachCaptionOrSay(this, SonivertCaption::About);
}

void TAboutForm::AboutIMClick() { done(QDialog::Accepted); }

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    AboutIMClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAboutForm::showEvent(QShowEvent* event) {
  AboutIM->setPixmap(RenderPicture(AboutPictureResource, AboutIM->size(), devicePixelRatioF()));
  CentreOnScreen(this);
  QDialog::showEvent(event);
}
