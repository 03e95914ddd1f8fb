#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>
#include <system_error>

#include "platform/registry_format.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

// Far beyond any registration; keeps a mistyped path to some huge file from being read.
constexpr off_t kMaxFileSize = 16 << 20;

// What the file looked like when it was last read.
struct Stamp {
  enum Kind { kMissing, kPresent, kUnreadable } kind = kMissing;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const struct stat& st) {
  return {Stamp::kPresent, st.st_dev, st.st_ino, st.st_size,
          int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec};
}

Stamp::Kind KindOfError(int error) {
  return error == ENOENT || error == ENOTDIR ? Stamp::kMissing : Stamp::kUnreadable;
}

Stamp StatFile(const fs::path& file) {
  struct stat st;
  if (stat(file.c_str(), &st) == 0) return StampOf(st);
  return {KindOfError(errno)};
}

// File times are coarse: a rewrite soon after the one we read may keep size and time,
// and even the inode of an earlier version. Such a stamp proves nothing.
bool IsRacy(const Stamp& stamp) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec - stamp.mtimeNs < 2'000'000'000;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

bool ReadAll(int fd, std::string& out) {
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (out.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(kMaxFileSize)) return false;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

fs::path WithSuffix(fs::path file, const char* suffix) { return file += suffix; }

bool IsPlainKeyName(std::u16string_view name) {
  return !name.empty() && name.find(u'\\') == std::u16string_view::npos;
}

}  // namespace

struct Registry::Impl {
  std::mutex mutex;
  fs::path file;
  bool loaded = false;
  bool racy = false;
  Stamp stamp;
  RegKeys keys;
  HRESULT readResult = S_OK;

  void Refresh() {
    if (loaded && !racy && stamp.kind != Stamp::kUnreadable && StatFile(file) == stamp) return;
    Load();
  }

  void Load() {
    loaded = true;
    racy = false;
    keys.clear();
    readResult = S_OK;
    Fd fd(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0) {
      stamp = {KindOfError(errno)};
      if (stamp.kind == Stamp::kUnreadable) readResult = REGDB_E_READREGDB;
      return;
    }
    stamp = StampOf(st);
    racy = IsRacy(stamp);
    std::string bytes;
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize || !ReadAll(fd.get(), bytes)) {
      readResult = REGDB_E_READREGDB;
      return;
    }
    if (auto parsed = ParseRegistry(bytes))
      keys = std::move(*parsed);
    else
      readResult = REGDB_E_READREGDB;
  }

  // Applies change (S_OK: write; S_FALSE: nothing to do) to a copy of the current contents
  // and makes the copy current only once it is safely in the file.
  template <class Change>
  HRESULT Commit(Change&& change) {
    try {
      return CommitUnguarded(change);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;  // the current contents are untouched until the very end
    }
  }

  template <class Change>
  HRESULT CommitUnguarded(Change& change) {
    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    if (ec) return REGDB_E_WRITEREGDB;
    Fd lock(open(WithSuffix(file, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock) return REGDB_E_WRITEREGDB;
    while (flock(lock.get(), LOCK_EX) != 0)
      if (errno != EINTR) return REGDB_E_WRITEREGDB;

    Refresh();  // another process may have written since our last look
    RegKeys next = keys;
    if (HRESULT hr = change(next); hr != S_OK) return hr;
    if (stamp.kind == Stamp::kUnreadable) return REGDB_E_WRITEREGDB;  // would overwrite unseen data
    if (FAILED(readResult)) {
      fs::copy_file(file, WithSuffix(file, ".corrupt"), fs::copy_options::overwrite_existing, ec);
      if (ec) return REGDB_E_WRITEREGDB;
    }

    const fs::path temp = WithSuffix(file, ".tmp");
    Fd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out) return REGDB_E_WRITEREGDB;
    bool ok = WriteAll(out.get(), SerializeRegistry(next)) && fsync(out.get()) == 0;
    ok = out.Close() && ok;
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
      unlink(temp.c_str());
      return REGDB_E_WRITEREGDB;
    }
    // Make the rename itself durable; the new file is already in place whatever this gives.
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); dir) fsync(dir.get());

    keys = std::move(next);
    readResult = S_OK;
    stamp = StatFile(file);
    racy = true;
    loaded = true;
    return S_OK;
  }
};

Registry::Registry(fs::path file) : impl_(std::make_unique<Impl>()) { impl_->file = std::move(file); }
Registry::~Registry() = default;

void Registry::SetFile(fs::path file) {
  std::lock_guard lock(impl_->mutex);
  impl_->file = std::move(file);
  impl_->loaded = false;
  impl_->keys.clear();
  impl_->readResult = S_OK;
}

fs::path Registry::File() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->file;
}

HRESULT Registry::CreateKey(std::u16string_view key) {
  if (!IsValidKeyPath(key)) return E_INVALIDARG;
  std::lock_guard lock(impl_->mutex);
  HRESULT hr = impl_->Commit([&](RegKeys& keys) {
    if (keys.count(FoldName(key))) return S_FALSE;
    EnsureKey(keys, key);
    return S_OK;
  });
  return hr == S_FALSE ? S_OK : hr;
}

HRESULT Registry::SetValue(std::u16string_view key, std::u16string_view valueName, std::u16string_view data) {
  if (!IsValidKeyPath(key)) return E_INVALIDARG;
  std::lock_guard lock(impl_->mutex);
  return impl_->Commit([&](RegKeys& keys) {
    RegValue& value = EnsureKey(keys, key).values[FoldName(valueName)];
    if (value.name.empty()) value.name = valueName;
    value.data = data;
    return S_OK;
  });
}

std::optional<std::u16string> Registry::GetValue(std::u16string_view key, std::u16string_view valueName) {
  if (!IsValidKeyPath(key)) return std::nullopt;
  std::lock_guard lock(impl_->mutex);
  impl_->Refresh();
  auto k = impl_->keys.find(FoldName(key));
  if (k == impl_->keys.end()) return std::nullopt;
  auto v = k->second.values.find(FoldName(valueName));
  if (v == k->second.values.end()) return std::nullopt;
  return v->second.data;
}

bool Registry::KeyExists(std::u16string_view key) {
  if (!IsValidKeyPath(key)) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->Refresh();
  return impl_->keys.count(FoldName(key)) > 0;
}

HRESULT Registry::DeleteTree(std::u16string_view key) {
  if (!IsValidKeyPath(key)) return E_INVALIDARG;
  std::lock_guard lock(impl_->mutex);
  return impl_->Commit([&](RegKeys& keys) {
    const std::u16string folded = FoldName(key);
    auto it = keys.find(folded);
    if (it == keys.end()) return S_FALSE;
    keys.erase(it);
    // Descendants sort together, but not straight after the key: "A\B C" < "A\B\C".
    const std::u16string prefix = folded + u'\\';
    for (it = keys.lower_bound(prefix); it != keys.end() && it->first.starts_with(prefix);) it = keys.erase(it);
    return S_OK;
  });
}

std::vector<std::u16string> Registry::SubKeys(std::u16string_view key) {
  std::vector<std::u16string> names;
  if (!key.empty() && !IsValidKeyPath(key)) return names;
  std::lock_guard lock(impl_->mutex);
  impl_->Refresh();
  const std::u16string prefix = key.empty() ? std::u16string() : FoldName(key) + u'\\';
  for (auto it = impl_->keys.lower_bound(prefix); it != impl_->keys.end() && it->first.starts_with(prefix); ++it)
    if (it->first.find(u'\\', prefix.size()) == std::u16string::npos)
      names.push_back(it->second.path.substr(prefix.size()));
  return names;
}

HRESULT Registry::ReadResult() {
  std::lock_guard lock(impl_->mutex);
  impl_->Refresh();
  return impl_->readResult;
}

fs::path DefaultRegistryFile() {
  if (const char* explicitFile = std::getenv("KDX_REGISTRY"); explicitFile && *explicitFile) return explicitFile;
  fs::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')  // relative ones are to be ignored
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = fs::path(home) / ".local" / "share";
  else {
    std::error_code ec;  // no home at all (a service account): still somewhere writable
    base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
  }
  return base / "kdx-bridge" / "registry";
}

Registry& ClassesRoot() {
  static Registry root(DefaultRegistryFile());
  return root;
}

void SetRegistryFile(fs::path file) { ClassesRoot().SetFile(std::move(file)); }

HRESULT CLSIDFromProgID(std::u16string_view progId, CLSID* out) {
  if (!out) return E_POINTER;
  *out = CLSID{};
  if (!IsPlainKeyName(progId)) return CO_E_CLASSSTRING;
  Registry& root = ClassesRoot();
  auto text = root.GetValue(std::u16string(progId) + u"\\CLSID", u"");
  if (!text) return FAILED(root.ReadResult()) ? REGDB_E_READREGDB : CO_E_CLASSSTRING;
  auto clsid = GUID::Parse(*text);
  if (!clsid) return CO_E_CLASSSTRING;
  *out = *clsid;
  return S_OK;
}

std::u16string StringFromCLSID(const CLSID& clsid) { return clsid.ToString(); }

}  // namespace kdx
