// Message boxes recorded instead of shown, for tests of code that reports through them.
#pragma once
#include <string>
#include <vector>

#include "platform/messagebox.h"

// The boxes shown since recording started, each as "caption: text".
inline std::vector<std::string> Boxes;
// Records a box and answers it with OK.
inline bool RecordBox(const char* text, const char* caption, MessageBoxButtons) {
  Boxes.push_back(std::string(caption) + ": " + text);
  return true;
}
// From a test's SetUp: every box from now on is recorded, starting with none.
inline void StartRecordingBoxes() {
  Boxes.clear();
  MessageBoxHook = RecordBox;
}
// From its TearDown: boxes go to the standard error stream again, as before any window exists.
inline void StopRecordingBoxes() { MessageBoxHook = MessageBoxToStderr; }
