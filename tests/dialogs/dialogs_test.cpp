// The configuration dialog against the stored settings, the directory browser, the path
// refusals, the splash's countdown, the about window's close clicks and each window's caption.
#include "app/dialogs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <QApplication>
#include <QMessageBox>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/captions.h"
#include "app/taboutform.h"
#include "app/tconfigform.h"
#include "app/tsplashform.h"
#include "platform/registry.h"
#include "tests/support/boxes.h"
#include "tests/support/files.h"
#include "tests/support/qtwait.h"

namespace {

// Runs act on the modal window of type T as soon as one is up (polling, with a deadline);
// without one in time the test fails and every modal window is closed, so nothing hangs.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  auto* poll = new QTimer;
  auto started = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, [poll, started, act] {
    if (T* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      poll->deleteLater();
      poll->stop();
      act(w);
    } else if (++*started > 1000) {
      poll->deleteLater();
      poll->stop();
      ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " within 10 s";
      while (QWidget* m = QApplication::activeModalWidget()) m->close();
    }
  });
  poll->start(10);
}

std::string Local(const QString& path) { return QFile::encodeName(path).toStdString(); }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_.Dir();
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    std::filesystem::create_directories(root_ + "/start/sub/inner");
    std::filesystem::create_directories(root_ + "/start/bad\xFF");
    std::filesystem::current_path(root_ + "/start");
    SetDefaultSettings();
    StartRecordingBoxes();
  }
  void TearDown() override { StopRecordingBoxes(); }
  bool KeyStored() {
    RegKey key;
    if (RegOpenKey(SettingsKeyPath, key) != RegOk) return false;
    RegCloseKey(key);
    return true;
  }
  // Makes a directory whose path (with its final '/') is exactly length bytes long.
  std::string DirOfLength(std::size_t length, const std::string& filler = "d") {
    std::string dir = root_;
    std::size_t remaining = length - 1 - dir.size();  // bytes still to add, each part with its '/'
    while (remaining > 0) {
      std::size_t part = std::min<std::size_t>(remaining - 1, 200);
      if (remaining - 1 - part == 1) --part;  // a lone byte left could not form a part
      std::string name;
      while (name.size() + filler.size() <= part) name += filler;
      name.append(part - name.size(), 'x');
      dir += "/" + name;
      remaining -= part + 1;
    }
    std::filesystem::create_directories(dir);
    return dir + "/";
  }
  ScratchDir tmp_;
  std::string root_;
};

TEST_F(DialogTest, OkFillsFromFirstRunSettingsAndStoresTheNewChoices) {
  AppSettings.Flags = FlagShowErrorBox | 0x100;  // a bit with no meaning: confirming drops it
  WhenModal<TConfigForm>([this](TConfigForm* f) {
    EXPECT_EQ(f->ConfigLayerGroup->checkedId(), 2);
    EXPECT_EQ(f->ConfigModeGroup->checkedId(), 1);
    EXPECT_EQ(f->ConfigBitrateCB->currentText(), QStringLiteral("128 kbit/s"));
    EXPECT_TRUE(f->ShowBoxCB->isChecked());
    EXPECT_FALSE(f->ConfigDeleteCB->isChecked());
    EXPECT_EQ(f->ConfigDirPath, root_ + "/start/");
    EXPECT_EQ(f->ConfigCodecPath, root_ + "/start/");
    f->ConfigLayer1RB->click();
    f->ConfigMonoRB->click();
    f->ConfigBitrateCB->setCurrentIndex(11);
    f->ShowBoxCB->setChecked(false);
    f->ConfigDeleteCB->setChecked(true);
    f->SetConfigDirPath(root_ + "/start/sub/");
    f->ConfigOkBT->click();
  });
  ConfigBTClick();
  // The choices are in force at once and are what a later run loads.
  for (const char* when : {"InForce", "Reloaded"}) {
    SCOPED_TRACE(when);
    EXPECT_EQ(AppSettings.Layer, 0);
    EXPECT_EQ(AppSettings.ChannelMode, 3);
    EXPECT_EQ(AppSettings.Bitrate, 11);
    EXPECT_EQ(AppSettings.Flags, uint32_t{FlagDeleteAfterEncoding});
    EXPECT_EQ(AppSettings.DestinationDir, root_ + "/start/sub/");
    EXPECT_STREQ(AppSettings.TompgDir, (root_ + "/start/").c_str());
    SetDefaultSettings();
    AppSettings.Layer = -1;
    std::string source;
    LoadSettings(source);
  }
}

// OK where the store cannot be written: a box over the dialog says why, the dialog stays, Cancel
// keeps the settings. A store another program holds locked is tried again until it is free.
TEST_F(DialogTest, OkThatCannotSaveSaysWhyOverTheDialogAndABusyStoreIsTriedAgain) {
  const std::string store = RegistryStoreFile();
  std::filesystem::create_directories(store);  // a folder where the file should be
  WhenModal<TConfigForm>([](TConfigForm* f) {
    f->ConfigLayer1RB->click();
    f->ConfigOkBT->click();
    WhenModal<QMessageBox>([f](QMessageBox* box) {
      EXPECT_TRUE(box->parentWidget() == f && f->isVisible());
      EXPECT_TRUE(box->text().startsWith(QStringLiteral("Unable to save the settings. The settings file cannot "
                                                        "be written: Is a directory.\n")));
      box->accept();
      f->reject();
    });
  });
  ConfigBTClick();
  EXPECT_EQ(AppSettings.Layer, 2);
  std::filesystem::remove(store);
  const int lock = ::open((store + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  WhenModal<TConfigForm>([lock](TConfigForm* f) {
    f->ConfigOkBT->click();
    EXPECT_TRUE(f->isVisible() && !f->ConfigOkBT->isEnabled());
    ::close(lock);  // the other program's save is done
  });
  ConfigBTClick();
  EXPECT_TRUE(KeyStored() && Boxes.empty());
}

TEST_F(DialogTest, CancelAfterBrowsingChangesNeitherSettingsNorStore) {
  const std::string before = AppSettings.DestinationDir;
  WhenModal<TConfigForm>([this](TConfigForm* f) {
    WhenModal<TDirectoryBrowser>([this](TDirectoryBrowser* b) {
      b->OpenDirectory(root_ + "/start/sub");
      b->OKBtn->click();
      WhenModal<TConfigForm>([this](TConfigForm* f) {
        EXPECT_EQ(f->ConfigDirPath, root_ + "/start/sub/");
        f->ConfigLayer1RB->click();
        f->ConfigDeleteCB->setChecked(true);
        f->ConfigCancelBT->click();
      });
    });
    f->ConfigDirBT->click();
  });
  ConfigBTClick();
  EXPECT_EQ(AppSettings.DestinationDir, before);
  EXPECT_EQ(AppSettings.Layer, 2);
  EXPECT_EQ(AppSettings.Flags, uint32_t{FlagShowErrorBox});
  EXPECT_FALSE(KeyStored());
}

TEST_F(DialogTest, BrowserOkTakesTheListsDirectoryAndCancelKeepsTheOld) {
  struct Row {
    const char* name;
    std::string start;     // TheDirectory handed in, below root_
    std::string activate;  // subdirectory opened by a double click, or none, below root_
    bool ok;
    bool result;
    std::string expected;  // TheDirectory afterwards, below root_
    std::string shown;     // Edit1 while the browser is open, below root_
  };
  const Row rows[] = {
      {"OkAfterOpeningASubdirectory", "/start", "/start/sub", true, true, "/start/sub", "/start/sub"},
      {"CancelKeepsTheDirectory", "/start/", "/start/sub", false, false, "/start/", "/start/sub"},
      // A name that is not valid text is still the directory's own name, byte for byte.
      {"NameThatIsNotText", "/start", "/start/bad\xFF", true, true, "/start/bad\xFF", ""},
      {"GoneDirectoryOpensItsNearestAncestor", "/start/sub/gone/deeper", "", true, true, "/start/sub",
       "/start/sub"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TDirBrowseDlg dlg{root_ + row.start};
    WhenModal<TDirectoryBrowser>([&](TDirectoryBrowser* b) {
      if (!row.activate.empty()) {
        QTreeWidgetItem* found = nullptr;
        for (QTreeWidgetItemIterator it(b->DirectoryListBox1); *it; ++it) {
          if ((*it)->data(0, Qt::UserRole).toByteArray().toStdString() == root_ + row.activate) found = *it;
        }
        ASSERT_NE(found, nullptr);
        emit b->DirectoryListBox1->itemActivated(found, 0);
      }
      if (!row.shown.empty()) {
        EXPECT_EQ(Local(b->Edit1->text()), root_ + row.shown);
      }
      b->Edit1->setText(QStringLiteral("/not/this"));  // OK takes the list's directory
      (row.ok ? b->OKBtn : b->CancelBtn)->click();
    });
    EXPECT_EQ(Execute(dlg, nullptr), row.result);
    EXPECT_EQ(dlg.TheDirectory, root_ + row.expected);
  }
}

TEST_F(DialogTest, DestinationButtonRefusesADirectoryTooLongForOutputPaths) {
  struct Row {
    const char* name;
    std::size_t length;
    bool ok;
    bool taken;
    const char* kept;  // the caption afterwards when the choice is not taken, below root_
  };
  const Row rows[] = {
      {"LongestThatFits", MaxDestinationDirLength, true, true, ""},
      {"OneByteTooLongKeepsTheCaptionUnchanged", MaxDestinationDirLength + 1, true, false, "/start"},
      {"CancelKeepsTheCaptionAndAddsASlash", MaxDestinationDirLength + 1, false, false, "/start/"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Boxes.clear();
    const std::string dir = DirOfLength(row.length);
    ConfigForm->SetConfigDirPath(root_ + "/start");
    WhenModal<TDirectoryBrowser>([&](TDirectoryBrowser* b) {
      b->OpenDirectory(dir);
      (row.ok ? b->OKBtn : b->CancelBtn)->click();
    });
    ConfigForm->ConfigDirBTClick();
    EXPECT_EQ(ConfigForm->ConfigDirPath, row.taken ? dir : root_ + row.kept);
    EXPECT_EQ(Boxes.size(), row.ok && !row.taken ? 1u : 0u);
  }
}

TEST_F(DialogTest, EncoderButtonKeepsTheDirectoryAndRefusesOneTooLongForTompgDir) {
  struct Row {
    const char* name;
    std::size_t length;
    std::string filler;
    bool taken;
  };
  const Row rows[] = {
      {"LongestThatFits", MaxTompgDirLength, "d", true},
      {"OneByteTooLong", MaxTompgDirLength + 1, "d", false},
      // Two-byte characters: fewer than 299 characters, more than 299 bytes.
      {"CountedInBytesNotCharacters", 301, "\xC3\xA9", false},
      {"AmpersandKeptWhole", 40, "R&B", true},
      // The encoder's path opens its command line, quoted when it holds a blank; a double quote
      // cannot be written in it.
      {"BlankTaken", 40, "My Tools", true},
      {"QuoteRefused", 40, "\"q\"", false},
  };
  ConfigForm->show();  // laid out, so that the caption is shown unshortened
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Boxes.clear();
    const std::string dir = DirOfLength(row.length, row.filler);
    ASSERT_EQ(dir.size(), row.length);
    ConfigForm->SetConfigCodecPath(root_ + "/start/");
    ConfigForm->TakeCodecFile(dir + "tompg");
    EXPECT_EQ(ConfigForm->ConfigCodecPath, row.taken ? dir : root_ + "/start/");
    EXPECT_EQ(Boxes.size(), row.taken ? 0u : 1u);
    // An '&' on a button marks a shortcut and vanishes unless doubled.
    EXPECT_EQ(ConfigForm->ConfigCodecBT->text().contains(QStringLiteral("R&&B")), row.filler == "R&B");
  }
}

TEST(SplashTest, ClosesOnTheTwentySixthTickThenAtTheFirstTickWhenShownAgain) {
  int ticks = 0;
  QObject::connect(SplashForm->SplashTimer, &QTimer::timeout, [&] { ++ticks; });
  SplashForm->SplashVersion->setText(QStringLiteral("Version"));
  QTimer::singleShot(0, [] { EXPECT_EQ(SplashForm->SplashVersion->text(), QStringLiteral("Version 0.5")); });
  ShowSplash();  // returns when the splash has closed itself
  EXPECT_EQ(ticks, 26);
  EXPECT_FALSE(SplashForm->isVisible());
  EXPECT_FALSE(SplashForm->SplashTimer->isActive());
  ticks = 0;
  ShowSplash();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(SplashTicks, 0);
}

TEST(AboutTest, ClickOnPictureVersionOrCreditLineCloses) {
  const std::vector<std::pair<const char*, QWidget*>> rows = {{"Picture", AboutForm->AboutIM},
                                                              {"Version", AboutForm->AboutVersion},
                                                              {"Credit", AboutForm->AboutCreditP}};
  for (const auto& [name, target] : rows) {
    SCOPED_TRACE(name);
    AboutForm->AboutVersion->setText(QStringLiteral("Version"));
    WhenModal<TAboutForm>([target = target](TAboutForm* a) {
      EXPECT_EQ(a->AboutVersion->text(), QStringLiteral("Version 0.5"));
      const QPoint at = target->rect().center();
      QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                        {});
      QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), Qt::LeftButton, {}, {});
      QApplication::sendEvent(target, &press);
      QApplication::sendEvent(target, &release);
    });
    AboutBTClick();  // returns only once a click has closed the window
    EXPECT_FALSE(AboutForm->isVisible());
  }
}

// The main window's caption has its icon, bold text and minimize only (its size is fixed), the
// others the text alone, all maroon to navy while active. Where none can be made, a box says why.
TEST(CaptionTest, EachWindowGetsItsOwnOrABoxSaysWhy) {
  const std::pair<SonivertCaption, const char*> rows[] = {{SonivertCaption::Main, " icon bold c n x-"},
                                                          {SonivertCaption::Configure, ""},
                                                          {SonivertCaption::About, ""}};
  for (const auto& [which, want] : rows) {
    SCOPED_TRACE(int(which));
    QWidget w(nullptr, which == SonivertCaption::Main ? Qt::Window : Qt::Tool);
    w.setFixedSize(300, 60);
    THelioCaption* c = AttachCaptionOrSay(&w, which);
    ASSERT_NE(c, nullptr);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(WaitForEvents([c] { return c->IsActive(); }, 10000));
    const HelioCaptionLayout l = c->Layout();
    std::string got = (l.IconRect.isEmpty() ? "" : " icon") +
                      std::string(c->Properties().CaptionFont.bold() ? " bold" : "");
    for (const auto& b : l.Buttons)
      if (b.Visible) got += std::string(" ") + "cnxh"[b.Kind] + (b.Enabled ? "" : "-");  // "-": disabled
    EXPECT_EQ(got, want);
    const QImage image = w.grab().toImage();
    EXPECT_EQ(image.pixel(l.CaptionRect.topLeft()), qRgb(128, 0, 0));
    EXPECT_EQ(image.pixel(l.CaptionRect.topRight()), qRgb(0, 0, 128));
  }
  StartRecordingBoxes();
  QWidget parent;
  EXPECT_EQ(AttachCaptionOrSay(new QWidget(&parent), SonivertCaption::About), nullptr);
  EXPECT_EQ(Boxes, std::vector<std::string>{"Sonivert: The HelioCaption's owner must be a Form!"});
  StopRecordingBoxes();
}

// No text of the windows is cut, at the desktop's usual font size and at a large one.
TEST(LayoutTest, EveryTextFitsItsControl) {
  for (int points : {9, 16}) {
    SCOPED_TRACE(points);
    QFont font = QApplication::font();
    font.setPointSize(points);
    QApplication::setFont(font);
    TSplashForm splash(nullptr);
    TAboutForm about(nullptr);
    TConfigForm config(nullptr);
    TDirectoryBrowser browser(nullptr, "/");
    for (QWidget* window : std::initializer_list<QWidget*>{&splash, &about, &config, &browser}) {
      window->show();
      for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w == config.ConfigDirBT || w == config.ConfigCodecBT || !w->isVisible()) continue;
        const bool text = qobject_cast<QLabel*>(w)
                              ? !static_cast<QLabel*>(w)->text().isEmpty()
                              : qobject_cast<QAbstractButton*>(w) || qobject_cast<QGroupBox*>(w);
        if (!text) continue;
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << qPrintable(w->objectName());
        EXPECT_GE(w->height(), w->minimumSizeHint().height()) << qPrintable(w->objectName());
        EXPECT_TRUE(window->rect().contains(QRect(w->mapTo(window, QPoint(0, 0)), w->size())))
            << qPrintable(w->objectName());
      }
      window->hide();
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  QString error;
  if (!CreateDialogWindows(nullptr, error)) {
    fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  return RUN_ALL_TESTS();
}
