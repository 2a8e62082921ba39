// The caption's answers to the mouse, decided without a window: rows of presses, moves and
// releases on a fixed-size window's caption (icon, text, minimize, disabled maximize, close).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decor/captionlayout.h"

namespace {

// Caption 3,3 394x18; icon 3..20; text 23..344; hit areas: maximize 361..376, close 379..396.
const HelioCaptionLayout Main =
    ComputeHelioCaptionLayout(400, HelioBorderStyle::Single, {true, true, false, false},
                              HelioWindowState::Normal, {4, 3, 19, 15, 18, 18, 15});
const QPoint Icon(12, 11), Text(100, 11), Close(386, 11), CloseEdge(396, 11), Gap(377, 11), Below(100, 21);
constexpr auto L = Qt::LeftButton, R = Qt::RightButton;
constexpr uint32_t Wrap = 0xFFFFFF80u;  // 128 ticks before the counter wraps

// 'p' press, 'r' release, 'R' left release while a caption button holds the press, 'm' move
// with the left button held, 'f' move without it, 'x' move whose system move is refused, 'M'
// press on the open system menu, which then closes. The window stands at 1000,500.
struct Event {
  char Kind;
  QPoint At;
  Qt::MouseButton Button = L;
  uint32_t Tick = 0;
};

std::string Answers(const std::vector<Event>& events, HelioWindowState state) {
  static const char* const press[] = {"-", "raise", "button", "menu"};
  static const char* const release[] = {"-", "button", "close", "menu"};
  static const char* const drag[] = {"-", "system"};
  HelioCaptionMouse m;
  std::string out;
  for (const Event& e : events) {
    if (e.Kind == 'p') {
      const HelioPress p = HelioCaptionPress(m, Main, e.At, e.Button, state, e.Tick);
      out += press[int(p.Action)] + (p.Button >= 0 ? std::to_string(p.Button) : "");
    } else if (e.Kind == 'r' || e.Kind == 'R') {
      out += release[int(HelioCaptionRelease(m, Main, e.At, e.Button, e.Kind == 'R', e.Tick, 500))];
    } else if (e.Kind == 'M') {
      HelioMenuPress(m, Main, e.At, e.Button);
      out += HelioMenuClosed(m, e.Tick, 500) ? "close" : "-";
    } else {
      const QPoint screen = e.At + QPoint(1000, 500);
      HelioDragStep s = HelioCaptionDrag(m, e.At, screen, e.Kind != 'f', 4);
      if (e.Kind == 'x' && s.Action == HelioDragAction::StartSystemMove)
        s = HelioSystemMoveRefused(m, screen);
      const QPoint& w = s.WindowPos;
      out += s.Action == HelioDragAction::MoveWindow ? std::to_string(w.x()) + ',' + std::to_string(w.y())
                                                     : drag[int(s.Action)];
    }
    out += ' ';
  }
  out.pop_back();
  return out;
}

TEST(CaptionMouse, PressesMovesAndReleases) {
  struct Row {
    const char* Name;
    std::vector<Event> Events;
    const char* Want;
    HelioWindowState State = HelioWindowState::Normal;
  };
  const Row rows[] = {
      // Where a press goes.
      {"left past close's right edge, in its hit area", {{'p', CloseEdge}}, "button0"},
      {"right or middle on a button: raise",
       {{'p', Close, R}, {'p', Close, Qt::MiddleButton}},
       "raise raise"},
      {"below the caption and on the frame", {{'p', Below}, {'p', {1, 11}}}, "- -"},
      // The icon's double click: a release on the caption or a press on the open menu.
      {"released on the caption in time", {{'p', Icon, L, 1000}, {'r', Text, L, 1500}}, "menu close"},
      {"released below the caption", {{'p', Icon, L, 1000}, {'r', Below, L, 1010}}, "menu -"},
      {"in time across the wrap", {{'p', Icon, L, Wrap}, {'r', Icon, L, Wrap + 500}}, "menu close"},
      {"one tick late across the wrap", {{'p', Icon, L, Wrap}, {'r', Icon, L, Wrap + 501}}, "menu -"},
      {"released by a held caption button", {{'p', Icon, L, 1000}, {'R', Close, L, 1010}}, "menu button"},
      {"pressed on the icon in the menu", {{'p', Icon, L, 1000}, {'M', Icon, L, 1500}}, "menu close"},
      {"pressed on the text in the menu", {{'p', Icon, L, 1000}, {'M', Text, L, 1010}}, "menu -"},
      {"right-pressed on the icon in the menu", {{'p', Icon, L, 1000}, {'M', Icon, R, 1010}}, "menu -"},
      // The drag.
      {"short travel waits, then the system moves it",
       {{'p', Text}, {'m', {102, 12}}, {'m', {104, 11}}, {'m', {130, 11}}},
       "raise - system -"},
      {"refused: the press point stays under the cursor until the release",
       {{'p', Text}, {'x', {110, 11}}, {'m', {120, 15}}, {'r', {}}, {'m', {140, 11}}},
       "raise 1010,500 1020,504 - -"},
      {"the button let go before the travel", {{'p', Text}, {'f', {130, 11}}}, "raise -"},
      {"a maximized window stays", {{'p', Text}, {'m', {130, 11}}}, "raise -", HelioWindowState::Maximized},
      // The system menu at a right release.
      {"right pressed and released on the text", {{'p', Text, R}, {'r', Text, R}}, "raise menu"},
      {"right released on a caption button", {{'p', Text, R}, {'r', Close, R}}, "raise -"},
      {"right released off the caption, then on it",
       {{'p', Text, R}, {'r', Below, R}, {'r', Text, R}},
       "raise - -"},
      {"right pressed between maximize and close", {{'p', Gap, R}, {'r', Text, R}}, "raise -"},
  };
  for (const Row& row : rows) EXPECT_EQ(Answers(row.Events, row.State), row.Want) << row.Name;
}

}  // namespace
