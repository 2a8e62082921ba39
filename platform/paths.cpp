// Path identity by device and inode, never by spelling.
#include "platform/paths.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string FollowLinks(const std::string& path) {
  std::string p = path;
  // 40: the kernel's own limit on links followed in one lookup.
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
    char target[4096];
    const ssize_t n = readlink(p.c_str(), target, sizeof target - 1);
    if (n <= 0) return p;
    target[n] = 0;
    p = target[0] == '/' ? std::string(target) : DirectoryOf(p) + "/" + target;
  }
  return p;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool IsSameOpenFile(int fdA, int fdB) {
  struct stat sa {}, sb {};
  if (fstat(fdA, &sa) != 0 || fstat(fdB, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return id;
  id.Exists = true;
  id.Device = st.st_dev;
  id.Inode = st.st_ino;
  id.Regular = S_ISREG(st.st_mode);
  id.Size = static_cast<long long>(st.st_size);
  return id;
}

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system that does not know the flag: a hard link fails on a taken name as the rename
  // would; a symbolic link is linked itself, not its target.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return true;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) return false;
  // Neither (a directory, a file system without links): look first.
  struct stat st {};
  if (lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return rename(from.c_str(), to.c_str()) == 0;
}
