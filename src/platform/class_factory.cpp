#include "platform/class_factory.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/registry.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

struct ClassRegistry {
  std::mutex mutex;
  std::unordered_map<CLSID, ClassFactory, GuidHash> factories;
};

ClassRegistry& ClassTable() {
  static ClassRegistry registry;
  return registry;
}

// Anything defined in this library: dladdr of it names the file the library came from.
const char kModuleAnchor = 0;

fs::path CurrentModuleFile() {
  static const fs::path file = [] {
    Dl_info info{};
    link_map* map = nullptr;
    fs::path path = "/proc/self/exe";  // the main program's link map has an empty name
    if (dladdr1(&kModuleAnchor, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 && map != nullptr &&
        map->l_name != nullptr && map->l_name[0] != '\0')
      path = map->l_name;
    std::error_code ec;
    fs::path canonical = fs::canonical(path, ec);
    return ec ? path : canonical;
  }();
  return file;
}

bool IsThisModule(const fs::path& path) {
  std::error_code ec;
  return fs::equivalent(path, CurrentModuleFile(), ec);
}

// A library runs with the host's rights: only an absolute path to a regular file that no one
// but its owner (this user or root) can change is loaded, never one found by a search.
HRESULT CheckServerFile(const std::string& path) {
  struct stat st;
  if (path.empty() || path.front() != '/') return E_ACCESSDENIED;
  if (stat(path.c_str(), &st) != 0) return CO_E_DLLNOTFOUND;
  const bool trusted = (st.st_uid == geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  return S_ISREG(st.st_mode) && trusted ? S_OK : E_ACCESSDENIED;
}

// Libraries stay loaded for the life of the process: objects they made may be held anywhere,
// and nothing here could tell when the last one is gone.
DllGetClassObjectFunc LoadServer(const std::string& path, HRESULT* error) {
  if (*error = CheckServerFile(path); FAILED(*error)) return nullptr;
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    *error = CO_E_DLLNOTFOUND;
    return nullptr;
  }
  auto entry = reinterpret_cast<DllGetClassObjectFunc>(dlsym(library, "DllGetClassObject"));
  if (entry == nullptr) *error = CO_E_ERRORINDLL;
  return entry;
}

HRESULT CreateFromServer(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
  std::optional<std::u16string> server =
      ClassesRoot().GetValue(u"CLSID\\" + StringFromCLSID(clsid) + u"\\InprocServer32", u"");
  if (!server || server->empty()) return REGDB_E_CLASSNOTREG;
  const std::string path = Utf16ToUtf8(*server);
  HRESULT hr = S_OK;
  DllGetClassObjectFunc entry = IsThisModule(path) ? &DllGetClassObject : LoadServer(path, &hr);
  if (entry == nullptr) return hr;
  void* object = nullptr;
  hr = entry(clsid, IID_IClassFactory, &object);
  if (FAILED(hr)) return hr;
  if (object == nullptr) return CO_E_ERRORINDLL;
  hr = static_cast<IClassFactory*>(object)->CreateInstance(out);
  if (SUCCEEDED(hr) && !*out) return E_OUTOFMEMORY;
  return hr;
}

}  // namespace

std::u16string CurrentModulePath() { return MultiByteToWide(CP_UTF8, CurrentModuleFile().string()); }

HRESULT CoRegisterClassObject(const CLSID& clsid, ClassFactory factory) {
  if (!factory) return E_INVALIDARG;
  try {
    ClassRegistry& r = ClassTable();
    std::lock_guard lock(r.mutex);
    auto [it, inserted] = r.factories.insert_or_assign(clsid, std::move(factory));
    return inserted ? S_OK : S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CoRevokeClassObject(const CLSID& clsid) {
  ClassRegistry& r = ClassTable();
  std::lock_guard lock(r.mutex);
  return r.factories.erase(clsid) != 0 ? S_OK : CO_E_OBJNOTREG;
}

HRESULT CoCreateInstance(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  try {
    ClassFactory factory;
    {
      ClassRegistry& r = ClassTable();
      std::lock_guard lock(r.mutex);
      const auto it = r.factories.find(clsid);
      if (it != r.factories.end()) factory = it->second;
    }
    if (!factory) return CreateFromServer(clsid, out);
    std::shared_ptr<IDispatch> object = factory();
    if (!object) return E_OUTOFMEMORY;
    *out = std::move(object);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT CreateObjectByProgID(std::u16string_view progId, std::shared_ptr<IDispatch>* out) {
  if (out == nullptr) return E_POINTER;
  out->reset();
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(progId, &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, out);
}

}  // namespace kdx
