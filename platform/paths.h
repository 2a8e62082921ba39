// Which file a path names: its directory, the end of its symbolic links, and whether two paths or
// two descriptors are one file. The jobs ask it before they overwrite anything, so that an
// output never lands on its own source. No Qt, so that tompg and sonivert-decode share it.
#pragma once
#include <sys/types.h>

#include <string>

// The directory part of a path: "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path);

// The path a write to `path` lands on: symbolic links of its last component followed to their
// end (the target need not exist). A path that is no link is returned as it is.
std::string FollowLinks(const std::string& path);

// True when both paths name an existing file and they are the same file (same device and inode
// after following symbolic links), however the paths are spelt: a hard link, a symbolic link,
// a doubled slash or "./" all name the same file.
bool IsSameFile(const std::string& a, const std::string& b);
// True when two open descriptors are the same file: standard output and standard error on one
// terminal, for instance.
bool IsSameOpenFile(int fdA, int fdB);

// Which file stands at a path (its last component not followed): a job tells by it whether the
// name it was to write holds a new file at its end.
struct FileIdentity {
  bool Exists = false;
  dev_t Device = 0;
  ino_t Inode = 0;
  bool Regular = false;
  long long Size = 0;
};
FileIdentity IdentityOf(const std::string& path);
inline bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
  return a.Exists && b.Exists && a.Device == b.Device && a.Inode == b.Inode;
}

// Renames `from` to `to` only when nothing has the name `to`: false with errno EEXIST when
// something has. Race-free where the kernel renames without replacing or a hard link can be made;
// on a file system with neither, a name taken between the look and the rename is replaced.
bool RenameWithoutReplacing(const std::string& from, const std::string& to);
