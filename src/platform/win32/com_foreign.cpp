// COM objects of other modules as ours: calls by DISPID go through their IDispatch, and
// their events, sunk on their default source interface, reach our sinks through a
// ConnectionPoint of ours. CoCreateInstance reaches servers through COM.
#include "platform/win32/com_internal.h"

#include <new>
#include <string>

#include "platform/class_factory_native.h"

namespace kdx::com {
namespace {

class ForeignDispatch;

// Advised to the foreign object's connection point; forwards each event to the owner's sinks.
class EventSink final : public ComUnknown<::IDispatch> {
 public:
  EventSink(const ::GUID& iid, kdx::ConnectionPoint* events) : iid_(iid), events_(events) {}
  void Disconnect() { events_ = nullptr; }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return kdx::E_POINTER;
    *count = 0;
    return kdx::S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (out) *out = nullptr;
    return kdx::E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, ::DISPID*) override { return kdx::E_NOTIMPL; }
  STDMETHODIMP Invoke(::DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, ::VARIANT* result, EXCEPINFO*,
                      UINT* argErr) override {
    if (result) ::VariantInit(result);
    if (params == nullptr) return kdx::E_INVALIDARG;
    // Our sinks may release the object, and with it this sink, while the event runs.
    AddRef();
    const ::HRESULT hr = Guarded([&]() -> ::HRESULT {
      if (events_ == nullptr) return kdx::S_OK;
      IncomingArgs args;
      ::HRESULT converted = args.Convert(*params, argErr);
      if (FAILED(converted)) return converted;
      events_->Fire(id, args.Args());
      args.WriteBack();
      return kdx::S_OK;
    });
    Release();
    return hr;
  }

 private:
  bool Answers(REFIID iid) const override { return iid == IID_IDispatch || iid == iid_; }
  ::GUID iid_;
  kdx::ConnectionPoint* events_;
};

class ForeignDispatch final : public kdx::IDispatch, public kdx::IConnectionPointContainer {
 public:
  explicit ForeignDispatch(::IDispatch* target) : target_(target) { target_->AddRef(); }
  ~ForeignDispatch() override {
    if (sink_) {
      sink_->Disconnect();
      if (point_) point_->Unadvise(cookie_);
      sink_->Release();
    }
    if (point_) point_->Release();
    target_->Release();
  }

  ::IDispatch* Target() const { return target_; }

  kdx::HRESULT GetIDsOfNames(std::u16string_view name, kdx::DISPID* id) override {
    if (id == nullptr) return kdx::E_POINTER;
    std::wstring text(name.begin(), name.end());
    LPOLESTR names[] = {text.data()};
    ::DISPID found = kdx::DISPID_UNKNOWN;
    const ::HRESULT hr = target_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &found);
    *id = found;
    return hr;
  }

  // Only locals are used once the call has returned: the object may be gone by then.
  kdx::HRESULT Invoke(kdx::DISPID id, kdx::WORD flags, std::span<kdx::VARIANT> args, kdx::VARIANT* result) override {
    OutgoingArgs out;
    ::HRESULT hr = out.Convert(args, (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0);
    if (FAILED(hr)) return hr;
    ::IDispatch* target = target_;
    target->AddRef();
    ::VARIANT value;
    ::VariantInit(&value);
    EXCEPINFO exception{};
    UINT argErr = 0;
    hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, out.Params(), result ? &value : nullptr,
                        &exception, &argErr);
    target->Release();
    if (hr == kdx::DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
      const BSTR text = exception.bstrDescription;
      kdx::SetErrorInfo(std::u16string(reinterpret_cast<const char16_t*>(text ? text : L""), ::SysStringLen(text)));
    }
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    out.WriteBack(args);
    if (SUCCEEDED(hr) && result) {
      const ::HRESULT converted = FromComVariant(value, result);
      if (FAILED(converted)) hr = converted;
    }
    ::VariantClear(&value);
    return hr;
  }

  kdx::ConnectionPoint* FindConnectionPoint() override {
    if (!tried_) {
      tried_ = true;
      Connect();
    }
    return sink_ ? &events_ : nullptr;
  }

 private:
  // The default source interface, as a control site finds it: from IProvideClassInfo2, else
  // the first connection point the object lists.
  void Connect() {
    ::IConnectionPointContainer* container = nullptr;
    if (FAILED(target_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))))
      return;
    ::GUID iid = GUID_NULL;
    ::IProvideClassInfo2* info = nullptr;
    if (SUCCEEDED(target_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info)))) {
      if (FAILED(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid))) iid = GUID_NULL;
      info->Release();
    }
    ::IConnectionPoint* point = nullptr;
    if (iid != GUID_NULL) {
      container->FindConnectionPoint(iid, &point);
    } else {
      IEnumConnectionPoints* points = nullptr;
      if (SUCCEEDED(container->EnumConnectionPoints(&points))) {
        ULONG fetched = 0;
        if (points->Next(1, &point, &fetched) != kdx::S_OK || fetched != 1) point = nullptr;
        points->Release();
      }
      if (point && FAILED(point->GetConnectionInterface(&iid))) iid = GUID_NULL;
    }
    container->Release();
    if (point == nullptr) return;
    auto* sink = new (std::nothrow) EventSink(iid, &events_);
    DWORD cookie = 0;
    if (sink == nullptr || FAILED(point->Advise(static_cast<::IDispatch*>(sink), &cookie))) {
      if (sink) sink->Release();
      point->Release();
      return;
    }
    point_ = point;
    sink_ = sink;
    cookie_ = cookie;
  }

  ::IDispatch* target_;
  kdx::ConnectionPoint events_;
  bool tried_ = false;
  ::IConnectionPoint* point_ = nullptr;
  EventSink* sink_ = nullptr;
  DWORD cookie_ = 0;
};

}  // namespace

std::shared_ptr<kdx::IDispatch> WrapForeign(::IDispatch* object) {
  if (object == nullptr) return nullptr;
  if (auto own = UnwrapOwn(object)) return own;
  return std::make_shared<ForeignDispatch>(object);
}

::IDispatch* UnwrapForeign(const std::shared_ptr<kdx::IDispatch>& object) {
  auto* foreign = dynamic_cast<ForeignDispatch*>(object.get());
  if (foreign == nullptr) return nullptr;
  foreign->Target()->AddRef();
  return foreign->Target();
}

}  // namespace kdx::com

namespace kdx {

std::u16string CurrentModulePath() { return win32::ModuleFileName(win32::ThisModule()); }

// Servers are found as any COM client finds them; a thread that has not entered an
// apartment yet (a host that never called CoInitialize) enters a single-threaded one, as
// a control's thread would be.
HRESULT detail::CreateFromServer(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
  return com::Guarded([&]() -> ::HRESULT {
    const ::GUID id = com::ToWin(clsid);
    ::IDispatch* object = nullptr;
    ::HRESULT hr = ::CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (hr == CO_E_NOTINITIALIZED && SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
      hr = ::CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return hr;
    if (object == nullptr) return static_cast<::HRESULT>(0x800401F9);  // CO_E_ERRORINDLL
    *out = com::WrapForeign(object);
    object->Release();
    return kdx::S_OK;
  });
}

}  // namespace kdx
