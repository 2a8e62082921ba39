// The output of a job in the making: the decoder's WAV file and tompg's MPEG file appear under
// their names only when complete, so that a failed or interrupted job never leaves a broken file
// and never destroys an existing one. A complete output replaces a file of its name, as `cp` and
// `sox` do, or, with the rule a command-line program's -n chooses, keeps it. (The window puts a
// file its queue replaces into the Trash itself, before the job starts: the scheduler's rule, not
// the writer's.) No Qt, so that tompg and sonivert-decode share it.
#pragma once
#include <cstdio>
#include <string>

#include "platform/paths.h"

// An output file in the making. Its bytes go to a temporary file in the destination's directory
// (atomicfile.h) that takes the output's name only when it is complete. An output that is a
// device or a FIFO (nothing there to destroy) is written in place.
struct PendingOutput {
  int Fd = -1;
  FILE* Stream = nullptr;  // set by OpenPendingOutputStream; then it owns Fd
  std::string FinalPath;   // the name it gets (the target when the output is a symbolic link)
  std::string TempPath;    // empty when written in place
  bool ExistingKept = false;  // the commit failed because a file has the name (KeepExisting)
  int CleanupSlot = -1;       // its place in the signal clean-up (outputsignals.h)
};

// What a complete output does to a file that already has its name. One rule for the whole
// program, chosen at its start.
enum OutputReplaceRule {
  ReplaceExisting = 0,  // the file is replaced (the default)
  KeepExisting,         // the file is kept and the output is not written (-n, --no-clobber)
};
void SetOutputReplaceRule(OutputReplaceRule rule);
// True when the rule is KeepExisting and something (of any kind) has the name `path`: the
// command-line programs refuse such an output at their start; the commit refuses one that
// appears while they work.
bool OutputKeptByRule(const char* path);
// The command-line programs' -n (--no-clobber): wherever it stands among the arguments it is
// taken out of argv and chooses KeepExisting (a file named -n is ./-n). Returns the new argc.
int TakeNoClobberOption(int argc, char** argv);

// Starts an output for `path`. False, with errno set, when it cannot be made: its directory
// cannot be written, it is a directory, or it exists write-protected.
bool CreatePendingOutput(const char* path, PendingOutput& out);
// Gives the output a C byte stream ("wb") over its descriptor; false when none can be made.
bool OpenPendingOutputStream(PendingOutput& out);
// Flushes the output to the disk, closes it and gives it its final name, replacing a file of that
// name or, under KeepExisting, only where there is none (else ExistingKept is set, errno EEXIST).
// False, with errno set, when any of that fails; the temporary file is then removed and an
// existing output stays as it was.
bool CommitPendingOutput(PendingOutput& out);
// Closes the output and removes the temporary file; an existing output stays as it was.
void DiscardPendingOutput(PendingOutput& out);

// Removes the regular file that has the output's name `path` (links followed) unless it is the
// file `before`: a file a failed job put there. True when one was removed.
bool RemoveNewOutput(const std::string& path, const FileIdentity& before);

// Removes the temporary files that the writer of `path` with process id `writerPid`, ended by
// force (SIGKILL, a crash), left beside the output: the regular files with the temporary names
// CreatePendingOutput gives in that process. Another process's files, which may still be in the
// making, stay. Returns how many were removed.
int RemoveLeftoverOutputs(const std::string& path, int writerPid);
