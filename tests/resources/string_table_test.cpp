#include "resources/string_table.h"

#include <gtest/gtest.h>

namespace kdx {
namespace {

// Both languages must offer the same ids, or a user of the other language gets empty texts.
TEST(StringTable, BothLanguagesHaveTheSameIdsAndNoEmptyTexts) {
  const auto traditional = StringTable(kLangTraditionalChinese);
  const auto simplified = StringTable(kLangSimplifiedChinese);
  ASSERT_EQ(traditional.size(), simplified.size());
  ASSERT_GE(traditional.size(), 2u);  // the control's type name and the property page's caption
  for (std::size_t i = 0; i < traditional.size(); ++i) {
    EXPECT_EQ(traditional[i].id, simplified[i].id) << i;
    if (i > 0) {
      EXPECT_LT(traditional[i - 1].id, traditional[i].id) << "lookups need id order";
    }
    EXPECT_FALSE(traditional[i].text.empty()) << traditional[i].id;
    EXPECT_FALSE(simplified[i].text.empty()) << simplified[i].id;
  }
  EXPECT_EQ(traditional[0].id, 1u);
  EXPECT_EQ(traditional[1].id, 2u);
}

TEST(StringTable, TheUiLanguagePicksTheSet) {
  struct Case {
    uint16_t set, effective;
  } cases[] = {
      {kLangSimplifiedChinese, kLangSimplifiedChinese},
      {kLangTraditionalChinese, kLangTraditionalChinese},
      {1033, kLangTraditionalChinese},  // no such set: Traditional Chinese
      {kLangSimplifiedChinese, kLangSimplifiedChinese},
      {0, kLangTraditionalChinese},
  };
  for (const Case& c : cases) {
    SetUiLanguage(c.set);
    EXPECT_EQ(UiLanguage(), c.effective) << c.set;
    // The texts may read alike in both sets; where they come from tells the sets apart.
    for (const StringResource& r : StringTable(c.effective))
      EXPECT_EQ(LoadResourceString(r.id).data(), r.text.data()) << c.set << " id " << r.id;
    EXPECT_TRUE(LoadResourceString(0xFFFF).empty());
  }
  SetUiLanguage(kLangTraditionalChinese);
}

}  // namespace
}  // namespace kdx
