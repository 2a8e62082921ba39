// The store's text: one item per line, every unsafe byte escaped as %HH, so that a store with
// any bytes in its values reads back exactly and a cut-off or altered file is told from a whole one.
#include "platform/registry_format.h"

namespace {

constexpr std::string_view FirstLine = "#sonivert-registry 1";
constexpr std::string_view LastLine = "#end";

// Bytes that never appear raw in the file: the escape itself, the syntax characters, control
// bytes (a newline would end the line) and everything outside ASCII.
bool MustEscape(unsigned char c) {
  return c < 0x20 || c >= 0x7F || c == '%' || c == '"' || c == '=' || c == '[' || c == ']' || c == '#';
}

void AppendEscaped(std::string& out, std::string_view text) {
  static const char Hex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (MustEscape(c)) {
      out += '%';
      out += Hex[c >> 4];
      out += Hex[c & 15];
    } else {
      out += ch;
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// False when the text holds a raw byte that must be escaped or a broken escape.
bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int hi = HexDigit(text[i + 1]);
      const int lo = HexDigit(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (MustEscape(c)) {
      return false;
    } else {
      out += static_cast<char>(c);
    }
  }
  return true;
}

bool ParseDword(std::string_view text, std::string& data) {
  if (text.size() != 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  data.resize(4);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return true;
}

bool ParseValueLine(std::string_view line, RegValue& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  if (!Unescape(line.substr(0, eq), value.Name) || value.Name.empty()) return false;
  const std::string_view rest = line.substr(eq + 1);
  if (rest.starts_with("dword:")) {
    value.Type = REG_DWORD;
    return ParseDword(rest.substr(6), value.Data);
  }
  if (rest.starts_with("sz:\"") && rest.size() >= 5 && rest.back() == '"') {
    value.Type = REG_SZ;
    return Unescape(rest.substr(4, rest.size() - 5), value.Data);
  }
  return false;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

StoredKey* FindKey(Store& store, std::string_view path) {
  for (StoredKey& k : store.Keys)
    if (SameName(k.Path, path)) return &k;
  return nullptr;
}

bool KeyExists(const Store& store, std::string_view path) {
  for (const StoredKey& k : store.Keys) {
    if (SameName(k.Path, path)) return true;
    if (k.Path.size() > path.size() && k.Path[path.size()] == '\\' &&
        SameName(std::string_view(k.Path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

RegValue* FindValue(std::vector<RegValue>& values, std::string_view name) {
  for (RegValue& v : values)
    if (SameName(v.Name, name)) return &v;
  return nullptr;
}

const RegValue* FindValue(const std::vector<RegValue>& values, std::string_view name) {
  for (const RegValue& v : values)
    if (SameName(v.Name, name)) return &v;
  return nullptr;
}

bool ParseStore(std::string_view text, Store& store) {
  store.Keys.clear();
  size_t pos = 0;
  bool first = true;
  bool ended = false;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) return false;  // the last line lacks its line end: cut off
    const std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (ended) return false;  // anything after the end line
    if (first) {
      if (line != FirstLine) return false;
      first = false;
      continue;
    }
    if (line == LastLine) {
      ended = true;
      continue;
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.size() < 3 || line.back() != ']') return false;
      StoredKey key;
      if (!Unescape(line.substr(1, line.size() - 2), key.Path)) return false;
      if (FindKey(store, key.Path)) return false;
      store.Keys.push_back(std::move(key));
      continue;
    }
    if (store.Keys.empty()) return false;  // a value outside any key
    RegValue value;
    if (!ParseValueLine(line, value)) return false;
    if (FindValue(store.Keys.back().Values, value.Name)) return false;
    store.Keys.back().Values.push_back(std::move(value));
  }
  return ended;
}

std::string SerializeStore(const Store& store) {
  std::string out;
  out += FirstLine;
  out += '\n';
  for (const StoredKey& key : store.Keys) {
    out += '[';
    AppendEscaped(out, key.Path);
    out += "]\n";
    for (const RegValue& v : key.Values) {
      AppendEscaped(out, v.Name);
      if (v.Type == REG_DWORD) {
        static const char Hex[] = "0123456789ABCDEF";
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i)
          n = (n << 8) | static_cast<unsigned char>(v.Data[static_cast<size_t>(i)]);
        out += "=dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += Hex[(n >> shift) & 15];
      } else {
        out += "=sz:\"";
        AppendEscaped(out, v.Data);
        out += '"';
      }
      out += '\n';
    }
  }
  out += LastLine;
  out += '\n';
  return out;
}
