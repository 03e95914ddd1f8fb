// The module as hosts see it: the identifiers its documents fix (in the type library it carries,
// the control's own tables and the component wrapper's constants), class objects and unloading.
// Its registration is in Module_registration_test.cpp.
#include "control/Module.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "platform/registry.h"  // StringFromCLSID
#include "resources/type_library.h"

namespace kdx {
namespace {

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
