// The text of the settings store's file (the format is described in registry.h): the parsed store
// and its lookups, the parser and the printer. Pure functions of text and memory, no file: the
// store's file handling and the fuzz target both build on them. Private to the registry.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

struct StoredKey {
  std::string Path;
  std::vector<RegValue> Values;
};

// The whole store as read from its file.
struct Store {
  std::vector<StoredKey> Keys;
};

// Key paths and value names match without regard to ASCII case, as on Windows.
bool SameName(std::string_view a, std::string_view b);
StoredKey* FindKey(Store& store, std::string_view path);
// A key exists when it has a section of its own or is the parent of one that has.
bool KeyExists(const Store& store, std::string_view path);
RegValue* FindValue(std::vector<RegValue>& values, std::string_view name);
const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name);

// Parses the file text; false when it breaks any rule of the format (the store is then empty or
// partial and must not be used).
bool ParseStore(std::string_view text, Store& store);
// The file text of a store: what ParseStore reads back to the same store.
std::string SerializeStore(const Store& store);
