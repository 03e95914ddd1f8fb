#include "tradeapi/ORVOmniDealApi.h"

#include <array>
#include <utility>

#include "platform/class_factory.h"
#include "platform/thread_object.h"

namespace kdx {
namespace {

constexpr UINT kReleaseComponent = WM_USER + 1;

// One hidden window per thread whose posted messages release parked components.
struct Releaser {
  MessageWindow window;
  Releaser() {
    window.OnMessage(kReleaseComponent, [](WPARAM w, LPARAM) {
      delete reinterpret_cast<std::shared_ptr<IDispatch>*>(w);
      return LRESULT{0};
    });
  }
};

void ReleaseLater(std::shared_ptr<IDispatch> component) {
  auto& releaser = ThreadObject<Releaser>([] { return Releaser(); });
  auto* box = new std::shared_ptr<IDispatch>(std::move(component));
  releaser.window.Handle().PostMessage(kReleaseComponent, reinterpret_cast<WPARAM>(box), 0, [box] { delete box; });
}

constexpr std::pair<DISPID, const char16_t*> kMemberNames[] = {
    {omnideal::TWOrderPrefix, u"TWOrderPrefix"}, {omnideal::UseCA, u"UseCA"},
    {omnideal::CAPath, u"CAPath"}, {omnideal::CAPassword, u"CAPassword"},
    {omnideal::OBOrderPrefix, u"OBOrderPrefix"}, {omnideal::CAType, u"CAType"},
    {omnideal::GetStatus, u"GetStatus"}, {omnideal::Connect, u"Connect"},
    {omnideal::GetLoginDataCount, u"GetLoginDataCount"}, {omnideal::GetLoginDataString, u"GetLoginDataString"},
    {omnideal::SetTradeAccount, u"SetTradeAccount"}, {omnideal::GetDataString, u"GetDataString"},
    {omnideal::GetDataValue, u"GetDataValue"}, {omnideal::FutOrder, u"FutOrder"},
    {omnideal::OptOrder, u"OptOrder"}, {omnideal::StkOrder, u"StkOrder"},
    {omnideal::ReduceFutOrder, u"ReduceFutOrder"}, {omnideal::ReduceOptOrder, u"ReduceOptOrder"},
    {omnideal::ReduceStkOrder, u"ReduceStkOrder"}, {omnideal::OBFutOrder, u"OBFutOrder"},
    {omnideal::ReduceOBFutOrder, u"ReduceOBFutOrder"}, {omnideal::GetOBDataString, u"GetOBDataString"},
    {omnideal::GetOBDataValue, u"GetOBDataValue"},
};

[[noreturn]] void ThrowCallFailed(DISPID id, HRESULT hr, const std::u16string& detail) {
  CString text = FormatString(u"Trade-API call %s failed (0x%08X)", TradeApiMemberName(id), static_cast<uint32_t>(hr));
  if (!detail.empty()) text += u": " + CString(detail);
  throw COleDispatchException(hr, text.str());
}

}  // namespace

const char16_t* TradeApiMemberName(DISPID id) {
  for (const auto& [member, name] : kMemberNames)
    if (member == id) return name;
  return u"?";
}

CORVOMNIDEALAPI::CallScope::CallScope(std::shared_ptr<TradeApiCallState> state) : state_(std::move(state)) {
  ++state_->depth;
}

CORVOMNIDEALAPI::CallScope::~CallScope() {
  if (--state_->depth == 0 && state_->parked) ReleaseLater(std::move(state_->parked));
}

CORVOMNIDEALAPI::~CORVOMNIDEALAPI() {
  DisconnectEvents();
  if (m_state->depth > 0) m_state->parked = std::move(m_pDispatch);
}

void CORVOMNIDEALAPI::DisconnectEvents() {
  if (m_pEvents && m_dwCookie) m_pEvents->Unadvise(m_dwCookie);
  m_pEvents = nullptr;
  m_dwCookie = 0;
}

bool CORVOMNIDEALAPI::CreateControl(const CLSID& clsid, WindowHandle parent, UINT id,
                                    std::shared_ptr<IDispatch> eventSink) {
  std::shared_ptr<IDispatch> component;
  if (FAILED(CoCreateInstance(clsid, &component)) || !component) return false;
  auto* container = dynamic_cast<IConnectionPointContainer*>(component.get());
  ConnectionPoint* events = container ? container->FindConnectionPoint() : nullptr;
  if (!events) return false;
  DWORD cookie = eventSink ? events->Advise(std::move(eventSink)) : 0;
  m_pDispatch = std::move(component);
  m_pEvents = events;
  m_dwCookie = cookie;
  m_parent = std::move(parent);
  m_nID = id;
  return true;
}

// The component may pump messages inside the call, and a handler may delete this wrapper
// meanwhile: after the call only locals are used.
VARIANT CORVOMNIDEALAPI::Invoke(DISPID id, WORD flags, VARTYPE resultType, std::span<VARIANT> args) {
  if (!m_pDispatch) ThrowCallFailed(id, E_UNEXPECTED, u"no component");
  IDispatch* target = m_pDispatch.get();
  const CallScope scope(m_state);
  GetErrorInfo();  // what an earlier call left is not this call's
  VARIANT result;
  if (const HRESULT hr = target->Invoke(id, flags, args, &result); FAILED(hr)) ThrowCallFailed(id, hr, GetErrorInfo());
  if (resultType != VT_EMPTY && result.vt != resultType) {
    VARIANT converted;
    if (const HRESULT hr = VariantChangeType(&converted, &result, 0, resultType); FAILED(hr))
      ThrowCallFailed(id, hr, u"unexpected result type");
    return converted;
  }
  return result;
}

void CORVOMNIDEALAPI::SetProperty(DISPID id, VARIANT value) {
  Invoke(id, DISPATCH_PROPERTYPUT, VT_EMPTY, std::span<VARIANT>(&value, 1));
}

void CORVOMNIDEALAPI::SetTWOrderPrefix(const CString& v) { SetProperty(omnideal::TWOrderPrefix, VARIANT(v.str())); }
void CORVOMNIDEALAPI::SetUseCA(BOOL v) { SetProperty(omnideal::UseCA, VARIANT::Bool(v != FALSE)); }
void CORVOMNIDEALAPI::SetCAPath(const CString& v) { SetProperty(omnideal::CAPath, VARIANT(v.str())); }
void CORVOMNIDEALAPI::SetCAPassword(const CString& v) { SetProperty(omnideal::CAPassword, VARIANT(v.str())); }
void CORVOMNIDEALAPI::SetOBOrderPrefix(const CString& v) { SetProperty(omnideal::OBOrderPrefix, VARIANT(v.str())); }
void CORVOMNIDEALAPI::SetCAType(long v) { SetProperty(omnideal::CAType, VARIANT(static_cast<int32_t>(v))); }

long CORVOMNIDEALAPI::GetStatus() { return Invoke(omnideal::GetStatus, DISPATCH_METHOD, VT_I4, {}).lVal; }

long CORVOMNIDEALAPI::Connect(long loginType, const CString& loginURL, const CString& serverAddress, long serverPort,
                              const CString& proxyAddress, long proxyPort, const CString& company,
                              const CString& product, const CString& rocID, const CString& branchID,
                              const CString& custID, const CString& password, long encodeType) {
  std::array<VARIANT, 13> args{VARIANT(static_cast<int32_t>(loginType)), VARIANT(loginURL.str()),
                               VARIANT(serverAddress.str()), VARIANT(static_cast<int32_t>(serverPort)),
                               VARIANT(proxyAddress.str()), VARIANT(static_cast<int32_t>(proxyPort)),
                               VARIANT(company.str()), VARIANT(product.str()), VARIANT(rocID.str()),
                               VARIANT(branchID.str()), VARIANT(custID.str()), VARIANT(password.str()),
                               VARIANT(static_cast<int32_t>(encodeType))};
  return Invoke(omnideal::Connect, DISPATCH_METHOD, VT_I4, args).lVal;
}

long CORVOMNIDEALAPI::GetLoginDataCount(long kind) {
  VARIANT arg(static_cast<int32_t>(kind));
  return Invoke(omnideal::GetLoginDataCount, DISPATCH_METHOD, VT_I4, std::span<VARIANT>(&arg, 1)).lVal;
}

namespace {
std::array<VARIANT, 3> Triple(long a, long b, long c) {
  return {VARIANT(static_cast<int32_t>(a)), VARIANT(static_cast<int32_t>(b)), VARIANT(static_cast<int32_t>(c))};
}
}  // namespace

CString CORVOMNIDEALAPI::GetLoginDataString(long kind, long row, long field) {
  return CString(ReadField(omnideal::GetLoginDataString, VT_BSTR, kind, row, field).bstrVal);
}

void CORVOMNIDEALAPI::SetTradeAccount(long marketKind, const CString& branch, const CString& account) {
  std::array<VARIANT, 3> args{VARIANT(static_cast<int32_t>(marketKind)), VARIANT(branch.str()),
                              VARIANT(account.str())};
  Invoke(omnideal::SetTradeAccount, DISPATCH_METHOD, VT_EMPTY, args);
}

VARIANT CORVOMNIDEALAPI::ReadField(DISPID id, VARTYPE type, long kind, long row, long field) {
  auto args = Triple(kind, row, field);
  return Invoke(id, DISPATCH_METHOD, type, args);
}

CString CORVOMNIDEALAPI::GetDataString(long kind, long row, long field) {
  return CString(ReadField(omnideal::GetDataString, VT_BSTR, kind, row, field).bstrVal);
}
long CORVOMNIDEALAPI::GetDataValue(long kind, long row, long field) {
  return ReadField(omnideal::GetDataValue, VT_I4, kind, row, field).lVal;
}
CString CORVOMNIDEALAPI::GetOBDataString(long kind, long row, long field) {
  return CString(ReadField(omnideal::GetOBDataString, VT_BSTR, kind, row, field).bstrVal);
}
double CORVOMNIDEALAPI::GetOBDataValue(long kind, long row, long field) {
  return ReadField(omnideal::GetOBDataValue, VT_R8, kind, row, field).dblVal;
}

long CORVOMNIDEALAPI::CallOrder(DISPID id, VARIANT* order) {
  VARIANT arg = VARIANT::ByRef(order);
  return Invoke(id, DISPATCH_METHOD, VT_I4, std::span<VARIANT>(&arg, 1)).lVal;
}

long CORVOMNIDEALAPI::CallReduce(DISPID id, long quantity, VARIANT* order) {
  std::array<VARIANT, 2> args{VARIANT(static_cast<int32_t>(quantity)), VARIANT::ByRef(order)};
  return Invoke(id, DISPATCH_METHOD, VT_I4, args).lVal;
}

long CORVOMNIDEALAPI::FutOrder(VARIANT* order) { return CallOrder(omnideal::FutOrder, order); }
long CORVOMNIDEALAPI::OptOrder(VARIANT* order) { return CallOrder(omnideal::OptOrder, order); }
long CORVOMNIDEALAPI::StkOrder(VARIANT* order) { return CallOrder(omnideal::StkOrder, order); }
long CORVOMNIDEALAPI::OBFutOrder(VARIANT* order) { return CallOrder(omnideal::OBFutOrder, order); }
long CORVOMNIDEALAPI::ReduceFutOrder(long q, VARIANT* order) { return CallReduce(omnideal::ReduceFutOrder, q, order); }
long CORVOMNIDEALAPI::ReduceOptOrder(long q, VARIANT* order) { return CallReduce(omnideal::ReduceOptOrder, q, order); }
long CORVOMNIDEALAPI::ReduceStkOrder(long q, VARIANT* order) { return CallReduce(omnideal::ReduceStkOrder, q, order); }
long CORVOMNIDEALAPI::ReduceOBFutOrder(long q, VARIANT* order) {
  return CallReduce(omnideal::ReduceOBFutOrder, q, order);
}

}  // namespace kdx
