// Test helpers for files and processes: scratch directories, whole-file reads and writes,
// polling with a deadline, and quiet runs of other programs.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A new empty directory under $TMPDIR (or /tmp), removed with everything in it, whatever its
// permissions, when the test that made it ends. Path ends in '/'.
struct ScratchDir {
  std::string Path;
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return Path + name; }
  // Path without its final '/'.
  std::string Dir() const { return Path.empty() ? Path : Path.substr(0, Path.size() - 1); }
};

// Removes a directory tree, first giving its owner every permission inside it (a test may have
// made parts of it unreadable or unwritable).
void RemoveTree(const std::string& path);

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Writes bytes to a new or emptied file; when totalSize exceeds them, the file is extended with
// zeros (sparse, so large files cost nothing). Fails the current test when it cannot.
void WriteFile(const std::string& path, const std::string& bytes, uint64_t totalSize = 0);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// Names in a directory, sorted, without "." and "..", separated by blanks.
std::string ListDir(const std::string& dir);
// Number of open file descriptors of this process.
int OpenFdCount();

// Polls cond every pollMicros (2 ms unless a race needs it sooner) until it holds (true) or the
// deadline passes (false). Tests of threads and processes wait with this, never with fixed sleeps.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 20000, int pollMicros = 2000);

// Runs a program (found on PATH when the name has no '/') with its arguments, no shell, its
// input and output on /dev/null; returns its exit status, or -1 when it did not exit normally.
int RunQuiet(const std::vector<std::string>& args);
// Whether a program of that name is on PATH.
bool ProgramOnPath(const std::string& name);
