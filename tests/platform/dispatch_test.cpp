#include "platform/dispatch.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <tuple>

#include "platform/class_factory.h"
#include "platform/safearray.h"

namespace kdx {
namespace {

using Args = std::span<VARIANT>;
using K = MemberKind;

HRESULT Answer(VARIANT* result, VARIANT value) { return *result = std::move(value), S_OK; }

DispatchMember Member(DISPID id, std::u16string name, MemberKind kind, VARTYPE result,
                      std::vector<DispatchParam> params = {}, DispatchHandler handler = nullptr) {
  return {id, std::move(name), kind, result, std::move(params), u"", std::move(handler)};
}

// Type and exact value: the union's whole slot, whose unused bytes stay zero.
auto Key(const VARIANT& v) { return std::tuple(v.vt, v.llVal, v.bstrVal); }

// A component shaped like the ones this layer serves: methods with typed parameters,
// VARIANT* order arrays, a property put, handlers that throw or fail.
struct Component : DispatchObject {
  Component() {
    DispatchTable& t = MutableTable();
    t.Add(Member(1, u"Login", K::Method, VT_I4, {{VT_BSTR, u"strProfilePath"}, {VT_BSTR, u"strSession"}},
                 [](Args a, VARIANT* r) { return Answer(r, int32_t(a[0].bstrVal.size() * 10 + a[1].bstrVal.size())); }));
    // Answers I4 although R8 is declared: the table converts.
    t.Add(Member(7, u"GetOrderValue", K::Method, VT_R8, {{VT_I4, u"nIndex"}, {VT_VARIANT, u"nField"}},
                 [](Args a, VARIANT* r) { return Answer(r, a[0].lVal + a[1].iVal); }));
    t.Add(Member(5, u"UseCA", K::PropertyPut, VT_EMPTY, {{VT_BOOL, u"value"}},
                 [this](Args a, VARIANT*) { return useCA = a[0].boolVal != VARIANT_FALSE, S_OK; }));
    t.Add(Member(24, u"StkOrder", K::Method, VT_I4, {{VT_BYREF | VT_VARIANT, u"fields"}}, [this](Args a, VARIANT* r) {
      lastOrder = a[0].pvarVal;
      return Answer(r, lastOrder->vt == VT_I4 ? -1 : SafeArrayDataAccess(lastOrder->parray).Variants()[11]);
    }));
    t.Add(Member(40, u"Explode", K::Method, VT_EMPTY, {{VT_I4, u"how"}}, [](Args a, VARIANT*) -> HRESULT {
      if (a[0].lVal == 1) throw COleDispatchException(E_FAIL, u"why");
      if (a[0].lVal == 2) throw std::bad_alloc();
      throw std::exception();
    }));
    t.Add(Member(41, u"WrongResult", K::Method, VT_I4, {}, [](Args, VARIANT* r) { return Answer(r, u"x"); }));
    t.Add(Member(42, u"Refuse", K::Method, VT_I4, {}, [](Args, VARIANT*) { return E_ACCESSDENIED; }));
    t.Add(Member(DISPID_ABOUTBOX, u"AboutBox", K::Method, VT_EMPTY));
  }
  bool useCA = false;
  VARIANT* lastOrder = nullptr;
};

TEST(DispatchTable, InvokeChecksCountTypesAndKindAndPassesVariantPointersThrough) {
  constexpr WORD M = DISPATCH_METHOD, G = DISPATCH_PROPERTYGET, P = DISPATCH_PROPERTYPUT;
  constexpr HRESULT MISSING = DISP_E_MEMBERNOTFOUND, COUNT = DISP_E_BADPARAMCOUNT, MISMATCH = DISP_E_TYPEMISMATCH;
  const VARIANT T = VARIANT::Bool(true);
  static VARIANT order = VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, 36));
  SafeArrayDataAccess(order.parray).Variants()[11] = 123450;
  VARIANT refLong = VARIANT::ByRef(&order);
  refLong.vt = VT_BYREF | VT_I4;  // as if it pointed to a LONG
  // DISPID, flags, arguments, result code and (when that succeeds) the result.
  const std::tuple<DISPID, WORD, std::vector<VARIANT>, HRESULT, VARIANT> calls[] = {
      {1, M, {u"abc", u"de"}, S_OK, 32}, {1, M | G, {u"a", u""}, S_OK, 10}, {1, G, {u"a", u"b"}, MISSING, {}},
      {1, M, {u"a"}, COUNT, {}}, {1, M, {u"a", u"b", u"c"}, COUNT, {}}, {99, M, {}, MISSING, {}},
      {1, P, {u"a", u"b"}, MISSING, {}}, {1, M, {T, 1.5}, S_OK, 43},  // "True", not "-1"
      {7, M, {u"2", VARIANT::I2(3)}, S_OK, 5.0}, {7, M, {3e9, 5}, DISP_E_OVERFLOW, {}}, {5, M, {T}, MISSING, {}},
      {5, P, {}, COUNT, {}}, {40, M, {0}, DISP_E_EXCEPTION, {}}, {40, M, {2}, E_OUTOFMEMORY, {}},
      {41, M, {}, MISMATCH, {}}, {42, M, {}, E_ACCESSDENIED, {}},
      {24, M, {VARIANT::ByRef(&order)}, S_OK, 123450}, {24, M, {7}, S_OK, -1}, {24, M, {refLong}, MISMATCH, {}},
      {24, M, {VARIANT::ByRef(nullptr)}, MISMATCH, {}}, {40, M, {1}, DISP_E_EXCEPTION, {}},
  };
  Component component;
  for (const auto& [id, flags, arguments, hr, expected] : calls) {
    std::vector<VARIANT> args = arguments;
    VARIANT result = u"stale";
    const HRESULT got = component.Invoke(id, flags, args, &result);
    EXPECT_TRUE(got == hr && Key(result) == Key(SUCCEEDED(hr) ? expected : VARIANT(u"stale"))) << id << ": " << got;
    // The callee sees the caller's own VARIANT, or the argument itself when passed by value.
    EXPECT_TRUE(id != 24 || FAILED(hr) || component.lastOrder == (args[0].vt == VT_I4 ? &args[0] : &order)) << hr;
  }
  // Only the last call's description is kept, and taking it clears it.
  EXPECT_TRUE(order.parray->cLocks == 0u && GetErrorInfo() == u"why" && GetErrorInfo().empty());
  VARIANT on = T, args[2] = {u"x", u"y"}, result;
  // A put by reference is a put; a result may be discarded.
  EXPECT_TRUE(component.Invoke(5, DISPATCH_PROPERTYPUTREF, Args(&on, 1), nullptr) == S_OK && component.useCA &&
              component.Invoke(1, DISPATCH_METHOD, args, nullptr) == S_OK);
  // Names in any case, directly or through InvokeByName.
  DISPID found[3] = {};
  EXPECT_EQ((std::tuple{component.GetIDsOfNames(u"LOGIN", &found[0]), component.GetIDsOfNames(u"aboutbox", &found[1]),
                        component.GetIDsOfNames(u"Logi", &found[2]), found[0], found[1], found[2]}),
            std::tuple(S_OK, S_OK, DISP_E_UNKNOWNNAME, 1, DISPID_ABOUTBOX, DISPID_UNKNOWN));
  EXPECT_TRUE(InvokeByName(component, u"lOgIn", DISPATCH_METHOD, args, &result) == S_OK && result.lVal == 11);
  EXPECT_EQ(InvokeByName(component, u"Nope", DISPATCH_METHOD, args, &result), DISP_E_UNKNOWNNAME);
}

TEST(DispatchTable, RefusesInconsistentRowsAndSurvivesRebuildsFromItsHandlers) {
  // A row without a name is left out; then: same DISPID and kind, DISPID renamed, name on
  // another DISPID, method on a property's DISPID, puts without value or with a result,
  // types that cannot be declared; and two rows that fit.
  const DispatchTable base{Member(1, u"Login", K::Method, VT_I4), Member(5, u"UseCA", K::PropertyGet, VT_BOOL),
                           Member(6, u"", K::Method, VT_I4)};
  const std::pair<DispatchMember, HRESULT> rows[] = {
      {Member(1, u"Login", K::Method, VT_I4), E_INVALIDARG}, {Member(1, u"Logon", K::PropertyGet, VT_I4), E_INVALIDARG},
      {Member(2, u"LOGIN", K::Method, VT_I4), E_INVALIDARG}, {Member(5, u"UseCA", K::Method, VT_EMPTY), E_INVALIDARG},
      {Member(5, u"UseCA", K::PropertyPut, VT_EMPTY), E_INVALIDARG}, {Member(3, u"X", K::Method, 77), E_INVALIDARG},
      {Member(5, u"UseCA", K::PropertyPut, VT_I4, {{VT_BOOL, u"v"}}), E_INVALIDARG},
      {Member(3, u"X", K::Method, VT_EMPTY, {{77, u"p"}}), E_INVALIDARG},
      {Member(3, u"X", K::Method, VT_EMPTY, {{VT_BSTR, u"p"}, {VT_BYREF | VT_I4, u"q"}}), E_INVALIDARG},
      {Member(3, u"X", K::Method, VT_EMPTY, {{VT_EMPTY, u"p"}}), E_INVALIDARG},
      {Member(5, u"useca", K::PropertyPut, VT_EMPTY, {{VT_BOOL, u"v"}}), S_OK},
      {Member(3, u"X", K::Method, VT_VARIANT, {{VT_VARIANT, u"p"}, {VT_BSTR, u"q"}}), S_OK},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    DispatchTable t = base;
    EXPECT_TRUE(t.Add(rows[i].first) == rows[i].second && t.size() == (rows[i].second ? 2u : 3u)) << "row " << i;
  }
  DispatchTable t = base;
  EXPECT_EQ(t.Bind(9, K::Method, [](Args, VARIANT*) { return S_OK; }), DISP_E_MEMBERNOTFOUND);
  t.Bind(1, K::Method, [&](Args, VARIANT* r) {
    // Reallocates the rows while this handler runs.
    for (DISPID id = 100; id < 140; ++id) t.Add(Member(id, u"M" + std::u16string(1, char16_t(id)), K::Method, {}));
    t.Bind(1, K::Method, nullptr);
    return Answer(r, 77);
  });
  VARIANT result;
  EXPECT_TRUE(t.Invoke(1, DISPATCH_METHOD, {}, &result) == S_OK && result.lVal == 77 && t.size() == 42u);
  EXPECT_EQ(t.Invoke(1, DISPATCH_METHOD, {}, &result), E_NOTIMPL);
}

// Sinks named by one letter, each running its script at every event: "-x" unadvises x, "+x"
// advises a new sink x once, "f" fires event 7 from inside event 4, "!" throws, "k" destroys
// the connection point.
struct Net {
  std::unique_ptr<ConnectionPoint> cp = std::make_unique<ConnectionPoint>();
  std::map<char, DWORD> keys;
  std::string log;
};

struct Sink : IDispatch {
  Sink(Net& net, char name, std::string script) : net(net), name(name), script(std::move(script)) {}
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID id, WORD, Args args, VARIANT*) override {
    net.log += name + std::to_string(id) + (args.empty() ? "" : "=" + std::to_string(args[0].lVal)) + " ";
    if (!args.empty()) args[0] = -99;  // must not leak into the next sink's arguments
    for (std::size_t i = 0; i + 1 < script.size(); i += 2) {
      const char op = script[i], who = script[i + 1];
      if (op == '-') net.cp->Unadvise(net.keys[who]);
      if (op == '+' && !net.keys.count(who)) Advise(net, who, "");
      if (op == 'f' && id == 4) net.cp->Fire(7, {});
      if (op == '!') throw std::runtime_error("sink fault");
      if (op == 'k') return net.cp.reset(), S_OK;
    }
    return S_OK;
  }
  static void Advise(Net& net, char name, std::string script) {
    net.keys[name] = net.cp->Advise(std::make_shared<Sink>(net, name, std::move(script)));
  }
  Net& net;
  const char name;
  const std::string script;
};

TEST(ConnectionPoint, SurvivesSinksThatChangeTheSinkListOrFailDuringFire) {
  // Scripts of sinks a, b, c (held by the connection point alone) and what two events (4
  // with 1, then 4 with 2) reach. Nested events are delivered whole; a sink that throws
  // does not stop the others; one that destroys the source ends that event there.
  const std::tuple<std::string, std::string, std::string, std::string> scenarios[] = {
      {"", "-b", "", "a4=1 b4=1 c4=1 a4=2 c4=2 "}, {"-c", "", "", "a4=1 b4=1 a4=2 b4=2 "},
      {"", "+d", "", "a4=1 b4=1 c4=1 a4=2 b4=2 c4=2 d4=2 "}, {"", "", "-a-b-c", "a4=1 b4=1 c4=1 "},
      {"f.!.", "!.", "", "a4=1 a7 b7 c7 b4=1 c4=1 a4=2 a7 b7 c7 b4=2 c4=2 "}, {"", "k.", "", "a4=1 b4=1 "},
  };
  for (const auto& [a, b, c, expected] : scenarios) {
    Net net;
    for (const auto& [name, script] : {std::pair('a', a), {'b', b}, {'c', c}}) Sink::Advise(net, name, script);
    for (int32_t n : {1, 2}) {
      VARIANT arg = n;
      if (net.cp) net.cp->Fire(4, Args(&arg, 1));
      EXPECT_EQ(arg.lVal, n) << "the caller's arguments changed";
    }
    EXPECT_EQ(net.log, expected);
  }
}

TEST(ClassFactory, CreatesOnlyWhatIsRegistered) {
  static constexpr CLSID kA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  std::shared_ptr<IDispatch> obj;
  EXPECT_EQ(std::tuple(CoCreateInstance(kA, nullptr), CoRevokeClassObject(kA), CoRegisterClassObject(kA, nullptr)),
            std::tuple(E_POINTER, CO_E_OBJNOTREG, E_INVALIDARG));
  using Made = std::shared_ptr<IDispatch>;
  // Factories registered in turn, what registering them answers, then what creating answers.
  const std::tuple<ClassFactory, HRESULT, HRESULT> factories[] = {
      {[] { return std::make_shared<Component>(); }, S_OK, S_OK}, {[] { return Made(); }, S_FALSE, E_OUTOFMEMORY},
      {[]() -> Made { throw std::runtime_error("no"); }, S_FALSE, E_FAIL},
      {[]() -> Made { throw std::bad_alloc(); }, S_FALSE, E_OUTOFMEMORY},
  };
  for (const auto& [make, registerHr, createHr] : factories)
    EXPECT_TRUE(CoRegisterClassObject(kA, make) == registerHr && CoCreateInstance(kA, &obj) == createHr &&
                (obj != nullptr) == SUCCEEDED(createHr)) << createHr;
  EXPECT_TRUE(CoRevokeClassObject(kA) == S_OK && CoCreateInstance(kA, &obj) == REGDB_E_CLASSNOTREG && obj == nullptr);
}

}  // namespace
}  // namespace kdx
