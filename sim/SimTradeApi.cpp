// The simulated component's dispatch table, registration and call log.
#include "sim/SimTradeApi.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>

#include "platform/class_factory.h"
#include "platform/safearray.h"

namespace kdx::sim {
namespace {

using Args = std::span<VARIANT>;
constexpr VARTYPE kLong = VT_I4, kText = VT_BSTR, kBool = VT_BOOL, kOrderRef = VT_BYREF | VT_VARIANT;

struct Instances {
  std::mutex mutex;
  std::weak_ptr<SimTradeApi> last;
  std::atomic<int> created{0};
  std::atomic<int> alive{0};
  std::atomic<int> destroyedInside{0};
  std::atomic<int> aliveAtConnect{0};
};

Instances& Registry() {
  static Instances instances;
  return instances;
}

HRESULT Answer(VARIANT* result, VARIANT value) {
  *result = std::move(value);
  return S_OK;
}

VARIANT Long(long value) { return VARIANT(static_cast<int32_t>(value)); }

// GetDataValue answers a long: the stored number truncated, saturated at the type's limits.
int32_t TruncateToLong(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

}  // namespace

// Keeps the component alive and its depth raised for one of its own calls or events. When the
// last outside reference goes meanwhile, the destructor runs here, at depth > 0, and counts.
class SimTradeApi::CallScope {
 public:
  explicit CallScope(SimTradeApi& api) : depth_(api.depth_), self_(api.weak_from_this().lock()) { ++*depth_; }
  ~CallScope() {
    self_.reset();
    --*depth_;
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  std::shared_ptr<int> depth_;
  std::shared_ptr<SimTradeApi> self_;
};

SimRow& SimRow::Text(long field, std::u16string value) {
  text[field] = std::move(value);
  return *this;
}

SimRow& SimRow::Number(long field, double value) {
  number[field] = value;
  return *this;
}

void SimRow::Merge(const SimRow& changes) {
  for (const auto& [field, value] : changes.text) text[field] = value;
  for (const auto& [field, value] : changes.number) number[field] = value;
}

SimFields SimConfig::Account(std::u16string branch, std::u16string custAccount, std::u16string account,
                             std::u16string type) {
  if (account.empty()) account = branch + custAccount;
  return SimFields{{1, std::move(branch)},     {5, std::move(account)},       {39, std::move(custAccount)},
                   {59, std::move(type)},      {213, u"Simulated broker"}, {214, u"Simulated trader"}};
}

SimTradeApi::SimTradeApi(SimConfig config) : config_(std::move(config)), walk_(config_.marketSeed) {
  BuildTable();
  window_.OnMessage(kRaiseEventMessage, [this](WPARAM, LPARAM) { return OnRaise(); });
  ++Registry().created;
  ++Registry().alive;
}

SimTradeApi::~SimTradeApi() {
  window_.Destroy();  // events not yet raised die with the component
  if (*depth_ > 0) ++Registry().destroyedInside;
  --Registry().alive;
}

void SimTradeApi::Register(SimConfig config) {
  CoRegisterClassObject(CLSID_ORVOMNIDEALAPI,
                        [config = std::move(config)]() -> std::shared_ptr<IDispatch> { return Create(config); });
}

void SimTradeApi::Unregister() { CoRevokeClassObject(CLSID_ORVOMNIDEALAPI); }

std::shared_ptr<SimTradeApi> SimTradeApi::Create(SimConfig config) {
  auto api = std::make_shared<SimTradeApi>(std::move(config));
  Instances& r = Registry();
  std::lock_guard lock(r.mutex);
  r.last = api;
  return api;
}

std::shared_ptr<SimTradeApi> SimTradeApi::Last() {
  Instances& r = Registry();
  std::lock_guard lock(r.mutex);
  return r.last.lock();
}

int SimTradeApi::CreatedCount() { return Registry().created; }
int SimTradeApi::AliveCount() { return Registry().alive; }
int SimTradeApi::DestroyedInsideOwnCall() { return Registry().destroyedInside; }
int SimTradeApi::AliveAtLastConnect() { return Registry().aliveAtConnect; }

void SimTradeApi::ResetCounters() {
  Registry().created = 0;
  Registry().destroyedInside = 0;
}

HRESULT SimTradeApi::Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) {
  CallScope scope(*this);
  if (const auto failing = config_.failingCalls.find(id); failing != config_.failingCalls.end()) {
    SetErrorInfo(u"simulated failure");
    return failing->second;
  }
  return DispatchObject::Invoke(id, flags, args, result);
}

void SimTradeApi::Deliver(PendingEvent event) {
  CallScope scope(*this);
  if (event.apply) event.apply();
  events_.Fire(event.id, event.args);
}

std::vector<SimCall> SimTradeApi::CallsNamed(std::u16string_view name) const {
  std::vector<SimCall> found;
  for (const SimCall& call : calls_)
    if (call.name == name) found.push_back(call);
  return found;
}

void SimTradeApi::ClearCalls() {
  calls_.clear();
  orders_.clear();
}

void SimTradeApi::Record(DISPID id, const std::u16string& name, bool propertyPut, std::span<VARIANT> args) {
  if (!config_.recordCalls) return;
  SimCall call{id, name, propertyPut, {}};
  call.args.resize(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) VariantCopyInd(&call.args[i], &args[i]);
  calls_.push_back(std::move(call));
}

void SimTradeApi::Bind(DISPID id, const char16_t* name, MemberKind kind, VARTYPE result,
                       std::vector<DispatchParam> params, DispatchHandler handler) {
  std::u16string member(name);
  MutableTable().Add({id, member, kind, result, std::move(params), u"",
                      [this, id, member, kind, handler = std::move(handler)](Args a, VARIANT* r) {
                        Record(id, member, kind == MemberKind::PropertyPut, a);
                        return handler(a, r);
                      }});
}

void SimTradeApi::BuildTable() {
  BindProperties();
  BindSession();
  BindReports();
  BindOrders();
}

void SimTradeApi::BindProperties() {
  auto putText = [this](std::u16string SimProperties::*field) {
    return [this, field](Args a, VARIANT*) {
      properties_.*field = a[0].bstrVal;
      return S_OK;
    };
  };
  constexpr MemberKind kPut = MemberKind::PropertyPut;
  Bind(omnideal::TWOrderPrefix, u"TWOrderPrefix", kPut, VT_EMPTY, {{kText, u"newValue"}},
       putText(&SimProperties::twOrderPrefix));
  Bind(omnideal::UseCA, u"UseCA", kPut, VT_EMPTY, {{kBool, u"newValue"}}, [this](Args a, VARIANT*) {
    properties_.useCA = a[0].boolVal != VARIANT_FALSE ? TRUE : FALSE;
    return S_OK;
  });
  Bind(omnideal::CAPath, u"CAPath", kPut, VT_EMPTY, {{kText, u"newValue"}}, putText(&SimProperties::caPath));
  Bind(omnideal::CAPassword, u"CAPassword", kPut, VT_EMPTY, {{kText, u"newValue"}},
       putText(&SimProperties::caPassword));
  Bind(omnideal::OBOrderPrefix, u"OBOrderPrefix", kPut, VT_EMPTY, {{kText, u"newValue"}},
       putText(&SimProperties::obOrderPrefix));
  Bind(omnideal::CAType, u"CAType", kPut, VT_EMPTY, {{kLong, u"newValue"}}, [this](Args a, VARIANT*) {
    properties_.caType = a[0].lVal;
    return S_OK;
  });
}

void SimTradeApi::BindSession() {
  constexpr MemberKind kMethod = MemberKind::Method;
  Bind(omnideal::GetStatus, u"GetStatus", kMethod, kLong, {},
       [this](Args, VARIANT* r) { return Answer(r, Long(status_)); });
  Bind(omnideal::Connect, u"Connect", kMethod, kLong,
       {{kLong, u"nLoginType"}, {kText, u"strLoginURL"}, {kText, u"strServerAddress"}, {kLong, u"nServerPort"},
        {kText, u"strProxyAddress"}, {kLong, u"nProxyPort"}, {kText, u"strCompany"}, {kText, u"strProduct"},
        {kText, u"strRocID"}, {kText, u"strBranchID"}, {kText, u"strCustID"}, {kText, u"strPassword"},
        {kLong, u"nEncodeType"}},
       [this](Args, VARIANT* r) {
         Registry().aliveAtConnect = Registry().alive.load();
         const long result = config_.connectResult;
         if (result == 0) {
           // The outcome arrives later, as the broker's answer would.
           status_ = kConnecting;
           PendingEvent outcome;
           if (config_.loginSucceeds) {
             outcome = {omnideal::EvStatus, {Long(kLoggedIn)}, [this] { status_ = kLoggedIn; }};
           } else {
             outcome = {omnideal::EvMessage,
                        {Long(config_.failCode), VARIANT(config_.failTextA), VARIANT(config_.failTextB)},
                        [this] { status_ = kDisconnected; }};
           }
           Schedule(std::move(outcome), Delivery::Posted);
           // The sessions' states follow the log-in, as the broker sends them.
           if (config_.loginSucceeds && config_.market)
             for (const std::u16string& text : config_.marketDates) MarketDate(text);
         }
         return Answer(r, Long(result));
       });
  Bind(omnideal::GetLoginDataCount, u"GetLoginDataCount", kMethod, kLong, {{kLong, u"nKind"}},
       [this](Args a, VARIANT* r) {
         return Answer(r, Long(a[0].lVal == 1 ? static_cast<long>(config_.accounts.size()) : 0));
       });
  Bind(omnideal::GetLoginDataString, u"GetLoginDataString", kMethod, kText,
       {{kLong, u"nKind"}, {kLong, u"nRow"}, {kLong, u"nField"}},
       [this](Args a, VARIANT* r) { return Answer(r, VARIANT(LoginText(a[0].lVal, a[1].lVal, a[2].lVal))); });
  Bind(omnideal::SetTradeAccount, u"SetTradeAccount", kMethod, VT_EMPTY,
       {{kLong, u"nMarketKind"}, {kText, u"strBranch"}, {kText, u"strAccount"}}, [](Args, VARIANT*) { return S_OK; });
}

void SimTradeApi::BindReports() {
  constexpr MemberKind kMethod = MemberKind::Method;
  const std::vector<DispatchParam> cell{{kLong, u"nKind"}, {kLong, u"nRow"}, {kLong, u"nField"}};
  Bind(omnideal::GetDataString, u"GetDataString", kMethod, kText, cell, [this](Args a, VARIANT* r) {
    return Answer(r, VARIANT(RowText(Market::Domestic, a[0].lVal, a[1].lVal, a[2].lVal)));
  });
  Bind(omnideal::GetDataValue, u"GetDataValue", kMethod, kLong, cell, [this](Args a, VARIANT* r) {
    return Answer(r, VARIANT(TruncateToLong(RowNumber(Market::Domestic, a[0].lVal, a[1].lVal, a[2].lVal))));
  });
  Bind(omnideal::GetOBDataString, u"GetOBDataString", kMethod, kText, cell, [this](Args a, VARIANT* r) {
    return Answer(r, VARIANT(RowText(Market::Overseas, a[0].lVal, a[1].lVal, a[2].lVal)));
  });
  Bind(omnideal::GetOBDataValue, u"GetOBDataValue", kMethod, VT_R8, cell, [this](Args a, VARIANT* r) {
    return Answer(r, VARIANT(RowNumber(Market::Overseas, a[0].lVal, a[1].lVal, a[2].lVal)));
  });
}

void SimTradeApi::BindOrders() {
  static constexpr struct {
    DISPID id;
    const char16_t* name;
    bool reduce;
  } kOrderMethods[] = {
      {omnideal::FutOrder, u"FutOrder", false},
      {omnideal::OptOrder, u"OptOrder", false},
      {omnideal::StkOrder, u"StkOrder", false},
      {omnideal::ReduceFutOrder, u"ReduceFutOrder", true},
      {omnideal::ReduceOptOrder, u"ReduceOptOrder", true},
      {omnideal::ReduceStkOrder, u"ReduceStkOrder", true},
      {omnideal::OBFutOrder, u"OBFutOrder", false},
      {omnideal::ReduceOBFutOrder, u"ReduceOBFutOrder", true},
  };
  for (const auto& m : kOrderMethods) {
    const std::u16string name(m.name);
    const DISPID id = m.id;
    if (m.reduce) {
      Bind(id, m.name, MemberKind::Method, kLong, {{kLong, u"nQuantity"}, {kOrderRef, u"pOrder"}},
           [this, id, name](Args a, VARIANT* r) { return TakeOrder(id, name, true, a[0].lVal, a[1], r); });
    } else {
      Bind(id, m.name, MemberKind::Method, kLong, {{kOrderRef, u"pOrder"}},
           [this, id, name](Args a, VARIANT* r) { return TakeOrder(id, name, false, 0, a[0], r); });
    }
  }
}

// The order array arrives by reference: a VARIANT holding a safe array of 36 VARIANTs.
HRESULT SimTradeApi::TakeOrder(DISPID id, const std::u16string& name, bool reduce, long quantity,
                               const VARIANT& ref, VARIANT* result) {
  const VARIANT* order = ref.vt == kOrderRef ? ref.pvarVal : nullptr;
  if (order == nullptr || order->vt != (VT_ARRAY | VT_VARIANT) || order->parray == nullptr) return DISP_E_TYPEMISMATCH;
  SAFEARRAY* psa = order->parray;
  if (SafeArrayGetDim(psa) != 1 || psa->rgsabound[0].cElements != kOrderFieldCount) return E_INVALIDARG;

  SimOrder taken{id, name, reduce, quantity, {}};
  void* data = nullptr;
  if (const HRESULT hr = SafeArrayAccessData(psa, &data); FAILED(hr)) return hr;
  try {
    const auto* first = static_cast<const VARIANT*>(data);
    taken.fields.assign(first, first + kOrderFieldCount);
  } catch (...) {
    SafeArrayUnaccessData(psa);
    throw;
  }
  SafeArrayUnaccessData(psa);

  if (config_.recordCalls) orders_.push_back(taken);
  long answer = config_.onOrder ? config_.onOrder(taken) : config_.orderResult;
  if (answer == 0 && config_.bookOrders) {
    if (reduce) {
      BookChange(taken);
    } else {
      answer = BookOrder(taken);
    }
  }
  return Answer(result, Long(answer));
}

std::u16string SimTradeApi::LoginText(long kind, long row, long field) const {
  if (kind != 1) return {};
  const SimFields* fields = nullptr;
  if (row == -1) {
    fields = &config_.loginData;
  } else if (row >= 0 && static_cast<std::size_t>(row) < config_.accounts.size()) {
    fields = &config_.accounts[static_cast<std::size_t>(row)];
  }
  if (fields == nullptr) return {};
  const auto it = fields->find(field);
  return it == fields->end() ? std::u16string() : it->second;
}

}  // namespace kdx::sim
