// The main window without its own mouse: files dropped from a file manager, and the keyboard's
// way through the controls. (What a screen reader reads is tested on the accessibility bus.)
#include <QDragEnterEvent>
#include <QGroupBox>
#include <QMimeData>
#include <QUrl>
#include <tuple>

#include "window_fixture.h"

namespace {

class Access : public MainWindow {
 protected:
  // Drops data of another program (no source in this window) on the queue; true when taken.
  bool DropOnQueue(const std::vector<QUrl>& urls, const QString& text = QString()) {
    QMimeData data;
    if (text.isEmpty()) data.setUrls(QList<QUrl>(urls.begin(), urls.end()));
    else data.setText(text);
    QWidget* target = Form->Controls()->JobLB->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    // The drop's enqueue is posted; a call posted after it has run once it has.
    bool passed = false;
    QMetaObject::invokeMethod(Form, [&] { passed = true; }, Qt::QueuedConnection);
    return WaitForEvents([&] { return passed; });
  }
  QUrl Local(const std::string& name) { return QUrl::fromLocalFile(QString::fromStdString(Root + "music/" + name)); }
  void Key(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
  }
};

// Files, and the WAV and MP3 files directly inside a folder, dropped from a file manager join
// the queue as a double click adds them (refusals included); text and remote addresses are
// refused without a box.
TEST_F(Access, DropsFromAFileManagerQueueFilesAndFolders) {
  ::mkdir((Root + "music/album").c_str(), 0700);
  ::mkdir((Root + "music/album/bonus").c_str(), 0700);
  for (const char* name : {"single.wav", "album/b.wav", "album/a.wav", "album/bonus/c.wav"})
    WriteTone(Root + "music/" + name, 44100, 1, 16, 0.2);
  WriteFile(Root + "music/album/notes.txt", "liner notes");
  WriteFile(Root + "music/broken.wav", "not a wave file");
  const QUrl remote(QStringLiteral("https://example.org/remote.mp3"));
  ASSERT_TRUE(DropOnQueue({Local("single.wav"), Local("album"), remote}));
  QListWidget* jobs = Form->Controls()->JobLB;
  ASSERT_EQ(jobs->count(), 3);
  EXPECT_EQ(jobs->item(0)->text() + jobs->item(1)->text() + jobs->item(2)->text(),
            QStringLiteral("single.wav (0:00)a.wav (0:00)b.wav (0:00)"));
  EXPECT_FALSE(DropOnQueue({}, QStringLiteral("just words")));
  EXPECT_FALSE(DropOnQueue({remote}));
  ASSERT_TRUE(DropOnQueue({Local("broken.wav")}));
  EXPECT_EQ(Boxes, std::vector<std::string>{"Unknown file type: Unknown file type\n" + Root + "music/broken.wav"});
  EXPECT_EQ(QueueCount, 3);
}

// Tab follows the layout: the file browser in its two columns (the drive over its tree, the
// filter over its files), then the job controls and the queue, then the format controls, each
// from top to bottom and left to right (a radio group is one control). Enter in the file list
// queues the selection, Delete takes the selected entry out, Space suspends and resumes the job.
TEST_F(Access, TabFollowsTheLayoutAndKeysDoWhatClicksDo) {
  std::vector<QWidget*> chain;
  QWidget* first = Form->Controls()->DriveCB;
  for (QWidget* w = first; chain.empty() || w != first; w = w->nextInFocusChain())
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(Form)) chain.push_back(w);
  auto place = [&](QWidget* w) {
    QWidget* unit = qobject_cast<QGroupBox*>(w->parentWidget()) ? w->parentWidget() : w;
    const QPoint at = unit->mapTo(Form, QPoint(0, 0));
    if (at.x() < 404) return std::make_tuple(0, at.x() / 100, at.y());
    return std::make_tuple(at.y() < 268 ? 1 : 2, at.y() / 16, at.x());
  };
  ASSERT_GE(chain.size(), 15u);
  for (size_t i = 1; i < chain.size(); ++i)
    EXPECT_LE(place(chain[i - 1]), place(chain[i])) << chain[i]->objectName().toStdString();

  HoldEncoderMidJob();
  WriteTone(Root + "music/a.wav", 44100, 2, 16, 1.0);
  Select({"a.wav"});
  Key(Form->Controls()->FileLB, Qt::Key_Return);
  Key(Form->Controls()->FileLB, Qt::Key_Enter);
  ASSERT_EQ(QueueCount, 2);
  Form->Controls()->JobLB->item(1)->setSelected(true);
  Key(Form->Controls()->JobLB, Qt::Key_Delete);
  ASSERT_EQ(QueueCount, 1);
  Form->Controls()->StartBT->click();
  ASSERT_TRUE(WaitForEvents([&] { return View.JobRunning; }));
  Key(Form->Controls()->CurrentLB, Qt::Key_Space);
  EXPECT_TRUE(Converter.Suspended);
  Key(Form->Controls()->CurrentLB, Qt::Key_Space);
  EXPECT_FALSE(Converter.Suspended);
  ReleaseEncoder();
  ASSERT_TRUE(WaitForEvents([&] { return Idle(); }));
}

}  // namespace
