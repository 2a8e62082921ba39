// The clean-up of temporary files when a program is told to end: a batch interrupted with Ctrl+C,
// a job aborted with SIGTERM or a closed terminal leaves no half-written file behind. Only the
// files this program is writing at that moment are removed, never a complete file.
#pragma once
#include <string>

// For every program that writes files, at its start: a file size limit makes a write fail
// (SIGXFSZ ignored) instead of ending the process; SIGINT, SIGTERM and SIGHUP remove every
// temporary file that is being written (an output or the settings store) and not yet put in place
// or removed, then end the process by the same signal, so that its parent sees how it ended.
void PrepareOutputSignals();

// For the platform layer's writer (atomicfile.cpp). Remembers a temporary file for the signal
// handlers before it is created, and returns its place among them; -1 when it cannot be kept
// there (a name longer than a path may be, or more files at once than the handlers keep), and
// then only the writer's normal ends remove it. Several threads may write at once: the decoder's
// output and a save of the settings, for instance.
int ArmSignalCleanup(const std::string& tempPath);
// Forgets the file at `slot` (put in place, or removed) and sets slot to -1; nothing for -1.
void DisarmSignalCleanup(int& slot);
