// The persisted user choices and their store, the key "SOFTWARE\Sonivert" of the per-user
// registry (platform/registry.h).
//
// The program's one instance is `AppSettings`. It lives for the whole run; the main window sets
// its defaults (SetDefaultSettings), then loads it (LoadSettings); the configuration dialog
// changes it and calls SaveSettings. The main window's close event calls SaveSourceDir.
//
// Directory texts end in '/', the platform separator, and are used as plain prefixes.
// A value that is missing, of the wrong type, too long or out of range leaves its field as it
// was, silently. A save that fails says why: the windows tell the user.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Capacity of TompgDir: at most 299 characters and the terminating zero.
constexpr int TompgDirSize = 300;
// The longest encoder directory TompgDir holds (bytes, without its terminating zero).
constexpr std::size_t MaxTompgDirLength = TompgDirSize - 1;
// The longest destination directory whose output paths still fit the 400-byte path buffers of
// a decoder job: room is left for a one-character name and a four-character extension.
constexpr std::size_t MaxDestinationDirLength = 400 - 1 - 5;

// Capacity offered to every text query of LoadSettings; a text needs room for its zero too, so
// at most 499 characters load.
constexpr uint32_t SettingsTextBufferSize = 500;

// Bits of Settings::Flags. Other bits have no meaning but are kept as loaded.
enum SettingsFlag : uint32_t {
  FlagShowErrorBox = 1,         // report encoder errors and failed deletions in a message box
  FlagDeleteAfterEncoding = 2,  // delete (move to the trash) the source of a successful encode
};

struct Settings {
  char TompgDir[TompgDirSize] = {};  // directory that holds the encoder `tompg`, ends in '/'
  std::string DestinationDir;        // prefix of every output path, ends in '/'
  int32_t Layer = 2;                 // default layer of new WAV jobs: 0 I, 1 II, 2 III
  int32_t ChannelMode = 1;           // 0 Stereo, 1 Joint stereo, 2 Dual, 3 Mono
  int32_t Bitrate = 5;               // index 0..11 into BitrateTable (5: 128 kbit/s)
  uint32_t Flags = FlagShowErrorBox;
};

extern Settings AppSettings;

// TompgDir as text, read up to its terminating zero or the end of its buffer.
std::string TompgDirText();

// The registry key that holds the settings.
constexpr const char* SettingsKeyPath = "SOFTWARE\\Sonivert";

// Returns dir with a '/' appended unless it already ends in one ("/" stays "/").
std::string WithTrailingSlash(std::string dir);

// Sets every field to its default: both directories are the current directory with a
// trailing '/'. A current directory too long for TompgDir leaves TompgDir empty rather than
// cut off; one that cannot be read leaves both directories empty.
void SetDefaultSettings();

// Where the running program's own directory holds an executable `tompg` (the build tree, an
// installation), that directory becomes the default TompgDir: a program started from a desktop
// menu has an arbitrary current directory. A stored TompgDir still wins (LoadSettings runs after).
void PreferTompgBeside(const std::string& programDir);

// Reads the stored values into AppSettings (fields without a usable value keep theirs). Texts
// of 500 characters or more, a TompgDir of 300 or more, and Layer, ChannelMode or Bitrate
// outside 0..2, 0..3, 0..11 are not loaded, because the rest of the program indexes its tables
// with them. Returns true and sets sourceDir when a source directory is stored and still
// exists as a directory; the main window then shows it in the browser.
bool LoadSettings(std::string& sourceDir);

// What became of a save.
enum SettingsSave {
  SaveDone,
  SaveBusy,    // another process held the store's lock for RegLockWaitMs: try again later
  SaveFailed,  // the store cannot be written; `why` says why
};
// A busy store is tried again this often, this many times, before the save is reported failed:
// each try waits at most RegLockWaitMs, so the window's thread never waits longer at a time.
constexpr int SettingsSaveRetryMs = 100;
constexpr int SettingsSaveTries = 30;

// Writes TompgDir, DestinationDir, Layer, ChannelMode, Bitrate and Flags, creating the key
// when needed. Anything but SaveDone sets *why, when given: the reason, then the store's file.
SettingsSave SaveSettings(std::string* why = nullptr);

// Writes "SourceDir": dir with a trailing '/' (see WithTrailingSlash). An empty dir writes
// nothing. Anything but SaveDone sets *why, as SaveSettings does.
SettingsSave SaveSourceDir(const std::string& dir, std::string* why = nullptr);
