// The message boxes owned by the main window. Code without widgets shows a box through this
// seam; the main window installs the functions that open real boxes, tests install recorders.
// Until then a box is written to the standard error stream.
//
// An error box never waits: it opens and the caller goes on at once, so that the status tick,
// whose timer does not fire again while its own handler waits in a box's event loop, keeps the
// queue moving while the box is open. Whoever must act when the box is closed passes `closed`.
// Only the question asked before closing the window waits for its answer.
#pragma once
#include <cstdio>

// Runs once the box has been closed (by OK, Escape or the window's close button).
using BoxClosed = void (*)();

// Opens an error box with one OK button; `closed` (may be null) runs when it is closed, which may
// also happen before the call returns (a recorder that answers at once).
using MessageBoxFunction = void (*)(const char* text, const char* caption, BoxClosed closed);
// Asks an OK/Cancel question and waits for the answer: true for OK.
using QuestionFunction = bool (*)(const char* text, const char* caption);

inline void MessageBoxToStderr(const char* text, const char* caption, BoxClosed closed) {
  std::fprintf(stderr, "[%s] %s\n", caption, text);
  if (closed != nullptr) closed();
}
// Nobody can answer a question here: keep what is running.
inline bool QuestionToStderr(const char* text, const char* caption) {
  std::fprintf(stderr, "[%s] %s (answered Cancel)\n", caption, text);
  return false;
}

inline MessageBoxFunction MessageBoxHook = MessageBoxToStderr;
inline QuestionFunction QuestionHook = QuestionToStderr;

inline void ShowMessageBox(const char* text, const char* caption, BoxClosed closed = nullptr) {
  MessageBoxHook(text, caption, closed);
}
inline bool AskOkCancel(const char* text, const char* caption) { return QuestionHook(text, caption); }
