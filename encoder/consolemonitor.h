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
  char ConsoleLine[ConsoleLineLength + 1] = {};  // characters last read from the screen
  // The timer ReadConsoleT: the monitor disables it while an error box is open. The main window
  // installs SetReadTimer to start and stop its QTimer; the flag alone also keeps a read made
  // meanwhile (the end of the job) from reporting again.
  bool ReadTimerEnabled = true;
  void (*SetReadTimer)(bool enabled) = nullptr;
  // Brings the main window to the foreground during set-up; installed by the main window.
  void (*RaiseMainWindow)() = nullptr;
  // While an error box is open: whether the converter was active when it opened, and the count
  // of switch-offs (Abort, Stop) then. Closing the box switches the converter back on only when
  // it was active and nobody has switched it off since.
  bool ResumeAfterBox = false;
  uint32_t SwitchOffsAtBox = 0;
  // A failure of the current encoder job has been reported (an error line, or its end): the
  // scheduler clears it at each job's start, so that a job's failure reaches the user once.
  bool JobFailureReported = false;
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

// The last lines of an encoder that has ended: everything it wrote is taken from the terminal
// (waiting for what is still in transit), then the screen is read as on a tick, so that its last
// progress line and an error line are known before its end is judged. An error line opens its
// box without waiting, as on a tick.
void ReadFinalEncoderLines();

// Reports a failure of the encoder job as its error lines are: with the box option a box (the
// reason first, the source's path below it, the caption the path) during which the converter
// starts nothing, else a five-second notice "<path>: <reason>" on the status line.
void ReportEncoderFailure(const std::string& reason);

// The progress scan of a console line: "frames %u bytes in %u bytes out %u" with the partial
// match rule of the C library's scanf: the fields are set in order up to the first mismatch and
// the rest keep their values. Returns the number of fields set.
int ScanProgressLine(const char* line, int32_t& framesDone, uint32_t& bytesDone, uint32_t& bytesOut);
