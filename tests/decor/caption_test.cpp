// The caption painted offscreen and driven with mouse events, against the rules it must follow.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest/QTest>
#include <cmath>
#include <memory>
#include <vector>

#include "decor/heliocaption.h"

namespace {

std::unique_ptr<QWidget> Window(int width, int height, Qt::WindowFlags flags = Qt::Window) {
  auto w = std::make_unique<QWidget>(nullptr, flags);
  w->setWindowTitle(QStringLiteral("Sonivert"));
  w->setFixedSize(width, height);
  return w;
}

// A fixed-size window's caption has its icon, close, minimize and a disabled maximize.
THelioCaption* Attach(QWidget* w) {
  HelioCaptionCreation c = CreateHelioCaption(w);
  EXPECT_TRUE(c.Error.isEmpty()) << c.Error.toStdString();
  return c.Caption;
}

void Activate(QWidget* w) {
  w->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
}

struct Recorder {
  std::vector<HelioSysCommand> Sent;
  explicit Recorder(THelioCaption* c) {
    QObject::connect(c, &THelioCaption::SysCommandSent, [this](HelioSysCommand s) { Sent.push_back(s); });
  }
};

// The expected colour of every column, worked out from the rule directly: band i covers
// [W*i/N, W*(i+1)/N) and has begin + (end - begin)*i/(N-1), each rounded half away from zero.
std::vector<QRgb> ExpectedColumns(int width, int n, QColor begin, QColor end) {
  std::vector<QRgb> out(width, 0);
  for (int i = 0; i < n; ++i) {
    const auto edge = [&](int k) { return static_cast<int>(std::lround(double(width) * k / n)); };
    const auto ch = [&](int b, int e) {
      return n == 1 ? b : b + static_cast<int>(std::lround(double(e - b) * i / (n - 1)));
    };
    const QRgb c =
        qRgb(ch(begin.red(), end.red()), ch(begin.green(), end.green()), ch(begin.blue(), end.blue()));
    for (int x = edge(i); x < edge(i + 1); ++x) out[x] = c;
  }
  return out;
}

}  // namespace

TEST(Caption, GradientBandsFollowTheRuleAtTheirExactColumns) {
  const QColor maroon(128, 0, 0), navy(0, 0, 128), grey(128, 128, 128), silver(192, 192, 192);
  struct Row {
    const char* Name;
    int Width;
    int NumColors;
    bool Active;
    QColor Begin, End;
    bool SetColours = false;
  };
  const Row rows[] = {
      {"main window active, maroon to navy", 632, 64, true, maroon, navy},
      {"main window inactive, grey to silver", 632, 64, false, grey, silver},
      {"width not a multiple of the bands", 101, 64, false, grey, silver},
      {"one band is the begin colour", 300, 1, false, grey, silver},
      {"more bands than columns", 90, 1000, true, maroon, navy},
      {"no bands paints nothing", 300, 0, false, grey, silver},
      {"falling channels round halves away from zero", 90, 3, false, QColor(255, 0, 1), QColor(0, 255, 0),
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    auto w = Window(row.Width, 60);
    THelioCaption* c = Attach(w.get());
    HelioCaptionProperties p = c->Properties();
    p.NumColors = row.NumColors;
    if (row.Active) {  // the default is navy to blue
      p.ActiveBeginColor = row.Begin;
      p.ActiveEndColor = row.End;
    } else if (row.SetColours) {
      p.InactiveBeginColor = row.Begin;
      p.InactiveEndColor = row.End;
    }
    c->SetProperties(p);
    if (row.Active) Activate(w.get());
    ASSERT_EQ(c->IsActive(), row.Active);
    const QImage image = w->grab().toImage();
    const QRect cap = c->Layout().CaptionRect;
    ASSERT_EQ(cap.width(), row.Width);
    // The caption's first row: the text, icon and buttons all keep off it.
    std::vector<QRgb> want = row.NumColors > 0
                                 ? ExpectedColumns(cap.width(), row.NumColors, row.Begin, row.End)
                                 : std::vector<QRgb>(cap.width(), c->palette().window().color().rgb());
    for (int x = 0; x < cap.width(); ++x)
      ASSERT_EQ(QColor(image.pixel(cap.x() + x, cap.y())).name().toStdString(),
                QColor(want[x]).name().toStdString())
          << "column " << x;
  }
}

// "x,y wxh" for each rectangle; buttons as kind letter, "-" when disabled, nothing when hidden.
std::string Describe(const HelioCaptionLayout& l) {
  const auto r = [](const QRect& q) {
    return QStringLiteral("%1,%2 %3x%4 ").arg(q.x()).arg(q.y()).arg(q.width()).arg(q.height());
  };
  QString s = r(l.CaptionRect) + r(l.IconRect) + r(l.ButtonsRect) + r(l.TextRect);
  for (const auto& b : l.Buttons)
    if (b.Visible) s += QLatin1Char("cnxh"[b.Kind]) + QLatin1String(b.Enabled ? "" : "-") + r(b.Rect);
  return s.trimmed().toStdString();
}

TEST(Caption, LayoutRectanglesFromTheMetrics) {
  const HelioMetrics m{4, 3, 19, 15, 18, 18, 15};  // sizing and fixed frame, captions, buttons
  struct Row {
    const char* Name;
    int Width;
    HelioBorderStyle Style;
    HelioBorderIcons Icons;
    HelioWindowState State;
    const char* Want;
  };
  const Row rows[] = {
      {"single border with minimize",
       640,
       HelioBorderStyle::Single,
       {true, true, false, false},
       HelioWindowState::Normal,
       "3,3 634x18 3,3 18x18 587,5 50x14 23,5 562x14 c619,5 16x14 n585,5 16x14 x-601,5 16x14"},
      {"tool window",
       300,
       HelioBorderStyle::ToolWindow,
       {true, true, true, true},
       HelioWindowState::Normal,
       "3,3 294x14 3,3 0x14 280,5 17x10 5,5 273x10 c282,5 13x10"},
      {"tool window without border icons",
       300,
       HelioBorderStyle::ToolWindow,
       {false, false, false, false},
       HelioWindowState::Normal,
       "3,3 294x14 3,3 0x14 297,5 0x10 5,5 290x10"},
      {"minimized sizeable window: fixed frame, no help",
       200,
       HelioBorderStyle::Sizeable,
       {true, true, true, true},
       HelioWindowState::Minimized,
       "3,3 194x18 3,3 18x18 147,5 50x14 23,5 122x14 c179,5 16x14 n145,5 16x14 x161,5 16x14"},
      {"dialog: help, no minimize or maximize",
       200,
       HelioBorderStyle::Dialog,
       {true, true, true, true},
       HelioWindowState::Normal,
       "3,3 194x18 3,3 0x18 163,5 34x14 5,5 156x14 c179,5 16x14 h163,5 16x14"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(Describe(ComputeHelioCaptionLayout(row.Width, row.Style, row.Icons, row.State, m)), row.Want);
  }
}

TEST(Caption, IconFromTheWindowOrTheApplicationOnlyWhereThereIsOne) {
  QPixmap green(32, 32), red(32, 32);
  green.fill(Qt::green);
  red.fill(Qt::red);
  struct Row {
    const char* Name;
    bool Tool;
    bool WindowIcon;
    QRgb Want;
  };
  const Row rows[] = {
      {"the window's icon", false, true, qRgb(0, 255, 0)},
      {"else the application's icon", false, false, qRgb(255, 0, 0)},
      {"none on a tool window", true, true, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    QApplication::setWindowIcon(QIcon(red));
    auto w = Window(300, 60, row.Tool ? Qt::Tool : Qt::Window);
    if (row.WindowIcon) w->setWindowIcon(QIcon(green));
    THelioCaption* c = Attach(w.get());
    const HelioCaptionLayout l = c->Layout();
    const QImage image = w->grab().toImage();
    if (row.Want) {
      EXPECT_EQ(image.pixel(l.IconRect.center()), row.Want);
    } else {
      EXPECT_TRUE(l.IconRect.isEmpty());
      const QRgb p = image.pixel(l.CaptionRect.x() + 8, l.CaptionRect.center().y());
      EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << "the grey gradient, no icon";
    }
    QApplication::setWindowIcon(QIcon());
  }
}

TEST(Caption, ButtonsPressTrackAndReleaseSendTheirCommand) {
  auto w = Window(400, 80);
  THelioCaption* c = Attach(w.get());
  Recorder r(c);
  Activate(w.get());
  const QPoint text = c->Layout().TextRect.center();
  const QPoint close = c->Button(HelioCloseButton).Rect.center();
  const QPoint minimize = c->Button(HelioMinimizeButton).Rect.center();
  const QPoint maximize = c->Button(HelioMaximizeButton).Rect.center();

  // Maximize is not allowed: shown, but a press does nothing.
  EXPECT_TRUE(c->Button(HelioMaximizeButton).Visible);
  QTest::mousePress(c, Qt::LeftButton, {}, maximize);
  EXPECT_FALSE(c->Button(HelioMaximizeButton).Pressed);
  QTest::mouseRelease(c, Qt::LeftButton, {}, maximize);
  // Released away from the button: nothing is sent.
  QTest::mousePress(c, Qt::LeftButton, {}, minimize);
  EXPECT_TRUE(c->Button(HelioMinimizeButton).Pressed);
  QTest::mouseRelease(c, Qt::LeftButton, {}, text);
  EXPECT_FALSE(c->Button(HelioMinimizeButton).Pressed);
  EXPECT_TRUE(r.Sent.empty());

  // The pressed look follows the cursor out of the button and back.
  QTest::mousePress(c, Qt::LeftButton, {}, close);
  QTest::mouseMove(c, text);
  EXPECT_FALSE(c->Button(HelioCloseButton).Pressed);
  QTest::mouseMove(c, close + QPoint(0, c->Button(HelioCloseButton).Rect.height() / 2 + 1));  // hit area
  EXPECT_TRUE(c->Button(HelioCloseButton).Pressed);
  QTest::mouseRelease(c, Qt::LeftButton, {}, close);
  ASSERT_EQ(r.Sent, std::vector<HelioSysCommand>{HelioSysCommand::Close});
  EXPECT_FALSE(w->isVisible());

  Activate(w.get());
  QTest::mousePress(c, Qt::LeftButton, {}, minimize);
  QTest::mouseRelease(c, Qt::LeftButton, {}, minimize);
  EXPECT_EQ(r.Sent.back(), HelioSysCommand::Minimize);
  EXPECT_TRUE(w->windowState() & Qt::WindowMinimized);
}

TEST(Caption, SystemMenuItemStates) {
  using S = HelioSystemMenuState;
  const HelioMetrics m{4, 3, 19, 15, 18, 18, 15};
  const auto layout = [&](HelioBorderIcons icons) {
    return ComputeHelioCaptionLayout(400, HelioBorderStyle::Sizeable, icons, HelioWindowState::Normal, m);
  };
  struct Row {
    const char* Name;
    HelioWindowState State;
    HelioBorderIcons Icons;
    S Want;
  };
  const Row rows[] = {
      {"normal, maximize not allowed",
       HelioWindowState::Normal,
       {true, true, false, false},
       {false, true, true, true, false, true, HelioSysCommand::Close}},
      {"maximized",
       HelioWindowState::Maximized,
       {true, true, true, false},
       {true, false, false, true, false, true, HelioSysCommand::Restore}},
      {"minimized",
       HelioWindowState::Minimized,
       {true, true, true, false},
       {true, false, false, false, true, true, HelioSysCommand::Restore}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_EQ(ComputeHelioSystemMenu(row.State, layout(row.Icons)), row.Want);
  }

  // The menu a right click on the caption opens carries those states.
  auto w = Window(400, 80);
  THelioCaption* c = Attach(w.get());
  Activate(w.get());
  QStringList seen;
  QObject::connect(c, &THelioCaption::SystemMenuShown, [&](QMenu* menu) {
    for (QAction* a : menu->actions())
      if (!a->isSeparator())
        seen << a->text() + (a->isEnabled() ? QString() : QStringLiteral(" grey")) +
                    (menu->defaultAction() == a ? QStringLiteral(" default") : QString());
    QTimer::singleShot(0, menu, &QMenu::close);
  });
  const QPoint text = c->Layout().TextRect.center();
  QTest::mousePress(c, Qt::RightButton, {}, text);
  QTest::mouseRelease(c, Qt::RightButton, {}, text);
  EXPECT_EQ(seen.join(u','),
            QStringLiteral("&Restore grey,&Move,&Size,Mi&nimize,Ma&ximize grey,&Close default"));
  // A right press released over the client area opens no menu.
  seen.clear();
  QTest::mousePress(c, Qt::RightButton, {}, text);
  QTest::mouseRelease(w.get(), Qt::RightButton, {}, QPoint(20, 70));
  QTest::mouseRelease(c, Qt::RightButton, {}, text);
  EXPECT_TRUE(seen.isEmpty());
}

TEST(Caption, DoubleClicks) {
  uint32_t now = 1000;
  static uint32_t* clock;
  clock = &now;
  HelioTickCount = [] { return *clock; };

  // A fixed-size window cannot be maximized: a double click on its text does nothing.
  auto main = Window(400, 80);
  THelioCaption* c = Attach(main.get());
  Recorder r(c);
  Activate(main.get());
  QTest::mouseDClick(c, Qt::LeftButton, {}, c->Layout().TextRect.center());
  EXPECT_TRUE(r.Sent.empty());

  // A double click on the icon: the first press opens the menu, the second, on the icon, goes
  // to the menu and closes it and the window, but only within the double-click time.
  const QPoint icon = c->Layout().IconRect.center();
  int menus = 0;
  uint32_t secondPressAfter = 0;
  QObject::connect(c, &THelioCaption::SystemMenuShown, [&](QMenu* m) {
    ++menus;
    QTimer::singleShot(0, m, [&, m] {
      now += secondPressAfter;
      // Through the window system, which hands a press that closes a menu on to what lies below.
      QTest::mousePress(m->windowHandle(), Qt::LeftButton, {}, m->mapFromGlobal(c->mapToGlobal(icon)));
      m->close();
    });
  });
  secondPressAfter = QApplication::doubleClickInterval() + 1;
  QTest::mousePress(c, Qt::LeftButton, {}, icon);
  QApplication::processEvents();  // a press handed back to the caption would reopen the menu
  EXPECT_TRUE(r.Sent.empty());
  EXPECT_EQ(menus, 1);
  secondPressAfter = QApplication::doubleClickInterval();
  QTest::mousePress(c, Qt::LeftButton, {}, icon);
  EXPECT_EQ(r.Sent, std::vector<HelioSysCommand>{HelioSysCommand::Close});
  EXPECT_FALSE(main->isVisible());

  // A window that may be maximized: double clicks on the text maximize and restore.
  auto sizeable = std::make_unique<QWidget>();
  sizeable->resize(400, 200);
  HelioCaptionCreation created = CreateHelioCaption(sizeable.get());
  ASSERT_TRUE(created.Caption);
  Recorder rs(created.Caption);
  Activate(sizeable.get());
  QTest::mouseDClick(created.Caption, Qt::LeftButton, {}, created.Caption->Layout().TextRect.center());
  QTest::mouseDClick(created.Caption, Qt::LeftButton, {}, created.Caption->Layout().TextRect.center());
  EXPECT_EQ(rs.Sent, (std::vector<HelioSysCommand>{HelioSysCommand::Maximize, HelioSysCommand::Restore}));
  HelioTickCount = HelioSteadyTickCount;
}

TEST(Caption, OwnerMustBeAWindow) {
  QObject plain;
  QWidget parent;
  auto* child = new QWidget(&parent);
  struct Row {
    const char* Name;
    QObject* Owner;
  };
  const Row rows[] = {{"no owner", nullptr}, {"not a widget", &plain}, {"a child widget", child}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const HelioCaptionCreation c = CreateHelioCaption(row.Owner);
    EXPECT_EQ(c.Caption, nullptr);
    EXPECT_EQ(c.Error, QStringLiteral("The HelioCaption's owner must be a Form!"));
  }
}

TEST(Caption, WindowGrowsByTheStripAndGetsItsShapeBackWhenTheCaptionGoes) {
  auto fixed = Window(200, 100);
  auto* button = new QPushButton(fixed.get());
  button->setGeometry(10, 20, 80, 25);
  auto laidOut = std::make_unique<QWidget>();
  auto* label = new QPushButton(laidOut.get());
  (new QVBoxLayout(laidOut.get()))->addWidget(label);

  THelioCaption* c = Attach(fixed.get());
  THelioCaption* lc = Attach(laidOut.get());
  const int strip = c->StripHeight();
  ASSERT_GT(strip, 0);
  EXPECT_EQ(fixed->size(), QSize(200, 100 + strip));
  EXPECT_EQ(button->geometry(), QRect(10, 20 + strip, 80, 25));
  EXPECT_TRUE(fixed->windowFlags() & Qt::FramelessWindowHint);
  laidOut->show();
  EXPECT_GE(label->y(), lc->StripHeight());

  delete c;
  EXPECT_EQ(fixed->size(), QSize(200, 100));
  EXPECT_EQ(fixed->minimumSize(), fixed->maximumSize());
  EXPECT_EQ(button->geometry(), QRect(10, 20, 80, 25));
  EXPECT_FALSE(fixed->windowFlags() & Qt::FramelessWindowHint);
}

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
