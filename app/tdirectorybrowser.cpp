#include "app/tdirectorybrowser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>

namespace {

// Paths are bytes on Linux; the widgets show them decoded the way the file system layer does.
QString ToDisplay(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string FromDisplay(const QString& path) { return QFile::encodeName(path).toStdString(); }

constexpr int PathRole = Qt::UserRole;

}  // namespace

bool Execute(TDirBrowseDlg& dlg, QWidget* owner) {
  TDirectoryBrowser browser(owner, dlg.TheDirectory);
  if (browser.exec() != QDialog::Accepted) return false;
  dlg.TheDirectory = browser.ResultDirectory;
  return true;
}

TDirectoryBrowser::TDirectoryBrowser(QWidget* owner, const std::string& directory) : QDialog(owner) {
  setupUi(this);
  setFixedSize(QSize(298, 350).expandedTo(minimumSizeHint()));
  // A list, not a tree the user folds: every level is open and shows no fold mark.
  DirectoryListBox1->setStyleSheet(QStringLiteral("QTreeView::branch { image: none; border-image: none; }"));
  connect(DriveComboBox1, &QComboBox::activated, this,
          [this](int index) { OpenDirectory(FromDisplay(DriveComboBox1->itemData(index).toString())); });
  connect(DirectoryListBox1, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { OpenDirectory(FromDisplay(item->data(0, PathRole).toString())); });
  connect(OKBtn, &QPushButton::clicked, this, &TDirectoryBrowser::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TDirectoryBrowser::CancelBtnClick);
  FillDrives();
  ResultDirectory = directory;
  // An empty directory leaves the drive box as it is and the list at the current directory.
  OpenDirectory(directory.empty() ? FromDisplay(QDir::currentPath()) : directory);
}

void TDirectoryBrowser::FillDrives() {
  // The "drives" of this system: the roots of its mounted volumes. Mounts of single files (as
  // containers have) are no place to browse.
  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir()) roots << volume.rootPath();
  }
  roots.removeDuplicates();
  std::sort(roots.begin(), roots.end());
  DriveComboBox1->clear();
  for (const QString& root : roots) DriveComboBox1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), root, root);
}

void TDirectoryBrowser::SelectDrive(const std::string& dir) {
  const QString root = QStorageInfo(ToDisplay(dir)).rootPath();
  if (root.isEmpty()) return;
  int index = DriveComboBox1->findData(root);
  if (index < 0) {
    DriveComboBox1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), root, root);
    index = DriveComboBox1->count() - 1;
  }
  DriveComboBox1->setCurrentIndex(index);
}

void TDirectoryBrowser::OpenDirectory(const std::string& dir) {
  // A directory that is gone (a stored destination on a removed disk) opens its nearest
  // existing ancestor instead of failing.
  QString path = QDir::cleanPath(QFileInfo(ToDisplay(dir)).absoluteFilePath());
  while (!QFileInfo(path).isDir() && path != QStringLiteral("/")) path = QFileInfo(path).path();
  CurrentDirectory = FromDisplay(path);
  SelectDrive(CurrentDirectory);

  DirectoryListBox1->clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  // The ancestors from the root down, each nested in the one before, then the subdirectories.
  QTreeWidgetItem* parent = new QTreeWidgetItem(DirectoryListBox1, QStringList(QStringLiteral("/")));
  parent->setIcon(0, open);
  parent->setData(0, PathRole, QStringLiteral("/"));
  QString walked;
  for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    walked += QLatin1Char('/') + part;
    parent = new QTreeWidgetItem(parent, QStringList(part));
    parent->setIcon(0, open);
    parent->setData(0, PathRole, walked);
  }
  const QDir current(path);
  const QStringList subdirectories =
      current.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  for (const QString& name : subdirectories) {
    auto* item = new QTreeWidgetItem(parent, QStringList(name));
    item->setIcon(0, closed);
    item->setData(0, PathRole, current.filePath(name));
  }
  DirectoryListBox1->expandAll();
  DirectoryListBox1->setCurrentItem(parent);
  ShowOpenDirectory();
  Edit1->setText(path);
}

void TDirectoryBrowser::ShowOpenDirectory() {
  // The ancestors stay in sight above the open directory wherever they fit.
  DirectoryListBox1->scrollToTop();
  if (QTreeWidgetItem* item = DirectoryListBox1->currentItem())
    DirectoryListBox1->scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void TDirectoryBrowser::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ShowOpenDirectory();  // the list's height is known only now
}

void TDirectoryBrowser::OKBtnClick() {
  // The list's directory, not the text of Edit1.
  ResultDirectory = CurrentDirectory;
  done(QDialog::Accepted);
}

void TDirectoryBrowser::CancelBtnClick() {
  ResultDirectory.clear();
  done(QDialog::Rejected);
}
