#include "platform/profile.h"

#include "platform/codepage.h"
#include "platform/profile_file.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kdx {
namespace {

using Text = std::u16string_view;

// ---- profile directory -------------------------------------------------------------------

std::mutex g_directoryMutex;
std::optional<std::u16string> g_directory;

void UseSlashes(std::u16string& path) { std::replace(path.begin(), path.end(), u'\\', u'/'); }

// ---- reading and decoding ----------------------------------------------------------------

std::u16string ResolvePath(const char16_t* fileName) {
  std::u16string path = fileName ? std::u16string(fileName) : std::u16string(u"win.ini");
  if (path.empty()) return {};
  UseSlashes(path);
  if (path.find(u'/') == std::u16string::npos) {
    std::u16string dir = ProfileDirectory();
    if (!dir.empty()) path = dir + (dir.back() == u'/' ? u"" : u"/") + path;
  }
  return path;
}

using Status = PrivateProfile::Status;

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    auto b0 = static_cast<unsigned char>(bytes[2 * i]), b1 = static_cast<unsigned char>(bytes[2 * i + 1]);
    out[i] = static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0);
  }
  return out;
}

// nullopt when the file has no BOM and the ANSI code page cannot be converted.
std::optional<std::u16string> DecodeProfile(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE")) return DecodeUtf16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return DecodeUtf16(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) return MultiByteToWide(CP_UTF8, bytes.substr(3));
  return TryMultiByteToWide(CP_ACP, bytes);
}

// ---- parsing -----------------------------------------------------------------------------

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f'; }  // CR ends a line

Text Trim(Text s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// ---- case-insensitive names --------------------------------------------------------------

// Lower-case ranges and the offset to their capitals. Step 2: only every other code point
// from `first` is lower case (the alternating Latin Extended-A and Cyrillic pairs); a range
// of one code point reads the same with either step.
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

// ---- copying out -------------------------------------------------------------------------
// The callers have returned already for a null buffer or a size of 0.

uint32_t CopyString(Text s, char16_t* buffer, uint32_t size) {
  std::size_t n = std::min<std::size_t>(s.size(), size - 1);
  std::copy_n(s.data(), n, buffer);
  buffer[n] = u'\0';
  return static_cast<uint32_t>(n);
}

// `list` holds each string followed by its NUL; the final NUL is added here.
uint32_t CopyList(Text list, char16_t* buffer, uint32_t size) {
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
  while (!s.empty() && s.front() <= u' ') s.remove_prefix(1);
  const bool negative = s.starts_with(u'-');
  if (negative || s.starts_with(u'+')) s.remove_prefix(1);
  const Text prefix = s.substr(0, 2);
  const uint32_t base = prefix == u"0x" ? 16 : prefix == u"0o" ? 8 : prefix == u"0b" ? 2 : 10;
  if (base != 10) s.remove_prefix(2);
  uint32_t total = 0;
  for (char16_t c : s) {
    uint32_t digit = c >= u'0' && c <= u'9'   ? c - u'0'
                     : c >= u'a' && c <= u'f' ? c - u'a' + 10
                     : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                              : UINT32_MAX;  // no base goes past 16
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
  if (!g_directory) g_directory = detail::ExecutableDirectory();
  return *g_directory;
}

// ---- the parsed file ----------------------------------------------------------------------

// Offsets rather than views or strings keep a file of many short lines small in memory; a
// file of at most kMaxBytes decodes to far fewer than 2^32 units.
struct PrivateProfile::Data {
  static constexpr uint32_t kNoValue = UINT32_MAX;
  struct Line {
    uint32_t begin, end;  // the trimmed line
    uint32_t eq;          // its first '=', or kNoValue
  };
  struct Section {
    uint32_t nameBegin, nameEnd;
    uint32_t firstLine, endLine;  // into `lines`
  };

  std::u16string text;
  std::vector<Line> lines;  // of every section, in file order; none before the first header
  std::vector<Section> sections;

  explicit Data(std::u16string decoded);

  Text Slice(uint32_t begin, uint32_t end) const { return Text(text).substr(begin, end - begin); }
  Text Whole(const Line& line) const { return Slice(line.begin, line.end); }
  Text Key(const Line& line) const { return Trim(Slice(line.begin, line.eq)); }
  Text Value(const Line& line) const { return Trim(Slice(line.eq + 1, line.end)); }
  Text Name(const Section& section) const { return Slice(section.nameBegin, section.nameEnd); }

  const Section* Find(Text name) const {
    for (const Section& s : sections)
      if (SameName(Name(s), name)) return &s;
    return nullptr;
  }
  std::span<const Line> LinesOf(const Section& section) const {
    return std::span(lines).subspan(section.firstLine, section.endLine - section.firstLine);
  }
};

PrivateProfile::Data::Data(std::u16string decoded) : text(std::move(decoded)) {
  const Text all = text;
  const char16_t* const chars = all.data();  // the scan below is the hot loop of a large file
  auto at = [&](Text part) { return static_cast<uint32_t>(part.data() - chars); };
  for (std::size_t pos = 0; pos < all.size();) {
    std::size_t end = pos;
    while (end < all.size() && chars[end] != u'\r' && chars[end] != u'\n' && chars[end] != u'\0') ++end;
    Text line = Trim(all.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      std::size_t close = line.rfind(u']');
      if (close != Text::npos) {
        Text name = Trim(line.substr(1, close - 1));
        auto first = static_cast<uint32_t>(lines.size());
        sections.push_back({at(name), at(name) + static_cast<uint32_t>(name.size()), first, first});
        continue;
      }
    }
    if (sections.empty()) continue;
    std::size_t eq = line.find(u'=');
    lines.push_back({at(line), at(line) + static_cast<uint32_t>(line.size()),
                     eq == Text::npos ? kNoValue : at(line) + static_cast<uint32_t>(eq)});
    sections.back().endLine = static_cast<uint32_t>(lines.size());
  }
}

PrivateProfile::PrivateProfile(Status status, std::unique_ptr<const Data> data)
    : status_(status), data_(std::move(data)) {}
PrivateProfile::PrivateProfile(PrivateProfile&&) noexcept = default;
PrivateProfile& PrivateProfile::operator=(PrivateProfile&&) noexcept = default;
PrivateProfile::~PrivateProfile() = default;

PrivateProfile PrivateProfile::Load(const char16_t* fileName) {
  std::optional<std::u16string> text;
  {
    std::string bytes;
    if (Status status = detail::ReadProfileFile(ResolvePath(fileName), bytes); status != Status::Ok)
      return PrivateProfile(status, nullptr);
    text = DecodeProfile(bytes);
  }
  if (!text) return PrivateProfile(Status::NoCodePage, nullptr);
  return PrivateProfile(Status::Ok, std::make_unique<const Data>(std::move(*text)));
}

uint32_t PrivateProfile::GetSection(const char16_t* section, char16_t* buffer, uint32_t size) const {
  if (!buffer || size == 0) return 0;
  std::u16string list;
  if (const Data::Section* found = data_ && section ? data_->Find(section) : nullptr)
    for (const Data::Line& line : data_->LinesOf(*found)) {
      if (line.eq == Data::kNoValue) {
        Append(list, data_->Whole(line));
      } else {
        list.append(data_->Key(line));
        list.push_back(u'=');
        Append(list, data_->Value(line));
      }
    }
  return CopyList(list, buffer, size);
}

uint32_t PrivateProfile::GetString(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                   char16_t* buffer, uint32_t size) const {
  if (!buffer || size == 0) return 0;
  Text fallback = defaultValue ? Text(defaultValue) : Text{};
  while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);

  std::u16string list;
  if (!section) {
    if (data_)
      for (const Data::Section& s : data_->sections)
        if (!data_->Name(s).empty()) Append(list, data_->Name(s));
    return CopyList(list, buffer, size);
  }
  const Data::Section* found = data_ ? data_->Find(section) : nullptr;
  if (!found) return CopyString(fallback, buffer, size);
  if (!key) {
    for (const Data::Line& line : data_->LinesOf(*found))
      if (line.eq != Data::kNoValue && !data_->Key(line).empty()) Append(list, data_->Key(line));
    return list.empty() ? CopyString(fallback, buffer, size) : CopyList(list, buffer, size);
  }
  Text name(key, StringLength(key));
  if (!name.empty())
    for (const Data::Line& line : data_->LinesOf(*found))
      if (line.eq != Data::kNoValue && SameName(data_->Key(line), name))
        return CopyString(StripQuotes(data_->Value(line)), buffer, size);
  return CopyString(fallback, buffer, size);
}

uint32_t PrivateProfile::GetInt(const char16_t* section, const char16_t* key, int32_t defaultValue) const {
  constexpr uint32_t kChars = 20;  // as Windows reads it
  char16_t value[kChars];
  if (GetString(section, key, u"", value, kChars) == 0) return static_cast<uint32_t>(defaultValue);
  return ParseInteger(Text(value));  // stops at the first NUL, as a key listing would
}

uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, uint32_t size,
                                   const char16_t* fileName) {
  return PrivateProfile::Load(fileName).GetSection(section, buffer, size);
}

uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                  char16_t* buffer, uint32_t size, const char16_t* fileName) {
  return PrivateProfile::Load(fileName).GetString(section, key, defaultValue, buffer, size);
}

uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t defaultValue,
                               const char16_t* fileName) {
  return PrivateProfile::Load(fileName).GetInt(section, key, defaultValue);
}

}  // namespace kdx
