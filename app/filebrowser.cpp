// The main window's file browser: the drive box, the directory tree, the filter and the file
// list, kept current while folders change on disk.
#include "app/filebrowser.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QDrag>
#include <QFileSystemModel>
#include <QFileSystemWatcher>
#include <QMimeData>
#include <QScrollBar>
#include <QStringListModel>

#include "app/drives.h"
#include "app/tmainform.h"
#include "app/widgets.h"
#include "ui_tmainform.h"

namespace {
// The masks of FilterCB's items; the first, the sound files, also picks what a dropped folder
// brings: every source that is encoded (WAV, RF64, Wave64, AIFF, FLAC, Ogg Vorbis, Opus) or
// decoded (MP3). The list matches names in any case (QDir's default).
const char* const FilterMasks[4] = {"*.wav;*.mp3;*.flac;*.ogg;*.oga;*.opus;*.aif;*.aiff;*.aifc;*.rf64;*.w64",
                                    "*.wav", "*.mp3", "*"};
QStringList MasksOf(int item) { return QString::fromLatin1(FilterMasks[item]).split(QLatin1Char(';')); }
}  // namespace

void TFileListBox::startDrag(Qt::DropActions supportedActions) {
  const QModelIndexList selected = selectedIndexes();
  if (selected.isEmpty()) return;
  auto* drag = new QDrag(this);
  auto* data = new QMimeData;
  QStringList names;
  for (const QModelIndex& index : selected) names << index.data().toString();
  data->setText(names.join(QLatin1Char('\n')));
  drag->setMimeData(data);
  const QPixmap cursor =
      RenderPicture(selected.size() < 2 ? ":/cursors/dragfile.svg" : ":/cursors/dragfiles.svg", QSize(32, 32),
                    qApp->devicePixelRatio());
  drag->setDragCursor(cursor, Qt::CopyAction);
  drag->setDragCursor(cursor, Qt::MoveAction);
  drag->exec(supportedActions & Qt::CopyAction ? Qt::CopyAction : supportedActions, Qt::CopyAction);
}

bool DropBringsLocalFiles(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return false;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

QStringList DroppedSources(const QMimeData* data) {
  QStringList sources;
  if (data == nullptr) return sources;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (!QFileInfo(path).isDir()) {
      sources << path;
      continue;
    }
    const QDir folder(path);
    const QStringList names = folder.entryList(MasksOf(0), QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) sources << folder.filePath(name);
  }
  return sources;
}

void TMainForm::SetUpFileBrowser() {
  DirectoryModel = new QFileSystemModel(this);
  DirectoryModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  DirectoryModel->setRootPath(QStringLiteral("/"));
  ui->DirectoryLB->setModel(DirectoryModel);
  for (int column = 1; column < DirectoryModel->columnCount(); ++column) ui->DirectoryLB->hideColumn(column);
  ui->DirectoryLB->setHeaderHidden(true);
  ui->DirectoryLB->setSortingEnabled(true);
  ui->DirectoryLB->sortByColumn(0, Qt::AscendingOrder);
  // The tree fills in (and sorts itself) as the model reads directories: the directory just
  // opened is kept in view meanwhile. Once the user scrolls, clicks or types in the tree, a read
  // (a folder that changed on disk, one the user expanded) leaves the scroll position alone.
  const auto keepCurrentInView = [this] {
    if (TreeScrollPending)
      ui->DirectoryLB->scrollTo(ui->DirectoryLB->currentIndex(), QAbstractItemView::PositionAtCenter);
  };
  connect(DirectoryModel, &QFileSystemModel::directoryLoaded, this, keepCurrentInView);
  connect(DirectoryModel, &QFileSystemModel::layoutChanged, this, keepCurrentInView, Qt::QueuedConnection);
  connect(ui->DirectoryLB->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this] { TreeScrollPending = false; });
  ui->DirectoryLB->viewport()->installEventFilter(this);
  ui->DirectoryLB->installEventFilter(this);
  connect(ui->DirectoryLB->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (!current.isValid()) return;
            QString dir = DirectoryModel->filePath(current);
            if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
            if (dir != FileDirectory) {
              FileDirectory = dir;
              ReadFileList();
            }
          });
  ui->DriveCB->addItems(DriveRoots());
  connect(ui->DriveCB, &QComboBox::activated, this, &TMainForm::DriveCBChange);
  FileModel = new QStringListModel(this);
  ui->FileLB->setModel(FileModel);
  ui->FileLB->setEditTriggers(QAbstractItemView::NoEditTriggers);
  connect(ui->FileLB, &QAbstractItemView::doubleClicked, this, &TMainForm::FileLBDblClick);
  FileWatcher = new QFileSystemWatcher(this);
  connect(FileWatcher, &QFileSystemWatcher::directoryChanged, this, [this] {
    // A change made elsewhere: list again, keeping what the user had selected.
    QStringList selected;
    for (const QModelIndex& index : ui->FileLB->selectionModel()->selectedIndexes())
      selected << index.data().toString();
    ReadFileList();
    for (int row = 0; row < FileModel->rowCount(); ++row) {
      const QModelIndex index = FileModel->index(row);
      if (selected.contains(index.data().toString()))
        ui->FileLB->selectionModel()->select(index, QItemSelectionModel::Select);
    }
  });
  FilterCBChange(0);
  connect(ui->FilterCB, &QComboBox::currentIndexChanged, this, &TMainForm::FilterCBChange);
}

void TMainForm::DirectoryLBInput(QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::MouseButtonPress || type == QEvent::Wheel || type == QEvent::KeyPress)
    TreeScrollPending = false;
}

QString TMainForm::CurrentDirectory() const { return FileDirectory; }

void TMainForm::OpenDirectory(const QString& dir) {
  QString path = QDir(dir).absolutePath();
  if (!QFileInfo(path).isDir()) path = QDir::rootPath();
  QStringList roots;
  for (int i = 0; i < ui->DriveCB->count(); ++i) roots << ui->DriveCB->itemText(i);
  const int best = DriveIndexOf(path, roots);
  if (best >= 0) {
    ui->DriveCB->setCurrentIndex(best);
    ui->DirectoryLB->setRootIndex(DirectoryModel->index(roots[best]));
  }
  FileDirectory = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
  const QModelIndex index = DirectoryModel->index(path);
  ui->DirectoryLB->setCurrentIndex(index);
  ui->DirectoryLB->expand(index);
  ui->DirectoryLB->scrollTo(index);
  TreeScrollPending = true;
  ReadFileList();
}

void TMainForm::DriveCBChange(int index) {
  if (index >= 0) OpenDirectory(ui->DriveCB->itemText(index));
}

void TMainForm::FilterCBChange(int index) {
  FileMasks = MasksOf(index >= 0 && index < 4 ? index : 0);
  ReadFileList();
}

void TMainForm::ReadFileList() {
  // The watch moves only with the listed directory: a re-read of the same one (a filter, a
  // change seen, a deleted source) keeps it. The watcher holds paths as they were given.
  const QStringList watched = FileWatcher->directories();
  const bool watching = watched.size() == 1 && watched.first() == FileDirectory;
  if (!watching && !watched.isEmpty()) FileWatcher->removePaths(watched);
  if (FileDirectory.isEmpty()) return;
  const QDir dir(FileDirectory);
  FileModel->setStringList(
      dir.entryList(FileMasks, QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase));
  ui->FileLB->clearSelection();
  if (!watching) FileWatcher->addPath(FileDirectory);
}
