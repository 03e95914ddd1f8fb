#include "platform/variant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <tuple>

#include "platform/dispatch.h"
#include "platform/safearray.h"

namespace kdx {
namespace {

// Type and exact value: the union's whole slot, whose unused bytes stay zero.
auto Key(const VARIANT& v) { return std::tuple(v.vt, v.llVal, v.bstrVal, v.pdispVal); }

template <class T>
VARIANT Ref(VARTYPE vt, T* target) {
  VARIANT v;
  v.vt = VT_BYREF | vt;
  return std::memcpy(&v.llVal, &target, sizeof target), v;
}

template <class T = VARIANT>
T* Data(SAFEARRAY* psa) { return static_cast<T*>(psa->pvData); }

// An object whose value property is what it converts to.
struct ValueObject : DispatchObject {
  explicit ValueObject(VARIANT value)
      : DispatchObject({{DISPID_VALUE, u"Value", MemberKind::PropertyGet, VT_VARIANT, {}, u"",
                         [value](std::span<VARIANT>, VARIANT* r) { return VariantCopy(r, &value); }}}) {}
};

TEST(VariantChangeType, CoercesAmongTheAutomationTypes) {
  const VARIANT T = VARIANT::Bool(true), F = VARIANT::Bool(false), N = VARIANT::Null();
  constexpr HRESULT OVER = DISP_E_OVERFLOW, MISMATCH = DISP_E_TYPEMISMATCH;
  static LONG n = 7;
  static std::u16string text = u"2.5";
  static VARIANT inner = VARIANT::Bool(true), innerRef = VARIANT::ByRef(&inner);
  const VARIANT object = VARIANT::Dispatch(std::make_shared<ValueObject>(u"15"));
  // The expected value is checked only when hr succeeds.
  const struct { VARIANT from; VARTYPE to; HRESULT hr; VARIANT expected = {}; WORD flags = 0; } cases[] = {
      // Integers: range checks at both ends (only the types parameters are declared with).
      {-42, VT_BSTR, S_OK, u"-42"}, {VARIANT::I8(int64_t{1} << 40), VT_I4, OVER}, {VARIANT::I2(-3), VT_R8, S_OK, -3.0},
      {VARIANT::UI1(9), VT_I4, S_OK, 9}, {2, VT_BOOL, S_OK, T}, {NAN, VT_BOOL, S_OK, T},
      // Reals to integers round half to even, then check the range.
      {2.5, VT_I4, S_OK, 2}, {3.5, VT_I4, S_OK, 4}, {VARIANT::R4(2.5f), VT_I4, S_OK, 2}, {NAN, VT_I4, OVER},
      {2147483647.4, VT_I4, S_OK, INT32_MAX}, {2147483647.6, VT_I4, OVER}, {-2147483648.4, VT_I4, S_OK, INT32_MIN},
      {-2147483648.6, VT_I4, OVER},
      // Reals to text: shortest round trip; exponent form from 1E+15 and below 1E-06.
      {0.1 + 0.2, VT_BSTR, S_OK, u"0.30000000000000004"}, {123456789012345.0, VT_BSTR, S_OK, u"123456789012345"},
      {1e15, VT_BSTR, S_OK, u"1E+15"}, {1.5e20, VT_BSTR, S_OK, u"1.5E+20"}, {0.000001, VT_BSTR, S_OK, u"0.000001"},
      {-2.5e-9, VT_BSTR, S_OK, u"-2.5E-09"},
      {1.25e-7, VT_BSTR, S_OK, u"1.25E-07"}, {NAN, VT_BSTR, S_OK, u"NaN"}, {VARIANT::R4(0.1f), VT_BSTR, S_OK, u"0.1"},
      {-1e300 * 1e300, VT_BSTR, S_OK, u"-Infinity"},
      // Text to numbers: invariant format, white space around, nothing else.
      {u" \t12 ", VT_I4, S_OK, 12}, {u"+7", VT_I4, S_OK, 7}, {u"2.5", VT_I4, S_OK, 2}, {u"1.5e3", VT_I4, S_OK, 1500},
      {u"-.5", VT_R8, S_OK, -0.5}, {u"1e-400", VT_R8, S_OK, 0.0}, {u"2147483648", VT_I4, OVER}, {u"1e400", VT_R8, OVER},
      {u"x", VT_I4, MISMATCH}, {u"", VT_I4, MISMATCH}, {u"12abc", VT_I4, MISMATCH}, {u".", VT_R8, MISMATCH},
      {u"1e", VT_R8, MISMATCH}, {u"\uFF13", VT_I4, MISMATCH}, {u" true ", VT_BOOL, S_OK, T},
      {u"FALSE", VT_BOOL, S_OK, F}, {u"0", VT_BOOL, S_OK, F}, {u"yes", VT_BOOL, MISMATCH},
      // True is all bits set; as text it is -1 unless asked for the word.
      {T, VT_I4, S_OK, -1}, {T, VT_BSTR, S_OK, u"-1"}, {T, VT_BSTR, S_OK, u"True", VARIANT_ALPHABOOL},
      {F, VT_BSTR, S_OK, u"False", VARIANT_LOCALBOOL},
      // EMPTY is zero or empty text; NULL, ERROR and EMPTY come only from themselves.
      {{}, VT_I4, S_OK, 0}, {{}, VT_BSTR, S_OK, u""}, {N, VT_I4, MISMATCH}, {1, VT_EMPTY, MISMATCH},
      {VARIANT::Error(E_FAIL), VT_I4, MISMATCH}, {1, 99, DISP_E_BADVARTYPE}, {1, VT_BYREF | VT_I4, MISMATCH},
      {1, VT_VARIANT, S_OK, 1},
      // References are read through, one level deep; objects convert through their value property.
      {Ref(VT_I4, &n), VT_BSTR, S_OK, u"7"}, {Ref(VT_BSTR, &text), VT_I4, S_OK, 2}, {innerRef, VT_I4, S_OK, -1},
      {VARIANT::ByRef(&innerRef), VT_I4, E_INVALIDARG}, {VARIANT::ByRef(nullptr), VT_I4, E_INVALIDARG},
      {object, VT_I4, S_OK, 15}, {object, VT_I4, MISMATCH, {}, VARIANT_NOVALUEPROP},
      {VARIANT::Dispatch(nullptr), VT_I4, MISMATCH},
  };
  for (const auto& c : cases) {
    VARIANT out = u"untouched";
    const HRESULT hr = VariantChangeType(&out, &c.from, c.flags, c.to);
    EXPECT_TRUE(hr == c.hr && Key(out) == Key(SUCCEEDED(hr) ? c.expected : VARIANT(u"untouched"))) << &c - cases;
  }
  // The usual in-place form, also when the source is a reference to dst itself.
  VARIANT v = u"41", self = VARIANT(1.5), toSelf = VARIANT::ByRef(&self);
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4) | VariantChangeType(&self, &toSelf, 0, VT_BSTR), S_OK);
  EXPECT_TRUE(Key(v) == Key(41) && Key(self) == Key(u"1.5") && VariantChangeType(nullptr, &v, 0, VT_I4) == E_INVALIDARG);
}

TEST(SafeArray, OrderArraysLockBoundsAndRefusals) {
  VARIANT order = VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, 36)), got;
  LONG hi = -1, index = 11, value = 9, out = 0;
  void* data = nullptr;
  ASSERT_EQ(SafeArrayGetUBound(order.parray, 1, &hi) | SafeArrayAccessData(order.parray, &data), S_OK);
  EXPECT_TRUE(hi == 35 && std::all_of(Data(order.parray), Data(order.parray) + 36, [](auto& v) { return !v.vt; }));
  static_cast<VARIANT*>(data)[11] = 123450;
  // While the data is out, neither the array nor its VARIANT may be freed.
  EXPECT_EQ((std::tuple{SafeArrayDestroy(order.parray), VariantClear(&order), SafeArrayUnaccessData(order.parray),
                        SafeArrayUnaccessData(order.parray)}),
            std::tuple(DISP_E_ARRAYISLOCKED, DISP_E_ARRAYISLOCKED, S_OK, E_UNEXPECTED));
  EXPECT_TRUE(SafeArrayGetElement(order.parray, &index, &got) == S_OK && got.lVal == 123450);
  // The guard holds the data while it lives and gives it back when it goes.
  EXPECT_EQ((std::pair{SafeArrayDataAccess(order.parray).Count(), VariantClear(&order)}),
            std::pair(std::size_t{36}, DISP_E_ARRAYISLOCKED));
  EXPECT_TRUE(VariantClear(&order) == S_OK && order.vt == VT_EMPTY);
  // A locked array's VARIANT refuses VariantClear but its destructor still frees it.
  VARIANT locked = VARIANT::Array(SafeArrayCreateVector(VT_UI1, 0, 8));
  EXPECT_TRUE(SafeArrayAccessData(locked.parray, &data) == S_OK && VariantClear(&locked) == DISP_E_ARRAYISLOCKED);

  SAFEARRAYBOUND two[2] = {{2, 0}, {2, 0}};
  for (SAFEARRAY* refused : {SafeArrayCreate(VT_VARIANT, 2, two), SafeArrayCreate(VT_VARIANT, 1, nullptr),
                             SafeArrayCreateVector(VT_BSTR, 0, 4), SafeArrayCreateVector(VT_VARIANT, 0, 0xFFFFFFFFu),
                             SafeArrayCreateVector(VT_UI1, std::numeric_limits<LONG>::max(), 2)})
    EXPECT_EQ(refused, nullptr);
  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, -2, 4);
  for (LONG i : {-3, -2, 1, 2, std::numeric_limits<LONG>::min()}) {
    const HRESULT hr = i == -2 || i == 1 ? S_OK : DISP_E_BADINDEX;
    EXPECT_TRUE(SafeArrayPutElement(psa, &i, &value) == hr && SafeArrayGetElement(psa, &i, &out) == hr) << i;
  }
  for (HRESULT hr : {SafeArrayGetElement(nullptr, &index, &out), SafeArrayPutElement(psa, nullptr, &value),
                     SafeArrayPutElement(psa, &index, nullptr), SafeArrayAccessData(psa, nullptr)})
    EXPECT_EQ(hr, E_INVALIDARG);
  EXPECT_EQ((std::tuple{out, SafeArrayGetLBound(psa, 2, &out), SafeArrayUnaccessData(psa), SafeArrayDestroy(psa)}),
            std::tuple(9, DISP_E_BADINDEX, E_UNEXPECTED, S_OK));
}

TEST(Variant, CopiesDeeplyMovesCheaplyAndCopiesThroughReferences) {
  SAFEARRAY *inner = SafeArrayCreateVector(VT_VARIANT, 0, 2), *outer = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  Data(inner)[0] = u"inner", Data(outer)[0] = u"text", Data(outer)[1] = VARIANT::Array(inner);
  VARIANT original = VARIANT::Array(outer), copy = original, lockedCopy;
  Data(outer)[0] = 5, Data(inner)[0] = 6;
  ASSERT_TRUE(copy.parray != outer && Data(copy.parray)[1].parray != inner);
  EXPECT_EQ(Data(copy.parray)[0].bstrVal + Data(Data(copy.parray)[1].parray)[0].bstrVal, u"textinner");
  // Locks belong to the original array, not to its copy; a locked array is not replaced.
  ASSERT_TRUE(SafeArrayLock(original.parray) == S_OK && VariantCopy(&lockedCopy, &original) == S_OK);
  EXPECT_EQ(std::pair(lockedCopy.parray->cLocks, VariantCopy(&original, &copy)), std::pair(0u, DISP_E_ARRAYISLOCKED));
  VARIANT moved = std::move(copy);
  ASSERT_TRUE(SafeArrayUnlock(original.parray) == S_OK && copy.vt == VT_EMPTY);
  // Assigning one of its own elements must not read the array it is freeing.
  moved = Data(moved.parray)[1];
  ASSERT_TRUE(moved.vt == (VT_ARRAY | VT_VARIANT) && moved.parray->rgsabound[0].cElements == 2u);
  moved = std::move(Data(moved.parray)[0]);
  EXPECT_EQ(moved.bstrVal, u"inner");

  VARIANT bad, out, shallow;
  bad.vt = 0x0FFF;
  for (HRESULT hr : {VariantClear(&bad), VariantCopy(&out, &bad)}) EXPECT_EQ(hr, DISP_E_BADVARTYPE);
  // An array whose copy fails part way frees what it had copied (the sanitizer build sees a leak).
  VARIANT holder = VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, 2));
  Data(holder.parray)[0] = u"copied first", Data(holder.parray)[1].vt = 0x0FFF;
  EXPECT_TRUE(FAILED(VariantCopy(&out, &holder)) && out.vt == VT_EMPTY && VariantClear(nullptr) == E_INVALIDARG);
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
  Data<BYTE>(bytes)[2] = 0xAB;
  VARIANT refArray = Ref(VT_ARRAY | VT_UI1, &bytes);
  ASSERT_TRUE(VariantCopyInd(&out, &refArray) == S_OK && VariantCopy(&shallow, &refArray) == S_OK);
  EXPECT_TRUE(out.vt == (VT_ARRAY | VT_UI1) && out.parray != bytes && Data<BYTE>(out.parray)[2] == 0xAB);
  // Borrowed: bytes stays alive.
  EXPECT_TRUE(shallow.pparray == &bytes && (VariantClear(&shallow) | SafeArrayDestroy(bytes)) == S_OK);
}

}  // namespace
}  // namespace kdx
