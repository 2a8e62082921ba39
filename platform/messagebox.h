// The modal message box owned by the main window. Code without widgets shows a box through this
// seam; the main window installs the function that opens a real box, tests install a recorder.
// Until then a box is written to the standard error stream.
#pragma once
#include <cstdio>

enum MessageBoxButtons {
  MessageBoxOk,        // an error box with one OK button
  MessageBoxOkCancel,  // a question: OK or Cancel
};

// Shows a modal box with an error icon and waits for it to be closed. True when OK was chosen.
using MessageBoxFunction = bool (*)(const char* text, const char* caption, MessageBoxButtons buttons);

inline bool MessageBoxToStderr(const char* text, const char* caption, MessageBoxButtons buttons) {
  std::fprintf(stderr, "[%s] %s\n", caption, text);
  return buttons == MessageBoxOk;  // nobody can answer a question here: keep what is running
}

inline MessageBoxFunction MessageBoxHook = MessageBoxToStderr;

inline bool ShowMessageBox(const char* text, const char* caption, MessageBoxButtons buttons = MessageBoxOk) {
  return MessageBoxHook(text, caption, buttons);
}
