// Class objects: what CoCreateInstance finds by CLSID. A host registers the factories of
// the classes it can create (the control, a trade-API component) at start-up; classes it
// did not register are found, as on Windows, through the module named by their
// InprocServer32 key in ClassesRoot().
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/types.h"

namespace kdx {

inline constexpr HRESULT CO_E_OBJNOTREG = static_cast<HRESULT>(0x800401FB);
inline constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The class object a module's DllGetClassObject hands out. Class objects are static: they
// live as long as their module, which is never unloaded once loaded, so there is no
// reference count and a caller never frees one.
class IClassFactory {
 public:
  // A new object, made on the calling thread (apartment threading). E_POINTER for a null
  // out; E_OUTOFMEMORY or E_FAIL when it cannot be made.
  virtual HRESULT CreateInstance(std::shared_ptr<IDispatch>* out) = 0;
  // Keeps the module's DllCanUnloadNow at S_FALSE while locked. Unlocking with no lock held
  // is E_UNEXPECTED and changes nothing.
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// The exports of a module that serves classes, with C linkage so that a host finds them by
// name in a library it loads at run time. The control library defines them.
extern "C" {
// *ppv = the class object of clsid (an IClassFactory*); CLASS_E_CLASSNOTAVAILABLE for a class
// the module does not serve; E_NOINTERFACE unless iid is IID_IClassFactory or IID_IUnknown;
// E_POINTER for a null ppv.
HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** ppv);
// S_OK when no object made by the module's class objects is alive and no lock is held.
HRESULT DllCanUnloadNow();
}
using DllGetClassObjectFunc = HRESULT (*)(const CLSID&, const IID&, void**);

// Full path of the file this library's code was loaded from: the shared library when a host
// loaded it, the executable when it was linked in statically.
std::u16string CurrentModulePath();

using ClassFactory = std::function<std::shared_ptr<IDispatch>()>;

// S_OK; S_FALSE when a factory already registered for clsid was replaced (the latest
// registration wins, so a test can put a failing one in place); E_INVALIDARG for an empty
// factory. Safe from any thread.
HRESULT CoRegisterClassObject(const CLSID& clsid, ClassFactory factory);
// CO_E_OBJNOTREG when nothing is registered for clsid.
HRESULT CoRevokeClassObject(const CLSID& clsid);
// The in-process table first; when clsid is not there, the module named by
// "CLSID\{clsid}\InprocServer32" in ClassesRoot(): this very module's own DllGetClassObject
// when the path names it, else the DllGetClassObject of the library loaded from that path.
// REGDB_E_CLASSNOTREG when the class is in neither; E_ACCESSDENIED when the path is not
// absolute, or names anything but a regular file owned by this user or root and writable by
// neither group nor others; CO_E_DLLNOTFOUND when the library cannot be loaded;
// CO_E_ERRORINDLL when it exports no DllGetClassObject or hands out no object;
// the module's own failure (such as CLASS_E_CLASSNOTAVAILABLE) unchanged; E_OUTOFMEMORY when
// the factory returns null or runs out of memory; E_FAIL when it throws anything else;
// E_POINTER for a null out. Factories run outside the table's lock, so they may create
// other classes themselves.
HRESULT CoCreateInstance(const CLSID& clsid, std::shared_ptr<IDispatch>* out);

// CLSIDFromProgID, then CoCreateInstance; the first failure unchanged.
HRESULT CreateObjectByProgID(std::u16string_view progId, std::shared_ptr<IDispatch>* out);

}  // namespace kdx
