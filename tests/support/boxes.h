// Message boxes recorded instead of shown, for tests of code that reports through them.
#pragma once
#include <string>
#include <vector>

#include "platform/messagebox.h"

// The boxes shown since recording started, each as "caption: text".
inline std::vector<std::string> Boxes;
// While set, a recorded box stays open (its closed handler waits in HeldBoxes) until the test
// calls CloseHeldBoxes; otherwise it is answered with OK at once.
inline bool HoldBoxes = false;
inline std::vector<BoxClosed> HeldBoxes;
// The answer to the close question.
inline bool QuestionAnswer = true;

inline void RecordBox(const char* text, const char* caption, BoxClosed closed) {
  Boxes.push_back(std::string(caption) + ": " + text);
  if (HoldBoxes) {
    HeldBoxes.push_back(closed);
  } else if (closed != nullptr) {
    closed();
  }
}
inline bool RecordQuestion(const char* text, const char* caption) {
  Boxes.push_back(std::string(caption) + ": " + text);
  return QuestionAnswer;
}
// Closes every held box, oldest first, as the user pressing OK in each would.
inline void CloseHeldBoxes() {
  const std::vector<BoxClosed> held = HeldBoxes;
  HeldBoxes.clear();
  for (BoxClosed closed : held) {
    if (closed != nullptr) closed();
  }
}
// From a test's SetUp: every box from now on is recorded, starting with none.
inline void StartRecordingBoxes() {
  Boxes.clear();
  HeldBoxes.clear();
  HoldBoxes = false;
  QuestionAnswer = true;
  MessageBoxHook = RecordBox;
  QuestionHook = RecordQuestion;
}
// From its TearDown: boxes go to the standard error stream again, as before any window exists.
inline void StopRecordingBoxes() {
  MessageBoxHook = MessageBoxToStderr;
  QuestionHook = QuestionToStderr;
  HeldBoxes.clear();
  HoldBoxes = false;
}
