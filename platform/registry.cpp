// The registry's operations, as a Windows caller expects them, over the store's file.
#include "platform/registry.h"

#include <cstring>
#include <utility>

#include "platform/registry_format.h"
#include "platform/registry_store.h"

namespace {

bool ValidName(const char* name) { return name != nullptr && name[0] != '\0'; }

RegResult OpenExistingKey(const char* path, bool snapshot, RegKey& key) {
  key = RegKey{};
  if (!ValidName(path)) return RegInvalidArgument;
  const std::string file = RegistryStoreFile();
  Store store;
  if (LoadStore(file, store) != StoreLoaded || !KeyExists(store, path)) return RegNotFound;
  key.Open = true;
  key.StoreFile = file;
  key.Path = path;
  key.Snapshot = snapshot;
  // A key that is only the parent of others has no values of its own.
  if (StoredKey* k = FindKey(store, path); snapshot && k != nullptr) key.Values = std::move(k->Values);
  return RegOk;
}

}  // namespace

bool RegParseStoreText(const std::string& text, std::string& canonical) {
  Store store;
  canonical.clear();
  if (text.size() > RegMaxFileSize || !ParseStore(text, store)) return false;
  canonical = SerializeStore(store);
  return true;
}

RegResult RegOpenKey(const char* path, RegKey& key) { return OpenExistingKey(path, false, key); }

RegResult RegOpenKeySnapshot(const char* path, RegKey& key) { return OpenExistingKey(path, true, key); }

RegResult RegCreateKey(const char* path, RegKey& key) {
  key = RegKey{};
  if (!ValidName(path)) return RegInvalidArgument;
  const std::string file = RegistryStoreFile();
  // A damaged store is replaced by a fresh one that holds only this key.
  const RegResult made = ModifyStore(file, [path](Store& store) {
    if (KeyExists(store, path)) return false;
    store.Keys.push_back(StoredKey{path, {}});
    return true;
  });
  if (made != RegOk) return made;
  key.Open = true;
  key.StoreFile = file;
  key.Path = path;
  return RegOk;
}

RegResult RegQueryValue(const RegKey& key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  if (!key.Open || !ValidName(name) || size == nullptr) return RegInvalidArgument;
  const RegValue* v = nullptr;
  Store store;
  if (key.Snapshot) {
    v = FindValue(key.Values, name);
  } else if (LoadStore(key.StoreFile, store) == StoreLoaded) {
    const StoredKey* k = FindKey(store, key.Path);
    v = k ? FindValue(k->Values, name) : nullptr;
  }
  if (v == nullptr) return RegNotFound;
  if (type != nullptr) *type = v->Type;
  const uint32_t capacity = *size;
  *size = static_cast<uint32_t>(v->Data.size());
  if (data == nullptr) return RegOk;
  if (v->Data.size() > capacity) return RegMoreData;
  std::memcpy(data, v->Data.data(), v->Data.size());
  return RegOk;
}

RegResult RegSetValue(const RegKey& key, const char* name, uint32_t type, const void* data, uint32_t size) {
  const RegValueWrite value{name, type, data, size};
  return RegSetValues(key, &value, 1);
}

RegResult RegSetValues(const RegKey& key, const RegValueWrite* values, int count) {
  if (!key.Open || values == nullptr || count < 1) return RegInvalidArgument;
  for (int i = 0; i < count; ++i) {
    const RegValueWrite& w = values[i];
    if (!ValidName(w.Name)) return RegInvalidArgument;
    if (w.Type != REG_SZ && w.Type != REG_DWORD) return RegInvalidArgument;
    if (w.Type == REG_DWORD && w.Size != 4) return RegInvalidArgument;
    if (w.Data == nullptr && w.Size != 0) return RegInvalidArgument;
    if (w.Size > RegMaxFileSize) return RegWriteFailed;
  }
  return ModifyStore(key.StoreFile, [&](Store& store) {
    StoredKey* k = FindKey(store, key.Path);
    if (k == nullptr) {
      // The key went away (store deleted or damaged meanwhile): the handle brings it back.
      store.Keys.push_back(StoredKey{key.Path, {}});
      k = &store.Keys.back();
    }
    for (int i = 0; i < count; ++i) {
      const RegValueWrite& w = values[i];
      RegValue* v = FindValue(k->Values, w.Name);
      if (v == nullptr) {
        k->Values.push_back(RegValue{w.Name, REG_NONE, {}});
        v = &k->Values.back();
      }
      v->Type = w.Type;
      if (w.Size == 0)
        v->Data.clear();
      else
        v->Data.assign(static_cast<const char*>(w.Data), w.Size);
    }
    return true;
  });
}

void RegCloseKey(RegKey& key) { key = RegKey{}; }

