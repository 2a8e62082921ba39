// The per-user registry: a small typed key-value store that keeps its keys and values in one
// text file, $XDG_CONFIG_HOME/sonivert/registry.reg (~/.config when XDG_CONFIG_HOME is unset,
// empty or not an absolute path). Every key here lives under the current user; there is no
// other root.
//
// The five operations behave as their Windows counterparts do for a caller: opening a key that
// does not exist fails, creating one makes the file, a value keeps its type, and a query into a
// buffer that is too small fails with RegMoreData and reports the size it needs.
//
// File format (version 1), one item per line, '\n' line ends:
//   #sonivert-registry 1          first line, always
//   [SOFTWARE\Sonivert]           a key: its full path
//   TompgDir=sz:"/home/ann/bin/"  a text value (REG_SZ): its bytes, exactly as stored
//   Layer=dword:00000002          a 32-bit value (REG_DWORD): eight hex digits
//   #end                          last line, always
// Key paths, value names and text are escaped byte by byte as %HH (two hex digits) for '%',
// '"', '=', '[', ']', '#', every control byte, DEL and every byte above 0x7F, so a value may hold
// any bytes at all (newlines, zero bytes, quotes, non-ASCII text). A file that breaks any of
// these rules in any place, lacks the end line (a cut-off copy) or is larger than
// RegMaxFileSize is damaged: it reads as holding no keys, and the next create writes a fresh
// file in its place after moving the damaged one aside to registry.reg.damaged (or .damaged.2,
// .damaged.3 ... where an earlier one is kept: none replaces another). A store
// that exists but cannot be read (its permissions, an I/O error, not a regular file) also reads
// as holding no keys, but it is never replaced: every write to it fails.
//
// Every set rewrites the whole file with the program's one writer (atomicfile.h): a temporary
// file beside it is written, flushed to disk and renamed over the store, so a crash or a full
// disk never leaves a half written store and a reader never sees one. A store that is a symbolic
// link is written through: its target is replaced, the link stays. Every read-modify-write holds
// an exclusive advisory lock on registry.reg.lock beside the store, so two processes never lose
// each other's updates; a write waits at most RegLockWaitMs for it (the window's thread must not
// hang on another process's save) and then gives up with RegBusy; the temporary files of writers killed during a save are removed at the
// next save. Key paths and value names match without regard to ASCII case, as on Windows.
//
// The text format is registry_format.cpp, the file with its lock registry_store.cpp, and the
// operations below registry.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Value types, numbered as on Windows.
enum RegType : uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,     // text, stored without a terminating zero
  REG_DWORD = 4,  // 32-bit number, 4 bytes little-endian in the caller's buffer
};

// Results of the registry operations.
enum RegResult {
  RegOk = 0,           // done
  RegNotFound,         // no such key or value (also: the store is missing or damaged)
  RegMoreData,         // the value does not fit the caller's buffer; the size says how much it needs
  RegInvalidArgument,  // a closed handle, an empty name, an unknown type or a wrong data size
  RegWriteFailed,      // the store could not be written (errno says why); the old file is unchanged
  RegBusy,             // another process held the store's lock past RegLockWaitMs: nothing was
                       // written, the caller may try again
};

// The longest a write waits for the store's lock, in milliseconds.
constexpr int RegLockWaitMs = 100;

// The largest store file that is read (larger reads as damaged) or written.
constexpr uint64_t RegMaxFileSize = 4u << 20;

// One value of a key: its name, its type and its bytes as stored.
struct RegValue {
  std::string Name;
  uint32_t Type = REG_NONE;
  std::string Data;
};

// An open key: which store file and which key path it refers to.
struct RegKey {
  bool Open = false;
  std::string StoreFile;  // fixed when the key is opened
  std::string Path;       // e.g. "SOFTWARE\Sonivert"
  bool Snapshot = false;  // opened by RegOpenKeySnapshot: queries answer from Values
  std::vector<RegValue> Values;  // the key's values when it was opened (a snapshot only)
};

// The store file of the current user (the file need not exist).
std::string RegistryStoreFile();

// Parses text as the contents of a store file, as every read of the store does: true when it is
// a well-formed store, and canonical then holds the text that a save of that store writes. The
// fuzz target of the parser and its corpus replay use it; the five operations do not.
bool RegParseStoreText(const std::string& text, std::string& canonical);

// Opens an existing key; RegNotFound when the store, or the key in it, does not exist.
RegResult RegOpenKey(const char* path, RegKey& key);
// Opens an existing key as RegOpenKey does and keeps a copy of its values from the one read of the
// store that the open makes: queries through it answer from that copy and never read the store
// again, so that a load of several values reads the file once and sees them all from one moment.
// Sets through it write the store as through any key; the copy stays as it was opened.
RegResult RegOpenKeySnapshot(const char* path, RegKey& key);
// Opens a key, creating it (and the store file and its directory) when it does not exist.
RegResult RegCreateKey(const char* path, RegKey& key);
// Reads a value. In: *size is the capacity of data. Out: *type its type and *size its length.
// When the value is longer than the capacity, returns RegMoreData, sets *type and the needed
// *size and leaves data untouched. data may be null to ask only for type and size.
RegResult RegQueryValue(const RegKey& key, const char* name, uint32_t* type, void* data, uint32_t* size);
// Writes a value of type REG_SZ (any length) or REG_DWORD (size 4), replacing an existing one.
RegResult RegSetValue(const RegKey& key, const char* name, uint32_t type, const void* data, uint32_t size);
// One value for RegSetValues, with the arguments RegSetValue takes.
struct RegValueWrite {
  const char* Name;
  uint32_t Type;
  const void* Data;
  uint32_t Size;
};
// Writes several values of one key in a single rewrite of the store: all of them or, when any is
// invalid or the store cannot be written, none.
RegResult RegSetValues(const RegKey& key, const RegValueWrite* values, int count);
// Closes the handle; a closed handle may be closed again.
void RegCloseKey(RegKey& key);

// Test seam: the next `count` reads of the store fail as an I/O error would. 0 restores normal
// reads.
void RegFailNextReads(int count);

// Test seam: the next `count` store writes fail after writing part of the temporary file, as
// a full disk would. 0 restores normal writes.
void RegFailNextWrites(int count);

// Test seam: how many times the store file has been read since the program started (every open,
// query and read-modify-write reads it once).
unsigned long RegStoreReads();
