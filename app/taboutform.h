// The about window: the picture with the version in its corner and the credit line below;
// a click on any of the three closes it.
#pragma once
class THelioCaption;
#include <QDialog>

#include "ui_taboutform.h"

class TAboutForm : public QDialog, public Ui::TAboutForm {
  Q_OBJECT
 public:
  explicit TAboutForm(QWidget* owner);
  void AboutIMClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  THelioCaption* AboutMC = nullptr;  // the gradient caption strip
};

extern TAboutForm* AboutForm;
