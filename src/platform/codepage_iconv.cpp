// Code pages other than UTF-8 through glibc's iconv.
#include <iconv.h>

#include <cerrno>
#include <memory>

#include "platform/codepage_native.h"

namespace kdx::detail {
namespace {

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

}  // namespace

std::optional<std::u16string> NativeToWide(unsigned codePage, std::string_view bytes) {
  return IconvConvert(IconvName(1200).c_str(), IconvName(codePage).c_str(), bytes.data(), bytes.size(),
                      std::u16string(1, u'\uFFFD'));
}

// Unmappable characters become '?', as the Windows default character does.
std::optional<std::string> NativeFromWide(unsigned codePage, std::u16string_view text) {
  return IconvConvert(IconvName(codePage).c_str(), IconvName(1200).c_str(), text.data(), text.size(),
                      std::string("?"));
}

}  // namespace kdx::detail
