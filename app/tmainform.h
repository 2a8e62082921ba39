// The main window: the file browser on the left, the converter queue, the job controls and the
// format controls on the right, the status row at the bottom. Its handlers hand every decision
// to the scheduler (app/scheduler.h) and show the record it fills.
#pragma once
#include <QFont>
#include <QString>
#include <QWidget>

class QButtonGroup;
class QDropEvent;
class QFileSystemModel;
class QFileSystemWatcher;
class QSocketNotifier;
class QStringListModel;
class QTimer;
class THelioCaption;
namespace Ui {
class TMainForm;
}

class TMainForm : public QWidget {
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  Ui::TMainForm* Controls() const { return ui; }
  // The browser's current directory, with a trailing '/'.
  QString CurrentDirectory() const;
  // Shows a directory in the browser (drive, tree and file list).
  void OpenDirectory(const QString& dir);
  // The file list re-reads its directory; the selection is cleared.
  void ReadFileList();

  // Handlers, named for their controls and events.
  void StatusTMTimer();
  void ReadConsoleTTimer();
  void FileLBDblClick();
  bool JobLBDragOver(QObject* source) const;
  // Whether JobLB takes a drop: FileLB's drag as JobLBDragOver says, or local files and folders
  // dropped from another program.
  bool JobLBTakesDrop(const QDropEvent* drop) const;
  void JobLBDragDrop();
  void JobLBDblClick();
  void JobLBClick();
  void LayerRGClick(int index);
  void ModeRGClick(int index);
  void BitrateCBChange(int index);
  void BitrateCBDropDown();
  void StartBTClick();
  void AbortBTClick();
  void ClearBTClick();
  void CurrentLBClick();
  void PriorityTBChange(int position);
  // Shows the scheduler's record (View).
  void ApplyView();
  // StartBT's look: Start or Stop as the converter is off or on.
  void ApplyStartLook();

  bool BitrateFollow = true;
  THelioCaption* MainMC = nullptr;  // the gradient caption strip

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Enqueue();
  // Enqueues files by their full paths, in order, with the refusal boxes of a double click.
  void EnqueuePaths(const QStringList& paths);
  void ShowFormat(int selected, bool followBitrate);
  int SelectedJob() const;
  // The status line as it fits StatusP: only its path is shortened.
  QString FitStatusLine() const;
  // Shows the information line whole, in a smaller font where the panel's is too wide for it.
  void ShowInfoLine(const QString& text);
  // The selected JobLB line when it stands for an entry of the queue, else -1.
  int SelectedEntry() const;
  void DriveCBChange(int index);
  void FilterCBChange(int index);
  // The file browser (filebrowser.cpp): its controls' set-up during construction, and what the
  // user's own input to the tree changes.
  void SetUpFileBrowser();
  void DirectoryLBInput(QEvent* event);

  Ui::TMainForm* ui;
  QButtonGroup* LayerGroup;
  QButtonGroup* ModeGroup;
  QFileSystemModel* DirectoryModel;
  QStringListModel* FileModel;
  QFileSystemWatcher* FileWatcher;
  QTimer* StatusTM;
  QTimer* ReadConsoleT;
  QSocketNotifier* ConsoleNotifier = nullptr;
  QSocketNotifier* JobEndNotifier = nullptr;
  QString FileDirectory;  // directory listed in FileLB, with a trailing '/'
  QStringList FileMasks;
  QFont InfoFont;                  // WavInfoP's own font
  bool TreeScrollPending = false;  // the tree still brings the opened directory into view
  int StopLookApplied = -1;  // StartBT's look: 1 Stop, 0 Start, -1 before the first ApplyView
  // Closing: the question is answered and the job ended; the source directory is saved (or its
  // failure told); tries of a save that found the store busy.
  bool Closing = false;
  bool SourceDirDone = false;
  int SourceDirTries = 0;
  uint32_t HeadLinesApplied = 0;
  uint32_t FileListRereadsApplied = 0;
};

// The one main window of the program (set while it exists).
extern TMainForm* MainForm;
