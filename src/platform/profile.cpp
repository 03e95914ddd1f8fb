#include "platform/profile.h"

#include "platform/codepage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

namespace kdx {
namespace {

using Text = std::u16string_view;

// ---- profile directory -------------------------------------------------------------------

std::mutex g_directoryMutex;
std::optional<std::u16string> g_directory;

std::u16string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) return u".";
  std::string_view exe(path, static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string_view::npos) return u".";
  return MultiByteToWide(CP_UTF8, slash == 0 ? exe.substr(0, 1) : exe.substr(0, slash));
}

void UseSlashes(std::u16string& path) { std::replace(path.begin(), path.end(), u'\\', u'/'); }

// ---- reading and decoding ----------------------------------------------------------------

std::string ResolvePath(const char16_t* fileName) {
  std::u16string path = fileName ? std::u16string(fileName) : std::u16string(u"win.ini");
  if (path.empty()) return {};
  UseSlashes(path);
  if (path.find(u'/') == std::u16string::npos) {
    std::u16string dir = ProfileDirectory();
    if (!dir.empty()) path = dir + (dir.back() == u'/' ? u"" : u"/") + path;
  }
  return Utf16ToUtf8(path);
}

std::optional<std::string> ReadRegularFile(const std::string& path) {
  if (path.empty()) return std::nullopt;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    bytes.emplace();
    char chunk[8192];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0) {
        bytes->append(chunk, static_cast<std::size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        bytes.reset();
        break;
      }
    }
  }
  close(fd);
  return bytes;
}

// Strict UTF-8 check (no overlongs, surrogates or code points past U+10FFFF).
bool IsUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) { ++i; continue; }
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c == 0xE0) { len = 3; lo = 0xA0; }
    else if (c == 0xED) { len = 3; hi = 0x9F; }
    else if (c >= 0xE1 && c <= 0xEF) len = 3;
    else if (c == 0xF0) { len = 4; lo = 0x90; }
    else if (c == 0xF4) { len = 4; hi = 0x8F; }
    else if (c >= 0xF1 && c <= 0xF3) len = 4;
    else return false;
    if (s.size() - i < len) return false;
    auto c1 = static_cast<unsigned char>(s[i + 1]);
    if (c1 < lo || c1 > hi) return false;
    for (std::size_t k = 2; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto b0 = static_cast<unsigned char>(bytes[2 * i]), b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
    out[i] = static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
  }
  return out;
}

std::u16string DecodeProfile(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) return MultiByteToWide(CP_UTF8, bytes.substr(3));
  return MultiByteToWide(IsUtf8(bytes) ? CP_UTF8 : CP_ACP, bytes);
}

// ---- parsing -----------------------------------------------------------------------------

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; }

Text Trim(Text s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

struct Line {
  Text text;      // the whole trimmed line, as the section listing shows it
  Text key;       // trimmed text before the first '='
  Text value;     // trimmed text after it
  bool hasValue;  // the line has an '='
};

struct Section {
  Text name;
  bool named;  // false for the lines before the first header
  std::vector<Line> lines;
};

// Views point into `text`, so a Profile stays where it was built (held by unique_ptr).
struct Profile {
  std::u16string text;
  std::vector<Section> sections;
};

void Parse(Profile& profile) {
  Text all = profile.text;
  profile.sections.push_back({Text{}, false, {}});
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find_first_of(Text(u"\r\n\0", 3), pos);
    if (end == Text::npos) end = all.size();
    Text raw = all.substr(pos, end - pos);
    pos = end + 1;
    Text line = Trim(raw);
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      std::size_t close = line.rfind(u']');
      if (close != Text::npos) {
        profile.sections.push_back({Trim(line.substr(1, close - 1)), true, {}});
        continue;
      }
    }
    std::size_t eq = line.find(u'=');
    if (eq == Text::npos)
      profile.sections.back().lines.push_back({line, line, Text{}, false});
    else
      profile.sections.back().lines.push_back({line, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), true});
  }
}

// Null when the file cannot be read.
std::unique_ptr<const Profile> LoadProfile(const char16_t* fileName) {
  std::optional<std::string> bytes = ReadRegularFile(ResolvePath(fileName));
  if (!bytes) return nullptr;
  auto profile = std::make_unique<Profile>();
  profile->text = DecodeProfile(*bytes);
  Parse(*profile);
  return profile;
}

// ---- case-insensitive names --------------------------------------------------------------

// Lower-case ranges and the offset to their capitals. Step 2: only every other code point
// from `first` is lower case (the alternating Latin Extended-A and Cyrillic pairs).
struct FoldRange {
  char16_t first, last;
  int delta;
  int step;
};

constexpr FoldRange kFoldTable[] = {
    {0x0061, 0x007A, -32, 1},  {0x00E0, 0x00F6, -32, 1}, {0x00F8, 0x00FE, -32, 1},
    {0x00FF, 0x00FF, 121, 1},  {0x0101, 0x012F, -1, 2},  {0x0133, 0x0137, -1, 2},
    {0x013A, 0x0148, -1, 2},   {0x014B, 0x0177, -1, 2},  {0x017A, 0x017E, -1, 2},
    {0x03B1, 0x03C1, -32, 1},  {0x03C2, 0x03C2, -31, 1}, {0x03C3, 0x03CB, -32, 1},
    {0x0430, 0x044F, -32, 1},  {0x0450, 0x045F, -80, 1}, {0x0461, 0x0481, -1, 2},
    {0x048B, 0x04BF, -1, 2},   {0xFF41, 0xFF5A, -32, 1},
};

char16_t Upper(char16_t c) {
  if (c < 0x61) return c;
  for (const FoldRange& r : kFoldTable)
    if (c >= r.first && c <= r.last && (c - r.first) % r.step == 0) return static_cast<char16_t>(c + r.delta);
  return c;
}

bool SameName(Text a, Text b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

const Section* FindSection(const Profile* profile, Text name) {
  if (!profile) return nullptr;
  for (const Section& s : profile->sections)
    if (s.named && SameName(s.name, name)) return &s;
  return nullptr;
}

// ---- copying out -------------------------------------------------------------------------

uint32_t CopyString(Text s, char16_t* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  std::size_t n = std::min<std::size_t>(s.size(), size - 1);
  std::copy_n(s.data(), n, buffer);
  buffer[n] = u'\0';
  return static_cast<uint32_t>(n);
}

// `list` holds each string followed by its NUL; the final NUL is added here.
uint32_t CopyList(Text list, char16_t* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  if (list.size() < size) {
    std::copy_n(list.data(), list.size(), buffer);
    buffer[list.size()] = u'\0';
    if (list.empty() && size > 1) buffer[1] = u'\0';
    return static_cast<uint32_t>(list.size());
  }
  if (size < 3) {
    std::fill_n(buffer, size, u'\0');
    return 0;
  }
  std::copy_n(list.data(), size - 2, buffer);
  buffer[size - 2] = buffer[size - 1] = u'\0';
  return size - 2;
}

void Append(std::u16string& list, Text s) {
  list.append(s);
  list.push_back(u'\0');
}

Text StripQuotes(Text v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

std::size_t StringLength(const char16_t* s) { return std::char_traits<char16_t>::length(s); }

// RtlUnicodeStringToInteger with base 0.
uint32_t ParseInteger(Text s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] <= u' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  uint32_t base = 10;
  if (s.size() - i >= 2 && s[i] == u'0') {
    switch (s[i + 1]) {
      case u'x': base = 16; i += 2; break;
      case u'o': base = 8; i += 2; break;
      case u'b': base = 2; i += 2; break;
      default: break;
    }
  }
  uint32_t total = 0;
  for (; i < s.size(); ++i) {
    char16_t c = s[i];
    uint32_t digit = c >= u'0' && c <= u'9'   ? c - u'0'
                     : c >= u'A' && c <= u'Z' ? c - u'A' + 10
                     : c >= u'a' && c <= u'z' ? c - u'a' + 10
                                              : UINT32_MAX;
    if (digit >= base) break;
    total = total * base + digit;
  }
  return negative ? 0u - total : total;
}

}  // namespace

void SetProfileDirectory(std::u16string directory) {
  UseSlashes(directory);
  std::lock_guard lock(g_directoryMutex);
  g_directory = std::move(directory);
}

std::u16string ProfileDirectory() {
  std::lock_guard lock(g_directoryMutex);
  if (!g_directory) g_directory = ExecutableDirectory();
  return *g_directory;
}

uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, uint32_t size,
                                   const char16_t* fileName) {
  if (!buffer || size == 0) return 0;
  std::u16string list;
  if (section) {
    auto profile = LoadProfile(fileName);
    if (const Section* s = FindSection(profile.get(), section))
      for (const Line& line : s->lines) {
        if (line.hasValue) {
          list.append(line.key);
          list.push_back(u'=');
          Append(list, line.value);
        } else {
          Append(list, line.text);
        }
      }
  }
  return CopyList(list, buffer, size);
}

uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                  char16_t* buffer, uint32_t size, const char16_t* fileName) {
  if (!buffer || size == 0) return 0;
  Text fallback = defaultValue ? Text(defaultValue) : Text{};
  while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);

  auto profile = LoadProfile(fileName);
  std::u16string list;
  if (!section) {
    if (profile)
      for (const Section& s : profile->sections)
        if (s.named && !s.name.empty()) Append(list, s.name);
    return CopyList(list, buffer, size);
  }
  const Section* found = FindSection(profile.get(), section);
  if (!key) {
    if (found)
      for (const Line& line : found->lines)
        if (line.hasValue && !line.key.empty()) Append(list, line.key);
    return list.empty() ? CopyString(fallback, buffer, size) : CopyList(list, buffer, size);
  }
  Text name(key, StringLength(key));
  if (found && !name.empty())
    for (const Line& line : found->lines)
      if (line.hasValue && SameName(line.key, name)) return CopyString(StripQuotes(line.value), buffer, size);
  return CopyString(fallback, buffer, size);
}

uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t defaultValue,
                               const char16_t* fileName) {
  char16_t value[20];
  if (GetPrivateProfileStringW(section, key, u"", value, 20, fileName) == 0)
    return static_cast<uint32_t>(defaultValue);
  return ParseInteger(Text(value));  // stops at the first NUL, as a key listing would
}

}  // namespace kdx
