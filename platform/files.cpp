#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QString>

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool RemoveConvertedSource(const std::string& path) {
  const QString name = QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
  if (QFile::moveToTrash(name)) return true;
  // moveToTrash fails both where there is no trash and where the file cannot be moved; only a
  // file that still exists is deleted, and only when no trash could take it.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  return ::unlink(path.c_str()) == 0;
}
