// Code-page conversion: UTF-8 and the "ANSI code page" (default 950, Traditional Chinese)
// to and from UTF-16, with the results MultiByteToWideChar / WideCharToMultiByte give
// without flags: malformed input is replaced, never rejected.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kdx {

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_UTF8 = 65001;

// The code page CP_ACP stands for; process-wide. Its default is deployment configuration:
// the environment variable KDX_ANSI_CODEPAGE (a decimal Windows code page such as 950, 936 or
// 65001), read once at first use; a value that is not a number or names a code page without a
// converter here is ignored and 950 stays. Hosts and tests may set it; CP_ACP restores the default.
unsigned AnsiCodePage();
void SetAnsiCodePage(unsigned codePage);

std::u16string MultiByteToWide(unsigned codePage, std::string_view bytes);
std::string WideToMultiByte(unsigned codePage, std::u16string_view text);

// As above, but nullopt when the code page has no converter on this system, where the
// unchecked forms give empty text (a password digest or a URL must not be made of nothing).
std::optional<std::u16string> TryMultiByteToWide(unsigned codePage, std::string_view bytes);
std::optional<std::string> TryWideToMultiByte(unsigned codePage, std::u16string_view text);

// Decoder fast path: converts n UTF-8 bytes into dst, which must hold n units
// (UTF-16 never needs more units than UTF-8 has bytes). Each malformed byte becomes
// U+FFFD. Returns the number of units written.
std::size_t Utf8ToUtf16(const unsigned char* src, std::size_t n, char16_t* dst);

// Encoder counterpart; lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kdx
