#include "platform/guid.h"

#include <gtest/gtest.h>

namespace kdx {
namespace {

TEST(Guid, RoundTripsAndRejectsMalformedText) {
  const std::u16string text = u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
  auto g = GUID::Parse(text);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Data1, 0x0A1B2C3Du);
  EXPECT_EQ(g->Data4[7], 0xF9);
  EXPECT_EQ(g->ToString(), text);
  EXPECT_EQ(GUID::Parse(u"0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"), g);
  for (std::u16string_view bad : {u"", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", u"0A1B2C3D04E5F-6071-8293-A4B5C6D7E8F9",
                                  u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", u"[0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9]"})
    EXPECT_FALSE(GUID::Parse(bad)) << std::string(bad.begin(), bad.end());
}

}  // namespace
}  // namespace kdx
