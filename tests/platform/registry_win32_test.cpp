// The registry backend on the system registry (built for Windows only).
#include <gtest/gtest.h>

#include "platform/registry.h"

namespace kdx {
namespace {

using namespace std::string_literals;

TEST(Win32Registry, RegistersReadsAndUnregistersAClass) {
  const std::u16string clsid = u"{5D2C7A41-93B0-4E6F-A1C8-0F3E9B7D6C52}";
  const std::u16string progId = u"KdxBridge.Win32RegistryTest.1", classKey = u"CLSID\\" + clsid;
  Registry& root = ClassesRoot();
  ASSERT_EQ(root.SetValue(progId + u"\\CLSID", u"", clsid), S_OK);
  ASSERT_EQ(root.SetValue(classKey + u"\\InprocServer32", u"ThreadingModel", u"Apart\0ment"s), S_OK);
  ASSERT_EQ(root.CreateKey(classKey + u"\\Control"), S_OK);

  CLSID found;
  ASSERT_EQ(CLSIDFromProgID(progId, &found), S_OK);
  EXPECT_EQ(StringFromCLSID(found), clsid);
  EXPECT_EQ(root.GetValue(u"clsid\\" + clsid + u"\\INPROCSERVER32", u"threadingmodel"), u"Apart\0ment"s);
  EXPECT_EQ(root.SubKeys(classKey), (std::vector<std::u16string>{u"Control", u"InprocServer32"}));
  EXPECT_EQ(root.SetValue(u"Bad\\\\Key", u"", u"x"), E_INVALIDARG);
  EXPECT_EQ(root.SetValue(classKey + u"\0Other"s, u"", u"x"), E_INVALIDARG);
  EXPECT_EQ(root.GetValue(progId + u"\\CLSID\0"s, u""), std::nullopt);

  ASSERT_EQ(root.SetValue(u"KdxBridge.Win32RegistryTest.Bad\\CLSID", u"", u"{not-a-guid}"), S_OK);
  EXPECT_EQ(CLSIDFromProgID(u"KdxBridge.Win32RegistryTest.Bad", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(found, CLSID{});

  EXPECT_EQ(root.DeleteTrees({progId, classKey, u"KdxBridge.Win32RegistryTest.Bad"}), S_OK);
  EXPECT_FALSE(root.KeyExists(classKey));
  EXPECT_EQ(CLSIDFromProgID(progId, &found), CO_E_CLASSSTRING);
  EXPECT_EQ(root.DeleteTree(progId), S_FALSE);
  EXPECT_EQ(root.ReadResult(), S_OK);
}

}  // namespace
}  // namespace kdx
