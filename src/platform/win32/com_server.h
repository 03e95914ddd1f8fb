// What a DLL serves through real COM: its classes, each an object of ours made by a factory
// and exposed by the COM adapter (IDispatch from its dispatch table, its events through a
// connection point, and for controls the interfaces a container sites them with). Free of
// <windows.h>, so a DLL's own file can include it beside the platform headers.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/types.h"

namespace kdx::com {

struct ComClass {
  std::u16string_view name;  // shown on a control's face
  CLSID clsid;
  IID dispatchIid;  // the default dispinterface
  IID eventsIid;    // the default source dispinterface; all zero when the class raises none
  bool control = false;  // offers the ActiveX embedding interfaces
  DWORD miscStatus = 0;
  // Makes the object on the calling thread; the object may be an IConnectionPointContainer.
  std::function<HRESULT(std::shared_ptr<IDispatch>*)> create;
  // LockServer of the class object.
  std::function<HRESULT(BOOL)> lockServer;
  // The standard Properties verb a container sends a control (OLEIVERB_PROPERTIES); none: the
  // verb is not offered.
  std::function<HRESULT(IDispatch&)> properties;
};

struct ComServer {
  std::span<const ComClass> classes;
  // Whether the module carries a binary type library as resource TYPELIB 1, describing the
  // classes and their interfaces (GetTypeInfo, IProvideClassInfo).
  bool typeLibrary = false;
  std::function<HRESULT()> registerServer;
  std::function<HRESULT()> unregisterServer;
  // S_OK when nothing but COM's own objects keeps the module busy.
  std::function<HRESULT()> canUnloadNow;
};

// What this module serves: set once by a DLL as it loads (from a static initialiser); null in
// a program that serves nothing, whose objects still cross into COM as plain values.
void SetComServer(const ComServer* server);
const ComServer* GetComServer();

}  // namespace kdx::com
