// The module as a host and a registrar see it: self-registration into the class registry,
// creation by ProgID through the registered module, class objects and unloading.
#include "control/Module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

std::string N(std::u16string_view text) { return Utf16ToUtf8(text); }

std::u16string Replace(std::u16string text, std::u16string_view from, const std::u16string& to) {
  for (std::size_t at = text.find(from); at != std::u16string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Every test gets its own registry file in a fresh folder.
class ModuleTest : public testing::Test {
 protected:
  void SetUp() override { SetRegistryFile(folder.path() / "registry"); }
  void TearDown() override { SetRegistryFile(DefaultRegistryFile()); }

  // Every key below `key`, as full paths.
  static void AllKeys(const std::u16string& key, std::set<std::u16string>& out) {
    for (const std::u16string& sub : ClassesRoot().SubKeys(key)) {
      std::u16string path = key.empty() ? sub : key + u"\\" + sub;
      out.insert(path);
      AllKeys(path, out);
    }
  }

  test::TempFolder folder;
};

struct Expected {
  std::u16string key;
  std::u16string name;
  std::optional<std::u16string> data;  // nullopt: the key alone; "$path" and "$dir" stand for the module's
};

const std::u16string kLibID = u"{2D0F66C4-5920-46A0-AA11-9AFCB3DDC90B}", kLib = u"TypeLib\\" + kLibID + u"\\1.0",
                     kDispatch = u"Interface\\{C3187AB4-3361-4CDF-9B97-2DD3F9C1D639}",
                     kEvents = u"Interface\\{20FF8F24-B279-4B76-ABFE-6525028E1A83}",
                     kControl = u"CLSID\\{4B9E9F5A-36DF-4463-9F46-A5249E61FC7B}",
                     kPage = u"CLSID\\{CC4EB9D7-D607-413C-B06E-F4F755D0CA43}",
                     kPSDispatch = u"{00020420-0000-0000-C000-000000000046}",
                     kControlName = u"ORV Velmar QN ZAZUZO Bridge Unicode Control",
                     kPageName = u"ORV Velmar QN ZAZUZO Bridge Unicode Property Page";

const Expected kRegistration[] = {
    {kLib, u"", u"ORV_Velmar_KDX ActiveX Control module"}, {kLib + u"\\0\\win32", u"", u"$path"},
    {kLib + u"\\FLAGS", u"", u"2"}, {kLib + u"\\HELPDIR", u"", u"$dir"},
    {kDispatch, u"", u"_DORV_Velmar_KDX"}, {kDispatch + u"\\ProxyStubClsid32", u"", kPSDispatch},
    {kDispatch + u"\\ProxyStubClsid", u"", kPSDispatch}, {kDispatch + u"\\TypeLib", u"", kLibID},
    {kDispatch + u"\\TypeLib", u"Version", u"1.0"}, {kEvents, u"", u"_DORV_Velmar_KDXEvents"},
    {kEvents + u"\\ProxyStubClsid32", u"", kPSDispatch}, {kEvents + u"\\ProxyStubClsid", u"", kPSDispatch},
    {kEvents + u"\\TypeLib", u"", kLibID}, {kEvents + u"\\TypeLib", u"Version", u"1.0"},
    {kControl, u"", kControlName}, {kControl + u"\\InprocServer32", u"", u"$path"},
    {kControl + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
    {kControl + u"\\ProgID", u"", u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1"},
    {kControl + u"\\Control", u"", std::nullopt}, {kControl + u"\\ToolboxBitmap32", u"", u"$path, 1"},
    {kControl + u"\\MiscStatus", u"", u"0"}, {kControl + u"\\MiscStatus\\1", u"", u"131473"},
    {kControl + u"\\TypeLib", u"", kLibID}, {kControl + u"\\Version", u"", u"1.0"},
    {u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1", u"", kControlName},
    {u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1\\CLSID", u"", u"{4B9E9F5A-36DF-4463-9F46-A5249E61FC7B}"},
    {kPage, u"", kPageName}, {kPage + u"\\InprocServer32", u"", u"$path"},
    {kPage + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
    {kPage + u"\\ProgID", u"", u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodePropPage.1"},
    {u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodePropPage.1", u"", kPageName},
    {u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodePropPage.1\\CLSID", u"", u"{CC4EB9D7-D607-413C-B06E-F4F755D0CA43}"},
};

long ConnectStatus(IDispatch& control) { return test::CallByName(control, u"GetConnectStatus").lVal; }

TEST_F(ModuleTest, RegistersEveryItemCreatesByProgIdAndUnregistersExactly) {
  // Tests link the library statically, so the module is the test program itself.
  const std::u16string path = MultiByteToWide(CP_UTF8, fs::canonical("/proc/self/exe").string());
  ASSERT_EQ(CurrentModulePath(), path);
  const std::u16string dir = MultiByteToWide(CP_UTF8, fs::canonical("/proc/self/exe").parent_path().string());
  // Someone else's class and another version of our library must survive our unregistration.
  const std::u16string others[] = {u"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32",
                                   u"TypeLib\\{2D0F66C4-5920-46A0-AA11-9AFCB3DDC90B}\\2.0"};
  for (const std::u16string& key : others) ASSERT_EQ(ClassesRoot().CreateKey(key), S_OK);
  std::set<std::u16string> before;
  AllKeys(u"", before);

  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(DllRegisterServer(), S_OK);  // again: the same items, nothing doubled
  std::set<std::u16string> written;
  for (const Expected& e : kRegistration) {
    for (std::size_t cut = e.key.find(u'\\'); cut != std::u16string::npos; cut = e.key.find(u'\\', cut + 1))
      written.insert(e.key.substr(0, cut));
    written.insert(e.key);
    if (!e.data) {
      EXPECT_TRUE(ClassesRoot().KeyExists(e.key)) << N(e.key);
      continue;
    }
    const std::u16string want = Replace(Replace(*e.data, u"$path", path), u"$dir", dir);
    EXPECT_EQ(ClassesRoot().GetValue(e.key, e.name), std::optional<std::u16string>(want)) << N(e.key) << " " << N(e.name);
  }
  std::set<std::u16string> after;
  AllKeys(u"", after);
  for (const std::u16string& key : after)
    EXPECT_TRUE(written.count(key) || before.count(key)) << "unexpected key " << N(key);

  std::shared_ptr<IDispatch> control, page;
  ASSERT_EQ(CreateObjectByProgID(kControlProgID, &control), S_OK);
  ASSERT_NE(std::dynamic_pointer_cast<CORV_Velmar_KDXCtrl>(control), nullptr);
  EXPECT_EQ(ConnectStatus(*control), 0);
  ASSERT_EQ(CreateObjectByProgID(kPropPageProgID, &page), S_OK);
  DISPID id = 0;
  EXPECT_EQ(page->GetIDsOfNames(u"GetConnectStatus", &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  control.reset();
  page.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);  // already gone
  std::set<std::u16string> left;
  AllKeys(u"", left);
  for (const std::u16string& key : left)  // the shared top-level keys stay, as on Windows
    EXPECT_TRUE(before.count(key) || key == u"Interface") << "left behind: " << N(key);
  for (const std::u16string& key : before) EXPECT_TRUE(left.count(key)) << "removed: " << N(key);
  EXPECT_EQ(CreateObjectByProgID(kControlProgID, &control), CO_E_CLASSSTRING);
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_ORV_Velmar_KDX, &control), REGDB_E_CLASSNOTREG);
}

TEST_F(ModuleTest, UnwritableRegistryFailsOnTheTypeLibrary) {
  std::ofstream(folder.path() / "file") << "not a folder";
  SetRegistryFile(folder.path() / "file" / "registry");  // fails even for root, unlike permission bits
  EXPECT_EQ(DllRegisterServer(), SELFREG_E_TYPELIB);
  EXPECT_EQ(DllUnregisterServer(), S_OK);  // nothing there to remove
}

TEST_F(ModuleTest, CreationFollowsInprocServer32) {
  const CLSID kOther{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  const std::u16string self = CurrentModulePath();
  struct Case {
    const char* what;
    std::optional<std::u16string> server;  // nullopt: no InprocServer32 key
    const CLSID& clsid;
    HRESULT hr;
  } cases[] = {
      {"no server key", std::nullopt, kOther, REGDB_E_CLASSNOTREG},
      {"empty server", u"", kOther, REGDB_E_CLASSNOTREG},
      {"no such library", u"/nonexistent/libnothing.so", kOther, CO_E_DLLNOTFOUND},
      {"library without the export", u"libm.so.6", kOther, CO_E_ERRORINDLL},
      {"this module, a class it does not serve", self, kOther, CLASS_E_CLASSNOTAVAILABLE},
      {"this module, the control", self, CLSID_ORV_Velmar_KDX, S_OK},
      {"this module, the page", self, CLSID_ORV_Velmar_KDXPropPage, S_OK},
  };
  for (const Case& c : cases) {
    const std::u16string key = u"CLSID\\" + StringFromCLSID(c.clsid);
    ASSERT_TRUE(SUCCEEDED(ClassesRoot().DeleteTree(key)));
    if (c.server) {
      ASSERT_EQ(ClassesRoot().SetValue(key + u"\\InprocServer32", u"", *c.server), S_OK);
    }
    std::shared_ptr<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(c.clsid, &object), c.hr) << c.what;
    EXPECT_EQ(object != nullptr, c.hr == S_OK) << c.what;
  }

  // The in-process table comes first.
  auto mine = std::make_shared<DispatchObject>(DispatchTable{});
  ASSERT_EQ(CoRegisterClassObject(CLSID_ORV_Velmar_KDX, [mine] { return mine; }), S_OK);
  std::shared_ptr<IDispatch> object;
  EXPECT_EQ(CoCreateInstance(CLSID_ORV_Velmar_KDX, &object), S_OK);
  EXPECT_EQ(object, mine);
  EXPECT_EQ(CoRevokeClassObject(CLSID_ORV_Velmar_KDX), S_OK);
}

// A host that loads the shared library at run time gets the library's own objects.
TEST_F(ModuleTest, LoadsTheSharedLibraryNamedByTheRegistry) {
  const fs::path library = fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "libkdxbridge.so";
  if (!fs::exists(library)) GTEST_SKIP() << library << " is not built";
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(ClassesRoot().SetValue(u"CLSID\\" + StringFromCLSID(CLSID_ORV_Velmar_KDX) + u"\\InprocServer32", u"",
                                   MultiByteToWide(CP_UTF8, library.string())),
            S_OK);
  std::shared_ptr<IDispatch> control;
  ASSERT_EQ(CreateObjectByProgID(kControlProgID, &control), S_OK);
  EXPECT_EQ(ConnectStatus(*control), 0);

  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr) << "the registry's library was not loaded";
  auto theirs = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllCanUnloadNow"));
  ASSERT_NE(theirs, nullptr);
  ASSERT_NE(theirs, &DllCanUnloadNow);
  EXPECT_EQ(theirs(), S_FALSE);  // the object is theirs ...
  EXPECT_EQ(DllCanUnloadNow(), S_OK);  // ... not ours
  control.reset();
  EXPECT_EQ(theirs(), S_OK);
  dlclose(handle);  // only the reference RTLD_NOLOAD took
}

TEST(Module, ClassObjects) {
  const CLSID kUnknown{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
  const IID kIDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  struct Case {
    const char* what;
    const CLSID& clsid;
    const IID& iid;
    HRESULT hr;
  } cases[] = {
      {"control", CLSID_ORV_Velmar_KDX, IID_IClassFactory, S_OK},
      {"page as IUnknown", CLSID_ORV_Velmar_KDXPropPage, IID_IUnknown, S_OK},
      {"unknown class", kUnknown, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {"interface a class object lacks", CLSID_ORV_Velmar_KDX, kIDispatch, E_NOINTERFACE},
      {"the type library is no class", LIBID_ORV_VELMAR_KDXLib, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
  };
  for (const Case& c : cases) {
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(c.clsid, c.iid, &pv), c.hr) << c.what;
    EXPECT_EQ(pv != nullptr, c.hr == S_OK) << c.what;
  }
  EXPECT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDX, IID_IClassFactory, nullptr), E_POINTER);
}

TEST(Module, CanUnloadOnlyWithoutObjectsOrLocks) {
  void* pv = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDX, IID_IClassFactory, &pv), S_OK);
  IClassFactory& controls = *static_cast<IClassFactory*>(pv);
  ASSERT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDXPropPage, IID_IClassFactory, &pv), S_OK);
  IClassFactory& pages = *static_cast<IClassFactory*>(pv);
  std::shared_ptr<IDispatch> control, page;

  struct Step {
    const char* what;
    std::function<HRESULT()> act;
    HRESULT hr;
    HRESULT canUnload;
  } steps[] = {
      {"at start", [] { return S_OK; }, S_OK, S_OK},
      {"control made", [&] { return controls.CreateInstance(&control); }, S_OK, S_FALSE},
      {"page made", [&] { return pages.CreateInstance(&page); }, S_OK, S_FALSE},
      {"control released", [&] { control.reset(); return S_OK; }, S_OK, S_FALSE},
      {"page released", [&] { page.reset(); return S_OK; }, S_OK, S_OK},
      {"locked", [&] { return controls.LockServer(TRUE); }, S_OK, S_FALSE},
      {"locked through the other", [&] { return pages.LockServer(TRUE); }, S_OK, S_FALSE},
      {"one unlock", [&] { return controls.LockServer(FALSE); }, S_OK, S_FALSE},
      {"last unlock", [&] { return pages.LockServer(FALSE); }, S_OK, S_OK},
      {"unlock without a lock", [&] { return controls.LockServer(FALSE); }, E_UNEXPECTED, S_OK},
      {"then a lock still counts", [&] { return controls.LockServer(TRUE); }, S_OK, S_FALSE},
      {"and its unlock", [&] { return controls.LockServer(FALSE); }, S_OK, S_OK},
      {"null out", [&] { return controls.CreateInstance(nullptr); }, E_POINTER, S_OK},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(s.act(), s.hr) << s.what;
    EXPECT_EQ(DllCanUnloadNow(), s.canUnload) << s.what;
  }
  // Objects are counted until the last reference goes, wherever it is held.
  ASSERT_EQ(controls.CreateInstance(&control), S_OK);
  std::shared_ptr<CORV_Velmar_KDXCtrl> typed = std::dynamic_pointer_cast<CORV_Velmar_KDXCtrl>(control);
  ASSERT_NE(typed, nullptr);
  control.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  typed.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

}  // namespace
}  // namespace kdx
