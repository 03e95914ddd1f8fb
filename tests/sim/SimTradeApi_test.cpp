#include "sim/SimTradeApi.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/class_factory.h"
#include "platform/safearray.h"

namespace kdx::sim {
namespace {

void Pump() {
  for (int i = 0; i < 100 && MessageLoop::ForCurrentThread().RunPending(); ++i) {
  }
}

// Records every event by DISPID; onEvent runs inside the event.
class EventLog : public IDispatch {
 public:
  struct Event {
    DISPID id;
    std::vector<VARIANT> args;
  };
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, WORD, std::span<VARIANT> args, VARIANT*) override {
    events.push_back({id, {args.begin(), args.end()}});
    if (onEvent) onEvent(id);
    return S_OK;
  }
  std::vector<Event> events;
  std::function<void(DISPID)> onEvent;
};

VARIANT OrderArray(std::size_t count, int32_t seed = 0) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
  for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
    VARIANT v(seed + i);
    SafeArrayPutElement(psa, &i, &v);
  }
  return VARIANT::Array(psa);
}

std::vector<VARIANT> Longs(std::initializer_list<int32_t> values) {
  return std::vector<VARIANT>(values.begin(), values.end());
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  switch (a.vt) {
    case VT_EMPTY: return true;
    case VT_I4: return a.lVal == b.lVal;
    case VT_R8: return a.dblVal == b.dblVal;
    case VT_BSTR: return a.bstrVal == b.bstrVal;
    default: return false;
  }
}

class SimTradeApiTest : public testing::Test {
 protected:
  void SetUp() override {
    SimConfig config;
    config.loginData[214] = u"G1=A1";
    config.accounts.push_back(SimConfig::Account(u"9A96", u"0000777"));
    api = SimTradeApi::Create(config);
    api->FindConnectionPoint()->Advise(log);
    api->SetRow(Market::Domestic, 3, 0, SimRow().Text(5, u"9A950012345").Number(151, 15500.9).Number(-1, 41));
    api->SetRow(Market::Overseas, 7, 2, SimRow().Text(208, u"OB1").Number(151, 1.5).Number(156, -2.7));
  }
  void TearDown() override { Pump(); }

  HRESULT Call(std::u16string_view name, std::vector<VARIANT> args, VARIANT* result = nullptr,
               WORD flags = DISPATCH_METHOD) {
    return InvokeByName(*api, name, flags, args, result);
  }

  std::shared_ptr<SimTradeApi> api;
  std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
};

struct MemberCase {
  const char16_t* name;
  DISPID id;
  WORD flags;
  std::function<std::vector<VARIANT>()> args;
  VARIANT expected;
  std::function<bool(const SimTradeApi&)> effect;  // null: nothing to check beyond the result
};

TEST_F(SimTradeApiTest, EveryMemberAnswersByNumberAndByNameWithItsDeclaredType) {
  constexpr WORD put = DISPATCH_PROPERTYPUT, method = DISPATCH_METHOD;
  auto none = [] { return std::vector<VARIANT>{}; };
  auto connectArgs = [] {
    return std::vector<VARIANT>{1, u"url", u"host", 443, u"", 0, u"ORV", u"nPlexII", u"A1", u"9A95", u"0012345",
                                u"pw", 1};
  };
  auto lastOrder = [](DISPID id, bool reduce, long qty) {
    return [=](const SimTradeApi& a) {
      const SimOrder& o = a.Orders().back();
      return o.id == id && o.reduce == reduce && o.quantity == qty && o.fields.size() == kOrderFieldCount &&
             o.fields[35].lVal == 135;
    };
  };
  const std::vector<MemberCase> cases = {
      {u"TWOrderPrefix", 1, put, [] { return std::vector<VARIANT>{u"TW"}; }, {},
       [](const SimTradeApi& a) { return a.Properties().twOrderPrefix == u"TW"; }},
      {u"UseCA", 5, put, [] { return std::vector<VARIANT>{VARIANT::Bool(false)}; }, {},
       [](const SimTradeApi& a) { return a.Properties().useCA == FALSE; }},
      {u"CAPath", 6, put, [] { return std::vector<VARIANT>{u"/ca"}; }, {},
       [](const SimTradeApi& a) { return a.Properties().caPath == u"/ca"; }},
      {u"CAPassword", 7, put, [] { return std::vector<VARIANT>{u"capw"}; }, {},
       [](const SimTradeApi& a) { return a.Properties().caPassword == u"capw"; }},
      {u"OBOrderPrefix", 8, put, [] { return std::vector<VARIANT>{u"OB"}; }, {},
       [](const SimTradeApi& a) { return a.Properties().obOrderPrefix == u"OB"; }},
      {u"CAType", 9, put, [] { return std::vector<VARIANT>{u"-1"}; }, {},
       [](const SimTradeApi& a) { return a.Properties().caType == -1; }},
      {u"GetStatus", 10, method, none, VARIANT(0), nullptr},
      {u"Connect", 11, method, connectArgs, VARIANT(0), [](const SimTradeApi& a) { return a.Status() == 1; }},
      {u"GetLoginDataCount", 15, method, [] { return Longs({1}); }, VARIANT(2), nullptr},
      {u"GetLoginDataCount", 15, method, [] { return Longs({2}); }, VARIANT(0), nullptr},
      {u"GetLoginDataString", 16, method, [] { return Longs({1, -1, 214}); }, VARIANT(u"G1=A1"), nullptr},
      {u"GetLoginDataString", 16, method, [] { return Longs({1, 1, 5}); }, VARIANT(u"9A960000777"), nullptr},
      {u"GetLoginDataString", 16, method, [] { return Longs({1, 2, 5}); }, VARIANT(u""), nullptr},
      {u"GetLoginDataString", 16, method, [] { return Longs({2, -1, 34}); }, VARIANT(u""), nullptr},
      {u"SetTradeAccount", 17, method, [] { return std::vector<VARIANT>{0, u"9A95", u"0012345"}; }, {},
       [](const SimTradeApi& a) { return a.Calls().back().args[2].bstrVal == u"0012345"; }},
      {u"GetDataString", 18, method, [] { return Longs({3, 0, 5}); }, VARIANT(u"9A950012345"), nullptr},
      {u"GetDataString", 18, method, [] { return Longs({3, 1, 5}); }, VARIANT(u""), nullptr},
      {u"GetDataValue", 19, method, [] { return Longs({3, 0, 151}); }, VARIANT(15500), nullptr},
      {u"GetDataValue", 19, method, [] { return Longs({3, 0, -1}); }, VARIANT(41), nullptr},
      {u"GetDataValue", 19, method, [] { return Longs({3, 0, 999}); }, VARIANT(0), nullptr},
      {u"GetOBDataString", 31, method, [] { return Longs({7, 2, 208}); }, VARIANT(u"OB1"), nullptr},
      {u"GetOBDataString", 31, method, [] { return Longs({3, 0, 5}); }, VARIANT(u""), nullptr},
      {u"GetOBDataValue", 32, method, [] { return Longs({7, 2, 156}); }, VARIANT(-2.7), nullptr},
      {u"GetOBDataValue", 32, method, [] { return Longs({7, 2, -1}); }, VARIANT(1.0), nullptr},
      {u"FutOrder", 21, method, [] { return std::vector<VARIANT>{OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(21, false, 0)},
      {u"OptOrder", 22, method, [] { return std::vector<VARIANT>{OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(22, false, 0)},
      {u"StkOrder", 24, method, [] { return std::vector<VARIANT>{OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(24, false, 0)},
      {u"OBFutOrder", 29, method, [] { return std::vector<VARIANT>{OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(29, false, 0)},
      {u"ReduceFutOrder", 25, method, [] { return std::vector<VARIANT>{2, OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(25, true, 2)},
      {u"ReduceOptOrder", 26, method, [] { return std::vector<VARIANT>{3, OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(26, true, 3)},
      {u"ReduceStkOrder", 28, method, [] { return std::vector<VARIANT>{4, OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(28, true, 4)},
      {u"ReduceOBFutOrder", 30, method, [] { return std::vector<VARIANT>{5, OrderArray(36, 100)}; }, VARIANT(0),
       lastOrder(30, true, 5)},
  };
  std::size_t covered = 0;
  for (const MemberCase& c : cases) {
    for (bool byName : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name))
                                      << (byName ? " by name" : " by number"));
      std::vector<VARIANT> args = c.args();
      VARIANT result;
      const std::size_t calls = api->Calls().size();
      const HRESULT hr = byName ? Call(c.name, args, &result, c.flags) : api->Invoke(c.id, c.flags, args, &result);
      ASSERT_EQ(hr, S_OK);
      EXPECT_TRUE(SameValue(result, c.expected)) << "vt " << result.vt;
      ASSERT_EQ(api->Calls().size(), calls + 1);
      EXPECT_EQ(api->Calls().back().id, c.id);
      EXPECT_EQ(api->Calls().back().args.size(), args.size());
      EXPECT_EQ(api->Calls().back().propertyPut, c.flags == put);
      if (c.effect) {
        EXPECT_TRUE(c.effect(*api));
      }
    }
  }
  for (const DispatchMember& m : api->Table())
    covered += std::any_of(cases.begin(), cases.end(), [&](const MemberCase& c) { return c.id == m.id; });
  EXPECT_EQ(covered, api->Table().size()) << "a member without a case";
  EXPECT_EQ(api->Table().size(), 23u);
}

TEST_F(SimTradeApiTest, WrongArgumentCountsAndTypesAreRefusedBeforeAnythingIsRecorded) {
  int32_t number = 5;
  VARIANT longByRef;
  longByRef.vt = VT_BYREF | VT_I4;
  longByRef.plVal = &number;
  auto badValueFor = [&](VARTYPE vt) -> VARIANT {
    switch (vt) {
      case VT_I4: return VARIANT(u"twelve");
      case VT_BOOL: return VARIANT(u"perhaps");
      case VT_BSTR: return OrderArray(2);
      default: return longByRef;  // a reference, but not to a VARIANT
    }
  };
  for (const DispatchMember& m : api->Table()) {
    SCOPED_TRACE(std::string(m.name.begin(), m.name.end()));
    const WORD flags = m.kind == MemberKind::PropertyPut ? DISPATCH_PROPERTYPUT : DISPATCH_METHOD;
    std::vector<VARIANT> good(m.params.size(), VARIANT(1));
    for (std::size_t i = 0; i < m.params.size(); ++i)
      if (m.params[i].vt == VT_BSTR) good[i] = u"x";
    std::vector<VARIANT> tooMany = good;
    tooMany.emplace_back(1);
    VARIANT result;
    EXPECT_EQ(api->Invoke(m.id, flags, tooMany, &result), DISP_E_BADPARAMCOUNT);
    if (!good.empty()) {
      std::vector<VARIANT> tooFew(good.begin(), good.end() - 1);
      EXPECT_EQ(api->Invoke(m.id, flags, tooFew, &result), DISP_E_BADPARAMCOUNT);
    }
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      std::vector<VARIANT> bad = good;
      bad[i] = badValueFor(m.params[i].vt);
      EXPECT_EQ(api->Invoke(m.id, flags, bad, &result), DISP_E_TYPEMISMATCH) << "parameter " << i;
    }
    // A put member is not a method, and a method takes no put.
    EXPECT_EQ(api->Invoke(m.id, flags ^ (DISPATCH_METHOD | DISPATCH_PROPERTYPUT), good, &result),
              DISP_E_MEMBERNOTFOUND);
  }
  EXPECT_TRUE(api->Calls().empty());
  EXPECT_EQ(api->Invoke(99, DISPATCH_METHOD, {}, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(u"NoSuchMember", {}), DISP_E_UNKNOWNNAME);
}

struct LoginCase {
  const char* label;
  bool succeeds;
  long failCode;
  long connectResult;
  long statusWhileConnecting;
  std::vector<DISPID> events;  // after the pump
  long statusAfter;
  friend void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.label; }
};

class SimLoginTest : public testing::TestWithParam<LoginCase> {};

TEST_P(SimLoginTest, OutcomeArrivesOnlyWhenTheLoopRuns) {
  const LoginCase& c = GetParam();
  SimConfig config;
  config.loginSucceeds = c.succeeds;
  config.failCode = c.failCode;
  config.connectResult = c.connectResult;
  auto api = SimTradeApi::Create(config);
  auto log = std::make_shared<EventLog>();
  api->FindConnectionPoint()->Advise(log);
  std::vector<VARIANT> args{1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"A1", u"", u"", u"pw", 1};
  VARIANT result;
  ASSERT_EQ(api->Invoke(omnideal::Connect, DISPATCH_METHOD, args, &result), S_OK);
  EXPECT_EQ(result.lVal, c.connectResult);
  EXPECT_EQ(api->Status(), c.statusWhileConnecting);
  EXPECT_TRUE(log->events.empty()) << "raised inside the caller's call";
  Pump();
  ASSERT_EQ(log->events.size(), c.events.size());
  for (std::size_t i = 0; i < c.events.size(); ++i) EXPECT_EQ(log->events[i].id, c.events[i]);
  if (!c.events.empty() && c.events[0] == omnideal::EvStatus) {
    EXPECT_EQ(log->events[0].args[0].lVal, 2);
  }
  if (!c.events.empty() && c.events[0] == omnideal::EvMessage) {
    const auto& a = log->events[0].args;
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].lVal, c.failCode);
    EXPECT_EQ(a[1].bstrVal, config.failTextA);
    EXPECT_EQ(a[2].bstrVal, config.failTextB);
  }
  EXPECT_EQ(api->Status(), c.statusAfter);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, SimLoginTest,
                         testing::Values(LoginCase{"success", true, 0, 0, 1, {omnideal::EvStatus}, 2},
                                         LoginCase{"code0", false, 0, 0, 1, {omnideal::EvMessage}, 0},
                                         LoginCase{"code1", false, 1, 0, 1, {omnideal::EvMessage}, 0},
                                         LoginCase{"refused", true, 0, -3, 0, {}, 0}),
                         [](const auto& info) { return std::string(info.param.label); });

struct RowHookCase {
  const char* label;
  std::function<void(SimTradeApi&, Market)> hook;  // on kind 4, row 9
  DISPID domestic, overseas;
  bool rowAfter;
  friend void PrintTo(const RowHookCase& c, std::ostream* os) { *os << c.label; }
};

class SimRowHookTest : public testing::TestWithParam<RowHookCase> {};

TEST_P(SimRowHookTest, RaisesItsEventWithKindAndRowAndChangesTheTableAsItGoesOut) {
  const RowHookCase& c = GetParam();
  for (Market market : {Market::Domestic, Market::Overseas}) {
    auto api = SimTradeApi::Create();
    auto log = std::make_shared<EventLog>();
    api->FindConnectionPoint()->Advise(log);
    api->SetRow(market, 4, 9, SimRow().Text(147, u"old").Number(364, 1));
    const DISPID readText = market == Market::Domestic ? omnideal::GetDataString : omnideal::GetOBDataString;
    std::u16string seen;
    log->onEvent = [&](DISPID) {
      std::vector<VARIANT> a = Longs({4, 9, 147});
      VARIANT r;
      api->Invoke(readText, DISPATCH_METHOD, a, &r);
      seen = r.bstrVal;
    };
    c.hook(*api, market);
    EXPECT_TRUE(log->events.empty());
    EXPECT_EQ(api->FindRow(market, 4, 9)->text.at(147), u"old") << "changed before its event";
    Pump();
    ASSERT_EQ(log->events.size(), 1u);
    EXPECT_EQ(log->events[0].id, market == Market::Domestic ? c.domestic : c.overseas);
    ASSERT_EQ(log->events[0].args.size(), 2u);
    EXPECT_EQ(log->events[0].args[0].lVal, 4);
    EXPECT_EQ(log->events[0].args[1].lVal, 9);
    EXPECT_EQ(api->FindRow(market, 4, 9) != nullptr, c.rowAfter);
    if (c.rowAfter) {
      EXPECT_EQ(seen, u"new");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, SimRowHookTest,
    testing::Values(
        RowHookCase{"AddOrder", [](SimTradeApi& a, Market m) { a.AddOrder(m, 4, 9, SimRow().Text(147, u"new")); },
                    omnideal::EvOrderNew, omnideal::EvOBOrderNew, true},
        RowHookCase{"ChangeOrder", [](SimTradeApi& a, Market m) { a.ChangeOrder(m, 4, 9, SimRow().Text(147, u"new")); },
                    omnideal::EvOrderChanged, omnideal::EvOBOrderChanged, true},
        RowHookCase{"RemoveOrder", [](SimTradeApi& a, Market m) { a.RemoveOrder(m, 4, 9); }, omnideal::EvOrderRemoved,
                    omnideal::EvOBOrderRemoved, false},
        RowHookCase{"AddFill", [](SimTradeApi& a, Market m) { a.AddFill(m, 4, 9, SimRow().Text(147, u"new")); },
                    omnideal::EvFillNew, omnideal::EvOBFillNew, true},
        RowHookCase{"ChangeFill", [](SimTradeApi& a, Market m) { a.ChangeFill(m, 4, 9, SimRow().Text(147, u"new")); },
                    omnideal::EvFillChanged, omnideal::EvOBFillChanged, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SimTradeApiTest, OtherHooksRaiseTheirEventsInOrderPostedOrAtOnce) {
  std::vector<VARIANT> connect{1, u"", u"", 443, u"", 0, u"", u"", u"", u"", u"", u"", 1};
  api->Invoke(omnideal::Connect, DISPATCH_METHOD, connect, nullptr);
  Pump();
  log->events.clear();
  api->MarketDate(u"NML000OPEN");
  api->StatementChanged();
  api->StatementChanged(omnideal::EvStatement13);
  api->Raise(omnideal::EvIgnored10, {VARIANT(7), VARIANT(u"a"), VARIANT(u"b")});
  api->Disconnect();
  EXPECT_EQ(api->PendingEvents(), 5u);
  EXPECT_EQ(api->Status(), SimTradeApi::kLoggedIn) << "disconnected before its event";
  api->Raise(omnideal::EvIgnored12, {VARIANT(3)}, Delivery::Now);
  ASSERT_EQ(log->events.size(), 1u);
  EXPECT_EQ(log->events[0].id, omnideal::EvIgnored12);
  Pump();
  const std::vector<DISPID> order{omnideal::EvIgnored12, omnideal::EvMarketDate, omnideal::EvStatement,
                                  omnideal::EvStatement13, omnideal::EvIgnored10, omnideal::EvStatus};
  ASSERT_EQ(log->events.size(), order.size());
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(log->events[i].id, order[i]) << i;
  EXPECT_EQ(log->events[1].args[0].bstrVal, u"NML000OPEN");
  EXPECT_EQ(log->events[4].args[2].bstrVal, u"b");
  EXPECT_EQ(log->events[5].args[0].lVal, 0);
  EXPECT_EQ(api->Status(), SimTradeApi::kDisconnected);
}

TEST_F(SimTradeApiTest, OrderMethodsKeepADeepCopyAndHandTheArrayBackUnlocked) {
  VARIANT order = OrderArray(36, 500);
  VARIANT byRef = VARIANT::ByRef(&order);
  api->Config().orderResult = -7;
  VARIANT result;
  ASSERT_EQ(api->Invoke(omnideal::StkOrder, DISPATCH_METHOD, std::span<VARIANT>(&byRef, 1), &result), S_OK);
  EXPECT_EQ(result.lVal, -7);
  EXPECT_EQ(order.parray->cLocks, 0u);
  LONG first = 0;
  VARIANT changed(u"changed");
  SafeArrayPutElement(order.parray, &first, &changed);
  ASSERT_EQ(api->Orders().size(), 1u);
  EXPECT_EQ(api->Orders()[0].fields[0].lVal, 500) << "a copy, not the caller's array";
  EXPECT_EQ(api->Orders()[0].fields[35].lVal, 535);
  ASSERT_EQ(api->Calls().back().args[0].vt, VT_ARRAY | VT_VARIANT) << "the call log holds the value, not a pointer";

  api->Config().onOrder = [](const SimOrder& o) { return o.quantity * 10; };
  std::vector<VARIANT> reduce{VARIANT(3), VARIANT::ByRef(&order)};
  ASSERT_EQ(api->Invoke(omnideal::ReduceOBFutOrder, DISPATCH_METHOD, reduce, &result), S_OK);
  EXPECT_EQ(result.lVal, 30);
  EXPECT_EQ(api->Orders()[1].fields[0].bstrVal, u"changed");

  for (VARIANT wrong : {OrderArray(35), OrderArray(37)}) {
    VARIANT ref = VARIANT::ByRef(&wrong);
    EXPECT_EQ(api->Invoke(omnideal::FutOrder, DISPATCH_METHOD, std::span<VARIANT>(&ref, 1), &result), E_INVALIDARG);
  }
  VARIANT notArray(12);
  EXPECT_EQ(api->Invoke(omnideal::OptOrder, DISPATCH_METHOD, std::span<VARIANT>(&notArray, 1), &result),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(api->Orders().size(), 2u);
  EXPECT_EQ(api->Calls().size(), 5u) << "refused orders are still calls";
}

TEST(SimTradeApiRegistry, FactoryCountsInstancesAndDetectsReleaseInsideOwnCall) {
  SimTradeApi::ResetCounters();
  const int aliveBefore = SimTradeApi::AliveCount();
  SimConfig config;
  config.connectResult = 4;
  SimTradeApi::Register(config);
  std::shared_ptr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), S_OK);
  auto api = std::dynamic_pointer_cast<SimTradeApi>(object);
  ASSERT_TRUE(api);
  EXPECT_EQ(SimTradeApi::Last(), api);
  EXPECT_EQ(SimTradeApi::CreatedCount(), 1);
  EXPECT_EQ(SimTradeApi::AliveCount(), aliveBefore + 1);
  EXPECT_EQ(api->Config().connectResult, 4);
  EXPECT_NE(dynamic_cast<IConnectionPointContainer*>(object.get()), nullptr);

  // Events still queued die with the component.
  api->MarketDate(u"FUT000OPEN");
  object.reset();
  api.reset();
  EXPECT_EQ(SimTradeApi::Last(), nullptr);
  EXPECT_EQ(SimTradeApi::AliveCount(), aliveBefore);
  Pump();
  EXPECT_EQ(SimTradeApi::DestroyedInsideOwnCall(), 0);

  // A sink that lets go of the last reference inside the event.
  api = SimTradeApi::Create();
  auto log = std::make_shared<EventLog>();
  api->FindConnectionPoint()->Advise(log);
  log->onEvent = [&](DISPID) { api.reset(); };
  api->StatementChanged();
  Pump();
  EXPECT_EQ(api, nullptr);
  EXPECT_EQ(SimTradeApi::DestroyedInsideOwnCall(), 1);
  EXPECT_EQ(SimTradeApi::AliveCount(), aliveBefore);

  SimTradeApi::ResetCounters();
  SimTradeApi::Unregister();
  EXPECT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace kdx::sim
