#include "platform/class_factory.h"

#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/class_factory_native.h"
#include "platform/registry.h"

namespace kdx {
namespace {

struct ClassRegistry {
  std::mutex mutex;
  std::unordered_map<CLSID, ClassFactory, GuidHash> factories;
};

ClassRegistry& ClassTable() {
  static ClassRegistry registry;
  return registry;
}

}  // namespace

HRESULT CoRegisterClassObject(const CLSID& clsid, ClassFactory factory) {
  if (!factory) return E_INVALIDARG;
  try {
    ClassRegistry& r = ClassTable();
    std::lock_guard lock(r.mutex);
    auto [it, inserted] = r.factories.insert_or_assign(clsid, std::move(factory));
    return inserted ? S_OK : S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoRevokeClassObject(const CLSID& clsid) {
  ClassRegistry& r = ClassTable();
  std::lock_guard lock(r.mutex);
  return r.factories.erase(clsid) != 0 ? S_OK : CO_E_OBJNOTREG;
}

HRESULT CoCreateInstance(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  try {
    ClassFactory factory;
    {
      ClassRegistry& r = ClassTable();
      std::lock_guard lock(r.mutex);
      const auto it = r.factories.find(clsid);
      if (it != r.factories.end()) factory = it->second;
    }
    if (!factory) return detail::CreateFromServer(clsid, out);
    std::shared_ptr<IDispatch> object = factory();
    if (!object) return E_OUTOFMEMORY;
    *out = std::move(object);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CreateObjectByProgID(std::u16string_view progId, std::shared_ptr<IDispatch>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, out);
}

}  // namespace kdx
