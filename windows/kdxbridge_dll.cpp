// kdxbridge.dll: the control and its property page as COM classes, registered by regsvr32.
#include <memory>

#include "control/KdxCtrl.h"
#include "control/Module.h"
#include "platform/message_box.h"
#include "platform/win32/com_server.h"
#include "ui/WindowPresenter.h"

namespace kdx {
namespace {

HRESULT CreateFromModule(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
  void* factory = nullptr;
  HRESULT hr = DllGetClassObject(clsid, IID_IClassFactory, &factory);
  if (FAILED(hr)) return hr;
  return static_cast<IClassFactory*>(factory)->CreateInstance(out);
}

HRESULT LockModule(const CLSID& clsid, BOOL lock) {
  void* factory = nullptr;
  HRESULT hr = DllGetClassObject(clsid, IID_IClassFactory, &factory);
  return FAILED(hr) ? hr : static_cast<IClassFactory*>(factory)->LockServer(lock);
}

// A host reaching the control through COM cannot choose presenters: on its thread the
// confirmation dialog and message boxes are real windows, so no order leaves unconfirmed.
void UseWindowsOnThisThread() {
  if (!dynamic_cast<WindowConfirmPresenter*>(GetConfirmPresenter().get()))
    SetConfirmPresenter(std::make_shared<WindowConfirmPresenter>());
  if (!dynamic_cast<NativeMessageBoxPresenter*>(GetMessageBoxPresenter().get()))
    SetMessageBoxPresenter(std::make_shared<NativeMessageBoxPresenter>());
}

const com::ComClass kClasses[] = {
    {u"ORV_Velmar_KDX", CLSID_ORV_Velmar_KDX, DIID__DORV_Velmar_KDX, DIID__DORV_Velmar_KDXEvents, true,
     kControlMiscStatus,
     [](std::shared_ptr<IDispatch>* out) {
       UseWindowsOnThisThread();
       return CreateFromModule(CLSID_ORV_Velmar_KDX, out);
     },
     [](BOOL lock) { return LockModule(CLSID_ORV_Velmar_KDX, lock); },
     [](IDispatch& control) {
       static_cast<CORV_Velmar_KDXCtrl&>(control).GetSafeHwnd().SendMessage(WM_PROPERTIES_VERB, 0, 0);
       return S_OK;
     }},
    {u"ORV_Velmar_KDX Property Page", CLSID_ORV_Velmar_KDXPropPage, IID{}, IID{}, false, 0,
     [](std::shared_ptr<IDispatch>* out) { return CreateFromModule(CLSID_ORV_Velmar_KDXPropPage, out); },
     [](BOOL lock) { return LockModule(CLSID_ORV_Velmar_KDXPropPage, lock); }, nullptr},
};

const com::ComServer kServer{kClasses, true, [] { return DllRegisterServer(); }, [] { return DllUnregisterServer(); },
                             [] { return DllCanUnloadNow(); }};

[[maybe_unused]] const bool kServed = (com::SetComServer(&kServer), true);

}  // namespace
}  // namespace kdx
