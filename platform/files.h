// Files as the jobs and the queue see them: identity of two paths, sources opened without
// blocking, outputs that appear only when complete, and the removal of a converted source.
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <string>

// True when both paths name an existing file and they are the same file (same device and inode
// after following symbolic links), however the paths are spelt: a hard link, a symbolic link,
// a doubled slash or "./" all name the same file.
bool IsSameFile(const std::string& a, const std::string& b);
// True when two open descriptors are the same file: standard output and standard error on one
// terminal, for instance.
bool IsSameOpenFile(int fdA, int fdB);

// Removes a source file after a successful encode: moves it to the user's trash, so that a
// mistaken setting never destroys a recording; only where the file system has no trash is the
// file deleted. True when the file is gone from its place.
bool RemoveConvertedSource(const std::string& path);

// The directory part of a path: "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path);

// Writes all `size` bytes, resuming after signals and short writes; false on an error (errno
// tells which).
bool WriteAll(int fd, const void* data, size_t size);

// The path a write to `path` lands on: symbolic links of its last component followed to their
// end (the target need not exist). A path that is no link is returned as it is.
std::string FollowLinks(const std::string& path);

// Opens a source for reading: its descriptor, with st filled in, or -1 with errno set when it
// cannot be opened or is not a regular file (a directory, a FIFO, a device). A FIFO without a
// writer is refused, never waited for.
int OpenSourceDescriptor(const char* path, struct stat& st);
// Opens a source for reading as a byte stream. Null, with errno set, when it cannot be opened or
// is not a regular file (a directory, a FIFO, a device): a FIFO without a writer never blocks.
FILE* OpenSourceFile(const char* path);

// An output file in the making. Its bytes go to a temporary file in the destination's directory
// that takes the output's name only when it is complete, so a failed or interrupted job never
// leaves a broken file and never destroys an existing one. An output that is a device or a FIFO
// (nothing there to destroy) is written in place.
struct PendingOutput {
  int Fd = -1;
  FILE* Stream = nullptr;  // set by OpenPendingOutputStream; then it owns Fd
  std::string FinalPath;   // the name it gets (the target when the output is a symbolic link)
  std::string TempPath;    // empty when written in place
  bool TrashRefused = false;  // the commit failed because the trash refused the file it replaces
};

// Starts an output for `path`. False, with errno set, when it cannot be made: its directory
// cannot be written, it is a directory, or it exists write-protected.
bool CreatePendingOutput(const char* path, PendingOutput& out);
// Gives the output a C byte stream ("wb") over its descriptor; false when none can be made.
bool OpenPendingOutputStream(PendingOutput& out);
// Flushes and closes the output and gives it its final name. A file it replaces goes to the
// trash first (kept in place until the rename, so the name never goes missing); where no trash
// can be made it is simply replaced. False, with errno set, when any of that fails (also when the
// trash refuses the old file); the temporary file is then removed and an existing output stays
// as it was.
bool CommitPendingOutput(PendingOutput& out);
// Closes the output and removes the temporary file; an existing output stays as it was.
void DiscardPendingOutput(PendingOutput& out);

// Removes the temporary files that the writer of `path` with process id `writerPid`, ended by
// force (SIGKILL, a crash), left beside the output: the regular files with the temporary names
// CreatePendingOutput gives in that process. Another process's files, which may still be in the
// making, stay. Returns how many were removed.
int RemoveLeftoverOutputs(const std::string& path, int writerPid);

// For every program that writes outputs, at its start: a file size limit makes a write fail
// (SIGXFSZ ignored) instead of ending the process; SIGINT, SIGTERM and SIGHUP remove the
// temporary file of the output most recently started and not yet committed or discarded, then
// end the process by the same signal, so that its parent sees how it ended.
void PrepareOutputSignals();
