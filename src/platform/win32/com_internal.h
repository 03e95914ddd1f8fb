// The COM adapter's shared pieces: values and identifiers across the boundary between our
// automation types (kdx::VARIANT, kdx::IDispatch) and COM's, and the module's object count.
#pragma once

#include "platform/win32/win32.h"

#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

// OLE's macros that would rewrite our own constants' names.
#undef CONNECT_E_NOCONNECTION
#undef DISPATCH_METHOD
#undef DISPATCH_PROPERTYGET
#undef DISPATCH_PROPERTYPUT
#undef DISPATCH_PROPERTYPUTREF
#undef DISPID_ABOUTBOX
#undef DISPID_UNKNOWN
#undef DISPID_VALUE
#undef SELFREG_E_CLASS
#undef SELFREG_E_TYPELIB
#undef VARIANT_ALPHABOOL
#undef VARIANT_FALSE
#undef VARIANT_LOCALBOOL
#undef VARIANT_NOVALUEPROP
#undef VARIANT_TRUE

#include <atomic>
#include <memory>

#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/variant.h"
#include "platform/win32/com_server.h"

namespace kdx::com {

// In here COM's own types are meant unless kdx:: says otherwise (the STDMETHOD macros and
// REFIID name them unqualified).
using ::BOOL;
using ::BYTE;
using ::CLSID;
using ::DISPID;
using ::DWORD;
using ::GUID;
using ::HRESULT;
using ::IDispatch;
using ::IID;
using ::LONG;
using ::SAFEARRAY;
using ::UINT;
using ::ULONG;
using ::VARIANT;
using ::VARTYPE;
using ::WORD;

::GUID ToWin(const kdx::GUID& guid);
kdx::GUID FromWin(const ::GUID& guid);

// COM objects of this module still alive: the module may unload only when there are none.
extern std::atomic<long> g_liveObjects;

// A value into COM: *out (initialised by the caller) receives a copy. BYREF values are
// passed as what they point to; our objects become COM objects of this module. S_OK,
// E_OUTOFMEMORY, DISP_E_BADVARTYPE.
::HRESULT ToComVariant(const kdx::VARIANT& in, ::VARIANT* out);
// A value from COM: BYREF values are read through, arrays copied (one dimension, the
// element types our arrays hold), foreign objects wrapped. S_OK, E_OUTOFMEMORY,
// DISP_E_BADVARTYPE, DISP_E_TYPEMISMATCH.
::HRESULT FromComVariant(const ::VARIANT& in, kdx::VARIANT* out);

// The arguments of one call crossing the boundary, in the receiver's form and order. A
// VARIANT passed by reference is handed over as a reference to a copy, and the copy is
// written back through the caller's reference by WriteBack once the call has returned.
class IncomingArgs {
 public:
  // From COM's reversed DISPPARAMS to our natural order. On failure *argErr is the index of
  // the argument in rgvarg.
  ::HRESULT Convert(const DISPPARAMS& params, UINT* argErr);
  std::span<kdx::VARIANT> Args() { return args_; }
  void WriteBack();

 private:
  const DISPPARAMS* params_ = nullptr;
  std::unique_ptr<kdx::VARIANT[]> args_storage_;
  std::unique_ptr<kdx::VARIANT[]> byref_;
  std::span<kdx::VARIANT> args_;
};

class OutgoingArgs {
 public:
  OutgoingArgs() = default;
  ~OutgoingArgs();
  OutgoingArgs(const OutgoingArgs&) = delete;
  OutgoingArgs& operator=(const OutgoingArgs&) = delete;
  // From our natural order to COM's reversed order; a property put names its value.
  ::HRESULT Convert(std::span<kdx::VARIANT> args, bool propertyPut);
  DISPPARAMS* Params() { return &params_; }
  void WriteBack(std::span<kdx::VARIANT> args);

 private:
  std::unique_ptr<::VARIANT[]> com_;
  std::unique_ptr<::VARIANT[]> byref_;
  std::size_t count_ = 0;
  DISPID putId_ = DISPID_PROPERTYPUT;
  DISPPARAMS params_{};
};

// Our object as a COM object of this module: its IDispatch (and, when it has events, its
// connection point). cls describes a served class; null for an object that is only a value.
::IDispatch* WrapObject(std::shared_ptr<kdx::IDispatch> object, const ComClass* cls);
// A COM object as ours: this module's own objects unwrapped, others wrapped (their events,
// if any, offered through FindConnectionPoint).
std::shared_ptr<kdx::IDispatch> WrapForeign(::IDispatch* object);
// The object of ours behind one of this module's COM objects; null for any other.
std::shared_ptr<kdx::IDispatch> UnwrapOwn(::IUnknown* object);
// The COM object behind a wrapper made by WrapForeign (AddRef'd); null for any other.
::IDispatch* UnwrapForeign(const std::shared_ptr<kdx::IDispatch>& object);

// Creates an instance of a served class, as IClassFactory::CreateInstance does.
::HRESULT CreateServedObject(const ComClass& cls, REFIID iid, void** ppv);

// The module's type library (resource TYPELIB 1), loaded once; null when it has none.
ITypeLib* ModuleTypeLib();

// A COM object's reference count: it starts at 1 (the creator's reference), and the object is
// deleted when the last is released.
class RefCount {
 public:
  ULONG Add() { return ++refs_; }
  template <class T>
  ULONG Release(T* object) {
    const ULONG left = --refs_;
    if (left == 0) delete object;
    return left;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// The reference count and QueryInterface of a COM object with one interface I, answered for
// IUnknown and the identifiers Answers accepts; counted among the module's live objects.
template <class I>
class ComUnknown : public I {
 public:
  ComUnknown() { ++g_liveObjects; }
  virtual ~ComUnknown() { --g_liveObjects; }
  ComUnknown(const ComUnknown&) = delete;
  ComUnknown& operator=(const ComUnknown&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
    if (ppv == nullptr) return kdx::E_POINTER;
    *ppv = nullptr;
    if (iid != IID_IUnknown && !Answers(iid)) return kdx::E_NOINTERFACE;
    *ppv = static_cast<I*>(this);
    this->AddRef();
    return kdx::S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Release(this); }

 protected:
  virtual bool Answers(REFIID iid) const = 0;

 private:
  RefCount refs_;
};

// Runs f and turns any C++ exception into a result: none may cross into COM.
template <class F>
::HRESULT Guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return kdx::E_OUTOFMEMORY;
  } catch (...) {
    return kdx::E_UNEXPECTED;
  }
}

}  // namespace kdx::com
