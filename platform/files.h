// The desktop's trash, as file managers share it: the home trash under $XDG_DATA_HOME for files
// on the home file system, a trash at the top of any other file system for files there. Each
// trashed file keeps beside it (in info/) where it came from and when, so a file manager can
// put it back. Plain POSIX, so that programs without Qt (tompg) can trash files too.
//
// Nothing the user had is lost to the window's queue: a converted source that is to be deleted and
// an earlier file that a finished output replaces both go here, where a file manager can restore
// them. Where no trash can be had for a file, nothing is deleted or replaced instead.
#pragma once
#include <string>

enum TrashResult {
  TrashMoved = 0,    // the file is in a trash now (its .trashinfo beside it)
  TrashUnavailable,  // no trash can be made for this file's file system: the file stays
  TrashFailed,       // a trash exists or could be made, but the move failed (errno tells why): the file
                     // stays where it was
};

// Moves a file (or symbolic link; never follows a link at the last component) into the trash.
TrashResult MoveToTrash(const std::string& path);

// A file put into the trash ahead of its replacement: what it takes to put it back.
struct TrashedFile {
  std::string Original;  // where it was (its directory without links)
  std::string File;      // its name in the trash's files/
  std::string Info;      // its record in info/
};
// For a file that a new file is about to replace by rename: puts the existing file into the trash
// without taking it from its place (a hard link into the trash's files/ with its .trashinfo), so the
// following rename replaces the name atomically and no moment passes without a file of that name.
// Where a hard link cannot be made (a file system without them), falls back to MoveToTrash.
// `trashed`, when given, says where it went.
TrashResult TrashBeforeReplace(const std::string& path, TrashedFile* trashed = nullptr);
// Puts back a file that TrashBeforeReplace took, when its replacement did not come or failed: it
// takes its name again (over whatever a failed job put there), or, where the name still holds it,
// only its copy in the trash goes. False, with errno set, when that fails.
bool TakeBackFromTrash(const TrashedFile& trashed);
// Whether the trash would take the file now, without moving it: TrashMoved when it would, else
// the result a move would have (errno set). A trash that is missing is made.
TrashResult TrashReady(const std::string& path);
// Why a file could not go to the trash, for a message ("" for TrashMoved); `error` is errno as
// the trash call left it.
std::string TrashFailureText(TrashResult r, int error);
