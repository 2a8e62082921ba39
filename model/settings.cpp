#include "model/settings.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "platform/registry.h"

Settings AppSettings;

namespace {

// Queries a text value into a buffer of SettingsTextBufferSize bytes, as the settings always
// have. Usable only when it is REG_SZ and leaves room for the terminating zero.
bool QueryText(const RegKey& key, const char* name, std::string& out) {
  char buffer[SettingsTextBufferSize];
  uint32_t type = REG_NONE;
  uint32_t size = sizeof buffer;
  if (RegQueryValue(key, name, &type, buffer, &size) != RegOk) return false;
  if (type != REG_SZ || size >= sizeof buffer) return false;
  buffer[size] = '\0';
  out = buffer;  // up to the first zero byte, as a C text would be read
  return true;
}

bool QueryNumber(const RegKey& key, const char* name, uint32_t& out) {
  unsigned char buffer[4];
  uint32_t type = REG_NONE;
  uint32_t size = sizeof buffer;
  if (RegQueryValue(key, name, &type, buffer, &size) != RegOk) return false;
  if (type != REG_DWORD || size != 4) return false;
  out = static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
        static_cast<uint32_t>(buffer[2]) << 16 | static_cast<uint32_t>(buffer[3]) << 24;
  return true;
}

// Loads a number used as a table index only when it lies in 0..last.
void LoadIndex(const RegKey& key, const char* name, int32_t last, int32_t& field) {
  uint32_t v = 0;
  if (QueryNumber(key, name, v) && v <= static_cast<uint32_t>(last)) field = static_cast<int32_t>(v);
}

// A number as the store keeps it: 4 bytes, little-endian.
struct NumberBytes {
  unsigned char Bytes[4];
};
NumberBytes Dword(uint32_t v) {
  return {{static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
           static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)}};
}

// A registry result as a save's; the reason of a failure is told with the store's file below it.
SettingsSave Outcome(RegResult result, std::string* why) {
  if (result == RegOk) return SaveDone;
  const int error = errno;
  if (why != nullptr) {
    *why = result == RegBusy ? "The settings file is being saved by another program."
                             : std::string("The settings file cannot be written: ") + std::strerror(error) + ".";
    why->append(1, '\n').append(RegistryStoreFile());
  }
  return result == RegBusy ? SaveBusy : SaveFailed;
}

}  // namespace

std::string WithTrailingSlash(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

void SetDefaultSettings() {
  AppSettings = Settings{};
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  if (ec || cwd.empty()) return;
  const std::string dir = WithTrailingSlash(cwd.string());
  AppSettings.DestinationDir = dir;
  if (dir.size() < sizeof AppSettings.TompgDir)
    std::memcpy(AppSettings.TompgDir, dir.c_str(), dir.size() + 1);
}

bool LoadSettings(std::string& sourceDir) {
  // One read of the store for all seven values, which then come from one version of the file.
  RegKey key;
  if (RegOpenKeySnapshot(SettingsKeyPath, key) != RegOk) return false;
  std::string text;
  if (QueryText(key, "TompgDir", text) && text.size() < sizeof AppSettings.TompgDir)
    std::memcpy(AppSettings.TompgDir, text.c_str(), text.size() + 1);
  if (QueryText(key, "DestinationDir", text)) AppSettings.DestinationDir = text;
  bool haveSource = false;
  if (QueryText(key, "SourceDir", text) && !text.empty()) {
    std::error_code ec;
    if (std::filesystem::is_directory(text, ec)) {
      sourceDir = text;
      haveSource = true;
    }
  }
  LoadIndex(key, "Layer", 2, AppSettings.Layer);
  LoadIndex(key, "ChannelMode", 3, AppSettings.ChannelMode);
  LoadIndex(key, "Bitrate", 11, AppSettings.Bitrate);
  uint32_t flags = 0;
  if (QueryNumber(key, "Flags", flags)) AppSettings.Flags = flags;
  RegCloseKey(key);
  return haveSource;
}

std::string TompgDirText() {
  return std::string(AppSettings.TompgDir, strnlen(AppSettings.TompgDir, sizeof AppSettings.TompgDir));
}

SettingsSave SaveSettings(std::string* why) {
  RegKey key;
  if (const RegResult made = RegCreateKey(SettingsKeyPath, key); made != RegOk) return Outcome(made, why);
  const std::string tompgDir = TompgDirText();
  const std::string& destination = AppSettings.DestinationDir;
  const NumberBytes layer = Dword(static_cast<uint32_t>(AppSettings.Layer));
  const NumberBytes mode = Dword(static_cast<uint32_t>(AppSettings.ChannelMode));
  const NumberBytes bitrate = Dword(static_cast<uint32_t>(AppSettings.Bitrate));
  const NumberBytes flags = Dword(AppSettings.Flags);
  // One rewrite of the store for all of them: each value written alone would lock, read, write
  // and flush the whole store once per value.
  const RegValueWrite values[] = {
      {"TompgDir", REG_SZ, tompgDir.data(), static_cast<uint32_t>(tompgDir.size())},
      {"DestinationDir", REG_SZ, destination.data(), static_cast<uint32_t>(destination.size())},
      {"Layer", REG_DWORD, layer.Bytes, 4},
      {"ChannelMode", REG_DWORD, mode.Bytes, 4},
      {"Bitrate", REG_DWORD, bitrate.Bytes, 4},
      {"Flags", REG_DWORD, flags.Bytes, 4},
  };
  const RegResult written = RegSetValues(key, values, static_cast<int>(std::size(values)));
  RegCloseKey(key);
  return Outcome(written, why);
}

SettingsSave SaveSourceDir(const std::string& dir, std::string* why) {
  if (dir.empty()) return SaveDone;
  RegKey key;
  if (const RegResult made = RegCreateKey(SettingsKeyPath, key); made != RegOk) return Outcome(made, why);
  const std::string text = WithTrailingSlash(dir);
  const RegResult written = RegSetValue(key, "SourceDir", REG_SZ, text.data(), static_cast<uint32_t>(text.size()));
  RegCloseKey(key);
  return Outcome(written, why);
}

void PreferTompgBeside(const std::string& programDir) {
  if (programDir.empty()) return;
  const std::string dir = WithTrailingSlash(programDir);
  if (dir.size() >= static_cast<size_t>(TompgDirSize)) return;  // never cut
  std::error_code error;
  const std::filesystem::file_status tompg = std::filesystem::status(dir + "tompg", error);
  if (!std::filesystem::is_regular_file(tompg)) return;
  if ((tompg.permissions() & std::filesystem::perms::owner_exec) == std::filesystem::perms::none) return;
  std::memcpy(AppSettings.TompgDir, dir.c_str(), dir.size() + 1);
}
