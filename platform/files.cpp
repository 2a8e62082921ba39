#include "platform/files.h"

#include <unistd.h>

#include <QFile>
#include <QString>

bool RemoveConvertedSource(const std::string& path) {
  const QString name = QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size()));
  if (QFile::moveToTrash(name)) return true;
  // moveToTrash fails both where there is no trash and where the file cannot be moved: the
  // file is deleted only when no trash could take it (a file already gone fails here too).
  return ::unlink(path.c_str()) == 0;
}
