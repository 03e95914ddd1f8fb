#include "platform/class_factory.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace kdx {
namespace {

struct ClassRegistry {
  std::mutex mutex;
  std::unordered_map<CLSID, ClassFactory, GuidHash> factories;
};

ClassRegistry& Registry() {
  static ClassRegistry registry;
  return registry;
}

}  // namespace

HRESULT CoRegisterClassObject(const CLSID& clsid, ClassFactory factory) {
  if (!factory) return E_INVALIDARG;
  try {
    ClassRegistry& r = Registry();
    std::lock_guard lock(r.mutex);
    auto [it, inserted] = r.factories.insert_or_assign(clsid, std::move(factory));
    return inserted ? S_OK : S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoRevokeClassObject(const CLSID& clsid) {
  ClassRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  return r.factories.erase(clsid) != 0 ? S_OK : CO_E_OBJNOTREG;
}

HRESULT CoCreateInstance(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  try {
    ClassFactory factory;
    {
      ClassRegistry& r = Registry();
      std::lock_guard lock(r.mutex);
      const auto it = r.factories.find(clsid);
      if (it == r.factories.end()) return REGDB_E_CLASSNOTREG;
      factory = it->second;
    }
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

}  // namespace kdx
