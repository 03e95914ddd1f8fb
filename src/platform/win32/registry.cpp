// The class registry on Windows: the system registry under HKEY_CLASSES_ROOT itself. The
// file a Registry is given is only remembered; the system keeps its own store.
#include "platform/win32/win32.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/registry.h"
#include "platform/registry_format.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

// Far beyond any registration; a huge value planted by someone else is not read whole.
constexpr ::DWORD kMaxValueBytes = 1 << 20;
// The longest key name the system allows, plus its terminator.
constexpr ::DWORD kMaxKeyName = 256;

// The system takes terminated strings: a NUL inside a name would silently cut it short and
// reach another key or value.
bool HasNul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }
bool IsUsableKey(std::u16string_view key) { return IsValidKeyPath(key) && !HasNul(key); }

const wchar_t* W(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

LSTATUS Open(std::u16string_view path, REGSAM access, Key& key) {
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, W(std::u16string(path)), 0, access, key.Out());
}

bool IsAbsent(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

}  // namespace

struct Registry::Impl {
  fs::path file;
  std::atomic<HRESULT> readResult{S_OK};

  // Absence is an answer; anything else means the registry could not be read.
  void NoteRead(LSTATUS status) { readResult = status == ERROR_SUCCESS || IsAbsent(status) ? S_OK : REGDB_E_READREGDB; }
};

Registry::Registry(fs::path file) : impl_(std::make_unique<Impl>()) { impl_->file = std::move(file); }
Registry::~Registry() = default;

void Registry::SetFile(fs::path file) { impl_->file = std::move(file); }
fs::path Registry::File() const { return impl_->file; }

HRESULT Registry::CreateKey(std::u16string_view key) {
  if (!IsUsableKey(key)) return E_INVALIDARG;
  Key created;
  return RegCreateKeyExW(HKEY_CLASSES_ROOT, W(std::u16string(key)), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                         nullptr, created.Out(), nullptr) == ERROR_SUCCESS
             ? S_OK
             : REGDB_E_WRITEREGDB;
}

HRESULT Registry::SetValue(std::u16string_view key, std::u16string_view valueName, std::u16string_view data) {
  if (!IsUsableKey(key) || HasNul(valueName)) return E_INVALIDARG;
  // The terminator is stored too, as readers of REG_SZ expect; a NUL inside the data is kept
  // because the size covers all of it.
  const std::u16string text(data);
  const std::size_t bytes = (text.size() + 1) * sizeof(char16_t);
  if (bytes > kMaxValueBytes) return E_INVALIDARG;
  Key created;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, W(std::u16string(key)), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, created.Out(), nullptr) != ERROR_SUCCESS)
    return REGDB_E_WRITEREGDB;
  const LSTATUS status = RegSetValueExW(created.get(), W(std::u16string(valueName)), 0, REG_SZ,
                                        reinterpret_cast<const ::BYTE*>(text.c_str()), static_cast<::DWORD>(bytes));
  return status == ERROR_SUCCESS ? S_OK : REGDB_E_WRITEREGDB;
}

std::optional<std::u16string> Registry::GetValue(std::u16string_view key, std::u16string_view valueName) {
  if (!IsUsableKey(key) || HasNul(valueName)) return std::nullopt;
  Key opened;
  LSTATUS status = Open(key, KEY_QUERY_VALUE, opened);
  if (status != ERROR_SUCCESS) {
    impl_->NoteRead(status);
    return std::nullopt;
  }
  const std::u16string name(valueName);
  // The value may change between asking its size and reading it: try again a few times.
  std::u16string text;
  ::DWORD type = REG_NONE;
  for (int attempt = 0;; ++attempt) {
    ::DWORD size = 0;
    status = RegQueryValueExW(opened.get(), W(name), nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && size > kMaxValueBytes) status = ERROR_FILE_TOO_LARGE;
    if (status != ERROR_SUCCESS) break;
    text.assign((size + 1) / sizeof(char16_t), u'\0');
    size = static_cast<::DWORD>(text.size() * sizeof(char16_t));
    status = RegQueryValueExW(opened.get(), W(name), nullptr, &type, reinterpret_cast<::BYTE*>(text.data()), &size);
    if (status == ERROR_SUCCESS) {
      text.resize(size / sizeof(char16_t));
      break;
    }
    if (status != ERROR_MORE_DATA || attempt == 3) break;
  }
  impl_->NoteRead(status);
  if (status != ERROR_SUCCESS) return std::nullopt;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:  // read as written: expanding would hand out what the writer did not say
      if (!text.empty() && text.back() == u'\0') text.pop_back();
      return text;
    case REG_DWORD:
      if (text.size() * sizeof(char16_t) < sizeof(::DWORD)) break;
      {
        ::DWORD number = 0;
        std::copy_n(reinterpret_cast<const char*>(text.data()), sizeof number, reinterpret_cast<char*>(&number));
        const std::string digits = std::to_string(number);
        return std::u16string(digits.begin(), digits.end());
      }
  }
  // Binary and other kinds have no text form; they read as missing, and as unreadable.
  impl_->readResult = REGDB_E_READREGDB;
  return std::nullopt;
}

bool Registry::KeyExists(std::u16string_view key) {
  if (!IsUsableKey(key)) return false;
  Key opened;
  const LSTATUS status = Open(key, KEY_READ, opened);
  impl_->NoteRead(status);
  // A key this user may not open is still there.
  return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

HRESULT Registry::DeleteTree(std::u16string_view key) { return DeleteTrees({std::u16string(key)}); }

// The system has no change spanning several keys: each key goes in turn, and a failure stops
// there with the keys before it already gone.
HRESULT Registry::DeleteTrees(const std::vector<std::u16string>& keys) {
  for (const std::u16string& key : keys)
    if (!IsUsableKey(key)) return E_INVALIDARG;
  HRESULT hr = S_FALSE;
  for (const std::u16string& key : keys) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, W(key));
    if (IsAbsent(status)) continue;
    if (status != ERROR_SUCCESS) return REGDB_E_WRITEREGDB;
    hr = S_OK;
  }
  return hr;
}

std::vector<std::u16string> Registry::SubKeys(std::u16string_view key) {
  std::vector<std::u16string> names;
  if (!key.empty() && !IsUsableKey(key)) return names;
  Key opened;
  HKEY parent = HKEY_CLASSES_ROOT;
  if (!key.empty()) {
    const LSTATUS status = Open(key, KEY_ENUMERATE_SUB_KEYS, opened);
    impl_->NoteRead(status);
    if (status != ERROR_SUCCESS) return names;
    parent = opened.get();
  }
  for (::DWORD index = 0;; ++index) {
    wchar_t name[kMaxKeyName];
    ::DWORD length = kMaxKeyName;
    const LSTATUS status = RegEnumKeyExW(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      impl_->readResult = REGDB_E_READREGDB;
      break;
    }
    names.emplace_back(reinterpret_cast<const char16_t*>(name), length);
  }
  std::sort(names.begin(), names.end(),
            [](const std::u16string& a, const std::u16string& b) { return FoldName(a) < FoldName(b); });
  return names;
}

HRESULT Registry::ReadResult() { return impl_->readResult; }

fs::path DefaultRegistryFile() { return {}; }

std::u16string_view TypeLibPlatformKey() { return sizeof(void*) == 8 ? u"win64" : u"win32"; }

Registry& ClassesRoot() {
  static Registry root(DefaultRegistryFile());
  return root;
}

void SetRegistryFile(fs::path file) { ClassesRoot().SetFile(std::move(file)); }

}  // namespace kdx
