#include "platform/codepage.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace kdx {
namespace {

constexpr unsigned kDefaultAnsiCodePage = 950;

// What a host set; CP_ACP while it set nothing.
std::atomic<unsigned> g_ansiCodePage{CP_ACP};

constexpr char16_t kReplacement = 0xFFFD;

// Name of a Windows code page for iconv; empty when unknown.
std::string IconvName(unsigned codePage) {
  switch (codePage) {
    case 65001: return "UTF-8";
    case 1200: return "UTF-16LE";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + std::to_string(codePage);
  }
}

unsigned Resolve(unsigned codePage) { return codePage == CP_ACP ? AnsiCodePage() : codePage; }

// One iconv pass; on an invalid or incomplete sequence, emits `bad` and skips one unit.
// nullopt when there is no converter between the two.
template <class Out, class In>
std::optional<Out> IconvConvert(const char* to, const char* from, const In* data, std::size_t count, const Out& bad) {
  Out out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);  // also when append throws
  using OutChar = typename Out::value_type;
  char* in = const_cast<char*>(reinterpret_cast<const char*>(data));
  std::size_t inLeft = count * sizeof(In);
  char buffer[4096];  // any size does: iconv stops at E2BIG and the loop goes on
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(reinterpret_cast<const OutChar*>(buffer),
               static_cast<std::size_t>(outPtr - buffer) / sizeof(OutChar));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
      out += bad;
      std::size_t skip = inLeft < sizeof(In) ? inLeft : sizeof(In);
      in += skip;
      inLeft -= skip;
    }
  }
  return out;
}

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
  return IconvConvert(IconvName(1200).c_str(), IconvName(codePage).c_str(), bytes.data(), bytes.size(),
                      std::u16string(1, kReplacement));
}

std::optional<std::string> TryWideToMultiByte(unsigned codePage, std::u16string_view text) {
  codePage = Resolve(codePage);
  if (codePage == CP_UTF8) return Utf16ToUtf8(text);
  // Unmappable characters become '?', as the Windows default character does.
  return IconvConvert(IconvName(codePage).c_str(), IconvName(1200).c_str(), text.data(), text.size(),
                      std::string("?"));
}

std::u16string MultiByteToWide(unsigned codePage, std::string_view bytes) {
  return TryMultiByteToWide(codePage, bytes).value_or(std::u16string());
}

std::string WideToMultiByte(unsigned codePage, std::u16string_view text) {
  return TryWideToMultiByte(codePage, text).value_or(std::string());
}

}  // namespace kdx
