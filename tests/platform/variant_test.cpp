#include "platform/variant.h"

#include <gtest/gtest.h>

#include <charconv>
#include <limits>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/safearray.h"

namespace kdx {
namespace {

// Type and exact value, so that comparing two descriptions compares the values.
std::string Describe(const VARIANT& v) {
  auto exact = [](auto x) {
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
  };
  switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I2: return "I2 " + std::to_string(v.iVal);
    case VT_I4: return "I4 " + std::to_string(v.lVal);
    case VT_I8: return "I8 " + std::to_string(v.llVal);
    case VT_UI1: return "UI1 " + std::to_string(v.bVal);
    case VT_R4: return "R4 " + exact(v.fltVal);
    case VT_R8: return "R8 " + exact(v.dblVal);
    case VT_BOOL: return "BOOL " + std::to_string(v.boolVal);
    case VT_BSTR: return "BSTR \"" + std::string(v.bstrVal.begin(), v.bstrVal.end()) + "\"";
    default: return "vt " + std::to_string(v.vt);
  }
}

TEST(VariantChangeType, CoercesAmongTheAutomationTypes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const VARIANT T = VARIANT::Bool(true), F = VARIANT::Bool(false), N = VARIANT::Null();
  constexpr HRESULT OVER = DISP_E_OVERFLOW, MISMATCH = DISP_E_TYPEMISMATCH;
  const struct {
    VARIANT from;
    VARTYPE to;
    HRESULT hr;
    VARIANT expected;  // checked only when hr succeeds
    WORD flags = 0;
  } cases[] = {
      // Integers: range checks at both ends of each type.
      {-42, VT_BSTR, S_OK, u"-42"}, {70000, VT_I2, OVER, {}}, {255, VT_UI1, S_OK, VARIANT::UI1(255)},
      {256, VT_UI1, OVER, {}}, {-1, VT_UI1, OVER, {}}, {VARIANT::I8(int64_t{1} << 40), VT_I4, OVER, {}},
      {2, VT_BOOL, S_OK, T},
      // Reals to integers round half to even, then check the range.
      {2.5, VT_I4, S_OK, 2}, {3.5, VT_I4, S_OK, 4}, {-2.5, VT_I4, S_OK, -2},
      {2147483647.4, VT_I4, S_OK, 2147483647}, {2147483647.6, VT_I4, OVER, {}},
      {-2147483648.4, VT_I4, S_OK, std::numeric_limits<int32_t>::min()}, {-2147483648.6, VT_I4, OVER, {}},
      {9223372036854775808.0, VT_I8, OVER, {}}, {nan, VT_I4, OVER, {}}, {1e39, VT_R4, OVER, {}},
      {nan, VT_BOOL, S_OK, T},
      // Reals to text: shortest round trip; exponent form from 1E+15 and below 1E-06.
      {0.1, VT_BSTR, S_OK, u"0.1"}, {0.1 + 0.2, VT_BSTR, S_OK, u"0.30000000000000004"},
      {123456789012345.0, VT_BSTR, S_OK, u"123456789012345"}, {-1234.5, VT_BSTR, S_OK, u"-1234.5"},
      {1e15, VT_BSTR, S_OK, u"1E+15"}, {1.5e20, VT_BSTR, S_OK, u"1.5E+20"},
      {0.000001, VT_BSTR, S_OK, u"0.000001"}, {1.25e-7, VT_BSTR, S_OK, u"1.25E-07"},
      {nan, VT_BSTR, S_OK, u"NaN"}, {VARIANT::R4(0.1f), VT_BSTR, S_OK, u"0.1"},
      // Text to numbers: invariant format, white space around, nothing else.
      {u" \t12 ", VT_I4, S_OK, 12}, {u"+7", VT_I2, S_OK, VARIANT::I2(7)}, {u"2.5", VT_I4, S_OK, 2},
      {u"1.5e3", VT_I4, S_OK, 1500}, {u"-.5", VT_R8, S_OK, -0.5},
      {u"9223372036854775807", VT_I8, S_OK, VARIANT::I8(std::numeric_limits<int64_t>::max())},
      {u"2147483648", VT_I4, OVER, {}}, {u"9223372036854775808", VT_I8, OVER, {}}, {u"1e400", VT_R8, OVER, {}},
      {u"1e-400", VT_R8, S_OK, 0.0}, {u"x", VT_I4, MISMATCH, {}}, {u"", VT_I4, MISMATCH, {}},
      {u"12abc", VT_I4, MISMATCH, {}}, {u".", VT_R8, MISMATCH, {}}, {u"1e", VT_R8, MISMATCH, {}},
      {u"\uFF13", VT_I4, MISMATCH, {}},
      {u" true ", VT_BOOL, S_OK, T}, {u"FALSE", VT_BOOL, S_OK, F}, {u"0", VT_BOOL, S_OK, F},
      {u"yes", VT_BOOL, MISMATCH, {}},
      // True is all bits set; as text it is -1 unless asked for the word.
      {T, VT_I4, S_OK, -1}, {T, VT_UI1, S_OK, VARIANT::UI1(255)}, {T, VT_BSTR, S_OK, u"-1"},
      {T, VT_BSTR, S_OK, u"True", VARIANT_ALPHABOOL},
      // EMPTY is zero or empty text; NULL, ERROR and EMPTY come only from themselves.
      {{}, VT_I4, S_OK, 0}, {{}, VT_BSTR, S_OK, u""}, {N, VT_I4, MISMATCH, {}}, {N, VT_NULL, S_OK, N},
      {1, VT_EMPTY, MISMATCH, {}}, {VARIANT::Error(E_FAIL), VT_I4, MISMATCH, {}},
      {1, 99, DISP_E_BADVARTYPE, {}}, {1, VT_BYREF | VT_I4, MISMATCH, {}},
  };
  for (const auto& c : cases) {
    const std::string what = Describe(c.from) + " to vt " + std::to_string(c.to);
    VARIANT out = VARIANT(u"untouched");
    EXPECT_EQ(VariantChangeType(&out, &c.from, c.flags, c.to), c.hr) << what;
    EXPECT_EQ(Describe(out), SUCCEEDED(c.hr) ? Describe(c.expected) : "BSTR \"untouched\"") << what;
  }
}

TEST(VariantChangeType, DereferencesAndConvertsInPlace) {
  LONG n = 7;
  std::u16string text = u"2.5";
  VARIANT inner = VARIANT::Bool(true), refLong, refText, nullRef = VARIANT::ByRef(nullptr), out;
  refLong.vt = VT_BYREF | VT_I4;
  refLong.plVal = &n;
  refText.vt = VT_BYREF | VT_BSTR;
  refText.pbstrVal = &text;
  ASSERT_EQ(VariantChangeType(&out, &refLong, 0, VT_BSTR), S_OK);
  EXPECT_EQ(out.bstrVal, u"7");
  ASSERT_EQ(VariantChangeType(&out, &refText, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 2);
  VARIANT refInner = VARIANT::ByRef(&inner);
  ASSERT_EQ(VariantChangeType(&out, &refInner, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, -1);
  EXPECT_EQ(VariantChangeType(&out, &nullRef, 0, VT_I4), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(nullptr, &inner, 0, VT_I4), E_INVALIDARG);

  // The usual in-place form, also when the source is a reference to dst itself.
  VARIANT v = u"41";
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(v), "I4 41");
  VARIANT self = VARIANT(1.5);
  VARIANT toSelf = VARIANT::ByRef(&self);
  ASSERT_EQ(VariantChangeType(&self, &toSelf, 0, VT_BSTR), S_OK);
  EXPECT_EQ(self.bstrVal, u"1.5");
}

// An object whose value property is what it converts to.
class ValueObject : public DispatchObject {
 public:
  explicit ValueObject(VARIANT value)
      : DispatchObject({{DISPID_VALUE, u"Value", MemberKind::PropertyGet, VT_VARIANT, {}, u"",
                         [value](std::span<VARIANT>, VARIANT* r) { return VariantCopy(r, &value); }}}) {}
};

TEST(VariantChangeType, ConvertsObjectsThroughTheirValueProperty) {
  VARIANT obj = VARIANT::Dispatch(std::make_shared<ValueObject>(u"15")), none = VARIANT::Dispatch(nullptr), out;
  ASSERT_EQ(VariantChangeType(&out, &obj, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 15);
  EXPECT_EQ(VariantChangeType(&out, &obj, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&out, &none, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &obj, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(out.pdispVal, obj.pdispVal);
}

TEST(SafeArray, OrderArrayOfThirtySixVariantsAndItsLocks) {
  VARIANT order = VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, 36));
  ASSERT_NE(order.parray, nullptr);
  LONG lo = -1, hi = -1;
  EXPECT_EQ(SafeArrayGetLBound(order.parray, 1, &lo), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(order.parray, 1, &hi), S_OK);
  EXPECT_EQ(std::pair(lo, hi), (std::pair<LONG, LONG>(0, 35)));

  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(order.parray, &data), S_OK);
  auto* fields = static_cast<VARIANT*>(data);
  for (int i = 0; i < 36; ++i) EXPECT_EQ(fields[i].vt, VT_EMPTY) << i;
  fields[11] = 123450;
  // While the data is out, neither the array nor its VARIANT may be freed.
  EXPECT_EQ(SafeArrayDestroy(order.parray), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(VariantClear(&order), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(order.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(SafeArrayUnaccessData(order.parray), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(order.parray), E_UNEXPECTED);

  VARIANT got;
  LONG index = 11;
  ASSERT_EQ(SafeArrayGetElement(order.parray, &index, &got), S_OK);
  EXPECT_EQ(got.lVal, 123450);
  {
    SafeArrayDataAccess access(order.parray);
    ASSERT_EQ(access.Count(), 36u);
    EXPECT_EQ(VariantClear(&order), DISP_E_ARRAYISLOCKED);
  }
  EXPECT_EQ(VariantClear(&order), S_OK) << "the guard gives access back when it goes";
  EXPECT_EQ(order.vt, VT_EMPTY);
  // A locked array's VARIANT refuses VariantClear but its destructor still frees it.
  VARIANT locked = VARIANT::Array(SafeArrayCreateVector(VT_UI1, 0, 8));
  ASSERT_EQ(SafeArrayAccessData(locked.parray, &data), S_OK);
  EXPECT_EQ(VariantClear(&locked), DISP_E_ARRAYISLOCKED);
}

TEST(SafeArray, RefusesBadArgumentsWithResultCodes) {
  SAFEARRAYBOUND two[2] = {{2, 0}, {2, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, two), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 1, nullptr), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_BSTR, 0, 4), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_VARIANT, 0, 0xFFFFFFFFu), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_UI1, std::numeric_limits<LONG>::max(), 2), nullptr);

  SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, -2, 4);
  ASSERT_NE(psa, nullptr);
  LONG value = 9, out = 0;
  for (LONG first : {-3, -2, 1, 2, std::numeric_limits<LONG>::min()}) {
    const HRESULT hr = first == -2 || first == 1 ? S_OK : DISP_E_BADINDEX;
    LONG index = first;
    EXPECT_EQ(SafeArrayPutElement(psa, &index, &value), hr) << first;
    EXPECT_EQ(SafeArrayGetElement(psa, &index, &out), hr) << first;
  }
  EXPECT_EQ(out, 9);
  LONG index = 0;
  EXPECT_EQ(SafeArrayGetElement(nullptr, &index, &out), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(psa, nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(psa, &index, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(psa, 2, &out), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &out), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(psa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(Variant, CopiesArraysDeeplyAndMovesCheaply) {
  SAFEARRAY* inner = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  ASSERT_TRUE(inner && outer);
  static_cast<VARIANT*>(inner->pvData)[0] = u"inner";
  auto* cells = static_cast<VARIANT*>(outer->pvData);
  cells[0] = u"text";
  cells[1] = VARIANT::Array(inner);
  VARIANT original = VARIANT::Array(outer);

  VARIANT copy = original;
  ASSERT_NE(copy.parray, original.parray);
  cells[0] = 5;
  static_cast<VARIANT*>(inner->pvData)[0] = 6;
  auto* copied = static_cast<VARIANT*>(copy.parray->pvData);
  EXPECT_EQ(copied[0].bstrVal, u"text");
  ASSERT_NE(copied[1].parray, inner);
  EXPECT_EQ(static_cast<VARIANT*>(copied[1].parray->pvData)[0].bstrVal, u"inner");

  // Locks belong to the original array, not to its copy.
  ASSERT_EQ(SafeArrayLock(original.parray), S_OK);
  VARIANT lockedCopy;
  ASSERT_EQ(VariantCopy(&lockedCopy, &original), S_OK);
  EXPECT_EQ(lockedCopy.parray->cLocks, 0u);
  EXPECT_EQ(VariantCopy(&original, &copy), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(original.parray), S_OK);

  VARIANT moved = std::move(copy);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  // Assigning one of its own elements must not read the array it is freeing.
  moved = static_cast<VARIANT*>(moved.parray->pvData)[1];
  ASSERT_EQ(moved.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(moved.parray->rgsabound[0].cElements, 2u);
  moved = std::move(static_cast<VARIANT*>(moved.parray->pvData)[0]);
  EXPECT_EQ(moved.bstrVal, u"inner");
}

TEST(Variant, ClearAndCopyIndHandleEveryForm) {
  VARIANT bad, out;
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  EXPECT_EQ(VariantCopy(&out, &bad), DISP_E_BADVARTYPE);

  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
  ASSERT_NE(bytes, nullptr);
  static_cast<BYTE*>(bytes->pvData)[2] = 0xAB;
  VARIANT refArray;
  refArray.vt = VT_BYREF | VT_ARRAY | VT_UI1;
  refArray.pparray = &bytes;
  ASSERT_EQ(VariantCopyInd(&out, &refArray), S_OK);
  EXPECT_EQ(out.vt, VT_ARRAY | VT_UI1);
  ASSERT_NE(out.parray, bytes);
  EXPECT_EQ(static_cast<BYTE*>(out.parray->pvData)[2], 0xAB);

  VARIANT shallow;
  ASSERT_EQ(VariantCopy(&shallow, &refArray), S_OK);
  EXPECT_EQ(shallow.pparray, &bytes);
  EXPECT_EQ(VariantClear(&shallow), S_OK);  // borrowed: bytes stays alive
  EXPECT_EQ(SafeArrayDestroy(bytes), S_OK);

  for (VARIANT ref : {VARIANT::ByRef(&refArray), VARIANT::ByRef(nullptr)})
    EXPECT_EQ(VariantCopyInd(&out, &ref), E_INVALIDARG);
}

}  // namespace
}  // namespace kdx
