// The one rule of which mounted volumes are "drives" and which drive a path is on, shared by the
// main window's file browser and the directory browser.
#pragma once
#include <QString>
#include <QStringList>

// File-system roots and mounted volumes that hold files a user converts, sorted, "/" among them:
// the kernel's own file systems (/proc, /sys, /dev, /run but for removable media) are left out.
QStringList DriveRoots();
// The drive of a path among roots: the index of the longest root that holds it, or -1.
int DriveIndexOf(const QString& path, const QStringList& roots);
