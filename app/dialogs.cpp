#include "app/dialogs.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QSvgRenderer>
#include <QTimer>
#include <cstring>
#include <string>

#include "model/settings.h"
#include "app/taboutform.h"
#include "app/tconfigform.h"
#include "app/tsplashform.h"
#include "app/widgets.h"

// The resources of a static library are registered by hand; outside any namespace, as the
// macro requires.
static void InitDialogResources() { Q_INIT_RESOURCE(dialogs); }

bool CreateDialogWindows(QWidget* mainForm, QString& error) {
  InitDialogResources();
  for (const char* resource : {WindowIconResource, SplashPictureResource, AboutPictureResource}) {
    if (!QSvgRenderer(QString::fromLatin1(resource)).isValid()) {
      error = QStringLiteral("Sonivert cannot read its picture %1.").arg(QString::fromLatin1(resource));
      return false;
    }
  }
  QApplication::setWindowIcon(QIcon(QString::fromLatin1(WindowIconResource)));
  SplashForm = new TSplashForm(mainForm);
  AboutForm = new TAboutForm(mainForm);
  ConfigForm = new TConfigForm(mainForm);
  return true;
}

void ShowSplash() {
  SplashForm->SplashVersion->setText(QString::fromLatin1(VersionText));
  SplashForm->SplashTimer->start();
  SplashForm->exec();
}

void AboutBTClick() {
  AboutForm->AboutVersion->setText(QString::fromLatin1(VersionText));
  AboutForm->exec();
}

namespace {

// Selects item index of a radio group, or none when the index is not one of its items.
void SelectItem(QButtonGroup* group, int32_t index) {
  if (QAbstractButton* button = group->button(index)) {
    button->setChecked(true);
    return;
  }
  group->setExclusive(false);
  for (QAbstractButton* b : group->buttons()) b->setChecked(false);
  group->setExclusive(true);
}

}  // namespace

void ConfigBTClick() {
  TConfigForm& f = *ConfigForm;
  const std::string tompgDir = TompgDirText();
  f.SetConfigCodecPath(tompgDir);
  f.SetCodecDialogDirectory(BytesToText(tompgDir));
  f.SetConfigDirPath(AppSettings.DestinationDir);
  SelectItem(f.ConfigLayerGroup, AppSettings.Layer);
  SelectItem(f.ConfigModeGroup, AppSettings.ChannelMode);
  f.ConfigBitrateCB->setCurrentIndex(
      AppSettings.Bitrate >= 0 && AppSettings.Bitrate < f.ConfigBitrateCB->count() ? AppSettings.Bitrate
                                                                                   : -1);
  f.ShowBoxCB->setChecked((AppSettings.Flags & FlagShowErrorBox) != 0);
  f.ConfigDeleteCB->setChecked((AppSettings.Flags & FlagDeleteAfterEncoding) != 0);

  const Settings before = AppSettings;
  if (f.exec() != QDialog::Accepted) AppSettings = before;  // also after an OK that could not save
}

void ConfigOkBTClick() {
  TConfigForm& f = *ConfigForm;
  if (!f.isVisible()) return;  // a retry that comes after Cancel
  // The path buttons only ever take a directory that fits (ConfigCodecBTClick); a stored one
  // that did not would never have been loaded.
  if (f.ConfigCodecPath.size() <= MaxTompgDirLength)
    std::memcpy(AppSettings.TompgDir, f.ConfigCodecPath.c_str(), f.ConfigCodecPath.size() + 1);
  AppSettings.DestinationDir = f.ConfigDirPath;
  // An item left unselected (a value no item stands for) keeps its setting.
  if (f.ConfigLayerGroup->checkedId() >= 0) AppSettings.Layer = f.ConfigLayerGroup->checkedId();
  if (f.ConfigModeGroup->checkedId() >= 0) AppSettings.ChannelMode = f.ConfigModeGroup->checkedId();
  if (f.ConfigBitrateCB->currentIndex() >= 0) AppSettings.Bitrate = f.ConfigBitrateCB->currentIndex();
  AppSettings.Flags = 0;
  if (f.ShowBoxCB->isChecked()) AppSettings.Flags |= FlagShowErrorBox;
  if (f.ConfigDeleteCB->isChecked()) AppSettings.Flags |= FlagDeleteAfterEncoding;
  std::string why;
  const SettingsSave saved = SaveSettings(&why);
  const bool retry = saved == SaveBusy && ++f.SaveTries < SettingsSaveTries;
  f.ConfigOkBT->setEnabled(!retry);
  if (retry) {
    QTimer::singleShot(SettingsSaveRetryMs, &f, ConfigOkBTClick);
    return;
  }
  f.SaveTries = 0;
  if (saved == SaveDone) {
    f.accept();
    return;
  }
  // Over the dialog, which is modal: a box of the main window could not be answered now.
  auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Sonivert"),
                              BytesToText("Unable to save the settings. " + why), QMessageBox::Ok, &f);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::WindowModal);
  box->open();
}
