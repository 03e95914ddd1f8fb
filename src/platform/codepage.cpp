#include "platform/codepage.h"

#include <atomic>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage_native.h"

namespace kdx {
namespace {

constexpr unsigned kDefaultAnsiCodePage = 950;

// What a host set; CP_ACP while it set nothing.
std::atomic<unsigned> g_ansiCodePage{CP_ACP};

constexpr char16_t kReplacement = 0xFFFD;

unsigned Resolve(unsigned codePage) { return codePage == CP_ACP ? AnsiCodePage() : codePage; }

// KDX_ANSI_CODEPAGE when it is a decimal number naming a code page this system converts.
unsigned ConfiguredAnsiCodePage() {
  const char* text = std::getenv("KDX_ANSI_CODEPAGE");
  if (!text) return kDefaultAnsiCodePage;
  unsigned codePage = CP_ACP;  // left so unless the text starts with a number in range
  const char* end = text + std::strlen(text);
  if (std::from_chars(text, end, codePage).ptr != end || codePage == CP_ACP || !TryMultiByteToWide(codePage, {}))
    return kDefaultAnsiCodePage;
  return codePage;
}

}  // namespace

unsigned AnsiCodePage() {
  static const unsigned configured = ConfiguredAnsiCodePage();
  unsigned codePage = g_ansiCodePage.load(std::memory_order_relaxed);
  return codePage == CP_ACP ? configured : codePage;
}

void SetAnsiCodePage(unsigned codePage) { g_ansiCodePage.store(codePage, std::memory_order_relaxed); }

std::size_t Utf8ToUtf16(const unsigned char* s, std::size_t n, char16_t* dst) {
  std::size_t i = 0, o = 0;
  while (i < n) {
    unsigned char c = s[i];
    if (c < 0x80) {
      dst[o++] = c;
      ++i;
      continue;
    }
    // Length and minimum code point of the sequence that c starts.
    std::size_t len;
    char32_t cp, min;
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; min = 0x80; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; min = 0x800; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; min = 0x10000; }
    else { dst[o++] = kReplacement; ++i; continue; }
    std::size_t k = 1;
    for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      dst[o++] = kReplacement;
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      dst[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      dst[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      dst[o++] = static_cast<char16_t>(cp);
    }
  }
  return o;
}

std::string Utf16ToUtf8(std::u16string_view t) {
  std::string out;
  out.reserve(t.size());  // every unit takes at least a byte; spares the first regrowths
  for (std::size_t i = 0; i < t.size(); ++i) {
    char32_t cp = t[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (t[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::optional<std::u16string> TryMultiByteToWide(unsigned codePage, std::string_view bytes) {
  codePage = Resolve(codePage);
  if (codePage == CP_UTF8) {
    std::u16string out(bytes.size(), u'\0');
    out.resize(Utf8ToUtf16(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data()));
    return out;
  }
  return detail::NativeToWide(codePage, bytes);
}

std::optional<std::string> TryWideToMultiByte(unsigned codePage, std::u16string_view text) {
  codePage = Resolve(codePage);
  if (codePage == CP_UTF8) return Utf16ToUtf8(text);
  return detail::NativeFromWide(codePage, text);
}

std::u16string MultiByteToWide(unsigned codePage, std::string_view bytes) {
  return TryMultiByteToWide(codePage, bytes).value_or(std::u16string());
}

std::string WideToMultiByte(unsigned codePage, std::u16string_view text) {
  return TryWideToMultiByte(codePage, text).value_or(std::string());
}

}  // namespace kdx
