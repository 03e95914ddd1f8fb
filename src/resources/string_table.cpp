#include "resources/string_table.h"

#include <algorithm>
#include <atomic>

namespace kdx {
namespace {

// Keep each table sorted by id.
constexpr StringResource kTraditional[] = {
    {1, u"ORV Velmar QN ZAZUZO Bridge Unicode Control"},
    {2, u"ORV Velmar QN ZAZUZO Bridge Unicode Property Page"},
};

constexpr StringResource kSimplified[] = {
    {1, u"ORV Velmar QN ZAZUZO Bridge Unicode Control"},
    {2, u"ORV Velmar QN ZAZUZO Bridge Unicode Property Page"},
};

std::atomic<uint16_t> g_uiLanguage{kLangTraditionalChinese};

}  // namespace

uint16_t UiLanguage() { return g_uiLanguage.load(std::memory_order_relaxed); }

void SetUiLanguage(uint16_t langId) {
  g_uiLanguage.store(langId == kLangSimplifiedChinese ? kLangSimplifiedChinese : kLangTraditionalChinese,
                     std::memory_order_relaxed);
}

std::span<const StringResource> StringTable(uint16_t langId) {
  if (langId == kLangSimplifiedChinese) return kSimplified;
  return kTraditional;
}

std::u16string_view LoadResourceString(uint32_t id) {
  auto table = StringTable(UiLanguage());
  auto it = std::lower_bound(table.begin(), table.end(), id,
                             [](const StringResource& r, uint32_t wanted) { return r.id < wanted; });
  return it != table.end() && it->id == id ? it->text : std::u16string_view{};
}

}  // namespace kdx
