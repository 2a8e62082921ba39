#include "app/tconfigform.h"

#include <QFontMetrics>
#include <string>

#include "app/captions.h"
#include "app/dialogs.h"
#include "app/widgets.h"
#include "encoder/commandline.h"
#include "platform/messagebox.h"

TConfigForm* ConfigForm = nullptr;

namespace {

// Shows a path on a button: an '&' would otherwise be taken for a shortcut mark and vanish, and
// a path wider than the button is shortened in its middle for display only.
void ShowPath(QPushButton* button, const std::string& path) {
  const QString text = BytesToText(path);
  const int room = button->width() - 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin) - 8;
  QString shown = button->fontMetrics().elidedText(text, Qt::ElideMiddle, qMax(room, 40));
  shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
  button->setText(shown);
  button->setToolTip(text);
}

void RefusePath(const char* what, const std::string& dir, std::size_t most) {
  const std::string text = std::string(what) + " is " + std::to_string(dir.size()) +
                           " bytes long; Sonivert can keep at most " + std::to_string(most) +
                           ". It was not taken: please choose a directory with a shorter path.\n" + dir;
  ShowMessageBox(text.c_str(), "Sonivert");
}

}  // namespace

TConfigForm::TConfigForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setupUi(this);
  ConfigLayerGroup = new QButtonGroup(this);
  ConfigLayerGroup->addButton(ConfigLayer1RB, 0);
  ConfigLayerGroup->addButton(ConfigLayer2RB, 1);
  ConfigLayerGroup->addButton(ConfigLayer3RB, 2);
  ConfigModeGroup = new QButtonGroup(this);
  ConfigModeGroup->addButton(ConfigStereoRB, 0);
  ConfigModeGroup->addButton(ConfigJointRB, 1);
  ConfigModeGroup->addButton(ConfigDualRB, 2);
  ConfigModeGroup->addButton(ConfigMonoRB, 3);

  ConfigDirBT->installEventFilter(this);
  ConfigCodecBT->installEventFilter(this);
  connect(ConfigDirBT, &QPushButton::clicked, this, &TConfigForm::ConfigDirBTClick);
  connect(ConfigCodecBT, &QPushButton::clicked, this, &TConfigForm::ConfigCodecBTClick);
  connect(ConfigOkBT, &QPushButton::clicked, this, [] { ConfigOkBTClick(); });
  connect(ConfigCancelBT, &QPushButton::clicked, this, &QDialog::reject);
  // The designed size, or more where the desktop's font needs it: no control is ever cut.
  setFixedSize(QSize(378, 329).expandedTo(minimumSizeHint()));
  // The gradient caption: the window grows by its strip.
  ConfigureMC = AttachCaptionOrSay(this, SonivertCaption::Configure);
}

void TConfigForm::SetConfigDirPath(const std::string& dir) {
  ConfigDirPath = dir;
  ShowPath(ConfigDirBT, dir);
}

void TConfigForm::SetConfigCodecPath(const std::string& dir) {
  ConfigCodecPath = dir;
  ShowPath(ConfigCodecBT, dir);
}

void TConfigForm::ShowPathCaptions() {
  ShowPath(ConfigDirBT, ConfigDirPath);
  ShowPath(ConfigCodecBT, ConfigCodecPath);
}

bool TConfigForm::eventFilter(QObject* watched, QEvent* event) {
  // A path button shortens its caption to its own width, known only once it is laid out.
  if (event->type() == QEvent::Resize && (watched == ConfigDirBT || watched == ConfigCodecBT))
    ShowPathCaptions();
  return QDialog::eventFilter(watched, event);
}

void TConfigForm::ConfigDirBTClick() {
  ConfigDirBrowse.TheDirectory = ConfigDirPath;
  const bool chosen = Execute(ConfigDirBrowse, this);
  const std::string dir = WithTrailingSlash(ConfigDirBrowse.TheDirectory);
  // Only a new choice is checked: a cancelled browse keeps what the button had.
  if (chosen && dir.size() > MaxDestinationDirLength) {
    RefusePath("The destination directory", dir, MaxDestinationDirLength);
    return;
  }
  SetConfigDirPath(dir);
}

void TConfigForm::SetCodecDialogDirectory(const QString& dir) {
  ConfigCodecDirectory = dir;
  if (ConfigCodecDialog != nullptr) ConfigCodecDialog->setDirectory(dir);
}

void TConfigForm::ConfigCodecBTClick() {
  if (ConfigCodecDialog == nullptr) {
    // Linux has no "tompg.exe": the encoder is the program named tompg.
    ConfigCodecDialog = new QFileDialog(this, QStringLiteral("Select location of tompg"));
    ConfigCodecDialog->setOption(QFileDialog::DontUseNativeDialog);
    ConfigCodecDialog->setFileMode(QFileDialog::ExistingFile);
    ConfigCodecDialog->setAcceptMode(QFileDialog::AcceptOpen);
    ConfigCodecDialog->setNameFilter(QStringLiteral("tompg (tompg)"));
    ConfigCodecDialog->setDirectory(ConfigCodecDirectory);
  }
  if (ConfigCodecDialog->exec() != QDialog::Accepted) return;
  const QStringList files = ConfigCodecDialog->selectedFiles();
  if (!files.isEmpty()) TakeCodecFile(TextToBytes(files.first()));
}

void TConfigForm::TakeCodecFile(const std::string& file) {
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return;
  // The directory that holds the file, with its separator; the file's own name is not kept.
  const std::string dir = file.substr(0, slash + 1);
  if (dir.size() > MaxTompgDirLength) {
    RefusePath("The directory of tompg", dir, MaxTompgDirLength);
    return;
  }
  // The encoder's path opens its command line, where a double quote cannot be written.
  if (!EncoderDirectoryUsable(dir.c_str())) {
    const std::string text = "The directory of tompg holds a double quote, which the encoder's command line "
                             "cannot carry. It was not taken: please put tompg in a directory whose path has "
                             "none.\n" +
                             dir;
    ShowMessageBox(text.c_str(), "Sonivert");
    return;
  }
  SetConfigCodecPath(dir);
}
