// The settings store's file: where it lives, reading it whole, and its read-modify-write under the
// lock, written through the program's one writer (atomicfile.h), with a damaged file kept aside
// and an unreadable one never replaced. Private to the registry.
#pragma once
#include <functional>
#include <string>

#include "platform/registry.h"
#include "platform/registry_format.h"

// What a read of the store found.
enum StoreState {
  StoreLoaded,      // a valid store, parsed
  StoreMissing,     // no file: a new store may be made
  StoreDamaged,     // a file that breaks the format or is too large: read as no keys
  StoreUnreadable,  // a file that cannot be read (its permissions, an I/O error, not a
                    // regular file): read as no keys, and never replaced, so nothing is lost
};

// Reads and parses the store file, once. Anything but StoreLoaded leaves the store empty.
StoreState LoadStore(const std::string& file, Store& store);

// One read-modify-write of the store, under the lock: `change` edits the store read from disk
// and says whether there is anything to write. RegBusy when the lock stays taken for
// RegLockWaitMs, RegWriteFailed (errno set) when the store cannot be read or written; the file is
// then as it was.
RegResult ModifyStore(const std::string& file, const std::function<bool(Store&)>& change);
