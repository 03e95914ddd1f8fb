#include "platform/dispatch.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/class_factory.h"
#include "platform/safearray.h"

namespace kdx {
namespace {

// A component shaped like the ones this layer serves: methods with typed parameters,
// VARIANT* order arrays, a property put, a handler that throws.
HRESULT Answer(VARIANT* result, VARIANT value) {
  *result = std::move(value);
  return S_OK;
}

class Component : public DispatchObject {
 public:
  Component() {
    using K = MemberKind;
    using Args = std::span<VARIANT>;
    DispatchTable& t = MutableTable();
    t.Add({1, u"Login", K::Method, VT_I4, {{VT_BSTR, u"strProfilePath"}, {VT_BSTR, u"strSession"}}, u"",
           [](Args a, VARIANT* r) {
             return Answer(r, static_cast<int32_t>(a[0].bstrVal.size() * 100 + a[1].bstrVal.size()));
           }});
    t.Add({6, u"GetOrderString", K::Method, VT_BSTR, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}, u"",
           [](Args a, VARIANT* r) {
             return Answer(r, u"row" + std::u16string(1, u'0' + a[0].lVal) + u"/" + std::u16string(1, u'0' + a[1].lVal));
           }});
    // Answers I4 although R8 is declared: the table converts.
    t.Add({7, u"GetOrderValue", K::Method, VT_R8, {{VT_I4, u"nIndex"}, {VT_I4, u"nField"}}, u"",
           [](Args a, VARIANT* r) { return Answer(r, a[0].lVal + a[1].lVal); }});
    t.Add({5, u"UseCA", K::PropertyPut, VT_EMPTY, {{VT_BOOL, u"value"}}, u"", [this](Args a, VARIANT*) {
             useCA = a[0].boolVal != VARIANT_FALSE;
             return S_OK;
           }});
    t.Add({24, u"StkOrder", K::Method, VT_I4, {{VT_BYREF | VT_VARIANT, u"fields"}}, u"", [this](Args a, VARIANT* r) {
             if (a[0].vt != (VT_BYREF | VT_VARIANT)) return E_UNEXPECTED;
             lastOrder = a[0].pvarVal;
             if (lastOrder->vt != (VT_ARRAY | VT_VARIANT)) return Answer(r, -1);
             SafeArrayDataAccess access(lastOrder->parray);
             if (FAILED(access.Result()) || access.Count() != 36) return E_INVALIDARG;
             return Answer(r, access.Variants()[11]);
           }});
    t.Add({28, u"ReduceStkOrder", K::Method, VT_I4, {{VT_I4, u"qty"}, {VT_BYREF | VT_VARIANT, u"fields"}}, u"",
           [](Args a, VARIANT* r) {
             *a[1].pvarVal = u"reduced";  // writes through to the caller's VARIANT
             return Answer(r, a[0]);
           }});
    t.Add({40, u"Explode", K::Method, VT_EMPTY, {}, u"", [](Args, VARIANT*) -> HRESULT { throw std::runtime_error("boom"); }});
    t.Add({41, u"WrongResult", K::Method, VT_I4, {}, u"", [](Args, VARIANT* r) { return Answer(r, u"x"); }});
    t.Add({42, u"Refuse", K::Method, VT_I4, {}, u"", [](Args, VARIANT*) { return E_ACCESSDENIED; }});
    t.Add({43, u"Unbound", K::Method, VT_EMPTY, {}, u"", nullptr});
    t.Add({DISPID_ABOUTBOX, u"AboutBox", K::Method, VT_EMPTY, {}, u"", [](Args, VARIANT*) { return S_OK; }});
  }

  bool useCA = false;
  VARIANT* lastOrder = nullptr;
};

struct Call {
  const char* what;
  DISPID id;
  WORD flags;
  std::vector<VARIANT> args;
  HRESULT hr;
  VARIANT result;  // compared when hr succeeds
};

TEST(DispatchTable, InvokeChecksCountTypesAndKind) {
  constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;
  LONG byRefLong = 3;
  VARIANT refLong;
  refLong.vt = VT_BYREF | VT_I4;
  refLong.plVal = &byRefLong;
  VARIANT boxed = u"4";
  const Call calls[] = {
      {"typed call", 1, M, {u"abc", u"de"}, S_OK, 302},
      {"VB style method get", 1, M | G, {u"a", u""}, S_OK, 100},
      {"property get on a method", 1, G, {u"a", u"b"}, DISP_E_MEMBERNOTFOUND, {}},
      {"too few arguments", 1, M, {u"a"}, DISP_E_BADPARAMCOUNT, {}},
      {"too many arguments", 1, M, {u"a", u"b", u"c"}, DISP_E_BADPARAMCOUNT, {}},
      {"no arguments", 6, M, {}, DISP_E_BADPARAMCOUNT, {}},
      {"numbers into text parameters", 1, M, {12345, 1.5}, S_OK, 503},
      {"BOOL into a text parameter", 1, M, {VARIANT::Bool(true), u""}, S_OK, 400},
      {"text into a number parameter", 6, M, {u"2", 5}, S_OK, u"row2/5"},
      {"non-numeric text", 6, M, {u"x", 5}, DISP_E_TYPEMISMATCH, {}},
      {"NULL argument", 6, M, {VARIANT::Null(), 5}, DISP_E_TYPEMISMATCH, {}},
      {"overflowing argument", 6, M, {3e9, 5}, DISP_E_OVERFLOW, {}},
      {"rounded argument", 6, M, {2.5, 3.5}, S_OK, u"row2/4"},
      {"BYREF long dereferenced", 6, M, {refLong, 1}, S_OK, u"row3/1"},
      {"BYREF VARIANT dereferenced", 6, M, {VARIANT::ByRef(&boxed), 1}, S_OK, u"row4/1"},
      {"null BYREF", 6, M, {VARIANT::ByRef(nullptr), 1}, E_INVALIDARG, {}},
      {"result coerced to declared type", 7, M, {2, 3}, S_OK, 5.0},
      {"unknown DISPID", 99, M, {}, DISP_E_MEMBERNOTFOUND, {}},
      {"put on a method", 1, P, {u"a", u"b"}, DISP_E_MEMBERNOTFOUND, {}},
      {"method call on a put", 5, M, {VARIANT::Bool(true)}, DISP_E_MEMBERNOTFOUND, {}},
      {"put without its value", 5, P, {}, DISP_E_BADPARAMCOUNT, {}},
      {"handler exception", 40, M, {}, DISP_E_EXCEPTION, {}},
      {"handler result of the wrong type", 41, M, {}, DISP_E_TYPEMISMATCH, {}},
      {"handler failure passed on", 42, M, {}, E_ACCESSDENIED, {}},
      {"unbound member", 43, M, {}, E_NOTIMPL, {}},
      {"AboutBox", DISPID_ABOUTBOX, M, {}, S_OK, {}},
  };
  Component component;
  for (const Call& c : calls) {
    std::vector<VARIANT> args = c.args;
    VARIANT result = u"stale";
    const HRESULT hr = component.Invoke(c.id, c.flags, args, &result);
    EXPECT_EQ(hr, c.hr) << c.what;
    if (FAILED(c.hr)) continue;
    EXPECT_EQ(result.vt, c.result.vt) << c.what;
    if (result.vt == VT_I4) {
      EXPECT_EQ(result.lVal, c.result.lVal) << c.what;
    } else if (result.vt == VT_R8) {
      EXPECT_EQ(result.dblVal, c.result.dblVal) << c.what;
    } else if (result.vt == VT_BSTR) {
      EXPECT_EQ(result.bstrVal, c.result.bstrVal) << c.what;
    }
  }
  VARIANT on = VARIANT::Bool(true);
  EXPECT_EQ(component.Invoke(5, DISPATCH_PROPERTYPUT, std::span<VARIANT>(&on, 1), nullptr), S_OK);
  EXPECT_TRUE(component.useCA);
  VARIANT args[2] = {u"x", u"y"};
  EXPECT_EQ(component.Invoke(1, DISPATCH_METHOD, args, nullptr), S_OK) << "a result may be discarded";
}

TEST(DispatchTable, FindsMembersByNameInAnyCase) {
  Component component;
  struct Name {
    std::u16string_view name;
    HRESULT hr;
    DISPID id;
  };
  for (const Name& n : std::initializer_list<Name>{{u"Login", S_OK, 1},
                                                    {u"LOGIN", S_OK, 1},
                                                    {u"getorderstring", S_OK, 6},
                                                    {u"aboutbox", S_OK, DISPID_ABOUTBOX},
                                                    {u"Logi", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
                                                    {u"", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN}}) {
    DISPID id = 12345;
    EXPECT_EQ(component.GetIDsOfNames(n.name, &id), n.hr);
    EXPECT_EQ(id, n.id);
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
  {
    SafeArrayDataAccess access(order.parray);
    access.Variants()[11] = 123450;
  }
  VARIANT arg = VARIANT::ByRef(&order);
  VARIANT result;
  ASSERT_EQ(component.Invoke(24, DISPATCH_METHOD, std::span<VARIANT>(&arg, 1), &result), S_OK);
  EXPECT_EQ(result.lVal, 123450);
  EXPECT_EQ(component.lastOrder, &order) << "the callee must see the caller's own VARIANT";
  EXPECT_EQ(order.parray->cLocks, 0u);

  // Passed by value, the argument itself is what the callee gets a pointer to.
  VARIANT byValue = 7;
  ASSERT_EQ(component.Invoke(24, DISPATCH_METHOD, std::span<VARIANT>(&byValue, 1), &result), S_OK);
  EXPECT_EQ(result.lVal, -1);
  EXPECT_EQ(component.lastOrder, &byValue);

  VARIANT reduce[2] = {u"5", VARIANT::ByRef(&order)};
  ASSERT_EQ(component.Invoke(28, DISPATCH_METHOD, reduce, &result), S_OK);
  EXPECT_EQ(result.lVal, 5);
  EXPECT_EQ(order.bstrVal, u"reduced");

  LONG n = 1;
  VARIANT refLong;
  refLong.vt = VT_BYREF | VT_I4;
  refLong.plVal = &n;
  EXPECT_EQ(component.Invoke(24, DISPATCH_METHOD, std::span<VARIANT>(&refLong, 1), &result), DISP_E_TYPEMISMATCH);
  VARIANT nullRef = VARIANT::ByRef(nullptr);
  EXPECT_EQ(component.Invoke(24, DISPATCH_METHOD, std::span<VARIANT>(&nullRef, 1), &result), DISP_E_TYPEMISMATCH);
}

TEST(DispatchTable, RefusesInconsistentRows) {
  using K = MemberKind;
  const DispatchTable base{{1, u"Login", K::Method, VT_I4, {}, u"", nullptr},
                           {5, u"UseCA", K::PropertyGet, VT_BOOL, {}, u"", nullptr}};
  ASSERT_EQ(base.size(), 2u);
  struct Row {
    const char* what;
    DispatchMember row;
    HRESULT hr;
  };
  const Row rows[] = {
      {"same DISPID and kind", {1, u"Login", K::Method, VT_I4, {}, u"", nullptr}, E_INVALIDARG},
      {"DISPID renamed", {1, u"Logon", K::PropertyGet, VT_I4, {}, u"", nullptr}, E_INVALIDARG},
      {"name on another DISPID", {2, u"LOGIN", K::Method, VT_I4, {}, u"", nullptr}, E_INVALIDARG},
      {"method sharing a property's DISPID", {5, u"UseCA", K::Method, VT_EMPTY, {}, u"", nullptr}, E_INVALIDARG},
      {"empty name", {3, u"", K::Method, VT_EMPTY, {}, u"", nullptr}, E_INVALIDARG},
      {"put without value", {5, u"UseCA", K::PropertyPut, VT_EMPTY, {}, u"", nullptr}, E_INVALIDARG},
      {"put with a result", {5, u"UseCA", K::PropertyPut, VT_I4, {{VT_BOOL, u"v"}}, u"", nullptr}, E_INVALIDARG},
      {"unknown parameter type", {3, u"X", K::Method, VT_EMPTY, {{77, u"p"}}, u"", nullptr}, E_INVALIDARG},
      {"BYREF long parameter", {3, u"X", K::Method, VT_EMPTY, {{VT_BYREF | VT_I4, u"p"}}, u"", nullptr}, E_INVALIDARG},
      {"put beside its get", {5, u"useca", K::PropertyPut, VT_EMPTY, {{VT_BOOL, u"v"}}, u"", nullptr}, S_OK},
      {"new member", {3, u"X", K::Method, VT_VARIANT, {{VT_VARIANT, u"p"}}, u"", nullptr}, S_OK},
  };
  for (const Row& r : rows) {
    DispatchTable t = base;
    EXPECT_EQ(t.Add(r.row), r.hr) << r.what;
    EXPECT_EQ(t.size(), SUCCEEDED(r.hr) ? 3u : 2u) << r.what;
  }
  DispatchTable t = base;
  EXPECT_EQ(t.Bind(9, K::Method, [](std::span<VARIANT>, VARIANT*) { return S_OK; }), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(t.Bind(5, K::PropertyGet, [](std::span<VARIANT>, VARIANT* r) {
              *r = VARIANT::Bool(true);
              return S_OK;
            }),
            S_OK);
  VARIANT result;
  ASSERT_EQ(t.Invoke(5, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);
}

TEST(DispatchTable, HandlerMayRebuildItsOwnTable) {
  DispatchTable t;
  t.Add({1, u"Grow", MemberKind::Method, VT_I4, {}, u"", nullptr});
  int calls = 0;
  t.Bind(1, MemberKind::Method, [&](std::span<VARIANT>, VARIANT* r) {
    // Reallocates the rows while this handler runs.
    for (DISPID id = 100; id < 140; ++id) {
      const std::string name = "M" + std::to_string(id);
      t.Add({id, std::u16string(name.begin(), name.end()), MemberKind::Method, VT_EMPTY, {}, u"", nullptr});
    }
    t.Bind(1, MemberKind::Method, nullptr);
    *r = ++calls;
    return S_OK;
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
  HRESULT Invoke(DISPID id, WORD, std::span<VARIANT> args, VARIANT*) override {
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

TEST(ConnectionPoint, SurvivesSinksThatChangeTheSinkListDuringFire) {
  struct Scenario {
    const char* what;
    // Wires the sinks' actions; a, b, c are advised in that order.
    std::function<void(ConnectionPoint&, Sink&, Sink&, Sink&, DWORD, DWORD, DWORD, std::vector<std::string>*)> wire;
    std::vector<std::string> expected;  // two events: 4 with 1, then 4 with 2
  };
  const Scenario scenarios[] = {
      {"plain", [](auto&, auto&, auto&, auto&, DWORD, DWORD, DWORD, auto*) {},
       {"a:4=1", "b:4=1", "c:4=1", "a:4=2", "b:4=2", "c:4=2"}},
      {"b unadvises itself",
       [](ConnectionPoint& cp, Sink&, Sink& b, Sink&, DWORD, DWORD kb, DWORD, auto*) {
         b.action = [&cp, kb] { cp.Unadvise(kb); };
       },
       {"a:4=1", "b:4=1", "c:4=1", "a:4=2", "c:4=2"}},
      {"a unadvises c before c's turn",
       [](ConnectionPoint& cp, Sink& a, Sink&, Sink&, DWORD, DWORD, DWORD kc, auto*) {
         a.action = [&cp, kc] { cp.Unadvise(kc); };
       },
       {"a:4=1", "b:4=1", "a:4=2", "b:4=2"}},
      {"b advises a newcomer",
       [](ConnectionPoint& cp, Sink&, Sink& b, Sink&, DWORD, DWORD, DWORD, std::vector<std::string>* log) {
         b.action = [&cp, log, done = false]() mutable {
           if (!std::exchange(done, true)) cp.Advise(std::make_shared<Sink>(log, "d"));
         };
       },
       {"a:4=1", "b:4=1", "c:4=1", "a:4=2", "b:4=2", "c:4=2", "d:4=2"}},
      {"c unadvises everyone",
       [](ConnectionPoint& cp, Sink&, Sink&, Sink& c, DWORD ka, DWORD kb, DWORD kc, auto*) {
         c.action = [&cp, ka, kb, kc] {
           cp.Unadvise(ka);
           cp.Unadvise(kb);
           cp.Unadvise(kc);
         };
       },
       {"a:4=1", "b:4=1", "c:4=1"}},
  };
  for (const Scenario& s : scenarios) {
    std::vector<std::string> log;
    ConnectionPoint cp;
    // Only the connection point holds the sinks, so an unadvise mid-fire drops the last
    // owner outside Fire's own snapshot.
    auto a = std::make_shared<Sink>(&log, "a");
    auto b = std::make_shared<Sink>(&log, "b");
    auto c = std::make_shared<Sink>(&log, "c");
    const DWORD ka = cp.Advise(a), kb = cp.Advise(b), kc = cp.Advise(c);
    s.wire(cp, *a, *b, *c, ka, kb, kc, &log);
    a.reset();
    b.reset();
    c.reset();
    for (int32_t n : {1, 2}) {
      VARIANT arg = n;
      cp.Fire(4, std::span<VARIANT>(&arg, 1));
      EXPECT_EQ(arg.lVal, n) << s.what << ": the caller's arguments changed";
    }
    EXPECT_EQ(log, s.expected) << s.what;
  }
}

TEST(ConnectionPoint, CookiesFailuresAndTeardownDuringFire) {
  std::vector<std::string> log;
  auto cp = std::make_unique<ConnectionPoint>();
  EXPECT_EQ(cp->Advise(nullptr), 0u);
  auto killer = std::make_shared<Sink>(&log, "killer");
  auto after = std::make_shared<Sink>(&log, "after");
  const DWORD k1 = cp->Advise(killer), k2 = cp->Advise(after);
  EXPECT_NE(k1, 0u);
  EXPECT_NE(k1, k2);
  EXPECT_EQ(cp->SinkCount(), 2u);
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

class ClassFactoryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const CLSID& c : {kA, kB}) CoRevokeClassObject(c);
  }
  static constexpr CLSID kA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  static constexpr CLSID kB{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
};

TEST_F(ClassFactoryTest, CreatesOnlyWhatIsRegistered) {
  std::shared_ptr<IDispatch> obj = std::make_shared<Component>();
  EXPECT_EQ(CoCreateInstance(kA, &obj), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(obj, nullptr);
  EXPECT_EQ(CoCreateInstance(kA, nullptr), E_POINTER);
  EXPECT_EQ(CoRegisterClassObject(kA, nullptr), E_INVALIDARG);
  EXPECT_EQ(CoRevokeClassObject(kA), CO_E_OBJNOTREG);

  struct Factory {
    const char* what;
    ClassFactory make;
    HRESULT register_hr, create_hr;
  };
  const Factory factories[] = {
      {"working", [] { return std::make_shared<Component>(); }, S_OK, S_OK},
      {"replaced by null", [] { return std::shared_ptr<IDispatch>(); }, S_FALSE, E_OUTOFMEMORY},
      {"replaced by throwing", []() -> std::shared_ptr<IDispatch> { throw std::runtime_error("no"); }, S_FALSE, E_FAIL},
      {"out of memory", []() -> std::shared_ptr<IDispatch> { throw std::bad_alloc(); }, S_FALSE, E_OUTOFMEMORY},
      // A factory may create what it needs through the registry itself.
      {"nested creation",
       [] {
         std::shared_ptr<IDispatch> inner;
         return SUCCEEDED(CoCreateInstance(kB, &inner)) ? inner : nullptr;
       },
       S_FALSE, S_OK},
  };
  ASSERT_EQ(CoRegisterClassObject(kB, [] { return std::make_shared<Component>(); }), S_OK);
  for (const Factory& f : factories) {
    EXPECT_EQ(CoRegisterClassObject(kA, f.make), f.register_hr) << f.what;
    obj.reset();
    EXPECT_EQ(CoCreateInstance(kA, &obj), f.create_hr) << f.what;
    EXPECT_EQ(obj != nullptr, SUCCEEDED(f.create_hr)) << f.what;
  }
  DISPID id = 0;
  EXPECT_EQ(obj->GetIDsOfNames(u"login", &id), S_OK);
  EXPECT_EQ(CoRevokeClassObject(kA), S_OK);
  EXPECT_EQ(CoCreateInstance(kA, &obj), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace kdx
