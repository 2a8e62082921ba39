// Helpers of the foundation tests: a private temporary directory, file writers, byte builders.
#pragma once
#include <cstdint>
#include <string>

// Makes a new empty directory under $TMPDIR (or /tmp); returns its path without a trailing '/'.
std::string MakeTempDir();
// Removes a directory tree made by MakeTempDir (restoring permissions first).
void RemoveTree(const std::string& path);
// Writes bytes to a new file; if totalSize exceeds the bytes, the file is extended with zeros
// (sparse, so large files cost nothing).
void WriteFile(const std::string& path, const std::string& bytes, uint64_t totalSize = 0);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
// Number of open file descriptors of this process.
int OpenFdCount();
// Names in a directory, sorted, without "." and "..".
std::string ListDir(const std::string& dir);

std::string Le16(uint16_t v);
std::string Le32(uint32_t v);
