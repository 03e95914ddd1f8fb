#include "platform/registry_format.h"

#include "platform/codepage.h"

namespace kdx {
namespace {

constexpr std::string_view kHeader = "kdx-registry 1";
constexpr std::u16string_view kEnd = u"end";

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendQuoted(std::u16string& out, std::u16string_view text) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  out += u'"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'\\': out += u"\\\\"; continue;
      case u'"': out += u"\\\""; continue;
      case u'\n': out += u"\\n"; continue;
      case u'\r': out += u"\\r"; continue;
      case u'\t': out += u"\\t"; continue;
      default: break;
    }
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += c;
      out += text[++i];
    } else if (c < 0x20 || c == 0x7F || IsHighSurrogate(c) || IsLowSurrogate(c)) {
      out += u"\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
    } else {
      out += c;
    }
  }
  out += u'"';
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads a quoted text starting at line[pos]; on success pos is just past the closing quote.
bool ReadQuoted(std::u16string_view line, std::size_t& pos, std::u16string& out) {
  out.clear();
  if (pos >= line.size() || line[pos] != u'"') return false;
  for (++pos; pos < line.size(); ++pos) {
    char16_t c = line[pos];
    if (c == u'"') {
      ++pos;
      return true;
    }
    if (c < 0x20) return false;  // the writer escapes every control character
    if (c != u'\\') {
      out += c;
      continue;
    }
    if (++pos >= line.size()) return false;
    switch (line[pos]) {
      case u'\\': out += u'\\'; break;
      case u'"': out += u'"'; break;
      case u'n': out += u'\n'; break;
      case u'r': out += u'\r'; break;
      case u't': out += u'\t'; break;
      case u'u': {
        if (line.size() - pos < 5) return false;
        unsigned value = 0;
        for (int k = 1; k <= 4; ++k) {
          int d = HexDigit(line[pos + k]);
          if (d < 0) return false;
          value = value << 4 | static_cast<unsigned>(d);
        }
        out += static_cast<char16_t>(value);
        pos += 4;
        break;
      }
      default: return false;
    }
  }
  return false;  // no closing quote
}

// Strict UTF-8 to UTF-16: nullopt when any byte sequence is malformed.
std::optional<std::u16string> DecodeUtf8(std::string_view bytes) {
  std::u16string text(bytes.size(), u'\0');
  text.resize(Utf8ToUtf16(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text.data()));
  if (Utf16ToUtf8(text) != bytes) return std::nullopt;  // something was replaced
  return text;
}

}  // namespace

std::u16string FoldName(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return folded;
}

bool IsValidKeyPath(std::u16string_view path) {
  if (path.empty() || path.front() == u'\\' || path.back() == u'\\') return false;
  return path.find(u"\\\\") == std::u16string_view::npos;
}

RegKey& EnsureKey(RegKeys& keys, std::u16string_view path) {
  RegKey* parent = nullptr;
  std::size_t end = 0;
  do {
    end = path.find(u'\\', end + (parent ? 1 : 0));
    if (end == std::u16string_view::npos) end = path.size();
    const std::u16string_view prefix = path.substr(0, end);
    auto [it, inserted] = keys.try_emplace(FoldName(prefix));
    if (inserted) {
      // Keep the ancestors' spelling; only the new component is taken as written here.
      const std::u16string_view name = parent ? prefix.substr(parent->path.size() + 1) : prefix;
      it->second.path = parent ? parent->path + u'\\' + std::u16string(name) : std::u16string(name);
    }
    parent = &it->second;
  } while (end < path.size());
  return *parent;
}

std::string SerializeRegistry(const RegKeys& keys) {
  std::u16string text;
  for (const auto& [folded, key] : keys) {
    text += u'[';
    AppendQuoted(text, key.path);
    text += u"]\n";
    for (const auto& [foldedName, value] : key.values) {
      if (value.name.empty())
        text += u'@';
      else
        AppendQuoted(text, value.name);
      text += u'=';
      AppendQuoted(text, value.data);
      text += u'\n';
    }
  }
  std::string out(kHeader);
  out += "\n# kdx-bridge class registry; rewritten whole on every change\n";
  out += Utf16ToUtf8(text);
  out += Utf16ToUtf8(kEnd);
  out += '\n';
  return out;
}

std::optional<RegKeys> ParseRegistry(std::string_view bytes) {
  if (bytes.empty()) return RegKeys{};  // a fresh empty file holds nothing to lose
  auto text = DecodeUtf8(bytes);
  if (!text) return std::nullopt;
  RegKeys keys;
  RegKey* current = nullptr;
  bool first = true, ended = false;
  std::u16string_view rest = *text;
  std::u16string name, data;
  while (!rest.empty()) {
    const std::size_t newline = rest.find(u'\n');
    if (newline == std::u16string_view::npos) return std::nullopt;  // cut mid-line
    std::u16string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline + 1);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);  // tolerate a hand edit
    if (first) {
      if (Utf16ToUtf8(line) != kHeader) return std::nullopt;
      first = false;
      continue;
    }
    if (line.empty() || line.front() == u'#') continue;
    if (ended) return std::nullopt;  // nothing may follow the end line
    if (line == kEnd) {
      ended = true;
      continue;
    }
    std::size_t pos = 0;
    if (line.front() == u'[') {
      pos = 1;
      if (!ReadQuoted(line, pos, name) || line.substr(pos) != u"]" || !IsValidKeyPath(name)) return std::nullopt;
      current = &EnsureKey(keys, name);
      continue;
    }
    if (!current) return std::nullopt;  // a value outside any key
    if (line.front() == u'@') {
      name.clear();
      pos = 1;
    } else if (!ReadQuoted(line, pos, name)) {
      return std::nullopt;
    }
    if (pos >= line.size() || line[pos] != u'=') return std::nullopt;
    ++pos;
    if (!ReadQuoted(line, pos, data) || pos != line.size()) return std::nullopt;
    RegValue& value = current->values[FoldName(name)];
    if (value.name.empty()) value.name = name;
    value.data = data;
  }
  if (!ended) return std::nullopt;
  return keys;
}

}  // namespace kdx
