// The directory browser: a drive box, the directory list (the open directory's ancestors and
// its subdirectories) and a text field that always shows the list's directory.
//
// TDirBrowseDlg is the record a caller keeps; Execute creates a browser window for each run.
#pragma once
#include <QDialog>
#include <string>

#include "ui_tdirectorybrowser.h"

struct TDirBrowseDlg {
  std::string TheDirectory = "/";  // handed to the browser; after a confirmed run, the choice
};

// Shows a browser modally at dlg.TheDirectory. On OK copies the list's directory into
// TheDirectory and returns true; otherwise leaves TheDirectory as it was and returns false.
bool Execute(TDirBrowseDlg& dlg, QWidget* owner);

class TDirectoryBrowser : public QDialog, public Ui::TDirectoryBrowser {
  Q_OBJECT
 public:
  TDirectoryBrowser(QWidget* owner, const std::string& directory);
  // The directory chosen with OK; empty after Cancel.
  std::string ResultDirectory;
  // The list's directory, which Edit1 shows.
  std::string CurrentDirectory;
  // Opens the list at dir, or at its nearest existing ancestor when dir is gone.
  void OpenDirectory(const std::string& dir);
  void OKBtnClick();
  void CancelBtnClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowOpenDirectory();
  void FillDrives();
  void SelectDrive(const std::string& dir);
};
