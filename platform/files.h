// Files as the queue sees them: identity of two paths and the removal of a converted source.
#pragma once
#include <string>

// True when both paths name an existing file and they are the same file (same device and inode
// after following symbolic links), however the paths are spelt: a hard link, a symbolic link,
// a doubled slash or "./" all name the same file.
bool IsSameFile(const std::string& a, const std::string& b);

// Removes a source file after a successful encode: moves it to the user's trash, so that a
// mistaken setting never destroys a recording; only where the file system has no trash is the
// file deleted. True when the file is gone from its place.
bool RemoveConvertedSource(const std::string& path);
