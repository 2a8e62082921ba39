// The output of a job in the making: the decoder's WAV file and tompg's MPEG file appear under
// their names only when complete, so that a failed or interrupted job never leaves a broken file
// and never destroys an existing one, and a file they replace goes to the trash first. No Qt, so
// that tompg and sonivert-decode share it.
#pragma once
#include <cstdio>
#include <string>

// An output file in the making. Its bytes go to a temporary file in the destination's directory
// (atomicfile.h) that takes the output's name only when it is complete. An output that is a
// device or a FIFO (nothing there to destroy) is written in place.
struct PendingOutput {
  int Fd = -1;
  FILE* Stream = nullptr;  // set by OpenPendingOutputStream; then it owns Fd
  std::string FinalPath;   // the name it gets (the target when the output is a symbolic link)
  std::string TempPath;    // empty when written in place
  bool TrashRefused = false;  // the commit failed because the trash refused the file it replaces
  int CleanupSlot = -1;       // its place in the signal clean-up (outputsignals.h)
};

// Starts an output for `path`. False, with errno set, when it cannot be made: its directory
// cannot be written, it is a directory, or it exists write-protected.
bool CreatePendingOutput(const char* path, PendingOutput& out);
// Gives the output a C byte stream ("wb") over its descriptor; false when none can be made.
bool OpenPendingOutputStream(PendingOutput& out);
// Flushes the output to the disk, closes it and gives it its final name. A file it replaces goes
// to the trash first (kept in place until the rename, so the name never goes missing); where no
// trash can be made it is simply replaced. False, with errno set, when any of that fails (also
// when the trash refuses the old file); the temporary file is then removed and an existing output
// stays as it was.
bool CommitPendingOutput(PendingOutput& out);
// Closes the output and removes the temporary file; an existing output stays as it was.
void DiscardPendingOutput(PendingOutput& out);

// Removes the temporary files that the writer of `path` with process id `writerPid`, ended by
// force (SIGKILL, a crash), left beside the output: the regular files with the temporary names
// CreatePendingOutput gives in that process. Another process's files, which may still be in the
// making, stay. Returns how many were removed.
int RemoveLeftoverOutputs(const std::string& path, int writerPid);
