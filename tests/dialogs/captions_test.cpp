// Sonivert's captions: the main window's with its icon, bold text and minimize only (it has a
// fixed size), the configuration and about windows' with the gradient and the text alone; all of
// them maroon to navy while active.
#include "app/captions.h"

#include <gtest/gtest.h>

#include <QtTest/QTest>

#include "tests/support/boxes.h"

namespace {

TEST(SonivertCaptions, EachWindowHasItsOwnLook) {
  struct Row {
    const char* Name;
    SonivertCaption Which;
    Qt::WindowType Type;
    const char* Want;  // icon, bold caption text, and the buttons shown ("-": disabled)
  };
  const Row rows[] = {
      {"main window", SonivertCaption::Main, Qt::Window, "icon bold c n x-"},
      {"configuration window", SonivertCaption::Configure, Qt::Tool, ""},
      {"about window", SonivertCaption::About, Qt::Tool, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    QWidget w(nullptr, row.Type);
    w.setFixedSize(300, 60);
    THelioCaption* c = AttachCaptionOrSay(&w, row.Which);
    ASSERT_NE(c, nullptr);
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    const HelioCaptionLayout l = c->Layout();
    std::string got = std::string(l.IconRect.isEmpty() ? "" : "icon ") +
                      (c->Properties().CaptionFont.bold() ? "bold " : "");
    for (const auto& b : l.Buttons)
      if (b.Visible) got += std::string(1, "cnxh"[b.Kind]) + (b.Enabled ? " " : "- ");
    if (!got.empty()) got.pop_back();
    EXPECT_EQ(got, row.Want);
    const QImage image = w.grab().toImage();
    EXPECT_EQ(image.pixel(l.CaptionRect.topLeft()), qRgb(128, 0, 0));
    EXPECT_EQ(image.pixel(l.CaptionRect.topRight()), qRgb(0, 0, 128));
  }
}

TEST(SonivertCaptions, AWindowThatCannotHaveOneKeepsItsTitleBarAndABoxSaysWhy) {
  StartRecordingBoxes();
  QWidget parent;
  EXPECT_EQ(AttachCaptionOrSay(new QWidget(&parent), SonivertCaption::About), nullptr);
  EXPECT_EQ(Boxes, std::vector<std::string>{"Sonivert: The HelioCaption's owner must be a Form!"});
  StopRecordingBoxes();
}

}  // namespace
