// In-process class objects: what CoCreateInstance finds by CLSID. A host registers the
// factories of the classes it can create (the control, a trade-API component) at start-up.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/types.h"

namespace kdx {

inline constexpr HRESULT CO_E_OBJNOTREG = static_cast<HRESULT>(0x800401FB);

using ClassFactory = std::function<std::shared_ptr<IDispatch>()>;

// S_OK; S_FALSE when a factory already registered for clsid was replaced (the latest
// registration wins, so a test can put a failing one in place); E_INVALIDARG for an empty
// factory. Safe from any thread.
HRESULT CoRegisterClassObject(const CLSID& clsid, ClassFactory factory);
// CO_E_OBJNOTREG when nothing is registered for clsid.
HRESULT CoRevokeClassObject(const CLSID& clsid);
// REGDB_E_CLASSNOTREG when nothing is registered; E_OUTOFMEMORY when the factory returns
// null or runs out of memory; E_FAIL when it throws anything else; E_POINTER for a null out.
// The factory runs outside the registry's lock, so it may create other classes itself.
HRESULT CoCreateInstance(const CLSID& clsid, std::shared_ptr<IDispatch>* out);

}  // namespace kdx
