// The main window without the mouse and from outside: files dropped from a file manager, the
// keyboard's way through every control, and what a screen reader reads of them.
#include <QAccessible>
#include <QDragEnterEvent>
#include <QGroupBox>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <tuple>

#include "window_fixture.h"

namespace {

class Access : public MainWindow {
 protected:
  // Drops mime data from another program (no source in this window) onto the queue; true when
  // the queue took it.
  bool DropOnQueue(QMimeData& data) {
    QWidget* target = Form->Controls()->JobLB->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    return true;
  }
  void Key(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QCoreApplication::processEvents();
  }
};

// Files, and the WAV and MP3 files directly inside a folder, dropped from a file manager join
// the queue as a double click would add them; text and remote addresses are refused without a box.
TEST_F(Access, DropsFromAFileManagerQueueFilesAndFolders) {
  ::mkdir((Root + "music/album").c_str(), 0700);
  ::mkdir((Root + "music/album/bonus").c_str(), 0700);
  WriteTone(Root + "music/single.wav", 44100, 2, 16, 0.2);
  for (const char* name : {"album/b.wav", "album/a.wav", "album/bonus/c.wav"})
    WriteTone(Root + "music/" + name, 44100, 1, 16, 0.2);
  WriteFile(Root + "music/album/notes.txt", "liner notes");
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(QString::fromStdString(Root + "music/single.wav")),
                 QUrl::fromLocalFile(QString::fromStdString(Root + "music/album")),
                 QUrl(QStringLiteral("https://example.org/remote.mp3"))});
  ASSERT_TRUE(DropOnQueue(files));
  QListWidget* jobs = Form->Controls()->JobLB;
  ASSERT_EQ(jobs->count(), 3);
  EXPECT_EQ(jobs->item(0)->text() + jobs->item(1)->text() + jobs->item(2)->text(),
            QStringLiteral("single.wav (0:00)a.wav (0:00)b.wav (0:00)"));
  EXPECT_EQ(QueueCount, 3);

  QMimeData text;
  text.setText(QStringLiteral("just words"));
  EXPECT_FALSE(DropOnQueue(text));
  QMimeData remote;
  remote.setUrls({QUrl(QStringLiteral("https://example.org/remote.mp3"))});
  EXPECT_FALSE(DropOnQueue(remote));
  WriteFile(Root + "music/broken.wav", "not a wave file");
  QMimeData broken;
  broken.setUrls({QUrl::fromLocalFile(QString::fromStdString(Root + "music/broken.wav"))});
  ASSERT_TRUE(DropOnQueue(broken));
  EXPECT_EQ(Boxes, std::vector<std::string>{"Unknown file type: " + Root + "music/broken.wav"});
}

// Tab visits the controls in the order of the layout: the file browser in its two columns (the
// drive over its tree, the filter over its files), then the job controls and the queue, then the
// format controls, each from top to bottom and left to right (a radio group counts as one
// control). Every control has a name a screen reader can say.
TEST_F(Access, TabFollowsTheLayoutAndEveryControlHasAName) {
  const QWidget* first = Form->Controls()->DriveCB;
  std::vector<QWidget*> chain;
  for (QWidget* w = const_cast<QWidget*>(first);;) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(Form)) chain.push_back(w);
    w = w->nextInFocusChain();
    if (w == first) break;
  }
  ASSERT_GE(chain.size(), 15u);
  auto place = [&](QWidget* w) {
    QWidget* unit = qobject_cast<QGroupBox*>(w->parentWidget()) ? w->parentWidget() : w;
    const QPoint at = unit->mapTo(Form, QPoint(0, 0));
    if (at.x() < 404) return std::make_tuple(0, at.x() / 100, at.y());
    return std::make_tuple(at.y() < 268 ? 1 : 2, at.y() / 16, at.x());
  };
  for (size_t i = 1; i < chain.size(); ++i) {
    EXPECT_LE(place(chain[i - 1]), place(chain[i]))
        << chain[i - 1]->objectName().toStdString() << " before " << chain[i]->objectName().toStdString();
  }
  for (QWidget* w : chain) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
  }
}

// Enter in the file list queues the selection, and the queue's lines are read as text; Delete
// takes the selected entry out again.
TEST_F(Access, EnterQueuesDeleteRemovesAndTheLinesAreReadAsText) {
  WriteTone(Root + "music/a.wav", 44100, 2, 16, 1.0);
  Select({"a.wav"});
  Key(Form->Controls()->FileLB, Qt::Key_Return);
  ASSERT_EQ(QueueCount, 1);
  QAccessibleInterface* queue = QAccessible::queryAccessibleInterface(Form->Controls()->JobLB);
  ASSERT_NE(queue, nullptr);
  EXPECT_EQ(queue->role(), QAccessible::List);
  bool read = false;
  for (int i = 0; i < queue->childCount(); ++i)
    read |= queue->child(i)->text(QAccessible::Name) == QStringLiteral("a.wav (0:01)");
  EXPECT_TRUE(read) << "the queue's line is not read as text";
  Form->Controls()->JobLB->item(0)->setSelected(true);
  Key(Form->Controls()->JobLB, Qt::Key_Delete);
  EXPECT_EQ(QueueCount, 0);
  EXPECT_EQ(Form->Controls()->JobLB->count(), 0);
}

// Space on the running job's line suspends it and resumes it, as a click does.
TEST_F(Access, SpaceOnTheRunningLineSuspendsAndResumes) {
  HoldEncoderMidJob();
  WriteTone(Root + "music/a.wav", 44100, 2, 16, 1.0);
  Select({"a.wav"});
  Form->FileLBDblClick();
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
