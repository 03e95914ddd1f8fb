// Our objects as real COM objects: IDispatch answered from the dispatch table, events through a
// connection point, class information from the module's type library, and for controls the
// interfaces a container sites, activates, draws and persists them with.
#include "platform/win32/com_internal.h"

#include <algorithm>
#include <new>
#include <string>

namespace kdx::com {
namespace {

// A control's default size before its container sets one: 100 x 40 pixels at 96 DPI, in
// HIMETRIC units.
constexpr SIZEL kDefaultExtent{2646, 1058};
// Persisted state: the version stamp only (major 1, minor 0); the control has no properties.
constexpr DWORD kVersionStamp = 0x00010000;
constexpr wchar_t kWindowClass[] = L"KdxBridgeControlWindow";

template <class T>
void SafeRelease(T*& p) {
  if (p != nullptr) {
    T* held = p;
    p = nullptr;
    held->Release();
  }
}

// Identifies this module's own objects: an IID no other module asks for, since it carries
// the module's load address.
const ::GUID& OwnObjectIid() {
  static const ::GUID iid = [] {
    ::GUID g{0x6B6478A1, 0x51D4, 0x4C1E, {0, 0, 0, 0, 0, 0, 0, 0}};
    const auto address = reinterpret_cast<uintptr_t>(win32::ThisModule());
    for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<BYTE>(address >> (8 * i));
    return g;
  }();
  return iid;
}

::LRESULT CALLBACK ControlWindowProc(HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam);

void PaintFace(HDC dc, const RECT& bounds, const std::u16string& name) {
  HBRUSH face = GetSysColorBrush(COLOR_BTNFACE);
  ::FillRect(dc, &bounds, face);
  RECT frame = bounds;
  DrawEdge(dc, &frame, EDGE_SUNKEN, BF_RECT);
  SetBkMode(dc, 1 /* TRANSPARENT */);
  RECT text = bounds;
  DrawTextW(dc, reinterpret_cast<LPCWSTR>(name.c_str()), static_cast<int>(name.size()), &text,
            0x1 | 0x4 | 0x20 /* DT_CENTER | DT_VCENTER | DT_SINGLELINE */);
}

class ComObject;

class ConnectionPointImpl final : public ::IConnectionPoint {
 public:
  explicit ConnectionPointImpl(ComObject& owner) : owner_(owner) {}
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(::IConnectionPointContainer** out) override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override {
    if (out) *out = nullptr;
    return kdx::E_NOTIMPL;
  }

 private:
  ComObject& owner_;
};

class ComObject final : public ::IDispatch,
                        public ::IProvideClassInfo2,
                        public ::IConnectionPointContainer,
                        public ::IOleObject,
                        public ::IOleInPlaceObject,
                        public ::IOleInPlaceActiveObject,
                        public ::IOleControl,
                        public ::IViewObject2,
                        public ::IPersistStreamInit,
                        public ::IPersistPropertyBag,
                        public ::IPersistStorage,
                        public ::IQuickActivate {
 public:
  ComObject(std::shared_ptr<kdx::IDispatch> object, const ComClass* cls)
      : object_(std::move(object)), cls_(cls), cp_(*this) {
    ++g_liveObjects;
    auto* container = dynamic_cast<kdx::IConnectionPointContainer*>(object_.get());
    events_ = container && cls_ && cls_->eventsIid != kdx::GUID{} ? container->FindConnectionPoint() : nullptr;
  }
  ~ComObject() {
    DeactivateInPlace();
    SafeRelease(clientSite_);
    SafeRelease(adviseHolder_);
    SafeRelease(viewSink_);
    --g_liveObjects;
  }

  const std::shared_ptr<kdx::IDispatch>& Object() const { return object_; }
  kdx::ConnectionPoint* Events() const { return events_; }
  const ComClass* Class() const { return cls_; }
  bool IsControl() const { return cls_ != nullptr && cls_->control; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
    if (ppv == nullptr) return kdx::E_POINTER;
    *ppv = nullptr;
    if (iid == OwnObjectIid()) {
      *ppv = this;  // not AddRef'd: only UnwrapOwn asks, and holds its own reference
      return kdx::S_OK;
    }
    if (iid == IID_IUnknown || iid == IID_IDispatch ||
        (cls_ && cls_->dispatchIid != kdx::GUID{} && iid == ToWin(cls_->dispatchIid)))
      *ppv = static_cast<::IDispatch*>(this);
    else if (cls_ && (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2))
      *ppv = static_cast<::IProvideClassInfo2*>(this);
    else if (events_ && iid == IID_IConnectionPointContainer)
      *ppv = static_cast<::IConnectionPointContainer*>(this);
    else if (IsControl())
      *ppv = ControlInterface(iid);
    if (*ppv == nullptr) return kdx::E_NOINTERFACE;
    AddRef();
    return kdx::S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return refs_.Add(); }
  STDMETHODIMP_(ULONG) Release() override { return refs_.Release(this); }

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return kdx::E_POINTER;
    ITypeInfo* info = nullptr;
    *count = SUCCEEDED(TypeInfoOf(cls_ ? &cls_->dispatchIid : nullptr, &info)) ? 1 : 0;
    SafeRelease(info);
    return kdx::S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = nullptr;
    if (index != 0) return kdx::DISP_E_BADINDEX;
    return TypeInfoOf(cls_ ? &cls_->dispatchIid : nullptr, out);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, ::DISPID* ids) override {
    if (iid != IID_NULL) return kdx::DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return kdx::S_OK;
    if (names == nullptr || ids == nullptr) return kdx::E_POINTER;
    return Guarded([&]() -> ::HRESULT {
      ::HRESULT hr = kdx::S_OK;
      for (UINT i = 0; i < count; ++i) ids[i] = kdx::DISPID_UNKNOWN;
      if (names[0] == nullptr) return kdx::DISP_E_UNKNOWNNAME;
      kdx::DISPID id = kdx::DISPID_UNKNOWN;
      hr = object_->GetIDsOfNames(reinterpret_cast<const char16_t*>(names[0]), &id);
      ids[0] = id;
      // Named arguments are not supported: their names are unknown.
      if (SUCCEEDED(hr) && count > 1) hr = kdx::DISP_E_UNKNOWNNAME;
      return hr;
    });
  }
  STDMETHODIMP Invoke(::DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, ::VARIANT* result,
                      EXCEPINFO* exception, UINT* argErr) override {
    if (iid != IID_NULL) return kdx::DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return kdx::E_INVALIDARG;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (params->cNamedArgs > (put ? 1u : 0u) ||
        (params->cNamedArgs == 1 && (params->rgdispidNamedArgs == nullptr ||
                                     params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
      return DISP_E_NONAMEDARGS;
    if (result) ::VariantInit(result);
    // Held for the call: the host may release the object from an event fired inside it.
    const std::shared_ptr<kdx::IDispatch> object = object_;
    return Guarded([&]() -> ::HRESULT {
      IncomingArgs args;
      ::HRESULT hr = args.Convert(*params, argErr);
      if (FAILED(hr)) return hr == kdx::E_OUTOFMEMORY ? hr : kdx::DISP_E_TYPEMISMATCH;
      kdx::GetErrorInfo();  // what an earlier call left is not this call's
      kdx::VARIANT value;
      hr = object->Invoke(id, flags, args.Args(), &value);
      const std::u16string error = hr == kdx::DISP_E_EXCEPTION ? kdx::GetErrorInfo() : std::u16string();
      args.WriteBack();
      if (hr == kdx::DISP_E_EXCEPTION && exception != nullptr) {
        *exception = EXCEPINFO{};
        exception->scode = kdx::E_FAIL;
        exception->bstrSource = ::SysAllocString(L"ORV_Velmar_KDX");
        exception->bstrDescription =
            ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(error.data()), static_cast<UINT>(error.size()));
      }
      if (SUCCEEDED(hr) && result != nullptr) {
        const ::HRESULT converted = ToComVariant(value, result);
        if (FAILED(converted)) return converted;
      }
      return hr;
    });
  }

  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = nullptr;
    return TypeInfoOf(&cls_->clsid, out);
  }
  STDMETHODIMP GetGUID(DWORD kind, ::GUID* out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return kdx::E_INVALIDARG;
    if (events_ == nullptr) return kdx::E_FAIL;
    *out = ToWin(cls_->eventsIid);
    return kdx::S_OK;
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, ::IConnectionPoint** out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = nullptr;
    if (iid != ToWin(cls_->eventsIid)) return CONNECT_E_NOCONNECTION;
    *out = &cp_;
    cp_.AddRef();
    return kdx::S_OK;
  }

  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    if (site) site->AddRef();
    SafeRelease(clientSite_);
    clientSite_ = site;
    return kdx::S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite** out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = clientSite_;
    if (clientSite_) clientSite_->AddRef();
    return kdx::S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return kdx::S_OK; }
  STDMETHODIMP Close(DWORD) override {
    DeactivateInPlace();
    return kdx::S_OK;
  }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return kdx::E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return kdx::E_NOTIMPL;
  }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return kdx::E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** out) override {
    if (out) *out = nullptr;
    return kdx::E_NOTIMPL;
  }
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) override {
    switch (verb) {
      case OLEIVERB_PRIMARY: case OLEIVERB_SHOW: case OLEIVERB_INPLACEACTIVATE: case OLEIVERB_UIACTIVATE:
        return ActivateInPlace(site ? site : clientSite_, parent, position);
      case OLEIVERB_HIDE:
        if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
        return kdx::S_OK;
      case OLEIVERB_PROPERTIES: {
        if (!cls_->properties) return kdx::E_NOTIMPL;
        const std::shared_ptr<kdx::IDispatch> object = object_;  // the verb's dialog pumps messages
        return Guarded([&] { return cls_->properties(*object); });
      }
      default:
        return OLEOBJ_S_INVALIDVERB;
    }
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) override { return OleRegEnumVerbs(ToWin(cls_->clsid), out); }
  STDMETHODIMP Update() override { return kdx::S_OK; }
  STDMETHODIMP IsUpToDate() override { return kdx::S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* out) override { return GetClassID(out); }
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* out) override { return OleRegGetUserType(ToWin(cls_->clsid), form, out); }
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override {
    if (size == nullptr) return kdx::E_POINTER;
    if (aspect != DVASPECT_CONTENT) return kdx::E_FAIL;
    extent_ = *size;
    return kdx::S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override {
    if (size == nullptr) return kdx::E_POINTER;
    if (aspect != DVASPECT_CONTENT) return kdx::E_FAIL;
    *size = extent_;
    return kdx::S_OK;
  }
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override {
    if (adviseHolder_ == nullptr && FAILED(CreateOleAdviseHolder(&adviseHolder_))) return kdx::E_OUTOFMEMORY;
    return adviseHolder_->Advise(sink, cookie);
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
  }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = nullptr;
    return adviseHolder_ ? adviseHolder_->EnumAdvise(out) : kdx::E_FAIL;
  }
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override {
    if (status == nullptr) return kdx::E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? cls_->miscStatus : 0;
    return kdx::S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return kdx::E_NOTIMPL; }

  // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
  STDMETHODIMP GetWindow(HWND* out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = hwnd_;
    return hwnd_ ? kdx::S_OK : kdx::E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return kdx::E_NOTIMPL; }
  STDMETHODIMP InPlaceDeactivate() override {
    DeactivateInPlace();
    return kdx::S_OK;
  }
  STDMETHODIMP UIDeactivate() override { return kdx::S_OK; }
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT) override {
    if (position == nullptr) return kdx::E_POINTER;
    if (hwnd_)
      MoveWindow(hwnd_, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, TRUE);
    return kdx::S_OK;
  }
  STDMETHODIMP ReactivateAndUndo() override { return kdx::E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(LPMSG) override { return kdx::S_FALSE; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return kdx::S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return kdx::S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return kdx::S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return kdx::S_OK; }

  // IOleControl: no mnemonics, no ambient properties read.
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override {
    if (info == nullptr) return kdx::E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return kdx::S_OK;
  }
  STDMETHODIMP OnMnemonic(LPMSG) override { return kdx::S_OK; }
  STDMETHODIMP OnAmbientPropertyChange(::DISPID) override { return kdx::S_OK; }
  STDMETHODIMP FreezeEvents(BOOL) override { return kdx::S_OK; }

  // IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                    BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (dc == nullptr || bounds == nullptr) return kdx::E_INVALIDARG;
    const RECT rect{bounds->left, bounds->top, bounds->right, bounds->bottom};
    PaintFace(dc, rect, DisplayName());
    return kdx::S_OK;
  }
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** out) override {
    if (out) *out = nullptr;
    return kdx::S_FALSE;
  }
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return kdx::E_NOTIMPL; }
  STDMETHODIMP Unfreeze(DWORD) override { return kdx::E_NOTIMPL; }
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override {
    if (sink) sink->AddRef();
    SafeRelease(viewSink_);
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return kdx::S_OK;
  }
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) {
      *sink = viewSink_;
      if (viewSink_) viewSink_->AddRef();
    }
    return kdx::S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
    return GetExtent(aspect, size);
  }

  // IPersist and its three forms: only the version stamp is kept.
  STDMETHODIMP GetClassID(CLSID* out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = ToWin(cls_->clsid);
    return kdx::S_OK;
  }
  STDMETHODIMP IsDirty() override { return kdx::S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override {
    if (stream == nullptr) return kdx::E_POINTER;
    DWORD stamp = 0;
    ULONG read = 0;
    // A stream from an older or newer version still loads: there is nothing else in it.
    const ::HRESULT hr = stream->Read(&stamp, sizeof stamp, &read);
    return FAILED(hr) ? hr : kdx::S_OK;
  }
  STDMETHODIMP Save(LPSTREAM stream, BOOL) override {
    if (stream == nullptr) return kdx::E_POINTER;
    ULONG written = 0;
    return stream->Write(&kVersionStamp, sizeof kVersionStamp, &written);
  }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override {
    if (size == nullptr) return kdx::E_POINTER;
    size->QuadPart = sizeof kVersionStamp;
    return kdx::S_OK;
  }
  STDMETHODIMP InitNew() override { return kdx::S_OK; }
  STDMETHODIMP Load(IPropertyBag*, IErrorLog*) override { return kdx::S_OK; }
  STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return kdx::S_OK; }
  STDMETHODIMP InitNew(IStorage*) override { return kdx::S_OK; }
  STDMETHODIMP Load(IStorage*) override { return kdx::S_OK; }
  STDMETHODIMP Save(IStorage*, BOOL) override { return kdx::S_OK; }
  STDMETHODIMP SaveCompleted(IStorage*) override { return kdx::S_OK; }
  STDMETHODIMP HandsOffStorage() override { return kdx::S_OK; }

  // IQuickActivate
  STDMETHODIMP QuickActivate(QACONTAINER* container, QACONTROL* control) override {
    if (container == nullptr || control == nullptr) return kdx::E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return kdx::E_INVALIDARG;
    SetClientSite(container->pClientSite);
    control->dwMiscStatus = cls_->miscStatus;
    control->dwViewStatus = 0;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    if (container->pUnkEventSink && events_) {
      const ::HRESULT hr = cp_.Advise(container->pUnkEventSink, &control->dwEventCookie);
      if (FAILED(hr)) return hr;
    }
    return kdx::S_OK;
  }
  STDMETHODIMP SetContentExtent(LPSIZEL size) override { return SetExtent(DVASPECT_CONTENT, size); }
  STDMETHODIMP GetContentExtent(LPSIZEL size) override { return GetExtent(DVASPECT_CONTENT, size); }

  std::u16string DisplayName() const { return cls_ ? std::u16string(cls_->name) : u""; }

 private:
  void* ControlInterface(REFIID iid) {
    if (iid == IID_IOleObject) return static_cast<::IOleObject*>(this);
    if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) return static_cast<::IOleInPlaceObject*>(this);
    if (iid == IID_IOleInPlaceActiveObject) return static_cast<::IOleInPlaceActiveObject*>(this);
    if (iid == IID_IOleControl) return static_cast<::IOleControl*>(this);
    if (iid == IID_IViewObject || iid == IID_IViewObject2) return static_cast<::IViewObject2*>(this);
    if (iid == IID_IPersist || iid == IID_IPersistStreamInit) return static_cast<::IPersistStreamInit*>(this);
    if (iid == IID_IPersistPropertyBag) return static_cast<::IPersistPropertyBag*>(this);
    if (iid == IID_IPersistStorage) return static_cast<::IPersistStorage*>(this);
    if (iid == IID_IQuickActivate) return static_cast<::IQuickActivate*>(this);
    return nullptr;
  }

  static ::HRESULT TypeInfoOf(const kdx::GUID* guid, ITypeInfo** out) {
    ITypeLib* lib = guid ? ModuleTypeLib() : nullptr;
    if (lib == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    return lib->GetTypeInfoOfGuid(ToWin(*guid), out);
  }

  static bool RegisterWindowClass() {
    static const bool registered = win32::RegisterWindowClass(kWindowClass, ControlWindowProc, true);
    return registered;
  }

  ::HRESULT ActivateInPlace(IOleClientSite* site, HWND parent, LPCRECT position) {
    if (hwnd_) {
      ShowWindow(hwnd_, SW_SHOW);
      return kdx::S_OK;
    }
    IOleInPlaceSite* inPlace = nullptr;
    if (site) site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace));
    RECT rect = position ? *position : RECT{0, 0, 100, 40};
    if (inPlace) {
      if (inPlace->CanInPlaceActivate() != kdx::S_OK) {
        inPlace->Release();
        return kdx::E_FAIL;
      }
      inPlace->OnInPlaceActivate();
      HWND siteWindow = nullptr;
      if (SUCCEEDED(inPlace->GetWindow(&siteWindow)) && siteWindow) parent = siteWindow;
      IOleInPlaceFrame* frame = nullptr;
      IOleInPlaceUIWindow* document = nullptr;
      RECT pos{}, clip{};
      OLEINPLACEFRAMEINFO frameInfo{};
      frameInfo.cb = sizeof frameInfo;
      if (SUCCEEDED(inPlace->GetWindowContext(&frame, &document, &pos, &clip, &frameInfo))) rect = pos;
      SafeRelease(frame);
      SafeRelease(document);
    }
    if (parent == nullptr || !RegisterWindowClass()) {
      if (inPlace) {
        inPlace->OnInPlaceDeactivate();
        inPlace->Release();
      }
      return kdx::E_FAIL;
    }
    hwnd_ = CreateWindowExW(0, kWindowClass, reinterpret_cast<LPCWSTR>(DisplayName().c_str()),
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect.left, rect.top, rect.right - rect.left,
                            rect.bottom - rect.top, parent, nullptr, win32::ThisModule(), nullptr);
    if (hwnd_ == nullptr) {
      if (inPlace) {
        inPlace->OnInPlaceDeactivate();
        inPlace->Release();
      }
      return kdx::E_FAIL;
    }
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    inPlaceSite_ = inPlace;
    return kdx::S_OK;
  }

  void DeactivateInPlace() {
    if (hwnd_) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      DestroyWindow(hwnd_);
      hwnd_ = nullptr;
    }
    if (inPlaceSite_) {
      IOleInPlaceSite* site = inPlaceSite_;
      inPlaceSite_ = nullptr;
      site->OnInPlaceDeactivate();
      site->Release();
    }
  }

  RefCount refs_;
  std::shared_ptr<kdx::IDispatch> object_;
  const ComClass* cls_;
  kdx::ConnectionPoint* events_ = nullptr;
  ConnectionPointImpl cp_;
  IOleClientSite* clientSite_ = nullptr;
  IOleInPlaceSite* inPlaceSite_ = nullptr;
  IOleAdviseHolder* adviseHolder_ = nullptr;
  IAdviseSink* viewSink_ = nullptr;
  DWORD viewAspects_ = 0, viewFlags_ = 0;
  SIZEL extent_ = kDefaultExtent;
  HWND hwnd_ = nullptr;
};

::LRESULT CALLBACK ControlWindowProc(HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    auto* object = reinterpret_cast<ComObject*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    RECT client;
    GetClientRect(hwnd, &client);
    PaintFace(dc, client, object ? object->DisplayName() : u"");
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A COM sink as one of our sinks: events are COM calls on it.
class SinkAdapter final : public kdx::IDispatch {
 public:
  explicit SinkAdapter(::IDispatch* sink) : sink_(sink) { sink_->AddRef(); }
  ~SinkAdapter() override { sink_->Release(); }
  kdx::HRESULT GetIDsOfNames(std::u16string_view, kdx::DISPID*) override { return kdx::E_NOTIMPL; }
  kdx::HRESULT Invoke(kdx::DISPID id, kdx::WORD flags, std::span<kdx::VARIANT> args, kdx::VARIANT*) override {
    OutgoingArgs out;
    ::HRESULT hr = out.Convert(args, false);
    if (FAILED(hr)) return hr;
    ::IDispatch* sink = sink_;
    sink->AddRef();  // the sink may unadvise itself inside the call
    hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, out.Params(), nullptr, nullptr, nullptr);
    sink->Release();
    out.WriteBack(args);
    return hr;
  }

 private:
  ::IDispatch* sink_;
};

STDMETHODIMP ConnectionPointImpl::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return kdx::E_POINTER;
  *ppv = nullptr;
  if (iid != IID_IUnknown && iid != IID_IConnectionPoint) return kdx::E_NOINTERFACE;
  *ppv = static_cast<::IConnectionPoint*>(this);
  AddRef();
  return kdx::S_OK;
}
STDMETHODIMP_(ULONG) ConnectionPointImpl::AddRef() { return owner_.AddRef(); }
STDMETHODIMP_(ULONG) ConnectionPointImpl::Release() { return owner_.Release(); }

STDMETHODIMP ConnectionPointImpl::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return kdx::E_POINTER;
  *iid = ToWin(owner_.Class()->eventsIid);
  return kdx::S_OK;
}

STDMETHODIMP ConnectionPointImpl::GetConnectionPointContainer(::IConnectionPointContainer** out) {
  if (out == nullptr) return kdx::E_POINTER;
  *out = static_cast<::IConnectionPointContainer*>(&owner_);
  owner_.AddRef();
  return kdx::S_OK;
}

STDMETHODIMP ConnectionPointImpl::Advise(IUnknown* sink, DWORD* cookie) {
  if (cookie == nullptr || sink == nullptr) return kdx::E_POINTER;
  *cookie = 0;
  ::IDispatch* dispatch = nullptr;
  if (FAILED(sink->QueryInterface(ToWin(owner_.Class()->eventsIid), reinterpret_cast<void**>(&dispatch))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    return CONNECT_E_CANNOTCONNECT;
  const ::HRESULT hr = Guarded([&]() -> ::HRESULT {
    *cookie = owner_.Events()->Advise(std::make_shared<SinkAdapter>(dispatch));
    return *cookie != 0 ? kdx::S_OK : CONNECT_E_CANNOTCONNECT;
  });
  dispatch->Release();
  return hr;
}

STDMETHODIMP ConnectionPointImpl::Unadvise(DWORD cookie) {
  return Guarded([&]() -> ::HRESULT { return owner_.Events()->Unadvise(cookie); });
}

// The one connection point, enumerated.
class ConnectionPointEnum final : public ComUnknown<IEnumConnectionPoints> {
 public:
  ConnectionPointEnum(ComObject& owner, ULONG position) : owner_(owner), position_(position) { owner_.AddRef(); }
  ~ConnectionPointEnum() override { owner_.Release(); }

  STDMETHODIMP Next(ULONG count, ::IConnectionPoint** out, ULONG* fetched) override {
    if (out == nullptr || (count > 1 && fetched == nullptr)) return kdx::E_POINTER;
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
      owner_.FindConnectionPoint(ToWin(owner_.Class()->eventsIid), &out[0]);
      n = 1;
      position_ = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? kdx::S_OK : kdx::S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    const ULONG left = 1 - position_;
    position_ += std::min(count, left);
    return count <= left ? kdx::S_OK : kdx::S_FALSE;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return kdx::S_OK;
  }
  STDMETHODIMP Clone(IEnumConnectionPoints** out) override {
    if (out == nullptr) return kdx::E_POINTER;
    *out = new (std::nothrow) ConnectionPointEnum(owner_, position_);
    return *out ? kdx::S_OK : kdx::E_OUTOFMEMORY;
  }

 private:
  bool Answers(REFIID iid) const override { return iid == IID_IEnumConnectionPoints; }
  ComObject& owner_;
  ULONG position_;
};

STDMETHODIMP ComObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
  if (out == nullptr) return kdx::E_POINTER;
  *out = new (std::nothrow) ConnectionPointEnum(*this, 0);
  return *out ? kdx::S_OK : kdx::E_OUTOFMEMORY;
}

}  // namespace

::IDispatch* WrapObject(std::shared_ptr<kdx::IDispatch> object, const ComClass* cls) {
  if (!object) return nullptr;
  return static_cast<::IDispatch*>(new (std::nothrow) ComObject(std::move(object), cls));
}

std::shared_ptr<kdx::IDispatch> UnwrapOwn(::IUnknown* object) {
  void* own = nullptr;
  if (object == nullptr || FAILED(object->QueryInterface(OwnObjectIid(), &own)) || own == nullptr) return nullptr;
  return static_cast<ComObject*>(own)->Object();
}

::HRESULT CreateServedObject(const ComClass& cls, REFIID iid, void** ppv) {
  if (ppv == nullptr) return kdx::E_POINTER;
  *ppv = nullptr;
  return Guarded([&]() -> ::HRESULT {
    std::shared_ptr<kdx::IDispatch> object;
    ::HRESULT hr = cls.create(&object);
    if (FAILED(hr)) return hr;
    if (!object) return kdx::E_OUTOFMEMORY;
    ::IDispatch* com = WrapObject(std::move(object), &cls);
    if (com == nullptr) return kdx::E_OUTOFMEMORY;
    hr = com->QueryInterface(iid, ppv);
    com->Release();
    return hr;
  });
}

namespace {
std::atomic<const ComServer*> g_server{nullptr};
}  // namespace

void SetComServer(const ComServer* server) { g_server = server; }
const ComServer* GetComServer() { return g_server; }

ITypeLib* ModuleTypeLib() {
  static ITypeLib* const lib = []() -> ITypeLib* {
    const ComServer* server = GetComServer();
    if (server == nullptr || !server->typeLibrary) return nullptr;
    const std::u16string path = win32::ModuleFileName(win32::ThisModule());
    if (path.empty()) return nullptr;
    ITypeLib* loaded = nullptr;
    return SUCCEEDED(LoadTypeLibEx(reinterpret_cast<LPCOLESTR>(path.c_str()), REGKIND_NONE, &loaded)) ? loaded : nullptr;
  }();
  return lib;
}

}  // namespace kdx::com
