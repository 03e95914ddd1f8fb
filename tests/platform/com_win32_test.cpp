// The COM adapter's boundary (built for Windows only): values and calls between a COM client
// and an object of ours, as a host reaches the control.
#include "platform/win32/com_internal.h"

#include <gtest/gtest.h>

#include <vector>

namespace kdx::com {
namespace {

// Echo(v) returns v; Grow(VARIANT*) appends "+" to the text it is handed by reference; Fail
// raises an automation exception.
std::shared_ptr<kdx::IDispatch> MakeObject() {
  return std::make_shared<kdx::DispatchObject>(kdx::DispatchTable{
      {1, u"Echo", kdx::MemberKind::Method, kdx::VT_VARIANT, {{kdx::VT_VARIANT, u"v"}}, u"",
       [](std::span<kdx::VARIANT> a, kdx::VARIANT* r) { return kdx::VariantCopy(r, &a[0]); }},
      {2, u"Grow", kdx::MemberKind::Method, kdx::VT_EMPTY, {{kdx::VT_VARIANT | kdx::VT_BYREF, u"v"}}, u"",
       [](std::span<kdx::VARIANT> a, kdx::VARIANT*) {
         a[0].pvarVal->bstrVal += u"+";
         return kdx::S_OK;
       }},
      {3, u"Fail", kdx::MemberKind::Method, kdx::VT_EMPTY, {}, u"",
       [](std::span<kdx::VARIANT>, kdx::VARIANT*) -> kdx::HRESULT {
         throw kdx::COleDispatchException(kdx::E_FAIL, u"refused");
       }},
  });
}

::HRESULT Call(::IDispatch* object, ::DISPID id, std::vector<::VARIANT> reversedArgs, ::VARIANT* result,
               EXCEPINFO* exception = nullptr, std::vector<::DISPID> named = {}, UINT* argErr = nullptr) {
  DISPPARAMS params{reversedArgs.data(), named.data(), static_cast<UINT>(reversedArgs.size()),
                    static_cast<UINT>(named.size())};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, exception, argErr);
}

::VARIANT Nested(int depth) {
  ::VARIANT v;
  ::VariantInit(&v);
  V_VT(&v) = VT_I4;
  for (int i = 0; i < depth; ++i) {
    ::SAFEARRAY* psa = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG index = 0;
    ::SafeArrayPutElement(psa, &index, &v);
    ::VariantClear(&v);
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    v.parray = psa;
  }
  return v;
}

TEST(ComAdapter, ConvertsValuesBothWaysAndBoundsTheirNesting) {
  ::IDispatch* object = WrapObject(MakeObject(), nullptr);
  ::VARIANT result;
  ::VARIANT money;
  ::VariantInit(&money);
  V_VT(&money) = VT_CY;
  money.cyVal.int64 = 12345;  // 1.2345 as a Currency
  ASSERT_EQ(Call(object, 1, {money}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_R8);
  EXPECT_DOUBLE_EQ(result.dblVal, 1.2345);

  ::VARIANT deep = Nested(16), tooDeep = Nested(17);
  EXPECT_EQ(Call(object, 1, {deep}, &result), S_OK);
  EXPECT_EQ(V_VT(&result), VT_ARRAY | VT_VARIANT);
  ::VariantClear(&result);
  UINT argErr = 99;
  EXPECT_EQ(Call(object, 1, {tooDeep}, &result, nullptr, {}, &argErr), kdx::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  ::VariantClear(&deep);
  ::VariantClear(&tooDeep);

  // A value passed by reference is written back; named arguments are refused.
  ::VARIANT text, byRef;
  ::VariantInit(&text);
  V_VT(&text) = VT_BSTR;
  text.bstrVal = ::SysAllocString(L"abc");
  V_VT(&byRef) = VT_BYREF | VT_VARIANT;
  byRef.pvarVal = &text;
  EXPECT_EQ(Call(object, 2, {byRef}, nullptr), S_OK);
  EXPECT_STREQ(text.bstrVal, L"abc+");
  EXPECT_EQ(Call(object, 2, {byRef}, nullptr, nullptr, {0}), DISP_E_NONAMEDARGS);
  ::VariantClear(&text);

  EXCEPINFO exception{};
  EXPECT_EQ(Call(object, 3, {}, nullptr, &exception), kdx::DISP_E_EXCEPTION);
  EXPECT_STREQ(exception.bstrDescription, L"refused");
  ::SysFreeString(exception.bstrDescription);
  ::SysFreeString(exception.bstrSource);

  // Our own object handed back through COM is ours again, not a wrapper around a wrapper.
  const auto again = WrapForeign(object);
  EXPECT_EQ(UnwrapOwn(object), again);
  object->Release();
}

}  // namespace
}  // namespace kdx::com
