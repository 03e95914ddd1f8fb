#include "platform/variant.h"

#include <cstring>
#include <utility>

#include "platform/dispatch.h"
#include "platform/safearray.h"

namespace kdx {
namespace {

bool OwnsArray(VARTYPE vt) { return (vt & VT_ARRAY) != 0 && (vt & VT_BYREF) == 0; }

// Every BYREF form keeps its pointer in the same slot; read it without naming a member.
const void* ByRefPointer(const VARIANT& v) {
  const void* p = nullptr;
  std::memcpy(&p, &v.llVal, sizeof(p));
  return p;
}

bool IsArrayElementType(VARTYPE base) {
  switch (base) {
    case VT_VARIANT: case VT_UI1: case VT_I2: case VT_I4: case VT_I8:
    case VT_R4: case VT_R8: case VT_BOOL: case VT_ERROR:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsValidVarType(VARTYPE vt) noexcept {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE flags = vt & ~VT_TYPEMASK;
  if ((flags & ~(VT_ARRAY | VT_BYREF)) != 0) return false;
  if (flags & VT_ARRAY) return IsArrayElementType(base);
  switch (base) {
    case VT_EMPTY: case VT_NULL:
      return flags == 0;
    case VT_VARIANT:
      return (flags & VT_BYREF) != 0;
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR: case VT_DISPATCH:
    case VT_ERROR: case VT_BOOL: case VT_UI1: case VT_I8:
      return true;
    default:
      return false;
  }
}

namespace {

// A VARIANT of type vt with one union member set.
template <class T>
VARIANT Scalar(VARTYPE vt, T VARIANT::*member, T value) noexcept {
  VARIANT r;
  r.vt = vt;
  r.*member = value;
  return r;
}

}  // namespace

VARIANT VARIANT::Bool(bool v) noexcept {
  return Scalar(VT_BOOL, &VARIANT::boolVal, v ? VARIANT_TRUE : VARIANT_FALSE);
}
VARIANT VARIANT::I2(SHORT v) noexcept { return Scalar(VT_I2, &VARIANT::iVal, v); }
VARIANT VARIANT::I8(LONGLONG v) noexcept { return Scalar(VT_I8, &VARIANT::llVal, v); }
VARIANT VARIANT::UI1(BYTE v) noexcept { return Scalar(VT_UI1, &VARIANT::bVal, v); }
VARIANT VARIANT::R4(float v) noexcept { return Scalar(VT_R4, &VARIANT::fltVal, v); }
VARIANT VARIANT::Error(SCODE code) noexcept { return Scalar(VT_ERROR, &VARIANT::scode, code); }

VARIANT VARIANT::Null() noexcept {
  VARIANT r;
  r.vt = VT_NULL;
  return r;
}

VARIANT VARIANT::ByRef(VARIANT* target) noexcept {
  return Scalar(static_cast<VARTYPE>(VT_BYREF | VT_VARIANT), &VARIANT::pvarVal, target);
}

VARIANT VARIANT::Array(SAFEARRAY* psa) noexcept {
  VARIANT r;
  if (psa != nullptr) {
    r.vt = VT_ARRAY | psa->vt;
    r.parray = psa;
  }
  return r;
}

VARIANT VARIANT::Dispatch(std::shared_ptr<IDispatch> p) noexcept {
  VARIANT r;
  r.vt = VT_DISPATCH;
  r.pdispVal = std::move(p);
  return r;
}

VARIANT::VARIANT(const VARIANT& other) noexcept : vt(other.vt) {
  std::memcpy(&llVal, &other.llVal, sizeof(llVal));
  if (vt == VT_BSTR) {
    try {
      bstrVal = other.bstrVal;
    } catch (...) {
      *this = Error(E_OUTOFMEMORY);
    }
  } else if (vt == VT_DISPATCH) {
    pdispVal = other.pdispVal;
  } else if (OwnsArray(vt) && other.parray != nullptr) {
    parray = nullptr;
    SAFEARRAY* copy = nullptr;
    if (SUCCEEDED(SafeArrayCopy(other.parray, &copy))) {
      parray = copy;
    } else {
      vt = VT_ERROR;
      scode = E_OUTOFMEMORY;
    }
  }
}

VARIANT::VARIANT(VARIANT&& other) noexcept { StealFrom(other); }

VARIANT& VARIANT::operator=(const VARIANT& other) noexcept {
  // Through a temporary: other may live inside the array this VARIANT is about to free.
  if (this != &other) {
    VARIANT copy(other);
    Release();
    StealFrom(copy);
  }
  return *this;
}

VARIANT& VARIANT::operator=(VARIANT&& other) noexcept {
  if (this == &other) return *this;
  if (OwnsArray(vt) && parray != nullptr) {
    // `other` may live inside the array this one drops: take it out first.
    VARIANT moved(std::move(other));
    Release();
    StealFrom(moved);
  } else {
    StealFrom(other);
  }
  return *this;
}

// The text and the interface pointer go with their members; only an owned array needs freeing.
VARIANT::~VARIANT() {
  if (OwnsArray(vt) && parray != nullptr) {
    parray->cLocks = 0;
    SafeArrayDestroy(parray);
  }
}

void VARIANT::Release() noexcept {
  if (OwnsArray(vt) && parray != nullptr) {
    parray->cLocks = 0;
    SafeArrayDestroy(parray);
  }
  vt = VT_EMPTY;
  llVal = 0;
  std::u16string().swap(bstrVal);
  pdispVal.reset();
}

void VARIANT::StealFrom(VARIANT& other) noexcept {
  vt = other.vt;
  std::memcpy(&llVal, &other.llVal, sizeof(llVal));
  // Most values carry neither text nor an interface: skip what both sides lack.
  if (!bstrVal.empty() || !other.bstrVal.empty()) bstrVal = std::move(other.bstrVal);
  if (pdispVal || other.pdispVal) pdispVal = std::move(other.pdispVal);
  other.vt = VT_EMPTY;
  other.llVal = 0;
}

void VariantInit(VARIANT* pvar) noexcept {
  if (pvar != nullptr) *pvar = VARIANT();
}

HRESULT VariantClear(VARIANT* pvar) noexcept {
  if (pvar == nullptr) return E_INVALIDARG;
  if (!IsValidVarType(pvar->vt)) return DISP_E_BADVARTYPE;
  if (OwnsArray(pvar->vt) && pvar->parray != nullptr && pvar->parray->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  *pvar = VARIANT();
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) noexcept {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (dst == src) return S_OK;
  if (!IsValidVarType(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy(*src);
  if (copy.vt == VT_ERROR && src->vt != VT_ERROR) return copy.scode;
  const HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) return hr;
  *dst = std::move(copy);
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src) noexcept {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if ((src->vt & VT_BYREF) == 0) return VariantCopy(dst, src);
  if (!IsValidVarType(src->vt)) return DISP_E_BADVARTYPE;
  if (ByRefPointer(*src) == nullptr) return E_INVALIDARG;

  VARIANT value;
  const VARTYPE base = src->vt & ~VT_BYREF;
  if (base & VT_ARRAY) {
    SAFEARRAY* copy = nullptr;
    if (*src->pparray != nullptr) {
      const HRESULT hr = SafeArrayCopy(*src->pparray, &copy);
      if (FAILED(hr)) return hr;
    }
    value = VARIANT::Array(copy);
    value.vt = base;
  } else {
    switch (base) {
      case VT_VARIANT:
        // One level only, as automation allows; a BYREF inside a BYREF is malformed.
        if (src->pvarVal->vt & VT_BYREF) return E_INVALIDARG;
        if (!IsValidVarType(src->pvarVal->vt)) return DISP_E_BADVARTYPE;
        value = *src->pvarVal;
        if (value.vt == VT_ERROR && src->pvarVal->vt != VT_ERROR) return value.scode;
        break;
      case VT_I2: value = VARIANT::I2(*src->piVal); break;
      case VT_I4: value = VARIANT(static_cast<int32_t>(*src->plVal)); break;
      case VT_I8: value = VARIANT::I8(*src->pllVal); break;
      case VT_UI1: value = VARIANT::UI1(*src->pbVal); break;
      case VT_R4: value = VARIANT::R4(*src->pfltVal); break;
      case VT_R8: value = VARIANT(*src->pdblVal); break;
      case VT_BOOL: value.vt = VT_BOOL; value.boolVal = *src->pboolVal; break;
      case VT_ERROR: value = VARIANT::Error(*src->pscode); break;
      case VT_DISPATCH: value = VARIANT::Dispatch(*src->ppdispVal); break;
      case VT_BSTR:
        try {
          value = VARIANT(*src->pbstrVal);
        } catch (...) {
          return E_OUTOFMEMORY;
        }
        break;
      default:
        return DISP_E_BADVARTYPE;
    }
  }
  const HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) return hr;
  *dst = std::move(value);
  return S_OK;
}

}  // namespace kdx
