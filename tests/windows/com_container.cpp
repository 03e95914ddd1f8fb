// A form designer's view of the control: a COM client that knows only the ProgID, the
// interface identifiers and the DISPIDs sites the registered control on a window through
// OleCreate and in-place activation, advises an event sink, pumps messages, and trades
// against the simulated component (kdxsim.dll) while the events arrive.
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const IID kDispatchIid = {0xC3187AB4, 0x3361, 0x4CDF, {0x9B, 0x97, 0x2D, 0xD3, 0xF9, 0xC1, 0xD6, 0x39}};
const IID kEventsIid = {0x20FF8F24, 0xB279, 0x4B76, {0xAB, 0xFE, 0x65, 0x25, 0x02, 0x8E, 0x1A, 0x83}};
const GUID kLibid = {0x2D0F66C4, 0x5920, 0x46A0, {0xAA, 0x11, 0x9A, 0xFC, 0xB3, 0xDD, 0xC9, 0x0B}};
const CLSID kControlClsid = {0x4B9E9F5A, 0x36DF, 0x4463, {0x9F, 0x46, 0xA5, 0x24, 0x9E, 0x61, 0xFC, 0x7B}};
constexpr DISPID kLoginReady = 1, kOrderStatus = 4, kFillOrder = 5, kLog = 7;

struct Event {
  DISPID id;
  std::vector<long> numbers;  // the event's integer arguments
};

// Records the control's events; answers the event interface and IDispatch.
class EventSink final : public IDispatch {
 public:
  std::vector<Event> events;
  bool Saw(DISPID id) const {
    for (const Event& e : events)
      if (e.id == id) return true;
    return false;
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
    *ppv = (iid == IID_IUnknown || iid == IID_IDispatch || iid == kEventsIid) ? this : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    Event e{id, {}};
    for (UINT i = params->cArgs; i-- > 0;)
      if (params->rgvarg[i].vt == VT_I4) e.numbers.push_back(params->rgvarg[i].lVal);
    events.push_back(e);
    return S_OK;
  }
  ULONG refs_ = 0;
};

// The container's side of the site: a client site that allows in-place activation in its window.
class Site final : public IOleClientSite, public IOleInPlaceSite {
 public:
  explicit Site(HWND window) : window_(window) {}
  int activations = 0;
  STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) *ppv = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) *ppv = static_cast<IOleInPlaceSite*>(this);
    else *ppv = nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SaveObject() override { return S_OK; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  STDMETHODIMP GetContainer(IOleContainer** out) override { return *out = nullptr, E_NOINTERFACE; }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
  STDMETHODIMP GetWindow(HWND* out) override { return *out = window_, S_OK; }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return ++activations, S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO) override {
    *frame = nullptr;
    *doc = nullptr;
    *pos = RECT{10, 10, 110, 50};
    *clip = *pos;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return --activations, S_OK; }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

 private:
  HWND window_;
};

// Calls a member by name, arguments in natural order, as a script host does.
HRESULT Call(IDispatch* control, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr,
             WORD flags = DISPATCH_METHOD) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (result) VariantInit(result);
  hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
  for (VARIANT& v : args) VariantClear(&v);
  return hr;
}

// Arguments as a client makes them.
VARIANT Long(long v) {
  VARIANT out;
  VariantInit(&out);
  V_VT(&out) = VT_I4, V_I4(&out) = v;
  return out;
}
VARIANT Double(double v) {
  VARIANT out = Long(0);
  V_VT(&out) = VT_R8, V_R8(&out) = v;
  return out;
}
VARIANT Text(const std::wstring& v) {
  VARIANT out = Long(0);
  V_VT(&out) = VT_BSTR, V_BSTR(&out) = SysAllocString(v.c_str());
  return out;
}

long CallLong(IDispatch* control, const wchar_t* name, std::vector<VARIANT> args = {}) {
  VARIANT result;
  if (FAILED(Call(control, name, std::move(args), &result)) || result.vt != VT_I4) return -999;
  return result.lVal;
}

// The message pump a form runs, until done() or the time-out.
bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

class Container : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KdxTestForm";
    RegisterClassW(&wc);
    form_ = CreateWindowExW(0, L"KdxTestForm", L"Form", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                            wc.hInstance, nullptr);
    ASSERT_NE(form_, nullptr);
    site_ = std::make_unique<Site>(form_);
    ASSERT_EQ(StgCreateDocfile(nullptr, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DELETEONRELEASE, 0,
                               &storage_),
              S_OK);
  }
  void TearDown() override {
    if (object_) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
      object_->Release();
    }
    if (storage_) storage_->Release();
    if (form_) DestroyWindow(form_);
    OleUninitialize();
  }
  // Created by ProgID as a designer does from its toolbox entry, then sited.
  void Create() {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1", &clsid), S_OK);
    ASSERT_TRUE(IsEqualCLSID(clsid, kControlClsid));
    ASSERT_EQ(OleCreate(clsid, IID_IOleObject, OLERENDER_NONE, nullptr, site_.get(), storage_,
                        reinterpret_cast<void**>(&object_)),
              S_OK);
    ASSERT_EQ(object_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control_)), S_OK);
    control_->Release();  // object_ keeps it alive
  }

  HWND form_ = nullptr;
  std::unique_ptr<Site> site_;
  IStorage* storage_ = nullptr;
  IOleObject* object_ = nullptr;
  IDispatch* control_ = nullptr;
};

TEST_F(Container, SitesActivatesAndDescribesItselfAsAControl) {
  Create();
  DWORD misc = 0;
  EXPECT_EQ(object_->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
  EXPECT_EQ(misc, 0x20191u);

  RECT where{10, 10, 110, 50};
  ASSERT_EQ(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, form_, &where), S_OK);
  EXPECT_EQ(site_->activations, 1);
  IOleInPlaceObject* inPlace = nullptr;
  ASSERT_EQ(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
  HWND child = nullptr;
  EXPECT_EQ(inPlace->GetWindow(&child), S_OK);
  EXPECT_EQ(GetParent(child), form_);
  EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
  EXPECT_EQ(site_->activations, 0);
  EXPECT_FALSE(IsWindow(child));
  inPlace->Release();

  // The type library embedded in the DLL describes the interface and the class, and the
  // registration leads a development tool to it.
  ITypeLib* registered = nullptr;
  ASSERT_EQ(LoadRegTypeLib(kLibid, 1, 0, 0x409, &registered), S_OK);
  ITypeInfo* coclass = nullptr;
  EXPECT_EQ(registered->GetTypeInfoOfGuid(kControlClsid, &coclass), S_OK);
  if (coclass) coclass->Release();
  registered->Release();
  ITypeInfo* info = nullptr;
  ASSERT_EQ(control_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, kDispatchIid));
  info->ReleaseTypeAttr(attr);
  LPOLESTR name[] = {const_cast<LPOLESTR>(L"GetOrderString")};
  MEMBERID id = 0;
  EXPECT_EQ(info->GetIDsOfNames(name, 1, &id), S_OK);
  EXPECT_EQ(id, 6);
  info->Release();
  IProvideClassInfo2* classInfo = nullptr;
  ASSERT_EQ(object_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo)), S_OK);
  GUID source{};
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualGUID(source, kEventsIid));
  classInfo->Release();

  // A form saves the control with itself and loads it back.
  IPersistStreamInit* persist = nullptr;
  ASSERT_EQ(object_->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  EXPECT_EQ(persist->Save(stream, TRUE), S_OK);
  EXPECT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
  EXPECT_EQ(persist->Load(stream), S_OK);
  stream->Release();
  persist->Release();
}

TEST_F(Container, TradesWhileEventsArrive) {
  Create();
  RECT where{10, 10, 110, 50};
  ASSERT_EQ(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_.get(), 0, form_, &where), S_OK);
  IConnectionPointContainer* container = nullptr;
  ASSERT_EQ(object_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
  IConnectionPoint* point = nullptr;
  ASSERT_EQ(container->FindConnectionPoint(kEventsIid, &point), S_OK);
  container->Release();
  EventSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);

  // Written by the test's runner, with the simulated web services' address in it.
  const char* profileVariable = getenv("KDX_PROFILE");
  ASSERT_NE(profileVariable, nullptr) << "KDX_PROFILE names no log-in profile";
  const std::wstring profile(profileVariable, profileVariable + strlen(profileVariable));

  EXPECT_EQ(CallLong(control_, L"Login", {Text(profile), Text(L"Sim")}), 0);
  ASSERT_TRUE(PumpUntil([&] { return sink.Saw(kLoginReady); }));
  EXPECT_EQ(CallLong(control_, L"GetConnectStatus"), 2);

  // A futures order at market: the simulated market fills it at once. The symbol goes in by
  // reference, as a VB host passes a variable.
  BSTR symbol = SysAllocString(L"ORV.TWF.TXF.202612");
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_BYREF | VT_BSTR;
  byRef.pbstrVal = &symbol;
  const std::pair<long, const wchar_t*> fields[] = {{0, L"F"}, {1, L"9A95-9A950012345"}, {3, L"R"}, {4, L"S"},
                                                    {5, L"M"}, {10, L"N"}, {15, L"O"}};
  for (const auto& [field, text] : fields) EXPECT_EQ(Call(control_, L"SetOrderInfoString", {Long(field), Text(text)}), S_OK);
  EXPECT_EQ(Call(control_, L"SetOrderInfoString", {Long(2), byRef}), S_OK);
  SysFreeString(symbol);
  EXPECT_EQ(Call(control_, L"SetOrderInfoValue", {Long(7), Double(3)}), S_OK);
  EXPECT_EQ(CallLong(control_, L"ProcessOrder"), 0);
  ASSERT_TRUE(PumpUntil([&] { return sink.Saw(kOrderStatus) && sink.Saw(kFillOrder); }));
  bool orderLogged = false;  // Log(2, the order as sent)
  for (const Event& e : sink.events) {
    if (e.id == kOrderStatus || e.id == kFillOrder) {
      EXPECT_EQ(e.numbers, std::vector<long>{0});
    }
    orderLogged = orderLogged || (e.id == kLog && e.numbers == std::vector<long>{2});
  }
  EXPECT_TRUE(orderLogged);
  EXPECT_EQ(CallLong(control_, L"GetOrderCount"), 1);
  EXPECT_EQ(CallLong(control_, L"GetFillOrderCount"), 1);

  // Bad calls are automation errors, never a crash.
  VARIANT ignored;
  EXPECT_EQ(Call(control_, L"GetOrderString", {Long(0)}, &ignored), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(control_, L"SetOrderInfoValue", {Long(6), Text(L"abc")}), DISP_E_TYPEMISMATCH);
  DISPID unknown = 0;
  LPOLESTR bogus[] = {const_cast<LPOLESTR>(L"NoSuchMethod")};
  EXPECT_EQ(control_->GetIDsOfNames(IID_NULL, bogus, 1, LOCALE_USER_DEFAULT, &unknown), DISP_E_UNKNOWNNAME);

  EXPECT_EQ(Call(control_, L"Logout", {}), S_OK);
  ASSERT_TRUE(PumpUntil([&] { return CallLong(control_, L"GetConnectStatus") == 0; }));
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  point->Release();
}

}  // namespace
