// Code pages other than UTF-8 through MultiByteToWideChar / WideCharToMultiByte, with the
// replacement rules of the other backend: one U+FFFD per byte that starts no valid
// character, '?' for a character without a form, no "best fit" look-alikes.
#include "platform/win32/win32.h"

#include <climits>
#include <utility>

#include "platform/codepage_native.h"

namespace kdx::detail {
namespace {

constexpr unsigned kUtf16Le = 1200;  // not a code page the conversion calls take
constexpr char16_t kReplacement = 0xFFFD;

// Whole-buffer conversion; 0 characters with an error when the flags or input are refused.
int ToWide(unsigned codePage, DWORD flags, std::string_view bytes, std::u16string* out) {
  const int n = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(codePage, flags, bytes.data(), n, nullptr, 0);
  if (units <= 0 || !out) return units;
  const std::size_t at = out->size();
  out->resize(at + static_cast<std::size_t>(units));
  return MultiByteToWideChar(codePage, flags, bytes.data(), n, reinterpret_cast<wchar_t*>(out->data() + at), units);
}

// Windows replaces malformed input in its own way (a lone lead byte may vanish or become the
// default character); this walks the input one character at a time instead, as the other
// backend does. Double-byte code pages only: no other code page has lead bytes to split on.
std::u16string WalkDoubleByte(unsigned codePage, std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t len = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) && i + 1 < bytes.size() ? 2 : 1;
    if (ToWide(codePage, MB_ERR_INVALID_CHARS, bytes.substr(i, len), &out) > 0) {
      i += len;
    } else {
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  if (bytes.size() % 2 != 0) out += kReplacement;
  return out;
}

}  // namespace

std::optional<std::u16string> NativeToWide(unsigned codePage, std::string_view bytes) {
  if (codePage == kUtf16Le) return FromUtf16Le(bytes);
  CPINFO info;
  if (!GetCPInfo(codePage, &info)) return std::nullopt;
  if (bytes.size() > INT_MAX) return std::nullopt;  // beyond what one call converts
  std::u16string out;
  if (bytes.empty() || ToWide(codePage, MB_ERR_INVALID_CHARS, bytes, &out) > 0) return out;
  if (GetLastError() == ERROR_NO_UNICODE_TRANSLATION && info.MaxCharSize <= 2) return WalkDoubleByte(codePage, bytes);
  // Code pages that take no flags (ISO-2022, UTF-7...) or input too large for one call.
  out.clear();
  if (ToWide(codePage, 0, bytes, &out) > 0) return out;
  return std::nullopt;
}

std::optional<std::string> NativeFromWide(unsigned codePage, std::u16string_view text) {
  if (codePage == kUtf16Le) {
    std::string out;
    for (char16_t c : text) {
      out += static_cast<char>(c & 0xFF);
      out += static_cast<char>(c >> 8);
    }
    return out;
  }
  CPINFO info;
  if (!GetCPInfo(codePage, &info)) return std::nullopt;
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX) return std::nullopt;  // beyond what one call converts
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int n = static_cast<int>(text.size());
  // Some code pages (UTF-7, ISO-2022...) refuse both the flag and a default character.
  const std::pair<DWORD, const char*> attempts[] = {{WC_NO_BEST_FIT_CHARS, "?"}, {0, nullptr}};
  for (const auto& [flags, unmapped] : attempts) {
    const int bytes = WideCharToMultiByte(codePage, flags, wide, n, nullptr, 0, unmapped, nullptr);
    if (bytes <= 0) {
      if (GetLastError() == ERROR_INVALID_FLAGS || GetLastError() == ERROR_INVALID_PARAMETER) continue;
      return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, flags, wide, n, out.data(), bytes, unmapped, nullptr);
    return out;
  }
  return std::nullopt;
}

}  // namespace kdx::detail
