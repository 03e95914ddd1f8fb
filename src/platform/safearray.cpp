#include "platform/safearray.h"

#include <cstring>
#include <limits>
#include <new>

namespace kdx {
namespace {

// The most one array may take: what a 32-bit process could ever address, and far below
// what would make the allocator abort instead of failing.
constexpr uint64_t kMaxArrayBytes = 0x7FFFFFFF;

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_VARIANT: return sizeof(VARIANT);
    case VT_UI1: return sizeof(BYTE);
    case VT_I2: return sizeof(SHORT);
    case VT_BOOL: return sizeof(VARIANT_BOOL);
    case VT_I4: return sizeof(LONG);
    case VT_ERROR: return sizeof(SCODE);
    case VT_R4: return sizeof(float);
    case VT_I8: return sizeof(LONGLONG);
    case VT_R8: return sizeof(double);
    default: return 0;
  }
}

void* AllocateElements(VARTYPE vt, ULONG count) {
  if (count == 0) return nullptr;
  if (vt == VT_VARIANT) return new (std::nothrow) VARIANT[count];
  return new (std::nothrow) unsigned char[static_cast<std::size_t>(count) * ElementSize(vt)]();
}

void FreeElements(SAFEARRAY* psa) {
  if (psa->vt == VT_VARIANT)
    delete[] static_cast<VARIANT*>(psa->pvData);
  else
    delete[] static_cast<unsigned char*>(psa->pvData);
  psa->pvData = nullptr;
}

// Address of the element at index, or null when the index is outside the bounds.
void* ElementAt(SAFEARRAY* psa, LONG index) {
  const int64_t offset = static_cast<int64_t>(index) - psa->rgsabound[0].lLbound;
  if (offset < 0 || offset >= static_cast<int64_t>(psa->rgsabound[0].cElements)) return nullptr;
  return static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) noexcept {
  if (cDims != 1 || rgsabound == nullptr) return nullptr;
  const ULONG size = ElementSize(vt);
  const SAFEARRAYBOUND bound = rgsabound[0];
  if (size == 0) return nullptr;
  if (static_cast<uint64_t>(bound.cElements) * size > kMaxArrayBytes) return nullptr;
  if (static_cast<int64_t>(bound.lLbound) + bound.cElements - 1 > std::numeric_limits<LONG>::max()) return nullptr;

  auto* psa = new (std::nothrow) SAFEARRAY;
  if (psa == nullptr) return nullptr;
  psa->pvData = AllocateElements(vt, bound.cElements);
  if (psa->pvData == nullptr && bound.cElements != 0) {
    delete psa;
    return nullptr;
  }
  psa->vt = vt;
  psa->cbElements = size;
  psa->rgsabound[0] = bound;
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) noexcept {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  FreeElements(psa);
  delete psa;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) noexcept {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return E_INVALIDARG;
  SAFEARRAY* copy = SafeArrayCreate(psa->vt, 1, psa->rgsabound);
  if (copy == nullptr) return E_OUTOFMEMORY;
  const ULONG n = psa->rgsabound[0].cElements;
  if (psa->vt == VT_VARIANT) {
    auto* from = static_cast<VARIANT*>(psa->pvData);
    auto* to = static_cast<VARIANT*>(copy->pvData);
    for (ULONG i = 0; i < n; ++i) {
      const HRESULT hr = VariantCopy(&to[i], &from[i]);
      if (FAILED(hr)) {
        SafeArrayDestroy(copy);
        return hr;
      }
    }
  } else if (n != 0) {
    std::memcpy(copy->pvData, psa->pvData, static_cast<std::size_t>(n) * psa->cbElements);
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) noexcept {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == std::numeric_limits<ULONG>::max()) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) noexcept {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) noexcept {
  if (ppvData == nullptr) return E_INVALIDARG;
  *ppvData = nullptr;
  const HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) noexcept { return SafeArrayUnlock(psa); }

UINT SafeArrayGetDim(SAFEARRAY* psa) noexcept { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) noexcept { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) noexcept {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  *pvt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) noexcept {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) noexcept {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim != 1) return DISP_E_BADINDEX;
  // An empty array reports lbound - 1, which fits: creation refuses bounds that would not.
  *plUbound = static_cast<LONG>(static_cast<int64_t>(psa->rgsabound[0].lLbound) + psa->rgsabound[0].cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  void* element = ElementAt(psa, rgIndices[0]);
  if (element == nullptr) return DISP_E_BADINDEX;
  if (psa->vt == VT_VARIANT) return VariantCopy(static_cast<VARIANT*>(pv), static_cast<VARIANT*>(element));
  std::memcpy(pv, element, psa->cbElements);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  void* element = ElementAt(psa, rgIndices[0]);
  if (element == nullptr) return DISP_E_BADINDEX;
  if (psa->vt == VT_VARIANT) return VariantCopy(static_cast<VARIANT*>(element), static_cast<VARIANT*>(pv));
  std::memcpy(element, pv, psa->cbElements);
  return S_OK;
}

SafeArrayDataAccess::SafeArrayDataAccess(SAFEARRAY* psa) noexcept : psa_(psa), hr_(SafeArrayAccessData(psa, &data_)) {}

SafeArrayDataAccess::~SafeArrayDataAccess() { Release(); }

VARIANT* SafeArrayDataAccess::Variants() const noexcept {
  if (FAILED(hr_) || psa_ == nullptr || psa_->vt != VT_VARIANT) return nullptr;
  return static_cast<VARIANT*>(data_);
}

std::size_t SafeArrayDataAccess::Count() const noexcept {
  return SUCCEEDED(hr_) && psa_ ? psa_->rgsabound[0].cElements : 0;
}

HRESULT SafeArrayDataAccess::Release() noexcept {
  if (FAILED(hr_) || psa_ == nullptr) return S_OK;
  const HRESULT hr = SafeArrayUnaccessData(psa_);
  psa_ = nullptr;
  data_ = nullptr;
  return hr;
}

}  // namespace kdx
