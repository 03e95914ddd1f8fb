// Classes outside the in-process table on Linux: the shared library named by the registry.
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/class_factory.h"
#include "platform/class_factory_native.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

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

HRESULT LoadAndCreate(const CLSID& clsid, std::shared_ptr<IDispatch>* out) {
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

HRESULT detail::CreateFromServer(const CLSID& clsid, std::shared_ptr<IDispatch>* out) { return LoadAndCreate(clsid, out); }

}  // namespace kdx
