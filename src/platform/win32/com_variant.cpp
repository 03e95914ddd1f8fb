// Values across the COM boundary: our VARIANTs (always constructed, strings and objects
// owned by C++ types) to COM's (BSTRs, reference-counted interfaces) and back.
#include "platform/win32/com_internal.h"

#include <cstring>
#include <new>

#include "platform/safearray.h"

namespace kdx::com {
namespace {

static_assert(sizeof(::GUID) == sizeof(kdx::GUID));

// Arrays of VARIANTs may hold arrays in turn; a caller's value nested deeper than any order
// or report needs is refused rather than converted on an ever deeper stack.
constexpr int kMaxArrayNesting = 16;
thread_local int t_arrayNesting = 0;

class NestingGuard {
 public:
  NestingGuard() { ++t_arrayNesting; }
  ~NestingGuard() { --t_arrayNesting; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool TooDeep() const { return t_arrayNesting > kMaxArrayNesting; }
};

// Element types both sides' arrays hold, with the same element size.
bool IsArrayElementType(VARTYPE vt) {
  switch (vt) {
    case kdx::VT_VARIANT: case kdx::VT_UI1: case kdx::VT_I2: case kdx::VT_I4: case kdx::VT_I8:
    case kdx::VT_R4: case kdx::VT_R8: case kdx::VT_BOOL: case kdx::VT_ERROR:
      return true;
    default:
      return false;
  }
}

::HRESULT ArrayToCom(kdx::SAFEARRAY* in, ::VARIANT* out) {
  const NestingGuard nesting;
  if (nesting.TooDeep()) return kdx::DISP_E_TYPEMISMATCH;
  VARTYPE vt = kdx::VT_EMPTY;
  if (in == nullptr || FAILED(kdx::SafeArrayGetVartype(in, &vt)) || !IsArrayElementType(vt)) return kdx::DISP_E_BADVARTYPE;
  kdx::SafeArrayDataAccess access(in);
  if (FAILED(access.Result())) return access.Result();
  const std::size_t count = access.Count();
  ::SAFEARRAY* psa = ::SafeArrayCreateVector(vt, in->rgsabound[0].lLbound, static_cast<ULONG>(count));
  if (psa == nullptr) return kdx::E_OUTOFMEMORY;
  void* data = nullptr;
  ::HRESULT hr = ::SafeArrayAccessData(psa, &data);
  if (SUCCEEDED(hr)) {
    if (vt == kdx::VT_VARIANT) {
      auto* items = static_cast<::VARIANT*>(data);
      for (std::size_t i = 0; i < count && SUCCEEDED(hr); ++i) hr = ToComVariant(access.Variants()[i], &items[i]);
    } else {
      std::memcpy(data, in->pvData, count * in->cbElements);
    }
    ::SafeArrayUnaccessData(psa);
  }
  if (FAILED(hr)) {
    ::SafeArrayDestroy(psa);
    return hr;
  }
  out->vt = static_cast<VARTYPE>(VT_ARRAY | vt);
  out->parray = psa;
  return kdx::S_OK;
}

::HRESULT ArrayFromCom(::SAFEARRAY* in, VARTYPE vt, kdx::VARIANT* out) {
  const NestingGuard nesting;
  if (nesting.TooDeep()) return kdx::DISP_E_TYPEMISMATCH;
  LONG lower = 0, upper = -1;
  if (in == nullptr || ::SafeArrayGetDim(in) != 1 || !IsArrayElementType(vt) ||
      FAILED(::SafeArrayGetLBound(in, 1, &lower)) || FAILED(::SafeArrayGetUBound(in, 1, &upper)))
    return kdx::DISP_E_TYPEMISMATCH;
  const ULONG count = static_cast<ULONG>(static_cast<int64_t>(upper) - lower + 1);
  kdx::SAFEARRAY* psa = kdx::SafeArrayCreateVector(vt, lower, count);
  if (psa == nullptr) return kdx::E_OUTOFMEMORY;
  kdx::VARIANT result = kdx::VARIANT::Array(psa);  // owns psa from here on
  void* data = nullptr;
  ::HRESULT hr = ::SafeArrayAccessData(in, &data);
  if (FAILED(hr)) return hr;
  {
    kdx::SafeArrayDataAccess access(psa);
    hr = access.Result();
    if (SUCCEEDED(hr) && vt == kdx::VT_VARIANT) {
      const auto* items = static_cast<const ::VARIANT*>(data);
      for (ULONG i = 0; i < count && SUCCEEDED(hr); ++i) hr = FromComVariant(items[i], &access.Variants()[i]);
    } else if (SUCCEEDED(hr)) {
      std::memcpy(psa->pvData, data, static_cast<std::size_t>(count) * psa->cbElements);
    }
  }
  ::SafeArrayUnaccessData(in);
  if (SUCCEEDED(hr)) *out = std::move(result);
  return hr;
}

}  // namespace

std::atomic<long> g_liveObjects{0};

::GUID ToWin(const kdx::GUID& guid) {
  ::GUID out;
  out.Data1 = guid.Data1;
  out.Data2 = guid.Data2;
  out.Data3 = guid.Data3;
  std::memcpy(out.Data4, guid.Data4.data(), sizeof out.Data4);
  return out;
}

kdx::GUID FromWin(const ::GUID& guid) {
  kdx::GUID out;
  out.Data1 = guid.Data1;
  out.Data2 = guid.Data2;
  out.Data3 = guid.Data3;
  std::memcpy(out.Data4.data(), guid.Data4, sizeof guid.Data4);
  return out;
}

::HRESULT ToComVariant(const kdx::VARIANT& in, ::VARIANT* out) {
  if (in.vt & kdx::VT_BYREF) {
    kdx::VARIANT value;
    ::HRESULT hr = kdx::VariantCopyInd(&value, &in);
    if (FAILED(hr)) return hr;
    if (value.vt & kdx::VT_BYREF) return kdx::DISP_E_BADVARTYPE;  // a reference to a reference
    return ToComVariant(value, out);
  }
  if (in.vt & kdx::VT_ARRAY) return ArrayToCom(in.parray, out);
  switch (in.vt) {
    case kdx::VT_EMPTY: case kdx::VT_NULL:
      break;
    case kdx::VT_I2: out->iVal = in.iVal; break;
    case kdx::VT_I4: out->lVal = in.lVal; break;
    case kdx::VT_R4: out->fltVal = in.fltVal; break;
    case kdx::VT_R8: out->dblVal = in.dblVal; break;
    case kdx::VT_BOOL: out->boolVal = in.boolVal; break;
    case kdx::VT_ERROR: out->scode = in.scode; break;
    case kdx::VT_UI1: out->bVal = in.bVal; break;
    case kdx::VT_I8: out->llVal = in.llVal; break;
    case kdx::VT_BSTR: {
      BSTR text = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(in.bstrVal.data()),
                                      static_cast<UINT>(in.bstrVal.size()));
      if (text == nullptr) return kdx::E_OUTOFMEMORY;
      out->bstrVal = text;
      break;
    }
    case kdx::VT_DISPATCH: {
      ::IDispatch* object = nullptr;
      if (in.pdispVal) {
        object = UnwrapForeign(in.pdispVal);
        if (object == nullptr) object = WrapObject(in.pdispVal, nullptr);
        if (object == nullptr) return kdx::E_OUTOFMEMORY;
      }
      out->pdispVal = object;
      break;
    }
    default:
      return kdx::DISP_E_BADVARTYPE;
  }
  out->vt = in.vt;
  return kdx::S_OK;
}

::HRESULT FromComVariant(const ::VARIANT& in, kdx::VARIANT* out) {
  if (V_VT(&in) & VT_BYREF) {
    ::VARIANT value;
    ::VariantInit(&value);
    ::HRESULT hr = ::VariantCopyInd(&value, const_cast<::VARIANT*>(&in));
    if (SUCCEEDED(hr)) hr = (V_VT(&value) & VT_BYREF) ? kdx::DISP_E_TYPEMISMATCH : FromComVariant(value, out);
    ::VariantClear(&value);
    return hr;
  }
  if (V_VT(&in) & VT_ARRAY) return ArrayFromCom(in.parray, static_cast<VARTYPE>(V_VT(&in) & VT_TYPEMASK), out);
  switch (V_VT(&in)) {
    case VT_EMPTY: *out = kdx::VARIANT(); return kdx::S_OK;
    case VT_NULL: *out = kdx::VARIANT::Null(); return kdx::S_OK;
    case VT_I2: *out = kdx::VARIANT::I2(in.iVal); return kdx::S_OK;
    case VT_I4: *out = kdx::VARIANT(static_cast<int32_t>(in.lVal)); return kdx::S_OK;
    case VT_R4: *out = kdx::VARIANT::R4(in.fltVal); return kdx::S_OK;
    case VT_R8: *out = kdx::VARIANT(in.dblVal); return kdx::S_OK;
    case VT_BOOL: *out = kdx::VARIANT::Bool(in.boolVal != kdx::VARIANT_FALSE); return kdx::S_OK;
    case VT_ERROR: *out = kdx::VARIANT::Error(in.scode); return kdx::S_OK;
    case VT_UI1: *out = kdx::VARIANT::UI1(in.bVal); return kdx::S_OK;
    case VT_I8: *out = kdx::VARIANT::I8(in.llVal); return kdx::S_OK;
    case VT_BSTR:
      *out = kdx::VARIANT(std::u16string(reinterpret_cast<const char16_t*>(in.bstrVal ? in.bstrVal : L""),
                                         ::SysStringLen(in.bstrVal)));
      return kdx::S_OK;
    case VT_DISPATCH:
      *out = kdx::VARIANT::Dispatch(in.pdispVal ? WrapForeign(in.pdispVal) : nullptr);
      return kdx::S_OK;
    case VT_UNKNOWN: {
      ::IDispatch* object = nullptr;
      if (in.punkVal == nullptr || FAILED(in.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object))))
        return kdx::DISP_E_TYPEMISMATCH;
      *out = kdx::VARIANT::Dispatch(WrapForeign(object));
      object->Release();
      return kdx::S_OK;
    }
    // Types our side does not hold: whole numbers widen to 64 bits, the rest become doubles
    // (a Currency or Decimal a script passes for a price).
    case VT_I1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT: case VT_UI8:
    case VT_CY: case VT_DECIMAL: case VT_DATE: {
      const bool whole = V_VT(&in) != VT_CY && V_VT(&in) != VT_DECIMAL && V_VT(&in) != VT_DATE;
      ::VARIANT value;
      ::VariantInit(&value);
      ::HRESULT hr = ::VariantChangeType(&value, const_cast<::VARIANT*>(&in), 0, whole ? VT_I8 : VT_R8);
      if (SUCCEEDED(hr)) hr = FromComVariant(value, out);
      return hr;
    }
    default:
      return kdx::DISP_E_BADVARTYPE;
  }
}

::HRESULT IncomingArgs::Convert(const DISPPARAMS& params, UINT* argErr) {
  const UINT n = params.cArgs;
  if (n > 0 && params.rgvarg == nullptr) return kdx::E_INVALIDARG;
  args_storage_.reset(new kdx::VARIANT[n]);
  byref_.reset(new kdx::VARIANT[n]);
  params_ = &params;
  args_ = std::span<kdx::VARIANT>(args_storage_.get(), n);
  for (UINT i = 0; i < n; ++i) {
    const ::VARIANT& arg = params.rgvarg[n - 1 - i];
    ::HRESULT hr;
    if (V_VT(&arg) == (VT_BYREF | VT_VARIANT)) {
      hr = arg.pvarVal ? FromComVariant(*arg.pvarVal, &byref_[i]) : kdx::DISP_E_TYPEMISMATCH;
      args_[i] = kdx::VARIANT::ByRef(&byref_[i]);
    } else {
      hr = FromComVariant(arg, &args_[i]);
    }
    if (FAILED(hr)) {
      if (argErr) *argErr = n - 1 - i;
      return hr;
    }
  }
  return kdx::S_OK;
}

void IncomingArgs::WriteBack() {
  const UINT n = static_cast<UINT>(args_.size());
  for (UINT i = 0; i < n; ++i) {
    ::VARIANT& arg = params_->rgvarg[n - 1 - i];
    if (V_VT(&arg) != (VT_BYREF | VT_VARIANT)) continue;
    ::VARIANT value;
    ::VariantInit(&value);
    if (FAILED(ToComVariant(byref_[i], &value))) continue;  // the caller keeps its value
    ::VariantClear(arg.pvarVal);
    *arg.pvarVal = value;
  }
}

OutgoingArgs::~OutgoingArgs() {
  for (std::size_t i = 0; i < count_; ++i) {
    if (!(V_VT(&com_[i]) & VT_BYREF)) ::VariantClear(&com_[i]);
    ::VariantClear(&byref_[i]);
  }
}

::HRESULT OutgoingArgs::Convert(std::span<kdx::VARIANT> args, bool propertyPut) {
  const std::size_t n = args.size();
  // Zeroed, that is VT_EMPTY: slots a failed conversion never reached are cleared safely.
  com_.reset(new ::VARIANT[n]());
  byref_.reset(new ::VARIANT[n]());
  count_ = n;
  for (std::size_t i = 0; i < n; ++i) {
    ::VARIANT& slot = com_[n - 1 - i];
    ::HRESULT hr;
    if (args[i].vt == (kdx::VT_BYREF | kdx::VT_VARIANT) && args[i].pvarVal != nullptr) {
      hr = ToComVariant(*args[i].pvarVal, &byref_[i]);
      V_VT(&slot) = VT_BYREF | VT_VARIANT;
      slot.pvarVal = &byref_[i];
    } else {
      hr = ToComVariant(args[i], &slot);
    }
    if (FAILED(hr)) return hr;
  }
  params_.rgvarg = com_.get();
  params_.cArgs = static_cast<UINT>(n);
  params_.rgdispidNamedArgs = propertyPut ? &putId_ : nullptr;
  params_.cNamedArgs = propertyPut ? 1 : 0;
  return kdx::S_OK;
}

void OutgoingArgs::WriteBack(std::span<kdx::VARIANT> args) {
  for (std::size_t i = 0; i < count_ && i < args.size(); ++i) {
    if (args[i].vt != (kdx::VT_BYREF | kdx::VT_VARIANT) || args[i].pvarVal == nullptr) continue;
    kdx::VARIANT value;
    if (SUCCEEDED(FromComVariant(byref_[i], &value))) *args[i].pvarVal = std::move(value);
  }
}

}  // namespace kdx::com
