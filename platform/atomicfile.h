// The one way this program replaces a file whole, shared by the jobs' outputs (outputfile.h) and
// the settings store (registry.h): the bytes go to a temporary file beside the final name, which
// is flushed to the disk and renamed over that name only when complete, and then the directory is
// flushed too. A reader sees the old file or the new one, never a part; a crash, a full disk or a
// power cut leaves the old file as it was. Every temporary file has a name of one form,
// NAME.tmp-XXXXXX, so that what a killed writer left is recognised and removed by one rule.
#pragma once
#include <sys/types.h>

#include <cstdio>
#include <string>

// Creates the temporary file that is to replace `finalPath` (its links already followed by the
// caller), with `mode` through the umask. Returns its descriptor, or -1 with errno set. tempPath
// gets its name, and cleanupSlot its place in the signal clean-up (outputsignals.h).
//
// The name is six hexadecimal digits: first the process id (below 2^22, the kernel's limit) and
// two bits of attempt, so that no other running process of the machine (many encoders at once on
// one folder) ever draws it. Such a name exists already only when an ended process of the same id
// left it, or another thread of this process writes the same file; after four of those the digits
// mix the clock, the id and a counter instead.
int CreateTemporaryFile(const std::string& finalPath, mode_t mode, std::string& tempPath,
                        int& cleanupSlot);
// Flushes the temporary file's bytes to the disk and closes it: the stream when there is one
// (it owns fd), else fd. False, with errno set, when any of its bytes may not have reached the
// disk; the file stays for ReplaceWithTemporaryFile or RemoveTemporaryFile either way.
bool SyncAndCloseTemporaryFile(int fd, FILE* stream);
// Renames the complete temporary file over `finalPath` and flushes the directory, so that the
// new name survives a power cut as the bytes do. False, with errno set, when the rename fails;
// the temporary file is then still there. On success tempPath is cleared.
bool ReplaceWithTemporaryFile(std::string& tempPath, int& cleanupSlot, const std::string& finalPath);
// As ReplaceWithTemporaryFile, but only when nothing has the name `finalPath`: false with errno
// EEXIST when something has (it stays as it was, and so does the temporary file).
bool PlaceTemporaryFile(std::string& tempPath, int& cleanupSlot, const std::string& finalPath);
// Removes the temporary file (nothing when tempPath is empty) and clears tempPath, keeping errno:
// callers report the failure that led here, not the removal.
void RemoveTemporaryFile(std::string& tempPath, int& cleanupSlot);

// Removes the temporary files that the writer of `finalPath` with process id `writerPid`, ended
// by force (SIGKILL, a crash), left beside it: the regular files of the name form above with
// that process id. Another process's files, which may still be in the making, stay. Returns how
// many were removed.
int RemoveLeftoverTemporaryFiles(const std::string& finalPath, int writerPid);
// Removes the temporary files of every writer of `finalPath`: only for a caller that holds a lock
// that every writer of that file holds while it writes (the settings store), so that no living
// writer's file is among them.
int RemoveEveryLeftoverTemporaryFile(const std::string& finalPath);
