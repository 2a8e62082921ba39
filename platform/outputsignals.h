// The clean-up of temporary files when a program is told to end: a batch interrupted with Ctrl+C,
// a job aborted with SIGTERM or a closed terminal leaves no half-written file behind. Only the
// file this program is writing at that moment is removed, never a complete file.
#pragma once
#include <string>

// For every program that writes outputs, at its start: a file size limit makes a write fail
// (SIGXFSZ ignored) instead of ending the process; SIGINT, SIGTERM and SIGHUP remove the
// temporary file of the output most recently started and not yet committed or discarded, then
// end the process by the same signal, so that its parent sees how it ended.
void PrepareOutputSignals();

// For the outputs (outputfile.cpp): the temporary file the handlers remove, remembered before
// the file is created; forgotten when it is put in place or removed.
void ArmSignalCleanup(const std::string& tempPath);
void DisarmSignalCleanup();
