#include "app/drives.h"

#include <QFileInfo>
#include <QStorageInfo>

QStringList DriveRoots() {
  static const char* const hidden[] = {"/proc", "/sys", "/dev", "/run", "/snap", "/boot/efi"};
  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    // Mounts of single files (as containers have) are no place to browse.
    if (!volume.isValid() || !volume.isReady() || !QFileInfo(volume.rootPath()).isDir()) continue;
    const QString root = volume.rootPath();
    bool skip = false;
    for (const char* h : hidden) {
      const QString prefix = QString::fromLatin1(h);
      if (root == prefix || root.startsWith(prefix + QLatin1Char('/'))) skip = true;
    }
    if (root.startsWith(QLatin1String("/run/media/"))) skip = false;
    if (!skip && !roots.contains(root)) roots << root;
  }
  if (!roots.contains(QLatin1String("/"))) roots.prepend(QStringLiteral("/"));
  roots.sort();
  return roots;
}

int DriveIndexOf(const QString& path, const QStringList& roots) {
  // The drive of a path: the longest mount point that holds it.
  int best = -1;
  for (int i = 0; i < roots.size(); ++i) {
    const QString& root = roots[i];
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if ((path == root || (path + QLatin1Char('/')).startsWith(prefix)) &&
        (best < 0 || root.size() > roots[best].size())) {
      best = i;
    }
  }
  return best;
}
