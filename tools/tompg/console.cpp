#include "tools/tompg/console.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/paths.h"
#include "platform/writeall.h"

namespace {

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

constexpr uint64_t ProgressIntervalNs = 50000000;  // 50 ms: at most 20 lines a second

}  // namespace

const char* TompgErrorText(TompgError error) {
  switch (error) {
    case TompgError::Usage:
      return "USAGE: tompg SOURCE.wav OUTPUT.mpN -L<1-3> -B<kbit/s per channel> -M<0-3>";
    case TompgError::CannotOpenInput:
      return "CANNOT_OPEN_INPUT_FILE";
    case TompgError::UnrecognizedPcm:
      return "UNRECOGNIZED PCM FILE FORMAT";
    case TompgError::CannotCreateOutput:
      return "CANNOT CREATE OUTPUT FILE";
    case TompgError::WriteFailed:
      return "CANNOT CREATE OUTPUT FILE: WRITE FAILED";
    case TompgError::EncoderFailed:
      return "ENCODER FAILED";
  }
  return "ERROR";
}

void ShowProgress(ConsoleState& console, uint32_t frames, uint32_t bytesIn, uint32_t bytesOut, bool final) {
  uint64_t now = MonotonicNs();
  if (!final && console.progressShown && now - console.lastShownNs < ProgressIntervalNs) return;
  // Carriage return, then column 0 blank and the text from column 1. The numbers never shrink,
  // so a rewrite always covers the line before it.
  char line[96];
  int n =
      std::snprintf(line, sizeof line, "\r frames %u bytes in %u bytes out %u", frames, bytesIn, bytesOut);
  // A console that is gone (the host closed it) must not stop the encoding.
  WriteAll(console.fd, line, static_cast<size_t>(n));
  console.progressShown = true;
  console.shownFrames = frames;
  console.lastShownNs = now;
}

int ExitStatusFor(const ConsoleState& console, TompgError error) {
  int status = static_cast<int>(error);
  if (console.progressShown && static_cast<uint32_t>(status) == console.shownFrames % 256) status -= 8;
  return status;
}

namespace {

// The file an error concerns: the source for reading and format errors, the output for creating
// and writing it; none for the command line itself.
const char* FileOf(const ConsoleState& console, TompgError error) {
  switch (error) {
    case TompgError::CannotOpenInput:
    case TompgError::UnrecognizedPcm:
    case TompgError::EncoderFailed:
      return console.source;
    case TompgError::CannotCreateOutput:
    case TompgError::WriteFailed:
      return console.output;
    case TompgError::Usage:
      break;
  }
  return nullptr;
}

// Composes "TEXT: detail: file" into text (capacity bytes, at least 1). With fit set, a file name
// that does not fit keeps its end (the base name), after "...", from a character boundary.
void ComposeError(char* text, size_t capacity, const char* what, const char* detail, const char* file,
                  bool fit) {
  size_t used = 0;
  auto append = [&](const char* part) {
    while (*part && used + 1 < capacity) text[used++] = *part++;
  };
  append(what);
  if (detail && *detail) {
    append(": ");
    append(detail);
  }
  if (file && *file) {
    append(": ");
    const size_t room = capacity - 1 - used;
    const size_t length = std::strlen(file);
    if (fit && length > room && room > 3) {
      const char* tail = file + length - (room - 3);
      while ((static_cast<unsigned char>(*tail) & 0xC0) == 0x80) ++tail;  // UTF-8 continuation
      append("...");
      append(tail);
    } else if (!fit || length <= room) {
      append(file);
    }
  }
  text[used] = 0;
  // A control character of a file name (a line break, an escape sequence) would move the line
  // out of its row, or steer the terminal: shown as '?'.
  for (size_t i = 0; i < used; ++i)
    if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F) text[i] = '?';
}

// Writes a line of its own in the upper row: "WHAT: detail: file".
void ShowLine(ConsoleState& console, const char* what, const char* detail, const char* file) {
  // The text is cut to 78 characters: on an 80-column screen a longer line would wrap, and the
  // prefix would no longer stand in the row the host reads.
  char text[79];
  ComposeError(text, sizeof text, what, detail, file, true);
  // "\r\n" first: whatever stood on the bottom row (our own progress line, or one left by an
  // earlier run) moves up and the line gets a blank row of its own; its closing line break then
  // leaves it in the upper row and the bottom row blank.
  char line[96];
  int n = std::snprintf(line, sizeof line, "\r\n %s\n", text);
  WriteAll(console.fd, line, static_cast<size_t>(n));
  // The host's console is both streams: there, the screen keeps exactly the line above.
  if (file && !IsSameOpenFile(console.fd, console.errorFd)) {
    char whole[8192];
    ComposeError(whole, sizeof whole, what, detail, file, false);
    n = std::snprintf(line, sizeof line, "tompg: ");
    WriteAll(console.errorFd, line, static_cast<size_t>(n));
    WriteAll(console.errorFd, whole, std::strlen(whole));
    WriteAll(console.errorFd, "\n", 1);
  }
}

}  // namespace

int ShowError(ConsoleState& console, TompgError error, const char* detail) {
  ShowLine(console, TompgErrorText(error), detail, FileOf(console, error));
  return ExitStatusFor(console, error);
}

void ShowNotice(ConsoleState& console, const char* text, const char* detail) {
  ShowLine(console, text, detail, console.source);
}
