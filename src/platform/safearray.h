// One-dimensional safe arrays, as the trade-API component's order methods take them.
//
// Element types: VT_VARIANT (what the order methods use) and the fixed-size scalars
// VT_UI1, VT_I2, VT_I4, VT_I8, VT_R4, VT_R8, VT_BOOL, VT_ERROR. Arrays of any other type,
// or of more than one dimension, are refused. Bad arguments give result codes, never a
// crash; a size that does not fit in 2 GiB fails like an exhausted heap.
#pragma once

#include <cstddef>

#include "platform/types.h"
#include "platform/variant.h"

namespace kdx {

struct SAFEARRAYBOUND {
  ULONG cElements = 0;
  LONG lLbound = 0;
};

// Fields mirror the Windows layout for readers; only the SafeArray* functions change them.
struct SAFEARRAY {
  USHORT cDims = 1;
  USHORT fFeatures = 0;
  ULONG cbElements = 0;
  ULONG cLocks = 0;
  void* pvData = nullptr;
  SAFEARRAYBOUND rgsabound[1];
  VARTYPE vt = VT_EMPTY;  // element type

  SAFEARRAY() = default;
  SAFEARRAY(const SAFEARRAY&) = delete;
  SAFEARRAY& operator=(const SAFEARRAY&) = delete;
};

// Null when vt is not a supported element type, cDims is not 1, rgsabound is null, the
// upper bound would overflow LONG, or the memory cannot be had. Elements start zeroed
// (VT_EMPTY for VARIANTs).
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) noexcept;
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept;
// S_OK for null; DISP_E_ARRAYISLOCKED (nothing freed) while locked.
HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept;
// Deep copy (VARIANT elements through VariantCopy); the copy starts unlocked.
// E_INVALIDARG for null arguments, E_OUTOFMEMORY when memory runs out.
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) noexcept;

HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept;
// E_UNEXPECTED when not locked.
HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept;
// Locks and hands out the element storage (a VARIANT* for VT_VARIANT arrays).
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) noexcept;
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept;

UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept;  // 0 for null
UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept;
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) noexcept;
// nDim counts from 1; anything but 1 gives DISP_E_BADINDEX.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) noexcept;
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) noexcept;
// pv points to a VARIANT for VT_VARIANT arrays, else to a value of the element type.
// Get copies out (VariantCopy into the caller's VARIANT), Put copies in.
// DISP_E_BADINDEX outside the bounds; E_INVALIDARG for null pointers.
HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept;
HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept;

// Holds SafeArrayAccessData for one scope, so every return path gives the access back.
class SafeArrayDataAccess {
 public:
  explicit SafeArrayDataAccess(SAFEARRAY* psa) noexcept;
  ~SafeArrayDataAccess();
  SafeArrayDataAccess(const SafeArrayDataAccess&) = delete;
  SafeArrayDataAccess& operator=(const SafeArrayDataAccess&) = delete;

  HRESULT Result() const noexcept { return hr_; }
  // Null unless access succeeded; elements of a VT_VARIANT array.
  VARIANT* Variants() const noexcept;
  std::size_t Count() const noexcept;
  // Gives the access back early; later calls and the destructor then do nothing.
  HRESULT Release() noexcept;

 private:
  SAFEARRAY* psa_;
  void* data_ = nullptr;
  HRESULT hr_;
};

}  // namespace kdx
