// The removal of a converted source: into the trash, deleted only where no trash can be had.
#include "platform/files.h"

#include <unistd.h>

#include "platform/trash.h"

bool RemoveConvertedSource(const std::string& path) {
  switch (MoveToTrash(path)) {
    case TrashMoved:
      return true;
    case TrashUnavailable:
      // Deleted outright only where its file system can have no trash (read-only at its top, or
      // something else in the trash's place): the user asked for the source to go.
      return ::unlink(path.c_str()) == 0;
    case TrashFailed:
      break;
  }
  // A trash that refuses the file (not writable, full) keeps it where it is: deleting it instead
  // would destroy what the user meant to keep restorable.
  return false;
}
