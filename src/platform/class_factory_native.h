// The platform side of CoCreateInstance: how a class that no one registered in-process is
// found and made. Linux loads the shared library the registry names; Windows asks COM.
// (Without class_factory.h, whose C exports clash with <windows.h>.)
#pragma once

#include <memory>

#include "platform/dispatch.h"
#include "platform/guid.h"

namespace kdx::detail {

HRESULT CreateFromServer(const CLSID& clsid, std::shared_ptr<IDispatch>* out);

}  // namespace kdx::detail
