// The control module's exports: self-registration into ClassesRoot(), the class objects of
// the control and its property page, and the count that decides whether it may unload.
#include "control/Module.h"

#include <atomic>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/registry.h"
#include "resources/string_table.h"
#include "resources/type_library.h"

namespace kdx {
namespace {

// Objects made by the class objects below and still alive, and LockServer locks: the module
// may unload only when both are 0. Objects may be released on any thread.
std::atomic<long> g_nObjects{0};
std::atomic<long> g_nLocks{0};

template <class T>
class CountedFactory final : public IClassFactory {
 public:
  HRESULT CreateInstance(std::shared_ptr<IDispatch>* out) override {
    if (out == nullptr) return E_POINTER;
    out->reset();
    // Counted before construction, so the module cannot look unloadable while one is made.
    g_nObjects.fetch_add(1);
    T* raw = nullptr;
    try {
      raw = new T;
    } catch (const std::bad_alloc&) {
      g_nObjects.fetch_sub(1);
      return E_OUTOFMEMORY;
    } catch (...) {
      g_nObjects.fetch_sub(1);
      return E_FAIL;
    }
    try {
      *out = std::shared_ptr<T>(raw, [](T* object) {
        delete object;
        g_nObjects.fetch_sub(1);
      });
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;  // the deleter has run and uncounted it
    }
    return S_OK;
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      g_nLocks.fetch_add(1);
      return S_OK;
    }
    long held = g_nLocks.load();
    do {
      if (held == 0) return E_UNEXPECTED;
    } while (!g_nLocks.compare_exchange_weak(held, held - 1));
    return S_OK;
  }
};

CountedFactory<CORV_Velmar_KDXCtrl> g_controlFactory;
CountedFactory<CORV_Velmar_KDXPropPage> g_propPageFactory;

struct ClassInfo {
  const CLSID& clsid;
  std::u16string_view progId;
  UINT typeNameId;  // string resource
  bool control;     // an insertable control: Control, toolbox bitmap, misc status, type library
  IClassFactory& factory;
};

const ClassInfo kClasses[] = {
    {CLSID_ORV_Velmar_KDX, kControlProgID, IDS_ORV_VELMAR_KDX, true, g_controlFactory},
    {CLSID_ORV_Velmar_KDXPropPage, kPropPageProgID, IDS_ORV_VELMAR_KDX_PPG, false, g_propPageFactory},
};

// One registry item: a value, or (data empty) a key that only has to exist.
struct RegEntry {
  std::u16string key;
  std::u16string name;  // empty: the key's default value
  std::optional<std::u16string> data;
};
using RegEntries = std::vector<RegEntry>;

std::u16string Number(unsigned long value, int base) {
  std::u16string text;
  do {
    text.insert(text.begin(), u"0123456789abcdef"[value % base]);
    value /= base;
  } while (value != 0);
  return text;
}

// Type-library versions and locales are written in hexadecimal, as the registry has them.
std::u16string VersionText(const TypeLibrary& lib) {
  return Number(lib.majorVersion, 16) + u"." + Number(lib.minorVersion, 16);
}

std::u16string TypeLibKey(const TypeLibrary& lib) { return u"TypeLib\\" + StringFromCLSID(lib.libid); }
std::u16string InterfaceKey(const TypeLibInterface& itf) { return u"Interface\\" + StringFromCLSID(itf.iid); }
std::u16string ClassKey(const ClassInfo& c) { return u"CLSID\\" + StringFromCLSID(c.clsid); }

std::u16string ModuleFolder(const std::u16string& path) {
  // Windows paths separate folders with backslashes.
  std::size_t slash = path.find_last_of(u"/\\");
  if (slash == std::u16string::npos) return u".";
  return slash == 0 ? u"/" : path.substr(0, slash);
}

RegEntries TypeLibEntries(const TypeLibrary& lib, const std::u16string& path) {
  const std::u16string version = VersionText(lib);
  const std::u16string root = TypeLibKey(lib) + u"\\" + version;
  const std::u16string libid = StringFromCLSID(lib.libid);
  const std::u16string proxy = StringFromCLSID(CLSID_PSDispatch);
  RegEntries rows{
      {root, u"", lib.help},
      {root + u"\\" + Number(lib.lcid, 16) + u"\\" + std::u16string(TypeLibPlatformKey()), u"", path},
      {root + u"\\FLAGS", u"", Number(lib.flags, 10)},
      {root + u"\\HELPDIR", u"", ModuleFolder(path)},
  };
  for (const TypeLibInterface& itf : lib.dispinterfaces) {
    const std::u16string key = InterfaceKey(itf);
    rows.insert(rows.end(), {
                                {key, u"", itf.name},
                                {key + u"\\ProxyStubClsid", u"", proxy},
                                {key + u"\\ProxyStubClsid32", u"", proxy},
                                {key + u"\\TypeLib", u"", libid},
                                {key + u"\\TypeLib", u"Version", version},
                            });
  }
  return rows;
}

RegEntries ClassEntries(const ClassInfo& c, const TypeLibrary& lib, const std::u16string& path) {
  const std::u16string key = ClassKey(c);
  const std::u16string progId(c.progId);
  const std::u16string typeName(LoadResourceString(c.typeNameId));
  RegEntries rows{
      {key, u"", typeName},
      {key + u"\\InprocServer32", u"", path},
      {key + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {key + u"\\ProgID", u"", progId},
  };
  if (c.control) {
    rows.insert(rows.end(), {
                                {key + u"\\Control", u"", std::nullopt},
                                {key + u"\\ToolboxBitmap32", u"", path + u", " + Number(IDB_ORV_VELMAR_KDX, 10)},
                                {key + u"\\MiscStatus", u"", u"0"},
                                {key + u"\\MiscStatus\\1", u"", Number(kControlMiscStatus, 10)},
                                {key + u"\\TypeLib", u"", StringFromCLSID(lib.libid)},
                                {key + u"\\Version", u"", VersionText(lib)},
                            });
  }
  rows.insert(rows.end(), {{progId, u"", typeName}, {progId + u"\\CLSID", u"", StringFromCLSID(c.clsid)}});
  return rows;
}

bool Write(const RegEntries& rows) {
  Registry& root = ClassesRoot();
  for (const RegEntry& row : rows) {
    HRESULT hr = row.data ? root.SetValue(row.key, row.name, *row.data) : root.CreateKey(row.key);
    if (FAILED(hr)) return false;
  }
  return true;
}

// In one change, so that a failure leaves the registration whole. Keys already gone are no
// failure; a registry that cannot be read cannot tell whether they are gone.
bool Delete(const std::vector<std::u16string>& keys) {
  Registry& root = ClassesRoot();
  return SUCCEEDED(root.ReadResult()) && SUCCEEDED(root.DeleteTrees(keys));
}

bool UnregisterTypeLib(const TypeLibrary& lib) {
  const std::u16string libKey = TypeLibKey(lib), versionKey = libKey + u"\\" + VersionText(lib);
  // Other versions of the library keep the LIBID key.
  const bool others = ClassesRoot().SubKeys(libKey).size() > (ClassesRoot().KeyExists(versionKey) ? 1u : 0u);
  std::vector<std::u16string> keys{others ? versionKey : libKey};
  for (const TypeLibInterface& itf : lib.dispinterfaces) keys.push_back(InterfaceKey(itf));
  return Delete(keys);
}

}  // namespace

CORV_Velmar_KDXPropPage::CORV_Velmar_KDXPropPage() : DispatchObject(DispatchTable{}) {}

const DialogTemplate& CORV_Velmar_KDXPropPage::Dialog() {
  static constexpr DialogTemplate kDialog{IDD_PROPPAGE_ORV_VELMAR_KDX, 250, 62, true,
                                          u"ORV_Velmar_KDX Control has no properties to set."};
  return kDialog;
}

extern "C" HRESULT DllRegisterServer() {
  try {
    TypeLibrary lib;
    if (FAILED(LoadTypeLibrary(&lib))) return SELFREG_E_TYPELIB;
    const std::u16string path = CurrentModulePath();
    if (!Write(TypeLibEntries(lib, path))) return SELFREG_E_TYPELIB;
    for (const ClassInfo& c : kClasses)
      if (!Write(ClassEntries(c, lib, path))) return SELFREG_E_CLASS;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT DllUnregisterServer() {
  try {
    TypeLibrary lib;
    if (FAILED(LoadTypeLibrary(&lib)) || !UnregisterTypeLib(lib)) return SELFREG_E_TYPELIB;
    std::vector<std::u16string> keys;
    for (const ClassInfo& c : kClasses) keys.insert(keys.end(), {ClassKey(c), std::u16string(c.progId)});
    return Delete(keys) ? S_OK : SELFREG_E_CLASS;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT DllGetClassObject(const CLSID& clsid, const IID& iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  for (const ClassInfo& c : kClasses) {
    if (c.clsid != clsid) continue;
    if (iid != IID_IClassFactory && iid != IID_IUnknown) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(&c.factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT DllCanUnloadNow() { return g_nObjects.load() == 0 && g_nLocks.load() == 0 ? S_OK : S_FALSE; }

}  // namespace kdx
