// The module's string resources, in Traditional (1028) and Simplified (2052) Chinese with the
// same ids; the user-interface language picks the set, as the thread's language does on Windows.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kdx {

inline constexpr uint16_t kLangTraditionalChinese = 1028;
inline constexpr uint16_t kLangSimplifiedChinese = 2052;

struct StringResource {
  uint32_t id;
  std::u16string_view text;
};

// Process-wide; Traditional Chinese unless a host or test says otherwise. Unknown languages
// fall back to Traditional Chinese, as a missing resource language does.
uint16_t UiLanguage();
void SetUiLanguage(uint16_t langId);

// The text of string resource `id` in the user-interface language; empty when there is none.
std::u16string_view LoadResourceString(uint32_t id);

// The whole table of one language, in id order (for checks that both sets agree).
std::span<const StringResource> StringTable(uint16_t langId);

}  // namespace kdx
