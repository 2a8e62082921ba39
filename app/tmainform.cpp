#include "app/tmainform.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFileSystemModel>
#include <QIcon>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStringListModel>
#include <QTimer>

#include "app/captions.h"
#include "app/scheduler.h"
#include "model/settings.h"
#include "app/dialogs.h"
#include "app/filebrowser.h"
#include "app/messageboxes.h"
#include "app/tsplashform.h"
#include "app/widgets.h"
#include "decoder/decoder.h"
#include "encoder/consolemonitor.h"
#include "encoder/priority.h"
#include "encoder/rates.h"
#include "platform/console.h"
#include "platform/jobthread.h"
#include "platform/messagebox.h"
#include "platform/notify.h"
#include "platform/tick.h"
#include "ui_tmainform.h"

TMainForm* MainForm = nullptr;

namespace {

void ApplyMainView() {
  if (MainForm != nullptr) MainForm->ApplyView();
}

}  // namespace

static void InitMainFormResources() { Q_INIT_RESOURCE(mainform); }

TMainForm::TMainForm(QWidget* parent) : QWidget(parent), ui((InitMainFormResources(), new Ui::TMainForm)) {
  MainForm = this;
  ui->setupUi(this);
  setFixedSize(632, 425);
  InstallMainFormBoxes();
  // The gradient caption: the window grows by its strip, the client area keeps its size.
  MainMC = AttachCaptionOrSay(this, SonivertCaption::Main);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  LayerGroup = new QButtonGroup(this);
  LayerGroup->addButton(ui->LayerRB0, 0);
  LayerGroup->addButton(ui->LayerRB1, 1);
  LayerGroup->addButton(ui->LayerRB2, 2);
  ModeGroup = new QButtonGroup(this);
  ModeGroup->addButton(ui->ModeRB0, 0);
  ModeGroup->addButton(ui->ModeRB1, 1);
  ModeGroup->addButton(ui->ModeRB2, 2);
  ModeGroup->addButton(ui->ModeRB3, 3);
  connect(LayerGroup, &QButtonGroup::idClicked, this, &TMainForm::LayerRGClick);
  connect(ModeGroup, &QButtonGroup::idClicked, this, &TMainForm::ModeRGClick);
  connect(ui->BitrateCB, &QComboBox::activated, this, &TMainForm::BitrateCBChange);
  ui->BitrateCB->view()->installEventFilter(this);
  InfoFont = ui->WavInfoP->font();

  SetUpFileBrowser();

  // The queue and the job controls.
  ui->JobLB->viewport()->installEventFilter(this);
  ui->JobLB->installEventFilter(this);
  ui->CurrentLB->viewport()->installEventFilter(this);
  ui->CurrentLB->installEventFilter(this);
  ui->FileLB->installEventFilter(this);
  connect(ui->ConfigBT, &QPushButton::clicked, this, [] { ConfigBTClick(); });
  connect(ui->AboutBT, &QPushButton::clicked, this, [] { AboutBTClick(); });
  connect(ui->StartBT, &QPushButton::clicked, this, &TMainForm::StartBTClick);
  connect(ui->AbortBT, &QPushButton::clicked, this, &TMainForm::AbortBTClick);
  connect(ui->ClearBT, &QPushButton::clicked, this, &TMainForm::ClearBTClick);
  connect(ui->PriorityTB, &QSlider::valueChanged, this, &TMainForm::PriorityTBChange);
  PriorityPosition = ui->PriorityTB->value();

  Scheduler.ApplyView = ApplyMainView;
  Scheduler.QueueDone = [](uint32_t converted, uint32_t failed) {
    char text[96];
    std::snprintf(text, sizeof text, "Sonivert: %u files converted, %u failed",
                  static_cast<unsigned>(converted), static_cast<unsigned>(failed));
    PostDesktopNotification(text);
  };

  StatusTM = new QTimer(this);
  StatusTM->setInterval(500);
  connect(StatusTM, &QTimer::timeout, this, &TMainForm::StatusTMTimer);
  ReadConsoleT = new QTimer(this);
  ReadConsoleT->setInterval(100);
  connect(ReadConsoleT, &QTimer::timeout, this, &TMainForm::ReadConsoleTTimer);
  ConsoleMonitor.SetReadTimer = [](bool enabled) {
    if (MainForm == nullptr) return;
    enabled ? MainForm->ReadConsoleT->start() : MainForm->ReadConsoleT->stop();
  };
  ConsoleMonitor.RaiseMainWindow = [] {
    if (MainForm != nullptr && MainForm->isVisible()) MainForm->raise();
  };

  // The default directories, then whatever the store holds.
  SetDefaultSettings();
  PreferTompgBeside(TextToBytes(QCoreApplication::applicationDirPath()));
  std::string sourceDir;
  if (LoadSettings(sourceDir)) {
    OpenDirectory(BytesToText(sourceDir));
  } else {
    OpenDirectory(QDir::currentPath());
  }
  ConsoleSetup();
  if (ConsoleMasterFd() >= 0) {
    // Drained as soon as the encoder writes, so that it never waits on a full terminal.
    ConsoleNotifier = new QSocketNotifier(ConsoleMasterFd(), QSocketNotifier::Read, this);
    connect(ConsoleNotifier, &QSocketNotifier::activated, this, [] { PumpConsole(); });
  }
  InitDecoderTables();
  if (JobEndDescriptor() >= 0) {
    // A job's end is handled at once: the next job starts without waiting for the next tick.
    JobEndNotifier = new QSocketNotifier(JobEndDescriptor(), QSocketNotifier::Read, this);
    connect(JobEndNotifier, &QSocketNotifier::activated, this, [this] {
      TakeJobEnds();
      StatusTMTimer();
    });
  }

  ShowFormat(-1, true);
  ApplyView();
  StatusTM->start();
  ReadConsoleT->start();
}

TMainForm::~TMainForm() {
  FinishJobOnClose();
  RemoveMainFormBoxes();
  Scheduler.ApplyView = [] {};
  ConsoleMonitor.SetReadTimer = nullptr;
  ConsoleMonitor.RaiseMainWindow = nullptr;
  if (MainForm == this) MainForm = nullptr;
  delete ui;
}

// ---- enqueue --------------------------------------------------------------------------------

void TMainForm::FileLBDblClick() { Enqueue(); }

bool TMainForm::JobLBDragOver(QObject* source) const {
  return source == ui->FileLB && ui->FileLB->selectionModel()->hasSelection();
}

bool TMainForm::JobLBTakesDrop(const QDropEvent* drop) const {
  // A drag of this window's own comes from FileLB or nowhere; one from another program brings
  // local files or is refused without a box.
  if (drop->source() != nullptr) return JobLBDragOver(drop->source());
  return DropBringsLocalFiles(drop->mimeData());
}

void TMainForm::JobLBDragDrop() { Enqueue(); }

void TMainForm::Enqueue() {
  QStringList paths;
  QItemSelectionModel* selection = ui->FileLB->selectionModel();
  for (int row = 0; row < FileModel->rowCount(); ++row) {
    const QModelIndex index = FileModel->index(row);
    if (selection->isSelected(index)) paths << FileDirectory + index.data().toString();
  }
  EnqueuePaths(paths);
}

void TMainForm::EnqueuePaths(const QStringList& paths) {
  for (const QString& path : paths) {
    const std::string bytes = TextToBytes(path);
    std::string line;
    const int code = EnqueueFile(bytes, line);
    if (code == InspectAccepted) {
      ui->JobLB->addItem(BytesToText(line));
      continue;
    }
    ShowMessageBox(EnqueueRefusalText(code, bytes).c_str(), EnqueueRefusalCaption(code));
    if (code != EnqueueQueueFull) ReadFileList();
    return;
  }
}

// ---- the queue list and the format controls -------------------------------------------------

int TMainForm::SelectedJob() const {
  const QList<QListWidgetItem*> selected = ui->JobLB->selectedItems();
  if (selected.isEmpty()) return -1;
  return ui->JobLB->row(selected.first());
}

int TMainForm::SelectedEntry() const {
  const int i = SelectedJob();
  return i >= 0 && i < QueueCount ? i : -1;
}

void TMainForm::JobLBDblClick() {
  const int i = SelectedJob();
  if (i < 0) return;
  RemoveQueueEntry(i);
  delete ui->JobLB->takeItem(i);
}

void TMainForm::JobLBClick() {
  const int i = SelectedEntry();
  if (i < 0) return;
  const QueueEntry& e = JobQueue[i];
  if (QAbstractButton* b = LayerGroup->button(e.Layer)) b->setChecked(true);
  if (QAbstractButton* b = ModeGroup->button(e.ChannelMode)) b->setChecked(true);
  // An MP3 entry's bitrate is in kbit/s, not an item of the list (a stream of 64 kbit/s is not
  // item 64, and one of 8 kbit/s not item 8): the list shows no selection.
  ui->BitrateCB->setCurrentIndex(e.IsWave && e.Bitrate >= 0 && e.Bitrate < BitrateCount ? e.Bitrate : -1);
}

void TMainForm::ShowFormat(int selected, bool followBitrate) {
  const FormatDisplay d = FormatDisplayFor(selected, followBitrate);
  if (QAbstractButton* b = LayerGroup->button(d.Layer)) b->setChecked(true);
  if (QAbstractButton* b = ModeGroup->button(d.ChannelMode)) b->setChecked(true);
  if (d.Bitrate >= 0) ui->BitrateCB->setCurrentIndex(d.Bitrate);
  ui->LayerRG->setEnabled(d.Enabled);
  ui->ModeRG->setEnabled(d.Enabled);
  ui->BitrateCB->setEnabled(d.Enabled);
  ShowInfoLine(BytesToText(d.InfoText));
}

void TMainForm::LayerRGClick(int index) {
  const int i = SelectedEntry();
  if (i >= 0) JobQueue[i].Layer = index;
}

void TMainForm::ModeRGClick(int index) {
  const int i = SelectedEntry();
  if (i < 0) return;
  const int mode = ModeChoiceFor(i, index);
  if (mode != index) ModeGroup->button(mode)->setChecked(true);
  JobQueue[i].ChannelMode = mode;
}

void TMainForm::BitrateCBChange(int index) {
  const int i = SelectedEntry();
  if (i >= 0 && index >= 0 && index < BitrateCount) JobQueue[i].Bitrate = index;
  BitrateFollow = true;
}

void TMainForm::BitrateCBDropDown() { BitrateFollow = false; }

// ---- the converter --------------------------------------------------------------------------

void TMainForm::StatusTMTimer() {
  ShowFormat(SelectedJob(), BitrateFollow);
  ::StatusTMTimer(GetTickCount());
}

void TMainForm::ReadConsoleTTimer() {
  ::ReadConsoleTTimer(InputPosition.load(std::memory_order_relaxed));
  ApplyStartLook();  // an encoder's error line switches the converter off while its box is open
}

void TMainForm::StartBTClick() {
  ::StartBTClick();
  StatusTMTimer();  // the first job starts now, not at the next tick
}

void TMainForm::AbortBTClick() {
  ::AbortBTClick();
  StatusTMTimer();  // the job is asked to end now, not at the next tick
}

void TMainForm::ClearBTClick() {
  ::ClearBTClick();
  ui->JobLB->clear();
}

void TMainForm::CurrentLBClick() { ::CurrentLBClick(View.JobRunning); }

void TMainForm::PriorityTBChange(int position) {
  PriorityPosition = position;
  ::PriorityTBChange(position);
  // Seen to hold now: a refusal is told on the status line and the slider goes back.
  Converter.PriorityToCheck = true;
  StatusTMTimer();
}

// ---- events ---------------------------------------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->JobLB->viewport()) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (JobLBTakesDrop(drag)) {
          drag->setDropAction(Qt::CopyAction);
          drag->accept();
        } else {
          drag->ignore();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (JobLBTakesDrop(drop)) {
          drop->setDropAction(Qt::CopyAction);
          drop->accept();
          // Enqueued after the drag has ended: its boxes must not open inside the drag loop.
          if (drop->source() != nullptr) {
            QTimer::singleShot(0, this, &TMainForm::JobLBDragDrop);
          } else {
            QTimer::singleShot(0, this, [this, sources = DroppedSources(drop->mimeData())] { EnqueuePaths(sources); });
          }
        }
        return true;
      }
      case QEvent::MouseButtonDblClick:
        JobLBDblClick();
        return true;
      case QEvent::MouseButtonRelease:
        // After the view has taken the click into its selection.
        QTimer::singleShot(0, this, &TMainForm::JobLBClick);
        break;
      default:
        break;
    }
  } else if (watched == ui->JobLB) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
      JobLBDblClick();  // the keyboard's way to take an entry out
      return true;
    }
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
      QTimer::singleShot(0, this, &TMainForm::JobLBClick);
    }
  } else if (watched == ui->FileLB && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      FileLBDblClick();  // the keyboard's double click
      return true;
    }
  } else if (watched == ui->CurrentLB && event->type() == QEvent::KeyPress &&
             static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
    CurrentLBClick();  // the keyboard's click: suspend or resume
    return true;
  } else if (watched == ui->CurrentLB->viewport()) {
    if (event->type() == QEvent::MouseButtonPress) {
      CurrentLBClick();
      return true;  // the tick, not the click, decides what is selected
    }
    if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseButtonDblClick)
      return true;
  } else if (watched == ui->DirectoryLB->viewport() || watched == ui->DirectoryLB) {
    DirectoryLBInput(event);
  } else if (watched == ui->BitrateCB->view() && event->type() == QEvent::Show) {
    BitrateCBDropDown();
  }
  return QWidget::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!Closing) {
    if (!::FormCloseQuery()) {
      event->ignore();
      return;
    }
    FinishJobOnClose();
    Closing = true;
  }
  std::string why;
  const SettingsSave saved = SourceDirDone ? SaveDone : SaveSourceDir(TextToBytes(CurrentDirectory()), &why);
  if (saved == SaveDone) {
    event->accept();
    return;
  }
  // The window stays until the store is free, or until the user has read why it is not saved.
  event->ignore();
  if (saved == SaveBusy && ++SourceDirTries < SettingsSaveTries) {
    QTimer::singleShot(SettingsSaveRetryMs, this, &QWidget::close);
    return;
  }
  SourceDirDone = true;
  ShowMessageBox(("Unable to save the source directory. " + why).c_str(), "Sonivert", [] {
    if (MainForm != nullptr) QTimer::singleShot(0, MainForm, &QWidget::close);
  });
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The splash opens once the window is on screen, not inside its show event: it runs a modal
  // loop of its own.
  if (SplashForm != nullptr) QTimer::singleShot(0, this, [] { ShowSplash(); });
}
