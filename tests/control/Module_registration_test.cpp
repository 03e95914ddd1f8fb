// The module's self-registration as registrars see it, and creation through the registered
// module: in a registry file of the test's own, with the Linux loader's rules for what it loads.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <set>

#include "common/control_util.h"
#include "control/Module.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

std::string N(std::u16string_view text) { return Utf16ToUtf8(text); }
std::string N(const GUID& guid) { return Utf16ToUtf8(StringFromCLSID(guid)); }
std::u16string W(const std::string& text) { return MultiByteToWide(CP_UTF8, text); }

// The documented identifiers (Module_test.cpp holds them to the documents).
const std::string kLibID = N(LIBID_ORV_VELMAR_KDXLib), kDispatchIID = N(DIID__DORV_Velmar_KDX),
                  kEventsIID = N(DIID__DORV_Velmar_KDXEvents), kControlCLSID = N(CLSID_ORV_Velmar_KDX),
                  kPageCLSID = N(CLSID_ORV_Velmar_KDXPropPage);
const CLSID kOther{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

// Every test gets its own registry file in a fresh folder.
class ModuleTest : public testing::Test {
 protected:
  void SetUp() override { SetRegistryFile(folder.path() / "registry"); }
  void TearDown() override { SetRegistryFile(DefaultRegistryFile()); }
  // Every key in the registry, by full path.
  static std::set<std::string> Keys(const std::u16string& key = u"", std::set<std::string> out = {}) {
    for (const std::u16string& sub : ClassesRoot().SubKeys(key)) {
      out.insert(N(key.empty() ? sub : key + u"\\" + sub));
      out = Keys(key.empty() ? sub : key + u"\\" + sub, std::move(out));
    }
    return out;
  }
  test::TempFolder folder;
};

TEST_F(ModuleTest, RegistersEveryItemCreatesByProgIdAndUnregistersExactly) {
  // Tests link the library statically, so the module is the test program itself.
  const std::string path = fs::canonical("/proc/self/exe").string(), lib = "TypeLib\\" + kLibID + "\\1.0",
                    ctl = "CLSID\\" + kControlCLSID, ps = "{00020420-0000-0000-C000-000000000046}";
  ASSERT_EQ(N(CurrentModulePath()), path);
  std::vector<std::array<std::string, 3>> expected = {  // key, value name, data ("-": the key alone)
      {lib, "", "ORV_Velmar_KDX ActiveX Control module"}, {lib + "\\409\\win32", "", path}, {lib + "\\FLAGS", "", "2"},
      {lib + "\\HELPDIR", "", fs::path(path).parent_path().string()}, {ctl + "\\Control", "", "-"},
      {ctl + "\\ToolboxBitmap32", "", path + ", 1"}, {ctl + "\\MiscStatus", "", "0"},
      {ctl + "\\MiscStatus\\1", "", "131473"}, {ctl + "\\TypeLib", "", kLibID}, {ctl + "\\Version", "", "1.0"}};
  for (auto& [iid, name] : {std::pair{kDispatchIID, "_DORV_Velmar_KDX"}, {kEventsIID, "_DORV_Velmar_KDXEvents"}}) {
    const std::string itf = "Interface\\" + iid;
    expected.insert(expected.end(), {{itf, "", name}, {itf + "\\ProxyStubClsid32", "", ps},
                                     {itf + "\\ProxyStubClsid", "", ps}, {itf + "\\TypeLib", "", kLibID},
                                     {itf + "\\TypeLib", "Version", "1.0"}});
  }
  for (auto& [clsid, what, kind] :
       {std::tuple{kControlCLSID, "Control", "Ctrl"}, {kPageCLSID, "Property Page", "PropPage"}}) {
    const std::string cls = "CLSID\\" + clsid, name = "ORV Velmar QN ZAZUZO Bridge Unicode " + std::string(what),
                      prog = "ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicode" + std::string(kind) + ".1";
    expected.insert(expected.end(), {{cls, "", name}, {cls + "\\InprocServer32", "", path},
                                     {cls + "\\InprocServer32", "ThreadingModel", "Apartment"},
                                     {cls + "\\ProgID", "", prog}, {prog, "", name}, {prog + "\\CLSID", "", clsid}});
  }
  // Someone else's class and another version of our library must survive our unregistration.
  ASSERT_EQ(ClassesRoot().CreateKey(u"CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32"), S_OK);
  ASSERT_EQ(ClassesRoot().CreateKey(W("TypeLib\\" + kLibID + "\\2.0")), S_OK);
  std::set<std::string> before = Keys(), written = before;
  ASSERT_TRUE(DllRegisterServer() == S_OK && DllRegisterServer() == S_OK);  // twice: the same items, nothing doubled
  for (const auto& [key, name, data] : expected) {
    for (std::size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1))
      written.insert(key.substr(0, cut));
    written.insert(key);
    EXPECT_TRUE(data == "-" ? ClassesRoot().KeyExists(W(key)) : ClassesRoot().GetValue(W(key), W(name)) == W(data))
        << key << " " << name << " = " << N(ClassesRoot().GetValue(W(key), W(name)).value_or(u"(none)"));
  }
  EXPECT_EQ(Keys(), written);

  std::shared_ptr<IDispatch> control, page;
  DISPID id = 0;
  ASSERT_EQ(CreateObjectByProgID(kControlProgID, &control), S_OK);
  ASSERT_EQ(CreateObjectByProgID(kPropPageProgID, &page), S_OK);
  EXPECT_EQ(test::CallByName(*control, u"GetConnectStatus").lVal, 0);
  EXPECT_EQ(page->GetIDsOfNames(u"GetConnectStatus", &id), DISP_E_UNKNOWNNAME);

  ASSERT_TRUE(DllUnregisterServer() == S_OK && DllUnregisterServer() == S_OK);  // the second finds it gone
  before.insert("Interface");  // the shared top-level keys stay, as on Windows
  EXPECT_EQ(Keys(), before);
  EXPECT_EQ(CreateObjectByProgID(kControlProgID, &control), CO_E_CLASSSTRING);
  EXPECT_TRUE(CoCreateInstance(CLSID_ORV_Velmar_KDX, &control) == REGDB_E_CLASSNOTREG && control == nullptr);
  // The last version of the library takes its LIBID key along.
  ASSERT_EQ(ClassesRoot().DeleteTree(W("TypeLib\\" + kLibID + "\\2.0")), S_OK);
  ASSERT_TRUE(DllRegisterServer() == S_OK && DllUnregisterServer() == S_OK);
  EXPECT_TRUE(ClassesRoot().SubKeys(u"TypeLib").empty());
}

TEST_F(ModuleTest, UnwritableRegistryFailsOnTheTypeLibrary) {
  std::ofstream(folder.path() / "file") << "not a folder";
  SetRegistryFile(folder.path() / "file" / "registry");  // fails even for root, unlike permission bits
  EXPECT_EQ(DllRegisterServer(), SELFREG_E_TYPELIB);
  EXPECT_EQ(DllUnregisterServer(), SELFREG_E_TYPELIB);  // cannot tell what is registered there
  SetRegistryFile(folder.path() / "registry");
  std::ofstream(folder.path() / "registry") << "corrupt\n";
  EXPECT_EQ(DllUnregisterServer(), SELFREG_E_TYPELIB);  // nor here
}

// The registry names what gets loaded into the host: only a library nobody else can change,
// named by its full path. The in-process table comes first.
TEST_F(ModuleTest, CreationFollowsInprocServer32ToTrustedLibrariesOnly) {
  const std::string self = N(CurrentModulePath());
  link_map* libm = nullptr;  // a library without the export
  ASSERT_EQ(dlinfo(dlopen("libm.so.6", RTLD_NOW), RTLD_DI_LINKMAP, &libm), 0);
  const fs::path real = fs::canonical(libm->l_name), loose = folder.path() / "a.so", given = folder.path() / "b.so";
  fs::copy_file(real, loose), fs::copy_file(real, given), chmod(loose.c_str(), 0664);
  const bool away = chown(given.c_str(), 4242, -1) == 0;  // only root can give a file away
  const std::tuple<std::optional<std::string>, const CLSID&, HRESULT> cases[] = {  // nullopt: no InprocServer32 key
      {std::nullopt, kOther, REGDB_E_CLASSNOTREG}, {"", kOther, REGDB_E_CLASSNOTREG},
      {"/nonexistent/libnothing.so", kOther, CO_E_DLLNOTFOUND}, {real.string(), kOther, CO_E_ERRORINDLL},
      {"libm.so.6", kOther, E_ACCESSDENIED}, {folder.path().string(), kOther, E_ACCESSDENIED},
      {loose.string(), kOther, E_ACCESSDENIED}, {given.string(), kOther, away ? E_ACCESSDENIED : CO_E_ERRORINDLL},
      {self, kOther, CLASS_E_CLASSNOTAVAILABLE}, {self, CLSID_ORV_Velmar_KDX, S_OK},
      {self, CLSID_ORV_Velmar_KDXPropPage, S_OK}};
  auto mine = std::make_shared<DispatchObject>(DispatchTable{});
  for (const auto& [server, clsid, hr] : cases) {
    const std::u16string key = u"CLSID\\" + StringFromCLSID(clsid);
    ASSERT_TRUE(SUCCEEDED(ClassesRoot().DeleteTree(key)));
    ASSERT_TRUE(!server || ClassesRoot().SetValue(key + u"\\InprocServer32", u"", W(*server)) == S_OK);
    std::shared_ptr<IDispatch> object = mine;  // a failure leaves nothing in it
    EXPECT_TRUE(CoCreateInstance(clsid, &object) == hr && (object != nullptr) == (hr == S_OK)) << server.value_or("-");
  }
  ASSERT_EQ(CoRegisterClassObject(CLSID_ORV_Velmar_KDX, [mine] { return mine; }), S_OK);
  std::shared_ptr<IDispatch> object;
  EXPECT_TRUE(CoCreateInstance(CLSID_ORV_Velmar_KDX, &object) == S_OK && object == mine);
  EXPECT_EQ(CoRevokeClassObject(CLSID_ORV_Velmar_KDX), S_OK);
}

// A host that loads the shared library at run time gets the library's own objects.
TEST_F(ModuleTest, LoadsTheSharedLibraryNamedByTheRegistry) {
  const fs::path library = fs::canonical("/proc/self/exe").parent_path().parent_path() / "src" / "libkdxbridge.so";
  if (!fs::exists(library)) GTEST_SKIP() << library << " is not built";
  ASSERT_EQ(DllRegisterServer(), S_OK);
  ASSERT_EQ(ClassesRoot().SetValue(W("CLSID\\" + kControlCLSID + "\\InprocServer32"), u"", W(library.string())), S_OK);
  std::shared_ptr<IDispatch> control;
  ASSERT_EQ(CreateObjectByProgID(kControlProgID, &control), S_OK);
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr) << "the registry's library was not loaded";
  auto theirs = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllCanUnloadNow"));
  ASSERT_TRUE(theirs != nullptr && theirs != &DllCanUnloadNow);
  EXPECT_EQ(theirs(), S_FALSE);        // the object is theirs ...
  EXPECT_EQ(DllCanUnloadNow(), S_OK);  // ... not ours
  control.reset();
  EXPECT_EQ(theirs(), S_OK);
  dlclose(handle);  // only the reference RTLD_NOLOAD took
}

}  // namespace
}  // namespace kdx
