// The module as hosts and registrars see it: the identifiers its documents fix (in the type
// library it carries, the control's own tables and the component wrapper's constants), its
// self-registration, creation through the registered module, class objects and unloading.
#include "control/Module.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <map>
#include <set>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "resources/type_library.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;
using Members = std::map<DISPID, std::string>;
using Lines = std::vector<std::string>;

// clang-format off
const std::string kLibID = "{2D0F66C4-5920-46A0-AA11-9AFCB3DDC90B}",
    kDispatchIID = "{C3187AB4-3361-4CDF-9B97-2DD3F9C1D639}", kEventsIID = "{20FF8F24-B279-4B76-ABFE-6525028E1A83}",
    kControlCLSID = "{4B9E9F5A-36DF-4463-9F46-A5249E61FC7B}", kPageCLSID = "{CC4EB9D7-D607-413C-B06E-F4F755D0CA43}";
// clang-format on
const CLSID kOther{0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

std::string N(std::u16string_view text) { return Utf16ToUtf8(text); }
std::string N(const GUID& guid) { return Utf16ToUtf8(StringFromCLSID(guid)); }
std::u16string W(const std::string& text) { return MultiByteToWide(CP_UTF8, text); }

// Each member by DISPID, declared as the interface description declares it, or by name alone.
Members Declarations(const DispatchTable& table, bool namesOnly = false) {
  const std::map<VARTYPE, std::string> types{{VT_EMPTY, "void"}, {VT_I4, "long"}, {VT_R8, "double"}, {VT_BSTR, "BSTR"}};
  auto type = [&](VARTYPE vt) { return types.count(vt) ? types.at(vt) : "vt" + std::to_string(vt); };
  Members out;
  for (const DispatchMember& m : table) {
    std::string line = (m.kind == MemberKind::Method ? "" : "property ") + type(m.result) + " " + N(m.name) + "(";
    for (std::size_t i = 0; i < m.params.size(); ++i)
      line += (i ? ", " : "") + type(m.params[i].vt) + " " + N(m.params[i].name);
    out[m.id] += namesOnly ? N(m.name) : line + ")" + (m.help.empty() ? "" : " \"" + N(m.help) + "\"");
  }
  return out;
}

TEST(Identifiers, AreTheDocumentedOnesInTheTypeLibraryTheTablesAndTheConstants) {
  // Every DISPID by its documented name; the type library and the tables must then agree on each signature.
  const Members methods{{1, "Login"}, {2, "Logout"}, {3, "GetConnectStatus"}, {4, "ProcessOrder"},
      {5, "GetOrderCount"}, {6, "GetOrderString"}, {7, "GetOrderValue"}, {8, "GetFillOrderCount"},
      {9, "GetFillOrderString"}, {10, "GetFillOrderValue"}, {11, "QueryStatement"}, {12, "GetStatementCount"},
      {13, "GetStatementString"}, {14, "GetStatementValue"}, {15, "ClearOrder"}, {16, "SetOrderInfoString"},
      {17, "SetOrderInfoValue"}, {18, "SetSecurities"}, {19, "GeneralQuery"}, {20, "GetQueryCount"},
      {21, "GetQueryString"}, {22, "GetQueryValue"}, {-552, "AboutBox"}};
  const Members events{{1, "LoginReady"}, {2, "LoginFail"}, {3, "ConnectionLost"}, {4, "OrderStatus"},
      {5, "FillOrder"}, {6, "StatementUpdate"}, {7, "Log"}, {8, "QueryUpdate"}};
  TypeLibrary lib;
  ASSERT_EQ(LoadTypeLibrary(&lib), S_OK);
  ASSERT_TRUE(lib.dispinterfaces.size() == 2 && lib.coclasses.size() == 1);
  // What registration does not show: which interface is hidden, the class's interfaces, the help file.
  EXPECT_TRUE(lib.dispinterfaces[0].hidden && !lib.dispinterfaces[1].hidden && lib.coclasses[0].control);
  EXPECT_EQ(N(lib.coclasses[0].defaultInterface) + " " + N(lib.coclasses[0].defaultSource) + " " + N(lib.helpFile),
            "_DORV_Velmar_KDX _DORV_Velmar_KDXEvents ORV_Velmar_KDX.hlp");
  EXPECT_EQ(Declarations(KdxMethodTable()), Declarations(lib.dispinterfaces[0].methods));
  EXPECT_EQ(Declarations(KdxEventTable()), Declarations(lib.dispinterfaces[1].methods));
  EXPECT_EQ(Declarations(lib.dispinterfaces[0].methods, true), methods);
  EXPECT_EQ(Declarations(lib.dispinterfaces[1].methods, true), events);
  EXPECT_EQ(Lines({N(LIBID_ORV_VELMAR_KDXLib), N(DIID__DORV_Velmar_KDX), N(DIID__DORV_Velmar_KDXEvents),
                   N(CLSID_ORV_Velmar_KDX), N(CLSID_ORV_Velmar_KDXPropPage)}),
            Lines({kLibID, kDispatchIID, kEventsIID, kControlCLSID, kPageCLSID}));

  // The component's members and events that the wrapper reaches, by the component's numbers.
  const std::pair<DISPID, DISPID> component[] = {
#define ROW(name, id) {omnideal::name, id}
      // clang-format off
      ROW(TWOrderPrefix, 1), ROW(UseCA, 5), ROW(CAPath, 6), ROW(CAPassword, 7), ROW(OBOrderPrefix, 8), ROW(CAType, 9),
      ROW(GetStatus, 10), ROW(Connect, 11), ROW(GetLoginDataCount, 15), ROW(GetLoginDataString, 16),
      ROW(SetTradeAccount, 17), ROW(GetDataString, 18), ROW(GetDataValue, 19), ROW(FutOrder, 21), ROW(OptOrder, 22),
      ROW(StkOrder, 24), ROW(ReduceFutOrder, 25), ROW(ReduceOptOrder, 26), ROW(ReduceStkOrder, 28), ROW(OBFutOrder, 29),
      ROW(ReduceOBFutOrder, 30), ROW(GetOBDataString, 31), ROW(GetOBDataValue, 32),
      ROW(EvStatus, 1), ROW(EvMessage, 2), ROW(EvStatement, 3), ROW(EvOrderNew, 4), ROW(EvOrderChanged, 5),
      ROW(EvFillNew, 6), ROW(EvFillChanged, 7), ROW(EvOrderRemoved, 8), ROW(EvIgnored10, 10), ROW(EvMarketDate, 11),
      ROW(EvIgnored12, 12), ROW(EvStatement13, 13), ROW(EvOBOrderNew, 14), ROW(EvOBOrderChanged, 15),
      ROW(EvOBFillNew, 16), ROW(EvOBFillChanged, 17), ROW(EvOBOrderRemoved, 18)};
  // clang-format on
#undef ROW
  for (std::size_t i = 0; i < std::size(component); ++i)
    EXPECT_EQ(component[i].first, component[i].second) << "row " << i;
}

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

TEST(Module, ClassObjectsAndUnloading) {
  const IID kIDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
  void* pv = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kOther, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDX, kIDispatch, &pv), E_NOINTERFACE);
  EXPECT_EQ(pv, nullptr);
  EXPECT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDX, IID_IClassFactory, nullptr), E_POINTER);
  ASSERT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDX, IID_IClassFactory, &pv), S_OK);
  IClassFactory& controls = *static_cast<IClassFactory*>(pv);
  ASSERT_EQ(DllGetClassObject(CLSID_ORV_Velmar_KDXPropPage, IID_IUnknown, &pv), S_OK);
  IClassFactory& pages = *static_cast<IClassFactory*>(pv);

  // Each step's result, then whether the module may unload after it.
  auto step = [](HRESULT hr, HRESULT want, HRESULT unload) {
    EXPECT_EQ(std::pair(hr, DllCanUnloadNow()), std::pair(want, unload));
  };
  std::shared_ptr<IDispatch> control, page;
  step(S_OK, S_OK, S_OK);
  step(controls.CreateInstance(&control), S_OK, S_FALSE);
  step(pages.CreateInstance(&page), S_OK, S_FALSE);
  std::shared_ptr<CORV_Velmar_KDXCtrl> typed = std::dynamic_pointer_cast<CORV_Velmar_KDXCtrl>(control);
  control.reset(), page.reset();  // the control still held elsewhere
  step(typed ? S_OK : E_FAIL, S_OK, S_FALSE);
  typed.reset();
  step(S_OK, S_OK, S_OK);
  // Locks count across the module; releasing one not held changes nothing.
  for (const auto& [factory, lock, hr, unload] :
       {std::tuple{&controls, TRUE, S_OK, S_FALSE}, {&pages, TRUE, S_OK, S_FALSE}, {&controls, FALSE, S_OK, S_FALSE},
        {&pages, FALSE, S_OK, S_OK}, {&controls, FALSE, E_UNEXPECTED, S_OK}, {&controls, TRUE, S_OK, S_FALSE},
        {&controls, FALSE, S_OK, S_OK}})
    step(factory->LockServer(lock), hr, unload);
  step(controls.CreateInstance(nullptr), E_POINTER, S_OK);
}

}  // namespace
}  // namespace kdx
