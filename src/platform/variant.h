// Automation values: VARIANT with the OLE Automation type codes and the handful of
// Variant* functions the control and the trade-API component exchange values with.
//
// Unlike the C union, a VARIANT here is always a constructed C++ object: a BSTR is a
// std::u16string (a null BSTR and an empty one both read as empty, since nothing on
// either side of our interfaces tells them apart), a dispatch pointer is a shared_ptr,
// and an array (VT_ARRAY without VT_BYREF) is owned: copies deep-copy it and the
// destructor destroys it. Pointers of VT_BYREF values are borrowed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace kdx {

using SHORT = int16_t;
using USHORT = uint16_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using SCODE = int32_t;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_NULL = 1;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_R4 = 4;
inline constexpr VARTYPE VT_R8 = 5;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_ERROR = 10;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_I8 = 20;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYREF = 0x4000;
inline constexpr VARTYPE VT_TYPEMASK = 0x0FFF;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// VariantChangeType flags.
inline constexpr WORD VARIANT_NOVALUEPROP = 0x01;  // do not ask an object for its value property
inline constexpr WORD VARIANT_ALPHABOOL = 0x02;    // BOOL -> BSTR as "True"/"False" rather than "-1"/"0"
inline constexpr WORD VARIANT_LOCALBOOL = 0x10;    // treated as VARIANT_ALPHABOOL: the texts are not localised

struct SAFEARRAY;
class IDispatch;

struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  union {
    LONGLONG llVal = 0;
    LONG lVal;
    SHORT iVal;
    BYTE bVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    SAFEARRAY* parray;  // owned unless VT_BYREF is set
    // VT_BYREF forms: borrowed pointers.
    VARIANT* pvarVal;
    LONGLONG* pllVal;
    LONG* plVal;
    SHORT* piVal;
    BYTE* pbVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    std::u16string* pbstrVal;
    std::shared_ptr<IDispatch>* ppdispVal;
    SAFEARRAY** pparray;
  };
  std::u16string bstrVal;              // VT_BSTR
  std::shared_ptr<IDispatch> pdispVal;  // VT_DISPATCH

  VARIANT() noexcept = default;
  VARIANT(int32_t v) noexcept : vt(VT_I4) { lVal = v; }
  VARIANT(double v) noexcept : vt(VT_R8) { dblVal = v; }
  VARIANT(std::u16string v) noexcept : vt(VT_BSTR), bstrVal(std::move(v)) {}
  VARIANT(std::u16string_view v) : vt(VT_BSTR), bstrVal(v) {}
  VARIANT(const char16_t* v) : vt(VT_BSTR), bstrVal(v ? v : u"") {}
  // A bool would otherwise silently become VT_I4 1; say Variant::Bool instead.
  VARIANT(bool) = delete;

  static VARIANT Bool(bool v) noexcept;
  static VARIANT I2(SHORT v) noexcept;
  static VARIANT I8(LONGLONG v) noexcept;
  static VARIANT UI1(BYTE v) noexcept;
  static VARIANT R4(float v) noexcept;
  static VARIANT Null() noexcept;
  static VARIANT Error(SCODE code) noexcept;
  static VARIANT ByRef(VARIANT* target) noexcept;  // VT_BYREF | VT_VARIANT
  // Takes ownership; vt becomes VT_ARRAY | the array's element type (VT_EMPTY for null).
  static VARIANT Array(SAFEARRAY* psa) noexcept;
  static VARIANT Dispatch(std::shared_ptr<IDispatch> p) noexcept;

  // Copies follow VariantCopy (arrays deep-copied, BYREF pointers shared). A copy whose
  // array cannot be allocated becomes VT_ERROR holding E_OUTOFMEMORY rather than throwing.
  VARIANT(const VARIANT& other) noexcept;
  VARIANT(VARIANT&& other) noexcept;
  VARIANT& operator=(const VARIANT& other) noexcept;
  VARIANT& operator=(VARIANT&& other) noexcept;
  // Destroys an owned array even while it is locked: the owner is going away, and keeping
  // it would only leak it (VariantClear, which can report, refuses instead).
  ~VARIANT();

 private:
  void Release() noexcept;
  void StealFrom(VARIANT& other) noexcept;
};

using Variant = VARIANT;

// True for the type codes this layer knows (base types plus VT_ARRAY / VT_BYREF).
bool IsValidVarType(VARTYPE vt) noexcept;

// Resets to VT_EMPTY. On Windows this runs on raw memory and frees nothing; our VARIANT is
// always constructed, so whatever it owns is released (an owned array even when locked).
void VariantInit(VARIANT* pvar) noexcept;
// S_OK; E_INVALIDARG for null; DISP_E_BADVARTYPE for an unknown type code; and, as on
// Windows, DISP_E_ARRAYISLOCKED (the VARIANT left untouched) while its array is locked.
HRESULT VariantClear(VARIANT* pvar) noexcept;
// Clears dst (failing as VariantClear does), then copies src: arrays deep, BYREF shallow.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) noexcept;
// As VariantCopy, but a VT_BYREF source is replaced by the value it points to.
HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src) noexcept;
// Standard automation coercion among EMPTY, NULL, I2, I4, I8, UI1, R4, R8, BOOL, BSTR,
// DISPATCH (through its value property), ERROR, VARIANT and same-typed arrays; BYREF
// sources are dereferenced. dst may equal src; on failure dst is left unchanged.
// Results: DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_BADVARTYPE, E_INVALIDARG.
// Floating values round half to even into integers. Texts use the invariant locale:
// surrounding white space allowed, optional sign, digits with an optional '.' fraction and
// e/E exponent; no grouping separators. Formatting: integers plainly, floating values in
// their shortest round-trip digits in fixed notation for 1e-6 <= |x| < 1e15, otherwise as
// "1.5E+20"; NaN and infinities as "NaN", "Infinity", "-Infinity". BOOL gives "-1"/"0",
// or "True"/"False" with VARIANT_ALPHABOOL; a text converts to BOOL from "True"/"False"
// (any case) or from any number (non-zero is true).
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, WORD flags, VARTYPE vt) noexcept;

}  // namespace kdx
