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

struct Coercion {
  const char* what;
  VARIANT from;
  VARTYPE to;
  HRESULT hr;
  VARIANT expected;  // checked only when hr succeeds
  WORD flags = 0;
};

TEST(VariantChangeType, CoercesAmongTheAutomationTypes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Coercion cases[] = {
      {"I4 to R8", 5, VT_R8, S_OK, 5.0},
      {"I4 to BSTR", -42, VT_BSTR, S_OK, u"-42"},
      {"I4 to I2", 300, VT_I2, S_OK, VARIANT::I2(300)},
      {"I4 to I2 overflow", 70000, VT_I2, DISP_E_OVERFLOW, {}},
      {"I4 to UI1", 255, VT_UI1, S_OK, VARIANT::UI1(255)},
      {"I4 to UI1 too big", 256, VT_UI1, DISP_E_OVERFLOW, {}},
      {"I4 to UI1 negative", -1, VT_UI1, DISP_E_OVERFLOW, {}},
      {"I4 to I8", -7, VT_I8, S_OK, VARIANT::I8(-7)},
      {"I4 non-zero to BOOL", 2, VT_BOOL, S_OK, VARIANT::Bool(true)},
      {"R8 2.5 rounds to even", 2.5, VT_I4, S_OK, 2},
      {"R8 3.5 rounds to even", 3.5, VT_I4, S_OK, 4},
      {"R8 -2.5 rounds to even", -2.5, VT_I4, S_OK, -2},
      {"R8 0.5 rounds to zero", 0.5, VT_I4, S_OK, 0},
      {"R8 just below I4 max", 2147483647.4, VT_I4, S_OK, 2147483647},
      {"R8 rounds past I4 max", 2147483647.6, VT_I4, DISP_E_OVERFLOW, {}},
      {"R8 at I4 min", -2147483648.4, VT_I4, S_OK, std::numeric_limits<int32_t>::min()},
      {"R8 rounds past I4 min", -2147483648.6, VT_I4, DISP_E_OVERFLOW, {}},
      {"R8 2^63 to I8", 9223372036854775808.0, VT_I8, DISP_E_OVERFLOW, {}},
      {"R8 NaN to I4", nan, VT_I4, DISP_E_OVERFLOW, {}},
      {"R8 to R4 overflow", 1e39, VT_R4, DISP_E_OVERFLOW, {}},
      {"R8 NaN to BOOL", nan, VT_BOOL, S_OK, VARIANT::Bool(true)},
      {"R8 to BSTR shortest", 0.1, VT_BSTR, S_OK, u"0.1"},
      {"R8 sum to BSTR round-trips", 0.1 + 0.2, VT_BSTR, S_OK, u"0.30000000000000004"},
      {"R8 integral to BSTR", 123456789012345.0, VT_BSTR, S_OK, u"123456789012345"},
      {"R8 fraction to BSTR", -1234.5, VT_BSTR, S_OK, u"-1234.5"},
      {"R8 1e15 to BSTR", 1e15, VT_BSTR, S_OK, u"1E+15"},
      {"R8 large to BSTR", 1.5e20, VT_BSTR, S_OK, u"1.5E+20"},
      {"R8 small to BSTR", 0.000001, VT_BSTR, S_OK, u"0.000001"},
      {"R8 tiny to BSTR", 1.25e-7, VT_BSTR, S_OK, u"1.25E-07"},
      {"R8 NaN to BSTR", nan, VT_BSTR, S_OK, u"NaN"},
      {"R4 to BSTR shortest", VARIANT::R4(0.1f), VT_BSTR, S_OK, u"0.1"},
      {"BSTR integer", u"12", VT_I4, S_OK, 12},
      {"BSTR padded", u" \t12 ", VT_I4, S_OK, 12},
      {"BSTR signed", u"+7", VT_I2, S_OK, VARIANT::I2(7)},
      {"BSTR fraction rounds to even", u"2.5", VT_I4, S_OK, 2},
      {"BSTR exponent", u"1.5e3", VT_I4, S_OK, 1500},
      {"BSTR decimal to R8", u"3.25", VT_R8, S_OK, 3.25},
      {"BSTR leading dot", u"-.5", VT_R8, S_OK, -0.5},
      {"BSTR I8 max exactly", u"9223372036854775807", VT_I8, S_OK,
       VARIANT::I8(std::numeric_limits<int64_t>::max())},
      {"BSTR past I4", u"2147483648", VT_I4, DISP_E_OVERFLOW, {}},
      {"BSTR past I8", u"9223372036854775808", VT_I8, DISP_E_OVERFLOW, {}},
      {"BSTR past R8", u"1e400", VT_R8, DISP_E_OVERFLOW, {}},
      {"BSTR below R8", u"1e-400", VT_R8, S_OK, 0.0},
      {"BSTR past UI1", u"300", VT_UI1, DISP_E_OVERFLOW, {}},
      {"BSTR not a number", u"x", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR empty", u"", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR trailing text", u"12abc", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR grouping", u"1,234", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR lone dot", u".", VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"BSTR bare exponent", u"1e", VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"BSTR full-width digit", u"\uFF13", VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"BSTR words to R8", u"Infinity", VT_R8, DISP_E_TYPEMISMATCH, {}},
      {"BSTR True", u" true ", VT_BOOL, S_OK, VARIANT::Bool(true)},
      {"BSTR False", u"FALSE", VT_BOOL, S_OK, VARIANT::Bool(false)},
      {"BSTR number to BOOL", u"0", VT_BOOL, S_OK, VARIANT::Bool(false)},
      {"BSTR other word to BOOL", u"yes", VT_BOOL, DISP_E_TYPEMISMATCH, {}},
      {"BOOL true to I4", VARIANT::Bool(true), VT_I4, S_OK, -1},
      {"BOOL true to UI1", VARIANT::Bool(true), VT_UI1, S_OK, VARIANT::UI1(255)},
      {"BOOL true to R8", VARIANT::Bool(true), VT_R8, S_OK, -1.0},
      {"BOOL to BSTR", VARIANT::Bool(true), VT_BSTR, S_OK, u"-1"},
      {"BOOL to BSTR alpha", VARIANT::Bool(true), VT_BSTR, S_OK, u"True", VARIANT_ALPHABOOL},
      {"I4 -1 to BOOL", -1, VT_BOOL, S_OK, VARIANT::Bool(true)},
      {"I8 to I4 overflow", VARIANT::I8(int64_t{1} << 40), VT_I4, DISP_E_OVERFLOW, {}},
      {"I8 to R8", VARIANT::I8(int64_t{1} << 40), VT_R8, S_OK, 1099511627776.0},
      {"I8 to BSTR", VARIANT::I8(std::numeric_limits<int64_t>::min()), VT_BSTR, S_OK, u"-9223372036854775808"},
      {"UI1 to I2", VARIANT::UI1(200), VT_I2, S_OK, VARIANT::I2(200)},
      {"I2 negative to UI1", VARIANT::I2(-5), VT_UI1, DISP_E_OVERFLOW, {}},
      {"EMPTY to I4", {}, VT_I4, S_OK, 0},
      {"EMPTY to BSTR", {}, VT_BSTR, S_OK, u""},
      {"EMPTY to BOOL", {}, VT_BOOL, S_OK, VARIANT::Bool(false)},
      {"NULL to I4", VARIANT::Null(), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"NULL to BSTR", VARIANT::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, {}},
      {"NULL to NULL", VARIANT::Null(), VT_NULL, S_OK, VARIANT::Null()},
      {"I4 to EMPTY", 1, VT_EMPTY, DISP_E_TYPEMISMATCH, {}},
      {"ERROR to I4", VARIANT::Error(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH, {}},
      {"I4 to unknown type", 1, 99, DISP_E_BADVARTYPE, {}},
      {"I4 to a reference", 1, VT_BYREF | VT_I4, DISP_E_TYPEMISMATCH, {}},
  };
  for (const Coercion& c : cases) {
    VARIANT out = VARIANT(u"untouched");
    const HRESULT hr = VariantChangeType(&out, &c.from, c.flags, c.to);
    EXPECT_EQ(hr, c.hr) << c.what;
    if (SUCCEEDED(c.hr)) {
      EXPECT_EQ(Describe(out), Describe(c.expected)) << c.what;
    } else {
      EXPECT_EQ(Describe(out), "BSTR \"untouched\"") << c.what << ": a failure changed dst";
    }
  }
}

TEST(VariantChangeType, DereferencesAndConvertsInPlace) {
  LONG n = 7;
  std::u16string text = u"2.5";
  VARIANT inner = VARIANT::Bool(true);
  struct Case {
    const char* what;
    VARIANT from;
    VARTYPE to;
    VARIANT expected;
  };
  VARIANT refLong;
  refLong.vt = VT_BYREF | VT_I4;
  refLong.plVal = &n;
  VARIANT refText;
  refText.vt = VT_BYREF | VT_BSTR;
  refText.pbstrVal = &text;
  const Case cases[] = {
      {"BYREF I4", refLong, VT_BSTR, u"7"},
      {"BYREF BSTR", refText, VT_I4, 2},
      {"BYREF VARIANT", VARIANT::ByRef(&inner), VT_I4, -1},
  };
  for (const Case& c : cases) {
    VARIANT out;
    ASSERT_EQ(VariantChangeType(&out, &c.from, 0, c.to), S_OK) << c.what;
    EXPECT_EQ(Describe(out), Describe(c.expected)) << c.what;
  }

  VARIANT nullRef = VARIANT::ByRef(nullptr);
  VARIANT out;
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
  VARIANT obj = VARIANT::Dispatch(std::make_shared<ValueObject>(u"15"));
  VARIANT out;
  ASSERT_EQ(VariantChangeType(&out, &obj, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 15);
  EXPECT_EQ(VariantChangeType(&out, &obj, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
  VARIANT none = VARIANT::Dispatch(nullptr);
  EXPECT_EQ(VariantChangeType(&out, &none, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &obj, 0, VT_DISPATCH), S_OK);
  EXPECT_EQ(out.pdispVal, obj.pdispVal);
}

TEST(SafeArray, OrderArrayOfThirtySixVariants) {
  VARIANT order = VARIANT::Array(SafeArrayCreateVector(VT_VARIANT, 0, 36));
  ASSERT_EQ(order.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_NE(order.parray, nullptr);
  EXPECT_EQ(SafeArrayGetDim(order.parray), 1u);
  LONG lo = -1, hi = -1;
  EXPECT_EQ(SafeArrayGetLBound(order.parray, 1, &lo), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(order.parray, 1, &hi), S_OK);
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 35);

  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(order.parray, &data), S_OK);
  auto* fields = static_cast<VARIANT*>(data);
  for (int i = 0; i < 36; ++i) EXPECT_EQ(fields[i].vt, VT_EMPTY) << i;
  fields[0] = u"A123456789";
  fields[11] = 123450;

  // While the data is out, neither the array nor its VARIANT may be freed.
  EXPECT_EQ(SafeArrayDestroy(order.parray), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(VariantClear(&order), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(order.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(SafeArrayUnaccessData(order.parray), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(order.parray), E_UNEXPECTED);

  VARIANT got;
  LONG index = 0;
  ASSERT_EQ(SafeArrayGetElement(order.parray, &index, &got), S_OK);
  EXPECT_EQ(got.bstrVal, u"A123456789");
  index = 11;
  ASSERT_EQ(SafeArrayGetElement(order.parray, &index, &got), S_OK);
  EXPECT_EQ(got.lVal, 123450);
  {
    SafeArrayDataAccess access(order.parray);
    ASSERT_EQ(access.Count(), 36u);
    access.Variants()[35] = u"acct";
    EXPECT_EQ(VariantClear(&order), DISP_E_ARRAYISLOCKED);
  }
  EXPECT_EQ(VariantClear(&order), S_OK) << "the guard gives access back when it goes";
  EXPECT_EQ(order.vt, VT_EMPTY);
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
  struct Index {
    LONG index;
    HRESULT hr;
  };
  for (const Index& c : std::initializer_list<Index>{{-3, DISP_E_BADINDEX}, {-2, S_OK}, {1, S_OK}, {2, DISP_E_BADINDEX},
                                                     {std::numeric_limits<LONG>::min(), DISP_E_BADINDEX}}) {
    LONG index = c.index;
    EXPECT_EQ(SafeArrayPutElement(psa, &index, &value), c.hr) << c.index;
    EXPECT_EQ(SafeArrayGetElement(psa, &index, &out), c.hr) << c.index;
    if (SUCCEEDED(c.hr)) {
      EXPECT_EQ(out, 9);
    }
  }
  LONG index = 0;
  EXPECT_EQ(SafeArrayGetElement(nullptr, &index, &out), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetElement(psa, nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(SafeArrayPutElement(psa, &index, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayGetLBound(psa, 2, &out), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &out), E_INVALIDARG);
  EXPECT_EQ(SafeArrayAccessData(psa, nullptr), E_INVALIDARG);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST(Variant, CopiesArraysDeeplyAndMovesCheaply) {
  SAFEARRAY* inner = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(inner, nullptr);
  static_cast<VARIANT*>(inner->pvData)[0] = u"inner";
  SAFEARRAY* outer = SafeArrayCreateVector(VT_VARIANT, 0, 3);
  ASSERT_NE(outer, nullptr);
  auto* cells = static_cast<VARIANT*>(outer->pvData);
  cells[0] = u"text";
  cells[1] = VARIANT::Array(inner);
  VARIANT original = VARIANT::Array(outer);

  VARIANT copy = original;
  ASSERT_EQ(copy.vt, VT_ARRAY | VT_VARIANT);
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
  EXPECT_EQ(moved.parray->rgsabound[0].cElements, 3u);

  // Assigning one of its own elements must not read the array it is freeing.
  moved = static_cast<VARIANT*>(moved.parray->pvData)[1];
  EXPECT_EQ(moved.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(moved.parray->rgsabound[0].cElements, 2u);
  moved = std::move(static_cast<VARIANT*>(moved.parray->pvData)[0]);
  EXPECT_EQ(moved.bstrVal, u"inner");
}

TEST(Variant, ClearAndCopyIndHandleEveryForm) {
  VARIANT bad;
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
  VARIANT out;
  EXPECT_EQ(VariantCopy(&out, &bad), DISP_E_BADVARTYPE);

  // A locked array's VARIANT refuses VariantClear but its destructor still frees it.
  {
    VARIANT locked = VARIANT::Array(SafeArrayCreateVector(VT_UI1, 0, 8));
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(locked.parray, &data), S_OK);
    EXPECT_EQ(VariantClear(&locked), DISP_E_ARRAYISLOCKED);
  }

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

  VARIANT nested = VARIANT::ByRef(&refArray);
  EXPECT_EQ(VariantCopyInd(&out, &nested), E_INVALIDARG);
  VARIANT dangling = VARIANT::ByRef(nullptr);
  EXPECT_EQ(VariantCopyInd(&out, &dangling), E_INVALIDARG);
}

}  // namespace
}  // namespace kdx
