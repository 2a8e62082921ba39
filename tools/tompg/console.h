// What tompg writes to its console: the progress line and the error lines that the host reads
// from the screen, and the exit status that goes with them.
//
// The host reads a two-row, 80-column screen. The progress line is held on the bottom row, text
// from column 1 (column 0 blank), rewritten in place with a carriage return. An error line starts
// in column 1 with one of three fixed 22-character prefixes and ends with a line break, so that it
// stands in the upper row and the bottom row is blank at column 1.
#pragma once

#include <cstdint>

// Exit statuses. On success the status is the frame count of the last progress line modulo 256,
// so every 8-bit value can also mean success; an error status is only ever produced together with
// an error line, and never equals the frame count (mod 256) of a progress line already shown
// (see ExitStatusFor).
enum class TompgError : int {
  Usage = 250,               // the command line is not understood
  CannotOpenInput = 251,     // the source cannot be opened
  UnrecognizedPcm = 252,     // not a PCM WAVE file, or a format that cannot be coded
  CannotCreateOutput = 253,  // the output cannot be created
  WriteFailed = 254,         // writing the output failed (disk full, I/O error)
  EncoderFailed = 255,       // an encoding library refused its settings or failed mid-stream
};

// The line shown for an error, without the leading blank (the first 22 characters are the
// prefix the host recognises).
const char* TompgErrorText(TompgError error);

struct ConsoleState {
  int fd = 1;                  // standard output: the host's pseudo-terminal, a pipe or a file
  int errorFd = 2;             // standard error: told the whole error when it is another file
  const char* source = nullptr;  // the files an error line names, once the command line is read
  const char* output = nullptr;
  bool progressShown = false;  // a progress line has been written
  uint32_t shownFrames = 0;    // frame count of the last progress line written
  uint64_t lastShownNs = 0;    // monotonic time of the last progress line
};

// Writes the progress line when at least 50 ms have passed since the last one (at most 20 lines
// a second), or always when final is set.
void ShowProgress(ConsoleState& console, uint32_t frames, uint32_t bytesIn, uint32_t bytesOut, bool final);

// Writes an error line (with detail appended after the fixed text, may be null, then the file the
// error concerns, its front cut to fit the screen row) and returns the exit status to end with.
// When standard error is not the console itself (a batch that discards the progress lines), the
// whole line, with the file's full name, goes there as well.
int ShowError(ConsoleState& console, TompgError error, const char* detail);

// Writes a notice in the upper row, as an error line is written but with a text the host does not
// take for an error ("SOURCE ENDED EARLY"): the run goes on, and its next progress line stands
// on the bottom row below it.
constexpr const char* NoticeEndedEarly = "SOURCE ENDED EARLY";
void ShowNotice(ConsoleState& console, const char* text, const char* detail);

// The exit status for an error: its code, moved by 8 when that code equals the frame count
// (mod 256) of a progress line already shown, so the host can never take it for success.
int ExitStatusFor(const ConsoleState& console, TompgError error);
