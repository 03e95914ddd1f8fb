// The conversions behind codepage.h that each platform provides: every code page but UTF-8,
// which codepage.cpp converts itself so that its replacement rules are the same everywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kdx::detail {

// Malformed input becomes U+FFFD per unit skipped; characters without a form in the code
// page become '?'. nullopt when the code page has no converter here.
std::optional<std::u16string> NativeToWide(unsigned codePage, std::string_view bytes);
std::optional<std::string> NativeFromWide(unsigned codePage, std::u16string_view text);

}  // namespace kdx::detail
