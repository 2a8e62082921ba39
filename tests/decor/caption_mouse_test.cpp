// The caption's answers to the mouse, decided without a window: a fixed 400-pixel main window
// caption (icon, text, minimize, disabled maximize, close) and rows of presses, moves and releases.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decor/captionlayout.h"

namespace {

using P = HelioPressAction;
constexpr auto L = Qt::LeftButton, R = Qt::RightButton;
constexpr uint32_t DoubleClickTime = 500;

// Caption 3,3 394x18; icon 3..20; text 23..344; hit areas (rows 3..20): minimize 345..360,
// maximize 361..376, close 379..396 (two columns past its rectangle).
const HelioCaptionLayout Main =
    ComputeHelioCaptionLayout(400, HelioBorderStyle::Single, {true, true, false, false},
                              HelioWindowState::Normal, {4, 3, 19, 15, 18, 18, 15});
const QPoint Icon(12, 11), Text(100, 11), Close(386, 11), CloseEdge(396, 11), BelowMinimize(350, 20),
    Maximize(368, 11), Gap(377, 11), Below(100, 21);

std::string Armed(const HelioCaptionMouse& m) {
  return std::string(m.IconClickPending ? "icon " : "") + (m.DragPending ? "drag " : "") +
         (m.RightPressed ? "right" : "");
}

TEST(CaptionMouse, PressDependsOnWhereAndWhichButton) {
  struct Row {
    const char* Name;
    QPoint At;
    Qt::MouseButton Button;
    HelioWindowState State;
    HelioPressAction Want;
    int Kind;
    const char* Armed;
  };
  const auto N = HelioWindowState::Normal;
  const Row rows[] = {
      {"left on the icon opens the menu, the first click", Icon, L, N, P::IconMenu, -1, "icon "},
      {"left on the text may become a drag", Text, L, N, P::Raise, -1, "drag "},
      {"a maximized window is not dragged", Text, L, HelioWindowState::Maximized, P::Raise, -1, ""},
      {"right on the text: the menu at its release", Text, R, N, P::Raise, -1, "right"},
      {"right between maximize and close: no menu", Gap, R, N, P::Raise, -1, ""},
      {"right on a button only raises", Close, R, N, P::Raise, -1, ""},
      {"middle only raises", Text, Qt::MiddleButton, N, P::Raise, -1, ""},
      {"left on close", Close, L, N, P::PressButton, HelioCloseButton, ""},
      {"left past close's right edge, in its hit area", CloseEdge, L, N, P::PressButton, HelioCloseButton,
       ""},
      {"left below minimize, in its hit area", BelowMinimize, L, N, P::PressButton, HelioMinimizeButton, ""},
      {"left on the disabled maximize, which refuses it", Maximize, L, N, P::PressButton, HelioMaximizeButton,
       ""},
      {"below the caption", Below, L, N, P::Ignore, -1, ""},
      {"on the frame left of it", QPoint(1, 11), L, N, P::Ignore, -1, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    HelioCaptionMouse m;
    const HelioPress got = HelioCaptionPress(m, Main, row.At, row.Button, row.State, 7);
    EXPECT_EQ(got.Action, row.Want);
    EXPECT_EQ(got.Button, row.Kind);
    EXPECT_EQ(Armed(m), row.Armed);
    if (m.IconClickPending) {
      EXPECT_EQ(m.IconClickTick, 7u);
    }
  }
}

TEST(CaptionMouse, OnlyASecondClickOnTheIconInTimeCloses) {
  struct Row {
    const char* Name;
    bool InMenu;  // the second press lands on the open system menu, else a release on the caption
    QPoint At;
    uint32_t After;
    bool Closes;
    QPoint First = Icon;
    Qt::MouseButton Button = L;
    uint32_t FirstTick = 1000;
    bool ButtonTracking = false;
  };
  const Row rows[] = {
      {"released on the caption in time", false, Text, DoubleClickTime, true},
      {"released one tick late", false, Icon, DoubleClickTime + 1, false},
      {"released below the caption", false, Below, 10, false},
      {"released in time across the tick counter's wrap", false, Icon, 0x100, true, Icon, L, 0xFFFFFF80u},
      {"released late across the wrap", false, Icon, DoubleClickTime + 1, false, Icon, L, 0xFFFFFF80u},
      {"released on the caption after a press on the text", false, Text, 10, false, Text},
      {"released by a caption button that holds the press", false, Close, 10, false, Icon, L, 1000, true},
      {"pressed on the icon in the menu in time", true, Icon, DoubleClickTime, true},
      {"pressed on the text in the menu", true, Text, 10, false},
      {"pressed on the icon in the menu too late", true, Icon, DoubleClickTime + 1, false},
      {"right-pressed on the icon in the menu", true, Icon, 10, false, Icon, R},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    HelioCaptionMouse m;
    HelioCaptionPress(m, Main, row.First, L, HelioWindowState::Normal, row.FirstTick);
    const uint32_t now = row.FirstTick + row.After;
    const bool closes =
        row.InMenu ? (HelioMenuPress(m, Main, row.At, row.Button), HelioMenuClosed(m, now, DoubleClickTime))
                   : HelioCaptionRelease(m, Main, row.At, row.Button, row.ButtonTracking, now,
                                         DoubleClickTime) == HelioReleaseAction::Close;
    EXPECT_EQ(closes, row.Closes);
  }
}

TEST(CaptionMouse, DragStartsASystemMoveOrFollowsTheCursorWhenRefused) {
  // Steps: 'm' a move with the left button held, 'f' one without it, 'r' a move whose system move
  // is refused, 'u' the left release. The window stands at 1000,500 on the screen.
  struct Row {
    const char* Name;
    HelioWindowState State;
    std::vector<std::pair<char, QPoint>> Steps;
    const char* Want;
  };
  const auto N = HelioWindowState::Normal;
  const Row rows[] = {
      {"short travel waits, then the system moves it",
       N,
       {{'m', {102, 12}}, {'m', {104, 11}}, {'m', {130, 11}}},
       "- system -"},
      {"refused: the press point stays under the cursor",
       N,
       {{'r', {110, 11}}, {'m', {120, 15}}, {'u', {}}, {'m', {140, 11}}},
       "1010,500 1020,504 -"},
      {"the button let go before the travel", N, {{'f', {130, 11}}}, "-"},
      {"a maximized window", HelioWindowState::Maximized, {{'m', {130, 11}}}, "-"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    HelioCaptionMouse m;
    HelioCaptionPress(m, Main, Text, L, row.State, 0);
    std::string got;
    for (const auto& [kind, at] : row.Steps) {
      if (kind == 'u') {
        HelioCaptionRelease(m, Main, at, L, false, 0, DoubleClickTime);
        continue;
      }
      HelioDragStep s = HelioCaptionDrag(m, at, at + QPoint(1000, 500), kind != 'f', 4);
      if (kind == 'r' && s.Action == HelioDragAction::StartSystemMove)
        s = HelioSystemMoveRefused(m, at + QPoint(1000, 500));
      got += s.Action == HelioDragAction::None ? "- "
             : s.Action == HelioDragAction::StartSystemMove
                 ? "system "
                 : std::to_string(s.WindowPos.x()) + ',' + std::to_string(s.WindowPos.y()) + ' ';
    }
    EXPECT_EQ(got, std::string(row.Want) + ' ');
  }
}

TEST(CaptionMouse, RightReleaseOpensTheMenuOnlyAfterARightPressOnTheCaption) {
  struct Row {
    const char* Name;
    QPoint Press, Release;
    bool Opens;
  };
  const Row rows[] = {
      {"pressed and released on the text", Text, Text, true},
      {"pressed on the icon, released on the text", Icon, Text, true},
      {"released on a caption button", Text, Close, false},
      {"released over the client area", Text, Below, false},
      {"pressed between maximize and close", Gap, Text, false},
      {"pressed off the caption", Below, Text, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    HelioCaptionMouse m;
    HelioCaptionPress(m, Main, row.Press, R, HelioWindowState::Normal, 0);
    EXPECT_EQ(HelioCaptionRelease(m, Main, row.Release, R, false, 0, DoubleClickTime) ==
                  HelioReleaseAction::SystemMenu,
              row.Opens);
    EXPECT_FALSE(m.RightPressed) << "a release ends the right press wherever it is";
  }
}

}  // namespace
