// The main window's file list: a list view that starts its own drags.
#pragma once
#include <QListView>
#include <QStringList>

// The file list: a list view that starts its drags with the single-file or several-files cursor.
class QMimeData;

class TFileListBox : public QListView {
 public:
  using QListView::QListView;

 protected:
  void startDrag(Qt::DropActions supportedActions) override;
};

// A drop from another program (a file manager's text/uri-list): whether it brings any local file
// or folder at all, and the sources it brings: each file as it is, and for a folder the WAV and MP3
// files directly inside it, by name. Anything else (text, remote addresses) brings nothing.
bool DropBringsLocalFiles(const QMimeData* data);
QStringList DroppedSources(const QMimeData* data);
