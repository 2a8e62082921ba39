#include "app/tdirectorybrowser.h"

#include <QStyle>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "app/drives.h"
#include "app/widgets.h"

namespace {

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
          [this](int index) { OpenDirectory(TextToBytes(DriveComboBox1->itemData(index).toString())); });
  connect(DirectoryListBox1, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    OpenDirectory(item->data(0, PathRole).toByteArray().toStdString());
  });
  connect(OKBtn, &QPushButton::clicked, this, &TDirectoryBrowser::OKBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TDirectoryBrowser::CancelBtnClick);
  FillDrives();
  ResultDirectory = directory;
  // An empty directory leaves the drive box as it is and the list at the current directory.
  std::error_code ec;
  OpenDirectory(directory.empty() ? std::filesystem::current_path(ec).string() : directory);
}

void TDirectoryBrowser::FillDrives() {
  DriveComboBox1->clear();
  for (const QString& root : DriveRoots())
    DriveComboBox1->addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), root, root);
}

void TDirectoryBrowser::SelectDrive(const std::string& dir) {
  QStringList roots;
  for (int i = 0; i < DriveComboBox1->count(); ++i) roots << DriveComboBox1->itemData(i).toString();
  const int index = DriveIndexOf(BytesToText(dir), roots);
  if (index >= 0) DriveComboBox1->setCurrentIndex(index);
}

void TDirectoryBrowser::OpenDirectory(const std::string& dir) {
  // Paths stay bytes throughout: a name that is not valid text still names its directory. A
  // directory that is gone (a stored destination on a removed disk) opens its nearest existing
  // ancestor instead of failing.
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path path = fs::absolute(fs::path(dir), ec).lexically_normal();
  if (ec) path = "/";
  while (!fs::is_directory(path, ec) && path.has_relative_path()) path = path.parent_path();
  std::string text = path.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  CurrentDirectory = text;
  SelectDrive(CurrentDirectory);

  DirectoryListBox1->clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  auto addItem = [](QTreeWidgetItem* item, const std::string& name, const std::string& full,
                    const QIcon& icon) {
    item->setText(0, BytesToText(name));
    item->setIcon(0, icon);
    item->setData(0, PathRole, QByteArray::fromStdString(full));
  };
  // The ancestors from the root down, each nested in the one before, then the subdirectories.
  QTreeWidgetItem* parent = new QTreeWidgetItem(DirectoryListBox1);
  addItem(parent, "/", "/", open);
  std::string walked;
  for (std::size_t at = 1; at < text.size();) {
    const std::size_t end = std::min(text.find('/', at), text.size());
    walked = text.substr(0, end);
    parent = new QTreeWidgetItem(parent);
    addItem(parent, text.substr(at, end - at), walked, open);
    at = end + 1;
  }
  std::vector<std::pair<QString, std::string>> subdirectories;  // shown name, file name
  for (fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), last;
       !ec && it != last; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (!name.empty() && name[0] != '.' && it->is_directory(typeError))
      subdirectories.emplace_back(BytesToText(name), name);
  }
  std::sort(subdirectories.begin(), subdirectories.end(), [](const auto& a, const auto& b) {
    return QString::localeAwareCompare(a.first.toCaseFolded(), b.first.toCaseFolded()) < 0;
  });
  const std::string prefix = text == "/" ? text : text + "/";
  for (const auto& [shown, name] : subdirectories)
    addItem(new QTreeWidgetItem(parent), name, prefix + name, closed);
  DirectoryListBox1->expandAll();
  DirectoryListBox1->setCurrentItem(parent);
  ShowOpenDirectory();
  Edit1->setText(BytesToText(text));
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
