// The automation interface and the event interface of the control, as tables.
#include <array>
#include <new>

#include "control/KdxCtrl.h"

namespace kdx {
namespace {

DispatchMember Method(DISPID id, const char16_t* name, VARTYPE result, std::vector<DispatchParam> params,
                      const char16_t* help = u"") {
  return DispatchMember{id, name, MemberKind::Method, result, std::move(params), help, nullptr};
}

DispatchTable BuildMethodTable() {
  return DispatchTable{
      Method(1, u"Login", VT_I4, {{VT_BSTR, u"strProfilePath"}, {VT_BSTR, u"strSession"}}),
      Method(2, u"Logout", VT_EMPTY, {}),
      Method(3, u"GetConnectStatus", VT_I4, {}),
      Method(4, u"ProcessOrder", VT_I4, {}),
      Method(5, u"GetOrderCount", VT_I4, {}),
      Method(6, u"GetOrderString", VT_BSTR, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}),
      Method(7, u"GetOrderValue", VT_R8, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}),
      Method(8, u"GetFillOrderCount", VT_I4, {}),
      Method(9, u"GetFillOrderString", VT_BSTR, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}),
      Method(10, u"GetFillOrderValue", VT_R8, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}),
      Method(11, u"QueryStatement", VT_I4, {{VT_I4, u"nInfoType"}}),
      Method(12, u"GetStatementCount", VT_I4, {{VT_I4, u"nInfoType"}}),
      Method(13, u"GetStatementString", VT_BSTR, {{VT_I4, u"nInfoType"}, {VT_I4, u"nIndex"}, {VT_I4, u"nField"}}),
      Method(14, u"GetStatementValue", VT_R8, {{VT_I4, u"nInfoType"}, {VT_I4, u"nIndex"}, {VT_I4, u"nField"}}),
      Method(15, u"ClearOrder", VT_EMPTY, {}),
      Method(16, u"SetOrderInfoString", VT_EMPTY, {{VT_I4, u"nField"}, {VT_BSTR, u"strData"}}),
      Method(17, u"SetOrderInfoValue", VT_EMPTY, {{VT_I4, u"nField"}, {VT_R8, u"dbData"}}),
      Method(18, u"SetSecurities", VT_EMPTY,
             {{VT_I4, u"nSecurityType"}, {VT_BSTR, u"strSecurityName"}, {VT_I4, u"nSecurityValue"}}),
      Method(19, u"GeneralQuery", VT_I4, {{VT_BSTR, u"strQueryName"}, {VT_BSTR, u"strParam"}}),
      Method(20, u"GetQueryCount", VT_I4, {{VT_BSTR, u"strQueryName"}}),
      Method(21, u"GetQueryString", VT_BSTR, {{VT_BSTR, u"strQueryName"}, {VT_I4, u"nIndex"}, {VT_I4, u"nFieldIndex"}}),
      Method(22, u"GetQueryValue", VT_R8, {{VT_BSTR, u"strQueryName"}, {VT_I4, u"nIndex"}, {VT_I4, u"nFieldIndex"}}),
      Method(DISPID_ABOUTBOX, u"AboutBox", VT_EMPTY, {}),
  };
}

DispatchTable BuildEventTable() {
  return DispatchTable{
      Method(kdxevent::LoginReady, u"LoginReady", VT_EMPTY, {}),
      Method(kdxevent::LoginFail, u"LoginFail", VT_EMPTY, {{VT_BSTR, u"strErrorMsg"}}),
      Method(kdxevent::ConnectionLost, u"ConnectionLost", VT_EMPTY, {}),
      Method(kdxevent::OrderStatus, u"OrderStatus", VT_EMPTY, {{VT_I4, u"nIndex"}}),
      Method(kdxevent::FillOrder, u"FillOrder", VT_EMPTY, {{VT_I4, u"nIndex"}}),
      Method(kdxevent::StatementUpdate, u"StatementUpdate", VT_EMPTY, {{VT_I4, u"nInfoType"}}),
      Method(kdxevent::Log, u"Log", VT_EMPTY, {{VT_I4, u"nLogType"}, {VT_BSTR, u"strLog"}}),
      Method(kdxevent::QueryUpdate, u"QueryUpdate", VT_EMPTY, {{VT_BSTR, u"strQueryName"}}),
  };
}

CString Text(const VARIANT& v) { return CString(v.bstrVal); }
long Long(const VARIANT& v) { return v.lVal; }

}  // namespace

const DispatchTable& KdxMethodTable() {
  static const DispatchTable table = BuildMethodTable();
  return table;
}

const DispatchTable& KdxEventTable() {
  static const DispatchTable table = BuildEventTable();
  return table;
}

HRESULT CORV_Velmar_KDXCtrl::OnCallFailed(COleDispatchException& e, const CFireGuard& guard, bool method) {
  const std::u16string text = e.m_strDescription;
  // The host may destroy the control inside this Log event.
  if (guard.ControlAlive()) FireLog(0, text);
  if (!method) return DISP_E_EXCEPTION;
  e.m_strDescription = text;
  throw;  // the dispatch layer makes it DISP_E_EXCEPTION with this description
}

HRESULT CORV_Velmar_KDXCtrl::Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) {
  const bool method = (flags & DISPATCH_METHOD) && !(flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
  const auto typed = [&](VARTYPE first, VARTYPE second) {
    return args.size() == 2 && args[0].vt == first && args[1].vt == second;
  };
  bool fast = false;
  switch (method ? id : DISPID_UNKNOWN) {
    case 4: case 15: fast = args.empty(); break;
    case 6: case 7: case 9: case 10: fast = typed(VT_I4, VT_I4) && result; break;
    case 16: fast = typed(VT_I4, VT_BSTR); break;
    case 17: fast = typed(VT_I4, VT_R8); break;
    default: break;
  }
  if (!fast) return DispatchObject::Invoke(id, flags, args, result);
  VARIANT value;
  try {
    const HRESULT hr = Guarded(
        [&] {
          switch (id) {
            case 4: value = VARIANT(static_cast<int32_t>(ProcessOrder())); break;
            case 6: value = VARIANT(GetOrderString(args[0].lVal, args[1].lVal).str()); break;
            case 7: value = VARIANT(GetOrderValue(args[0].lVal, args[1].lVal)); break;
            case 9: value = VARIANT(GetFillOrderString(args[0].lVal, args[1].lVal).str()); break;
            case 10: value = VARIANT(GetFillOrderValue(args[0].lVal, args[1].lVal)); break;
            case 15: ClearOrder(); break;
            case 16: SetOrderInfoString(args[0].lVal, CString(std::u16string_view(args[1].bstrVal))); break;
            default: SetOrderInfoValue(args[0].lVal, args[1].dblVal); break;
          }
        },
        true);
    if (FAILED(hr)) return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (COleDispatchException& e) {
    SetErrorInfo(std::move(e.m_strDescription));
    return DISP_E_EXCEPTION;
  }
  if (result == nullptr) return S_OK;
  if (const HRESULT cleared = VariantClear(result); FAILED(cleared)) return cleared;
  *result = std::move(value);
  return S_OK;
}

// Binds every row of the method table to the typed member of the same name. Arguments arrive
// already coerced to the declared types.
void CORV_Velmar_KDXCtrl::BindDispatch() {
  DispatchTable& table = MutableTable();
  table = KdxMethodTable();
  using Args = std::span<VARIANT>;
  // Each handler computes its result into r; a failed component call leaves r empty.
  auto bind = [this, &table](DISPID id, std::function<VARIANT(Args)> method) {
    table.Bind(id, MemberKind::Method, [this, method = std::move(method)](Args a, VARIANT* r) {
      return Guarded([&] { *r = method(a); }, true);
    });
  };
  auto none = VARIANT{};
  auto i4 = [](long v) { return VARIANT(static_cast<int32_t>(v)); };
  auto text = [](CString v) { return VARIANT(std::move(v).str()); };
  bind(1, [=, this](Args a) { return i4(Login(Text(a[0]), Text(a[1]))); });
  bind(2, [=, this](Args) { Logout(); return none; });
  bind(3, [=, this](Args) { return i4(GetConnectStatus()); });
  bind(4, [=, this](Args) { return i4(ProcessOrder()); });
  bind(5, [=, this](Args) { return i4(GetOrderCount()); });
  bind(6, [=, this](Args a) { return text(GetOrderString(Long(a[0]), Long(a[1]))); });
  bind(7, [=, this](Args a) { return VARIANT(GetOrderValue(Long(a[0]), Long(a[1]))); });
  bind(8, [=, this](Args) { return i4(GetFillOrderCount()); });
  bind(9, [=, this](Args a) { return text(GetFillOrderString(Long(a[0]), Long(a[1]))); });
  bind(10, [=, this](Args a) { return VARIANT(GetFillOrderValue(Long(a[0]), Long(a[1]))); });
  bind(11, [=, this](Args a) { return i4(QueryStatement(Long(a[0]))); });
  bind(12, [=, this](Args a) { return i4(GetStatementCount(Long(a[0]))); });
  bind(13, [=, this](Args a) { return text(GetStatementString(Long(a[0]), Long(a[1]), Long(a[2]))); });
  bind(14, [=, this](Args a) { return VARIANT(GetStatementValue(Long(a[0]), Long(a[1]), Long(a[2]))); });
  bind(15, [=, this](Args) { ClearOrder(); return none; });
  bind(16, [=, this](Args a) { SetOrderInfoString(Long(a[0]), Text(a[1])); return none; });
  bind(17, [=, this](Args a) { SetOrderInfoValue(Long(a[0]), a[1].dblVal); return none; });
  bind(18, [=, this](Args a) { SetSecurities(Long(a[0]), Text(a[1]), Long(a[2])); return none; });
  bind(19, [=, this](Args a) { return i4(GeneralQuery(Text(a[0]), Text(a[1]))); });
  bind(20, [=, this](Args a) { return i4(GetQueryCount(Text(a[0]))); });
  bind(21, [=, this](Args a) { return text(GetQueryString(Text(a[0]), Long(a[1]), Long(a[2]))); });
  bind(22, [=, this](Args a) { return VARIANT(GetQueryValue(Text(a[0]), Long(a[1]), Long(a[2]))); });
  bind(DISPID_ABOUTBOX, [=, this](Args) { AboutBox(); return none; });
}

void CORV_Velmar_KDXCtrl::FireLoginReady() { m_events.Fire(kdxevent::LoginReady, {}); }

void CORV_Velmar_KDXCtrl::FireLoginFail(const CString& strErrorMsg) {
  VARIANT arg(strErrorMsg.str());
  m_events.Fire(kdxevent::LoginFail, std::span<VARIANT>(&arg, 1));
}

void CORV_Velmar_KDXCtrl::FireConnectionLost() { m_events.Fire(kdxevent::ConnectionLost, {}); }

void CORV_Velmar_KDXCtrl::FireOrderStatus(long nIndex) {
  VARIANT arg(static_cast<int32_t>(nIndex));
  m_events.Fire(kdxevent::OrderStatus, std::span<VARIANT>(&arg, 1));
}

void CORV_Velmar_KDXCtrl::FireFillOrder(long nIndex) {
  VARIANT arg(static_cast<int32_t>(nIndex));
  m_events.Fire(kdxevent::FillOrder, std::span<VARIANT>(&arg, 1));
}

void CORV_Velmar_KDXCtrl::FireStatementUpdate(long nInfoType) {
  VARIANT arg(static_cast<int32_t>(nInfoType));
  m_events.Fire(kdxevent::StatementUpdate, std::span<VARIANT>(&arg, 1));
}

void CORV_Velmar_KDXCtrl::FireLog(long nLogType, const CString& strLog) {
  std::array<VARIANT, 2> args{VARIANT(static_cast<int32_t>(nLogType)), VARIANT(strLog.str())};
  m_events.Fire(kdxevent::Log, args);
}

void CORV_Velmar_KDXCtrl::FireQueryUpdate(const CString& strQueryName) {
  VARIANT arg(strQueryName.str());
  m_events.Fire(kdxevent::QueryUpdate, std::span<VARIANT>(&arg, 1));
}

}  // namespace kdx
