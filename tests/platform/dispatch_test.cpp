#include "platform/dispatch.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/class_factory.h"
#include "platform/safearray.h"

namespace kdx {
namespace {

using Args = std::span<VARIANT>;
using K = MemberKind;

HRESULT Answer(VARIANT* result, VARIANT value) {
  *result = std::move(value);
  return S_OK;
}

// A component shaped like the ones this layer serves: methods with typed parameters,
// VARIANT* order arrays, a property put, handlers that throw or fail.
class Component : public DispatchObject {
 public:
  Component() {
    DispatchTable& t = MutableTable();
    t.Add({1, u"Login", K::Method, VT_I4, {{VT_BSTR, u"strProfilePath"}, {VT_BSTR, u"strSession"}}, u"",
           [](Args a, VARIANT* r) { return Answer(r, int32_t(a[0].bstrVal.size() * 100 + a[1].bstrVal.size())); }});
    t.Add({6, u"GetOrderString", K::Method, VT_BSTR, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}, u"",
           [](Args a, VARIANT* r) {
             return Answer(r, std::u16string{u'r', char16_t(u'0' + a[0].lVal), u'/', char16_t(u'0' + a[1].lVal)});
           }});
    // Answers I4 although R8 is declared: the table converts.
    t.Add({7, u"GetOrderValue", K::Method, VT_R8, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}, u"",
           [](Args a, VARIANT* r) { return Answer(r, a[0].lVal + a[1].lVal); }});
    t.Add({5, u"UseCA", K::PropertyPut, VT_EMPTY, {{VT_BOOL, u"value"}}, u"",
           [this](Args a, VARIANT*) { return useCA = a[0].boolVal != VARIANT_FALSE, S_OK; }});
    t.Add({24, u"StkOrder", K::Method, VT_I4, {{VT_BYREF | VT_VARIANT, u"fields"}}, u"", [this](Args a, VARIANT* r) {
             if (a[0].vt != (VT_BYREF | VT_VARIANT)) return E_UNEXPECTED;
             lastOrder = a[0].pvarVal;
             if (lastOrder->vt != (VT_ARRAY | VT_VARIANT)) return Answer(r, -1);
             SafeArrayDataAccess access(lastOrder->parray);
             if (FAILED(access.Result()) || access.Count() != 36) return E_INVALIDARG;
             return Answer(r, access.Variants()[11]);
           }});
    t.Add({40, u"Explode", K::Method, VT_EMPTY, {}, u"", [](Args, VARIANT*) -> HRESULT { throw std::exception(); }});
    t.Add({41, u"WrongResult", K::Method, VT_I4, {}, u"", [](Args, VARIANT* r) { return Answer(r, u"x"); }});
    t.Add({42, u"Refuse", K::Method, VT_I4, {}, u"", [](Args, VARIANT*) { return E_ACCESSDENIED; }});
    t.Add({43, u"Unbound", K::Method, VT_EMPTY, {}, u"", nullptr});
    t.Add({DISPID_ABOUTBOX, u"AboutBox", K::Method, VT_EMPTY, {}, u"", nullptr});
  }

  bool useCA = false;
  VARIANT* lastOrder = nullptr;
};

VARIANT RefLong(LONG* value) {
  VARIANT v;
  v.vt = VT_BYREF | VT_I4;
  v.plVal = value;
  return v;
}

// Type and value of the results compared here.
std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_I4: return "I4 " + std::to_string(v.lVal);
    case VT_R8: return "R8 " + std::to_string(v.dblVal);
    case VT_BSTR: return "BSTR " + std::string(v.bstrVal.begin(), v.bstrVal.end());
    default: return "vt " + std::to_string(v.vt);
  }
}

TEST(DispatchTable, InvokeChecksCountTypesAndKind) {
  constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;
  // What, DISPID, flags, arguments, result code and (when that succeeds) the result.
  const std::tuple<const char*, DISPID, WORD, std::vector<VARIANT>, HRESULT, VARIANT> calls[] = {
      {"typed call", 1, M, {u"abc", u"de"}, S_OK, 302},
      {"VB style method get", 1, M | G, {u"a", u""}, S_OK, 100},
      {"property get on a method", 1, G, {u"a", u"b"}, DISP_E_MEMBERNOTFOUND, {}},
      {"too few arguments", 1, M, {u"a"}, DISP_E_BADPARAMCOUNT, {}},
      {"too many arguments", 1, M, {u"a", u"b", u"c"}, DISP_E_BADPARAMCOUNT, {}},
      {"BOOL as True, number into text", 1, M, {VARIANT::Bool(true), 1.5}, S_OK, 403},
      {"text into a number parameter", 6, M, {u"2", 5}, S_OK, u"r2/5"},
      {"failed coercion passed on", 6, M, {3e9, 5}, DISP_E_OVERFLOW, {}},
      {"result coerced to declared type", 7, M, {2, 3}, S_OK, 5.0},
      {"unknown DISPID", 99, M, {}, DISP_E_MEMBERNOTFOUND, {}},
      {"put on a method", 1, P, {u"a", u"b"}, DISP_E_MEMBERNOTFOUND, {}},
      {"method call on a put", 5, M, {VARIANT::Bool(true)}, DISP_E_MEMBERNOTFOUND, {}},
      {"put without its value", 5, P, {}, DISP_E_BADPARAMCOUNT, {}},
      {"handler exception", 40, M, {}, DISP_E_EXCEPTION, {}},
      {"handler result of the wrong type", 41, M, {}, DISP_E_TYPEMISMATCH, {}},
      {"handler failure passed on", 42, M, {}, E_ACCESSDENIED, {}},
      {"unbound member", 43, M, {}, E_NOTIMPL, {}},
  };
  Component component;
  for (const auto& [what, id, flags, arguments, hr, expected] : calls) {
    std::vector<VARIANT> args = arguments;
    VARIANT result = u"stale";
    EXPECT_EQ(component.Invoke(id, flags, args, &result), hr) << what;
    EXPECT_EQ(Describe(result), Describe(SUCCEEDED(hr) ? expected : VARIANT(u"stale"))) << what;
  }
  VARIANT on = VARIANT::Bool(true);
  EXPECT_EQ(component.Invoke(5, DISPATCH_PROPERTYPUT, Args(&on, 1), nullptr), S_OK);
  EXPECT_TRUE(component.useCA);
  VARIANT args[2] = {u"x", u"y"};
  EXPECT_EQ(component.Invoke(1, DISPATCH_METHOD, args, nullptr), S_OK) << "a result may be discarded";
}

TEST(DispatchTable, FindsMembersByNameInAnyCase) {
  Component component;
  const std::pair<std::u16string_view, DISPID> names[] = {
      {u"LOGIN", 1}, {u"aboutbox", DISPID_ABOUTBOX}, {u"Logi", DISPID_UNKNOWN}, {u"", DISPID_UNKNOWN}};
  for (const auto& [name, expected] : names) {
    DISPID id = 12345;
    EXPECT_EQ(component.GetIDsOfNames(name, &id), expected == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK);
    EXPECT_EQ(id, expected);
  }
  VARIANT args[2] = {u"ab", u"c"};
  VARIANT result;
  ASSERT_EQ(InvokeByName(component, u"lOgIn", DISPATCH_METHOD, args, &result), S_OK);
  EXPECT_EQ(result.lVal, 201);
  EXPECT_EQ(InvokeByName(component, u"Nope", DISPATCH_METHOD, args, &result), DISP_E_UNKNOWNNAME);
}

TEST(DispatchTable, PassesVariantPointersThrough) {
  Component component;
  VARIANT order = VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, 36));
  SafeArrayDataAccess(order.parray).Variants()[11] = 123450;
  VARIANT arg = VARIANT::ByRef(&order), result;
  ASSERT_EQ(component.Invoke(24, DISPATCH_METHOD, Args(&arg, 1), &result), S_OK);
  EXPECT_EQ(result.lVal, 123450);
  EXPECT_EQ(component.lastOrder, &order) << "the callee must see the caller's own VARIANT";
  EXPECT_EQ(order.parray->cLocks, 0u);

  // Passed by value, the argument itself is what the callee gets a pointer to.
  VARIANT byValue = 7;
  ASSERT_EQ(component.Invoke(24, DISPATCH_METHOD, Args(&byValue, 1), &result), S_OK);
  EXPECT_EQ(result.lVal, -1);
  EXPECT_EQ(component.lastOrder, &byValue);

  LONG n = 1;
  for (VARIANT bad : {RefLong(&n), VARIANT::ByRef(nullptr)})
    EXPECT_EQ(component.Invoke(24, DISPATCH_METHOD, Args(&bad, 1), &result), DISP_E_TYPEMISMATCH);
}

DispatchMember Member(DISPID id, std::u16string name, MemberKind kind, VARTYPE result,
                      std::vector<DispatchParam> params = {}) {
  return {id, std::move(name), kind, result, std::move(params), u"", nullptr};
}

TEST(DispatchTable, RefusesInconsistentRows) {
  const DispatchTable base{Member(1, u"Login", K::Method, VT_I4), Member(5, u"UseCA", K::PropertyGet, VT_BOOL)};
  ASSERT_EQ(base.size(), 2u);
  const std::tuple<const char*, DispatchMember, HRESULT> rows[] = {
      {"same DISPID and kind", Member(1, u"Login", K::Method, VT_I4), E_INVALIDARG},
      {"DISPID renamed", Member(1, u"Logon", K::PropertyGet, VT_I4), E_INVALIDARG},
      {"name on another DISPID", Member(2, u"LOGIN", K::Method, VT_I4), E_INVALIDARG},
      {"method sharing a property's DISPID", Member(5, u"UseCA", K::Method, VT_EMPTY), E_INVALIDARG},
      {"empty name", Member(3, u"", K::Method, VT_EMPTY), E_INVALIDARG},
      {"put without value", Member(5, u"UseCA", K::PropertyPut, VT_EMPTY), E_INVALIDARG},
      {"put with a result", Member(5, u"UseCA", K::PropertyPut, VT_I4, {{VT_BOOL, u"v"}}), E_INVALIDARG},
      {"unknown parameter type", Member(3, u"X", K::Method, VT_EMPTY, {{77, u"p"}}), E_INVALIDARG},
      {"BYREF long parameter", Member(3, u"X", K::Method, VT_EMPTY, {{VT_BYREF | VT_I4, u"p"}}), E_INVALIDARG},
      {"put beside its get", Member(5, u"useca", K::PropertyPut, VT_EMPTY, {{VT_BOOL, u"v"}}), S_OK},
      {"new member", Member(3, u"X", K::Method, VT_VARIANT, {{VT_VARIANT, u"p"}}), S_OK},
  };
  for (const auto& [what, row, hr] : rows) {
    DispatchTable t = base;
    EXPECT_EQ(t.Add(row), hr) << what;
    EXPECT_EQ(t.size(), SUCCEEDED(hr) ? 3u : 2u) << what;
  }
  DispatchTable t = base;
  EXPECT_EQ(t.Bind(9, K::Method, [](Args, VARIANT*) { return S_OK; }), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(t.Bind(5, K::PropertyGet, [](Args, VARIANT* r) { return Answer(r, VARIANT::Bool(true)); }), S_OK);
  VARIANT result;
  ASSERT_EQ(t.Invoke(5, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST(DispatchTable, HandlerMayRebuildItsOwnTable) {
  DispatchTable t;
  t.Add(Member(1, u"Grow", K::Method, VT_I4));
  int calls = 0;
  t.Bind(1, K::Method, [&](Args, VARIANT* r) {
    // Reallocates the rows while this handler runs.
    for (DISPID id = 100; id < 140; ++id) t.Add(Member(id, u"M" + std::u16string(1, char16_t(id)), K::Method, {}));
    t.Bind(1, K::Method, nullptr);
    return Answer(r, ++calls);
  });
  VARIANT result;
  ASSERT_EQ(t.Invoke(1, DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_EQ(result.lVal, 1);
  EXPECT_EQ(t.size(), 41u);
  EXPECT_EQ(t.Invoke(1, DISPATCH_METHOD, {}, &result), E_NOTIMPL);
}

// A sink that records each event and then runs an optional action.
class Sink : public IDispatch {
 public:
  Sink(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, WORD, Args args, VARIANT*) override {
    log_->push_back(name_ + ":" + std::to_string(id) + (args.empty() ? "" : "=" + std::to_string(args[0].lVal)));
    if (!args.empty()) args[0] = -99;  // must not leak into the next sink's arguments
    if (action) action();
    return S_OK;
  }
  std::function<void()> action;

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

// Sinks a, b, c advised in that order and held by the connection point alone, so an
// unadvise mid-fire drops the last owner outside Fire's own snapshot.
struct Wiring {
  ConnectionPoint& cp;
  Sink* sink[3];
  DWORD key[3];
  std::vector<std::string>* log;
};

TEST(ConnectionPoint, SurvivesSinksThatChangeTheSinkListDuringFire) {
  using Log = std::vector<std::string>;  // two events: 4 with 1, then 4 with 2
  const std::tuple<const char*, std::function<void(Wiring&)>, Log> scenarios[] = {
      {"plain", [](Wiring&) {}, {"a:4=1", "b:4=1", "c:4=1", "a:4=2", "b:4=2", "c:4=2"}},
      {"b unadvises itself", [](Wiring& w) { w.sink[1]->action = [&cp = w.cp, k = w.key[1]] { cp.Unadvise(k); }; },
       {"a:4=1", "b:4=1", "c:4=1", "a:4=2", "c:4=2"}},
      {"a unadvises c before c's turn",
       [](Wiring& w) { w.sink[0]->action = [&cp = w.cp, k = w.key[2]] { cp.Unadvise(k); }; },
       {"a:4=1", "b:4=1", "a:4=2", "b:4=2"}},
      {"b advises a newcomer",
       [](Wiring& w) {
         w.sink[1]->action = [&cp = w.cp, log = w.log, done = false]() mutable {
           if (!std::exchange(done, true)) cp.Advise(std::make_shared<Sink>(log, "d"));
         };
       },
       {"a:4=1", "b:4=1", "c:4=1", "a:4=2", "b:4=2", "c:4=2", "d:4=2"}},
      {"c unadvises everyone",
       [](Wiring& w) { w.sink[2]->action = [&w] { for (DWORD k : w.key) w.cp.Unadvise(k); }; },
       {"a:4=1", "b:4=1", "c:4=1"}},
  };
  for (const auto& [what, wire, expected] : scenarios) {
    Log log;
    ConnectionPoint cp;
    Wiring w{cp, {}, {}, &log};
    for (int i = 0; i < 3; ++i) {
      auto sink = std::make_shared<Sink>(&log, std::string(1, char('a' + i)));
      w.sink[i] = sink.get();
      w.key[i] = cp.Advise(std::move(sink));
    }
    wire(w);
    for (int32_t n : {1, 2}) {
      VARIANT arg = n;
      cp.Fire(4, Args(&arg, 1));
      EXPECT_EQ(arg.lVal, n) << what << ": the caller's arguments changed";
    }
    EXPECT_EQ(log, expected) << what;
  }
}

TEST(ConnectionPoint, CookiesFailuresAndTeardownDuringFire) {
  std::vector<std::string> log;
  auto cp = std::make_unique<ConnectionPoint>();
  EXPECT_EQ(cp->Advise(nullptr), 0u);
  auto killer = std::make_shared<Sink>(&log, "killer");
  const DWORD k1 = cp->Advise(killer), k2 = cp->Advise(std::make_shared<Sink>(&log, "after"));
  EXPECT_NE(k1, 0u);
  EXPECT_NE(k1, k2);
  EXPECT_EQ(cp->Unadvise(12345), CONNECT_E_NOCONNECTION);

  // Nested events are delivered whole, and a sink that throws does not stop the others.
  int depth = 0;
  killer->action = [&] {
    if (depth++ == 0) cp->Fire(7, {});
    throw std::runtime_error("sink fault");
  };
  cp->Fire(6, {});
  EXPECT_EQ(log, (std::vector<std::string>{"killer:6", "killer:7", "after:7", "after:6"}));

  // A sink that destroys the source ends that event without touching it again.
  log.clear();
  killer->action = [&] { cp.reset(); };
  cp->Fire(8, {});
  EXPECT_EQ(cp, nullptr);
  EXPECT_EQ(log, std::vector<std::string>{"killer:8"});
}

TEST(ClassFactory, CreatesOnlyWhatIsRegistered) {
  static constexpr CLSID kA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  static constexpr CLSID kB{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
  std::shared_ptr<IDispatch> obj = std::make_shared<Component>();
  EXPECT_EQ(CoCreateInstance(kA, &obj), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(CoCreateInstance(kA, nullptr), E_POINTER);
  EXPECT_EQ(CoRegisterClassObject(kA, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoRevokeClassObject(kA), CO_E_OBJNOTREG);

  using Made = std::shared_ptr<IDispatch>;
  const std::tuple<const char*, ClassFactory, HRESULT, HRESULT> factories[] = {  // registered, then created
      {"working", [] { return std::make_shared<Component>(); }, S_OK, S_OK},
      {"replaced by null", [] { return Made(); }, S_FALSE, E_OUTOFMEMORY},
      {"replaced by throwing", []() -> Made { throw std::runtime_error("no"); }, S_FALSE, E_FAIL},
      {"out of memory", []() -> Made { throw std::bad_alloc(); }, S_FALSE, E_OUTOFMEMORY},
      // A factory may create what it needs through the registry itself.
      {"nested creation", [] { Made inner; return SUCCEEDED(CoCreateInstance(kB, &inner)) ? inner : nullptr; },
       S_FALSE, S_OK},
  };
  ASSERT_EQ(CoRegisterClassObject(kB, [] { return std::make_shared<Component>(); }), S_OK);
  for (const auto& [what, make, registerHr, createHr] : factories) {
    EXPECT_EQ(CoRegisterClassObject(kA, make), registerHr) << what;
    obj.reset();
    EXPECT_EQ(CoCreateInstance(kA, &obj), createHr) << what;
    EXPECT_EQ(obj != nullptr, SUCCEEDED(createHr)) << what;
  }
  DISPID id = 0;
  EXPECT_EQ(obj->GetIDsOfNames(u"login", &id), S_OK);
  EXPECT_EQ(CoRevokeClassObject(kA), S_OK);
  EXPECT_EQ(CoRevokeClassObject(kB), S_OK);
  EXPECT_EQ(CoCreateInstance(kA, &obj), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace kdx
