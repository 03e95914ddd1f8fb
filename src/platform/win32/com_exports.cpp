// The four exports of a COM server DLL, over what the module serves (SetComServer). The DLL's
// .def file exports them under their standard names; they are named apart here because the
// portable module code has its own C functions of those names.
#include "platform/win32/com_internal.h"

#include <new>

namespace kdx::com {
namespace {

class ClassObject final : public ComUnknown<::IClassFactory> {
 public:
  explicit ClassObject(const ComClass& cls) : cls_(cls) {}

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (ppv == nullptr) return kdx::E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return kdx::CLASS_E_NOAGGREGATION;
    return CreateServedObject(cls_, iid, ppv);
  }
  STDMETHODIMP LockServer(::BOOL lock) override {
    return cls_.lockServer ? Guarded([&] { return cls_.lockServer(lock ? kdx::TRUE : kdx::FALSE); }) : kdx::S_OK;
  }

 private:
  bool Answers(REFIID iid) const override { return iid == IID_IClassFactory; }
  const ComClass& cls_;
};

}  // namespace
}  // namespace kdx::com

using namespace kdx::com;

extern "C" ::HRESULT STDAPICALLTYPE KdxComGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
  if (ppv == nullptr) return kdx::E_POINTER;
  *ppv = nullptr;
  const ComServer* server = GetComServer();
  if (server == nullptr) return kdx::CLASS_E_CLASSNOTAVAILABLE;
  for (const ComClass& cls : server->classes) {
    if (ToWin(cls.clsid) != clsid) continue;
    auto* object = new (std::nothrow) ClassObject(cls);
    if (object == nullptr) return kdx::E_OUTOFMEMORY;
    const ::HRESULT hr = object->QueryInterface(iid, ppv);
    object->Release();
    return hr;
  }
  return kdx::CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" ::HRESULT STDAPICALLTYPE KdxComCanUnloadNow() {
  const ComServer* server = GetComServer();
  if (g_liveObjects.load() != 0) return kdx::S_FALSE;
  if (server && server->canUnloadNow) return Guarded([&] { return server->canUnloadNow(); });
  return kdx::S_OK;
}

extern "C" ::HRESULT STDAPICALLTYPE KdxComRegisterServer() {
  const ComServer* server = GetComServer();
  if (server == nullptr || !server->registerServer) return kdx::E_UNEXPECTED;
  return Guarded([&] { return server->registerServer(); });
}

extern "C" ::HRESULT STDAPICALLTYPE KdxComUnregisterServer() {
  const ComServer* server = GetComServer();
  if (server == nullptr || !server->unregisterServer) return kdx::E_UNEXPECTED;
  return Guarded([&] { return server->unregisterServer(); });
}
