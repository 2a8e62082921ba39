// The main window's file list: a list view that starts its own drags.
#pragma once
#include <QListView>

// The file list: a list view that starts its drags with the single-file or several-files cursor.
class TFileListBox : public QListView {
 public:
  using QListView::QListView;

 protected:
  void startDrag(Qt::DropActions supportedActions) override;
};
