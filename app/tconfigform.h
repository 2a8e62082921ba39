// The configuration dialog: edits AppSettings (model/settings.h).
#pragma once
class THelioCaption;
#include <QButtonGroup>
#include <QDialog>
#include <QFileDialog>
#include <cstddef>
#include <string>

#include "app/tdirectorybrowser.h"
#include "model/settings.h"
#include "ui_tconfigform.h"

class TConfigForm : public QDialog, public Ui::TConfigForm {
  Q_OBJECT
 public:
  explicit TConfigForm(QWidget* owner);

  // What the two path buttons stand for: their caption, kept whole (the button may show it
  // shortened).
  std::string ConfigDirPath;
  std::string ConfigCodecPath;
  void SetConfigDirPath(const std::string& dir);
  void SetConfigCodecPath(const std::string& dir);

  QButtonGroup* ConfigLayerGroup;  // ids 0..2 of ConfigLayerRG's items
  QButtonGroup* ConfigModeGroup;   // ids 0..3 of ConfigModeRG's items
  // Made the first time the encoder's button is pressed: built at start-up, its many widgets
  // cost every run of the program while few ever open it.
  QFileDialog* ConfigCodecDialog = nullptr;
  // Where the encoder's file dialog opens: at once when it exists, else once it is made.
  void SetCodecDialogDirectory(const QString& dir);
  TDirBrowseDlg ConfigDirBrowse;

  void ConfigDirBTClick();
  void ConfigCodecBTClick();
  // OK: the choices become the settings and are saved (dialogs.h, ConfigOkBTClick); tries of a
  // save that finds the store busy so far.
  int SaveTries = 0;
  // The part of ConfigCodecBTClick after the file dialog: takes the directory of the chosen
  // file, or refuses it with a box when TompgDir cannot hold it.
  void TakeCodecFile(const std::string& file);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowPathCaptions();
  THelioCaption* ConfigureMC = nullptr;  // the gradient caption strip
  QString ConfigCodecDirectory;          // the last SetCodecDialogDirectory
};

extern TConfigForm* ConfigForm;
