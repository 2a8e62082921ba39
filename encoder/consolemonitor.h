// The console monitor: sets up the encoder console, keeps it at 80 x 2, and every 100 ms reads
// the encoder's progress and error lines from the screen (or, during a decoder job, copies the
// decoder's input position).
#pragma once
#include <cstdint>
#include <string>

// Characters of a row that are read: columns 1 to 70.
constexpr int ConsoleLineLength = 70;
constexpr int ConsoleLineColumn = 1;

struct ConsoleMonitorState {
  std::string ConsoleTitle;  // "Sonivert Console <pid>"
  bool ConsoleOut = false;   // the console exists (it stands for the console's output handle)
  char ConsoleLine[ConsoleLineLength + 1] = {};  // characters last read from the screen
  // The timer ReadConsoleT: the monitor disables it around an error report. The main window
  // installs SetReadTimer to start and stop its QTimer; the flag alone also keeps a nested call
  // (from a tick that runs while the box is open) from reporting again.
  bool ReadTimerEnabled = true;
  void (*SetReadTimer)(bool enabled) = nullptr;
  // Brings the main window to the foreground during set-up; installed by the main window.
  void (*RaiseMainWindow)() = nullptr;
  // The last lines of a finished encoder have been read (reset at each launch).
  bool FinalLinesRead = false;
};
extern ConsoleMonitorState ConsoleMonitor;

// Error lines of the encoder: the 22-character prefix, the box text, the notice suffix.
struct EncoderErrorLine {
  const char* Prefix;
  const char* BoxText;
  const char* NoticeSuffix;
};
constexpr int EncoderErrorPrefixLength = 22;
extern const EncoderErrorLine EncoderErrorLines[3];

// Console set-up, once, while the main window is built: title, console, (no window to find or
// hide), main window to the front, FitConsole, and a line break so that the cursor stands in the
// bottom row.
void ConsoleSetup();

// Puts the console back to 80 x 2 when it has grown past three rows; leaves it otherwise.
void FitConsole();

// Handler of ReadConsoleT (100 ms). decoderInputPosition is the decoder's InputPosition, which
// the caller reads (the monitor does not depend on the decoder); it is used during decoder jobs.
void ReadConsoleTTimer(uint32_t decoderInputPosition);

// The progress scan of a console line: "frames %u bytes in %u bytes out %u" with the partial
// match rule of the C library's scanf: the fields are set in order up to the first mismatch and
// the rest keep their values. Returns the number of fields set.
int ScanProgressLine(const char* line, int32_t& framesDone, uint32_t& bytesDone, uint32_t& bytesOut);
