// Child processes on a pseudo-terminal: start, poll, kill, stop and continue, priority.
#pragma once
#include <cstdint>

// One started child process and what is known of its end.
struct ProcessInfo {
  int Pid = 0;              // 0: none started
  bool Ended = false;       // reaped
  uint32_t ExitCode = 0;    // after the end: the 8-bit exit status, or a value above 255 after a signal
};
