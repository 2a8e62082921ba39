// The desktop's trash, as file managers share it: the home trash under $XDG_DATA_HOME for files
// on the home file system, a trash at the top of any other file system for files there. Each
// trashed file keeps beside it (in info/) where it came from and when, so a file manager can
// put it back. Plain POSIX, so that programs without Qt (tompg) can trash files too.
//
// Nothing the user had is lost to a conversion: a converted source that is to be deleted and an
// earlier file that a finished output replaces both go here, where a file manager can restore them.
#pragma once
#include <string>

enum TrashResult {
  TrashMoved = 0,    // the file is in a trash now (its .trashinfo beside it)
  TrashUnavailable,  // no trash can be made for this file's file system: the caller may delete it
  TrashFailed,       // a trash exists or could be made, but the move failed (errno tells why): the file
                     // stays where it was
};

// Moves a file (or symbolic link; never follows a link at the last component) into the trash.
TrashResult MoveToTrash(const std::string& path);
// For a file that a new file is about to replace by rename: puts the existing file into the trash
// without taking it from its place (a hard link into the trash's files/ with its .trashinfo), so the
// following rename replaces the name atomically and no moment passes without a file of that name.
// Where a hard link cannot be made (a file system without them), falls back to MoveToTrash.
TrashResult TrashBeforeReplace(const std::string& path);
// The text for a result (for messages).
const char* TrashResultText(TrashResult r);

// Removes a source file after a successful encode: moves it to the user's trash, so that a
// mistaken setting never destroys a recording; only where the file system has no trash is the
// file deleted. True when the file is gone from its place.
bool RemoveConvertedSource(const std::string& path);
