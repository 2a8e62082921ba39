// The trash: which trash a file goes to, the record of where it came from, the move itself, and
// the way back for a file that went there ahead of a replacement that did not come.
// Names and paths are bytes throughout; nothing here decodes them.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/paths.h"
#include "platform/writeall.h"

namespace {

// The longest name of one directory entry on the file systems Linux mounts.
constexpr size_t MaxNameBytes = 255;
constexpr char InfoSuffix[] = ".trashinfo";
// Numbered names tried for one file before giving up: a trash holding that many files of one name
// has something wrong with it.
constexpr unsigned MaxNumberedNames = 100000;

// $XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash; empty when neither is an absolute path.
std::string HomeTrashPath() {
  const char* data = getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/Trash";
  return {};
}

// The device a directory made at `path` lands on: that of the path, or of its nearest existing
// ancestor. Whatever fails there (a missing parent, a file in the way) is left to the making.
dev_t DeviceOfNearest(std::string path) {
  struct stat st {};
  while (stat(path.c_str(), &st) != 0 && path != "/") path = DirectoryOf(path);
  return st.st_dev;
}

// True when `path` is a directory, after making it (0700) where it is missing.
bool MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

// Makes an absolute directory path with its missing parents: a new user has no ~/.local/share.
bool MakeDirectories(const std::string& path) {
  struct stat st {};
  std::string existing = path;
  while (existing != "/" && stat(existing.c_str(), &st) != 0) existing = DirectoryOf(existing);
  for (size_t slash = existing.size(); slash < path.size(); slash = path.find('/', slash + 1)) {
    const size_t end = path.find('/', slash + 1);
    if (end == slash + 1) continue;  // a doubled slash
    if (!MakeDirectory(path.substr(0, end))) return false;
    if (end == std::string::npos) break;
  }
  return MakeDirectory(path);
}

// True when `path` is a directory of ours and no link, after making it (0700) where it is missing:
// the trash directories at the top of a shared file system, where another user could have put a
// link or a directory of theirs to catch our files.
bool OwnDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  if (st.st_uid != geteuid()) {
    errno = EPERM;
    return false;
  }
  return true;
}

// The whole of a small system file such as /proc/self/mountinfo; empty when it cannot be read.
std::string ReadSystemFile(const char* path) {
  std::string text;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

// A mount point as mountinfo writes it, with blank, tab, newline and backslash as \ooo.
std::string UnescapeMountPoint(const std::string& field) {
  const auto octal = [&](size_t i) { return i < field.size() && field[i] >= '0' && field[i] <= '7'; };
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// The top directory of the file system that holds `dir` (a path without links, on device `dev`):
// the deepest mount point above it. A bind mount shares its device with the file system it shows,
// and a rename cannot leave it, so the mount table decides; only where it is missing or names
// something else (a mount since hidden under another) do the parents decide, up to the first
// directory on another device.
std::string TopDirectory(const std::string& dir, dev_t dev) {
  std::string best;
  const std::string table = ReadSystemFile("/proc/self/mountinfo");
  for (size_t line = 0; line < table.size();) {
    const size_t end = std::min(table.find('\n', line), table.size());
    // The mount point is the fifth field: id, parent id, major:minor, root, mount point.
    size_t start = line;
    for (int field = 0; field < 4 && start < end; ++field) start = std::min(table.find(' ', start), end) + 1;
    const size_t stop = std::min(table.find(' ', std::min(start, end)), end);
    if (start < stop) {
      const std::string point = UnescapeMountPoint(table.substr(start, stop - start));
      const bool above = point == "/" || dir == point ||
                         (dir.compare(0, point.size(), point) == 0 && dir[point.size()] == '/');
      if (above && point.size() >= best.size()) best = point;  // of two at one place, the later one shows
    }
    line = end + 1;
  }
  struct stat st {};
  if (!best.empty() && stat(best.c_str(), &st) == 0 && st.st_dev == dev) return best;
  std::string top = dir;
  while (top != "/") {
    const std::string up = DirectoryOf(top);
    if (stat(up.c_str(), &st) != 0 || st.st_dev != dev) break;
    top = up;
  }
  return top;
}

// The trash at the top of a file system: $top/.Trash/$uid where the administrator has made a shared
// .Trash (a directory, not a link, sticky so that no user removes another's), else $top/.Trash-$uid.
// Empty, with errno set, when neither can be had.
std::string TopTrash(const std::string& top) {
  const std::string base = top == "/" ? std::string() : top;
  const std::string uid = std::to_string(geteuid());
  struct stat st {};
  const std::string shared = base + "/.Trash";
  if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 &&
      OwnDirectory(shared + "/" + uid))
    return shared + "/" + uid;
  if (OwnDirectory(base + "/.Trash-" + uid)) return base + "/.Trash-" + uid;
  return {};
}

// The path as a URL path: letters, digits, "-._~" and "/" as they are, every other byte as %XX.
std::string EncodePath(const std::string& path) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      out += ch;
    } else {
      out += '%';
      out += Hex[c >> 4];
      out += Hex[c & 15];
    }
  }
  return out;
}

// The record of a trashed file: where it was (`path`, absolute or relative to its trash's top
// directory) and when it was trashed, in local time as file managers show it.
std::string TrashInfo(const std::string& path) {
  char date[32] = "1970-01-01T00:00:00";
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) != nullptr) strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  return "[Trash Info]\nPath=" + EncodePath(path) + "\nDeletionDate=" + date + "\n";
}

// The name in the trash: the file's own, numbered from the second of that name on, and shortened
// where needed so that its record's name (NAME.trashinfo) fits in a directory entry. A cut never
// splits a UTF-8 sequence, so that a file manager can still show the name.
std::string TrashName(const std::string& base, unsigned number) {
  std::string suffix;
  if (number > 1) suffix = '.' + std::to_string(number);
  size_t keep = std::min(base.size(), MaxNameBytes - (sizeof InfoSuffix - 1) - suffix.size());
  size_t cut = keep;
  while (cut > 0 && cut < base.size() && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
  if (cut > 0) keep = cut;
  return base.substr(0, keep) + suffix;
}

// Puts `source` (absolute, its directory without links) into the trash directory `trash`, which
// has files/ and info/; `top` is the directory its record's path is relative to (empty: absolute).
// The name is reserved by creating its record, which is on the disk before the file moves, so that
// a crash never leaves a trashed file that nobody can put back.
TrashResult TrashInto(const std::string& trash, const std::string& top, const std::string& source,
                      bool keepInPlace, TrashedFile* trashed) {
  std::string recorded = source;
  if (top == "/") {
    recorded = source.substr(1);
  } else if (!top.empty() && source.compare(0, top.size(), top) == 0 && source[top.size()] == '/') {
    recorded = source.substr(top.size() + 1);
  }
  const std::string record = TrashInfo(recorded);
  const std::string base = source.substr(source.rfind('/') + 1);
  bool link = keepInPlace;
  for (unsigned number = 1; number <= MaxNumberedNames;) {
    const std::string name = TrashName(base, number);
    const std::string info = trash + "/info/" + name + InfoSuffix;
    const std::string target = trash + "/files/" + name;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) {
      ++number;
      continue;
    }
    const int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      ++number;
      continue;
    }
    if (fd < 0) return TrashFailed;
    bool written = WriteAll(fd, record.data(), record.size()) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written) {
      written = false;
      error = errno;
    }
    if (written) {
      // linkat without AT_SYMLINK_FOLLOW links a symbolic link itself, as rename moves it.
      // A file in the trash that lost its record is still somebody's file: never replaced.
      if (link ? linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), 0) == 0
               : RenameWithoutReplacing(source, target)) {
        if (trashed != nullptr) *trashed = TrashedFile{source, target, info};
        return TrashMoved;
      }
      error = errno;
    }
    unlink(info.c_str());
    errno = error;
    if (!written) return TrashFailed;
    if (error == EEXIST) {
      ++number;  // taken between the look and the move
    } else if (link && (error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK)) {
      link = false;  // no hard link to be had here: the file moves, and its name is free for a moment
    } else {
      return TrashFailed;
    }
  }
  errno = EEXIST;
  return TrashFailed;
}

// What Trash does with the file: moves it, links it (TrashBeforeReplace), or only sees whether the
// trash would take it.
enum TrashWay { TrashMove, TrashLink, TrashProbe };

// The probe: the file's directory gives it up and the trash's two folders take it.
TrashResult Writable(const std::string& dir, const std::string& trash) {
  for (const std::string& d : {dir, trash + "/files", trash + "/info"}) {
    if (faccessat(AT_FDCWD, d.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return TrashFailed;
  }
  return TrashMoved;
}

TrashResult Trash(const std::string& path, TrashWay way, TrashedFile* trashed) {
  const bool keepInPlace = way == TrashLink;
  std::string given = path;
  while (given.size() > 1 && given.back() == '/') given.pop_back();
  const std::string base = given.substr(given.rfind('/') + 1);  // npos + 1: all of it
  if (base.empty() || base == "." || base == "..") {
    errno = EINVAL;
    return TrashFailed;
  }
  // The directory without links (the file itself is never followed): a relative path or a linked
  // directory is recorded as the place the file really was, and a rename leaves from there.
  char* real = realpath(DirectoryOf(given).c_str(), nullptr);
  if (real == nullptr) return TrashFailed;
  const std::string dir = real;
  free(real);
  const std::string source = (dir == "/" ? std::string() : dir) + "/" + base;
  struct stat dirStat {};
  struct stat st {};
  if (stat(dir.c_str(), &dirStat) != 0 || lstat(source.c_str(), &st) != 0) return TrashFailed;
  if (keepInPlace && S_ISDIR(st.st_mode)) {
    errno = EISDIR;  // a rename of a file cannot replace a directory
    return TrashFailed;
  }
  const std::string home = HomeTrashPath();
  const bool homeFileSystem = !home.empty() && DeviceOfNearest(home) == dirStat.st_dev;
  if (homeFileSystem) {
    // The user's own trash: one that cannot be made or written keeps the file where it is.
    if (!MakeDirectories(home) || !MakeDirectory(home + "/files") || !MakeDirectory(home + "/info"))
      return TrashFailed;
    if (way == TrashProbe) return Writable(dir, home);
    const TrashResult result = TrashInto(home, std::string(), source, keepInPlace, trashed);
    if (result != TrashFailed || errno != EXDEV) return result;
    // A bind mount of the home file system: nothing leaves it by rename, so its top takes the file.
  }
  const std::string top = TopDirectory(dir, dirStat.st_dev);
  const std::string trash = TopTrash(top);
  if (trash.empty() && homeFileSystem) {
    errno = EXDEV;  // the home trash is there, only out of reach: the file is not deleted instead
    return TrashFailed;
  }
  if (trash.empty()) return TrashUnavailable;
  if (!MakeDirectory(trash + "/files") || !MakeDirectory(trash + "/info")) return TrashFailed;
  if (way == TrashProbe) return Writable(dir, trash);
  return TrashInto(trash, top, source, keepInPlace, trashed);
}

}  // namespace

TrashResult MoveToTrash(const std::string& path) { return Trash(path, TrashMove, nullptr); }

TrashResult TrashBeforeReplace(const std::string& path, TrashedFile* trashed) {
  return Trash(path, TrashLink, trashed);
}

TrashResult TrashReady(const std::string& path) { return Trash(path, TrashProbe, nullptr); }

bool TakeBackFromTrash(const TrashedFile& trashed) {
  const FileIdentity kept = IdentityOf(trashed.File);
  if (!kept.Exists) {
    errno = ENOENT;  // taken out of the trash meanwhile: nothing to put back
    return false;
  }
  // Still in place (a link in the trash): only the link goes. Else it takes its name back, over
  // what a failed job left there.
  if (SameIdentity(IdentityOf(trashed.Original), kept) ? unlink(trashed.File.c_str()) != 0
                                                         : rename(trashed.File.c_str(), trashed.Original.c_str()) != 0)
    return false;
  unlink(trashed.Info.c_str());
  return true;
}

std::string TrashFailureText(TrashResult r, int error) {
  if (r == TrashUnavailable) return "no Trash can be made on its file system";
  if (r == TrashMoved) return {};
  return std::string("the Trash cannot take it (") + strerror(error) + ")";
}
