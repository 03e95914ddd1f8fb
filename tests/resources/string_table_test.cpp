#include "resources/string_table.h"

#include <gtest/gtest.h>

namespace kdx {
namespace {

// Both languages must offer the same ids in order, or a user of the other language gets
// empty texts; ids 1 and 2 are the control's type name and the property page's caption.
// Unknown languages fall back to Traditional Chinese; each switch takes effect.
TEST(StringTable, TheUiLanguagePicksOneOfTwoMatchingSets) {
  const auto traditional = StringTable(kLangTraditionalChinese), simplified = StringTable(kLangSimplifiedChinese);
  ASSERT_EQ(traditional.size(), simplified.size());
  ASSERT_GE(traditional.size(), 2u);
  EXPECT_EQ(traditional[1].id, 2u);
  for (std::size_t i = 0; i < traditional.size(); ++i) {
    EXPECT_EQ(traditional[i].id, simplified[i].id) << i;
    EXPECT_LT(i > 0 ? traditional[i - 1].id : 0, traditional[i].id) << "lookups need id order";
    EXPECT_FALSE(traditional[i].text.empty() || simplified[i].text.empty()) << traditional[i].id;
  }
  for (const auto& [set, effective] : {std::pair(kLangSimplifiedChinese, kLangSimplifiedChinese), {1033, kLangTraditionalChinese},
                                       {kLangSimplifiedChinese, kLangSimplifiedChinese}, {0, kLangTraditionalChinese}}) {
    SetUiLanguage(set);
    EXPECT_EQ(UiLanguage(), effective) << set;
    // The texts may read alike in both sets; where they come from tells the sets apart.
    for (const StringResource& r : StringTable(effective))
      EXPECT_EQ(LoadResourceString(r.id).data(), r.text.data()) << set << " id " << r.id;
    EXPECT_TRUE(LoadResourceString(0xFFFF).empty());
  }
  SetUiLanguage(kLangTraditionalChinese);
}

}  // namespace
}  // namespace kdx
