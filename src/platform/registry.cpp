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
#include <utility>

#include "platform/registry_format.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

// Far beyond any registration; keeps a mistyped path to some huge file from being read.
constexpr off_t kMaxFileSize = 16 << 20;

// What the file looked like when it was last read; owner and mode too, as they decide
// whether it may be used at all.
struct Stamp {
  enum Kind { kMissing, kPresent, kUnreadable } kind = kMissing;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  int64_t mtimeNs = 0;
  uid_t uid = 0;
  mode_t mode = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const struct stat& st) {
  return {Stamp::kPresent, st.st_dev, st.st_ino, st.st_size,
          int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec, st.st_uid, st.st_mode};
}

Stamp::Kind KindOfError(int error) { return error == ENOENT ? Stamp::kMissing : Stamp::kUnreadable; }

// Only we, or root (who could change anything anyway), may be able to change what the
// registry holds: it names the libraries a create-by-ProgID loads.
bool OnlyOursToChange(const struct stat& st) {
  return (st.st_uid == geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
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
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

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

// Calls sink with each piece of the file; false on a read error or when sink says stop.
template <class Sink>
bool ReadEach(int fd, Sink&& sink) {
  char buffer[8192];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (!sink(std::string_view(buffer, static_cast<std::size_t>(n)))) return false;
  }
}

// Every missing folder on the way is made private: nobody else may plant names in it.
bool MakeFolders(const fs::path& folder) {
  fs::path partial;
  for (const fs::path& part : folder) {
    partial /= part;
    if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// The folder, when it is a real one (not a link) that only we can change.
Stamp::Kind OpenFolder(const fs::path& folder, Fd& out) {
  Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return KindOfError(errno);
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !OnlyOursToChange(st)) return Stamp::kUnreadable;
  out = std::move(fd);
  return Stamp::kPresent;
}

// Writes a file of the folder anew through a temporary file beside it, created exclusively
// and never through a link, so that no name planted in the folder can redirect the write.
// Writers hold the registry's lock, so the process id makes the name unique, and whatever
// already has that name is left over from a writer that died: it goes (a link, not its target).
template <class Fill>
bool Replace(int dir, const std::string& name, Fill&& fill) {
  const std::string temp = name + ".tmp-" + std::to_string(getpid());
  auto create = [&] {
    return Fd(openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  };
  Fd out = create();
  if (!out && errno == EEXIST && unlinkat(dir, temp.c_str(), 0) == 0) out = create();
  if (!out) return false;
  bool ok = fill(out.get()) && fsync(out.get()) == 0;
  ok = out.Close() && ok;
  if (!ok || renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    unlinkat(dir, temp.c_str(), 0);
    return false;
  }
  fsync(dir);  // makes the rename durable; the new file is in place whatever this gives
  return true;
}

}  // namespace

struct Registry::Impl {
  std::mutex mutex;
  fs::path file;
  // What was read, and what the file looked like then: a missing file holds nothing. When
  // racy, the stamp proves nothing and the file is read again.
  Stamp stamp;
  bool racy = false;
  RegKeys keys;
  HRESULT readResult = S_OK;

  fs::path Folder() const { return file.has_parent_path() ? file.parent_path() : fs::path("."); }
  std::string Name() const { return file.filename().string(); }

  void Refresh() {
    Fd dir;
    const Stamp::Kind folder = OpenFolder(Folder(), dir);
    if (folder == Stamp::kPresent) return Refresh(dir.get());
    racy = false;
    keys.clear();
    stamp = {folder};
    readResult = folder == Stamp::kMissing ? S_OK : REGDB_E_READREGDB;
  }

  void Refresh(int dir) {
    if (!racy) {
      struct stat st;
      const Stamp now =
          fstatat(dir, Name().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? StampOf(st) : Stamp{KindOfError(errno)};
      if (now == stamp) return;
    }
    Load(dir);
  }

  void Load(int dir) {
    racy = false;
    keys.clear();
    readResult = S_OK;
    // Not through a link, and without waiting on a pipe planted in the file's place.
    Fd fd(openat(dir, Name().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0) {
      stamp = {KindOfError(errno)};
      if (stamp.kind == Stamp::kUnreadable) readResult = REGDB_E_READREGDB;
      return;
    }
    stamp = StampOf(st);
    racy = IsRacy(stamp);
    if (!S_ISREG(st.st_mode) || !OnlyOursToChange(st)) {
      stamp.kind = Stamp::kUnreadable;  // nothing from it is used, and it is not written over
      readResult = REGDB_E_READREGDB;
      return;
    }
    std::string bytes;
    const bool read = ReadEach(fd.get(), [&](std::string_view piece) {
      if (bytes.size() + piece.size() > static_cast<std::size_t>(kMaxFileSize)) return false;
      bytes += piece;
      return true;
    });
    if (!read) {
      readResult = REGDB_E_READREGDB;
      return;
    }
    if (auto parsed = ParseRegistry(bytes))
      keys = std::move(*parsed);
    else
      readResult = REGDB_E_READREGDB;
  }

  // Copies the corrupt file to "<file>.corrupt" before it is written over.
  bool KeepAside(int dir) {
    Fd in(openat(dir, Name().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return in && Replace(dir, Name() + ".corrupt", [&](int out) {
             return ReadEach(in.get(), [out](std::string_view piece) { return WriteAll(out, piece); });
           });
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
    Fd dir;
    if (!MakeFolders(Folder()) || OpenFolder(Folder(), dir) != Stamp::kPresent) return REGDB_E_WRITEREGDB;
    const std::string lockName = Name() + ".lock";
    Fd lock(openat(dir.get(), lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock) return REGDB_E_WRITEREGDB;
    while (flock(lock.get(), LOCK_EX) != 0)
      if (errno != EINTR) return REGDB_E_WRITEREGDB;

    Refresh(dir.get());  // another process may have written since our last look
    // Unseen data could neither be kept nor said to be absent.
    if (stamp.kind == Stamp::kUnreadable) return REGDB_E_WRITEREGDB;
    RegKeys next = keys;
    if (HRESULT hr = change(next); hr != S_OK) return hr;
    if (FAILED(readResult) && !KeepAside(dir.get())) return REGDB_E_WRITEREGDB;
    const std::string text = SerializeRegistry(next);
    if (!Replace(dir.get(), Name(), [&](int out) { return WriteAll(out, text); })) return REGDB_E_WRITEREGDB;

    keys = std::move(next);
    readResult = S_OK;
    struct stat st;
    stamp = fstatat(dir.get(), Name().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? StampOf(st) : Stamp{};
    racy = true;
    return S_OK;
  }
};

Registry::Registry(fs::path file) : impl_(std::make_unique<Impl>()) { impl_->file = std::move(file); }
Registry::~Registry() = default;

void Registry::SetFile(fs::path file) {
  std::lock_guard lock(impl_->mutex);
  impl_->file = std::move(file);
  impl_->stamp = {};
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

HRESULT Registry::DeleteTree(std::u16string_view key) { return DeleteTrees({std::u16string(key)}); }

HRESULT Registry::DeleteTrees(const std::vector<std::u16string>& keys) {
  for (const std::u16string& key : keys)
    if (!IsValidKeyPath(key)) return E_INVALIDARG;
  std::lock_guard lock(impl_->mutex);
  return impl_->Commit([&](RegKeys& tree) {
    HRESULT hr = S_FALSE;
    for (const std::u16string& key : keys) {
      const std::u16string folded = FoldName(key);
      auto it = tree.find(folded);
      if (it == tree.end()) continue;
      hr = S_OK;
      tree.erase(it);
      // Descendants sort together, but not straight after the key: "A\B C" < "A\B\C".
      const std::u16string prefix = folded + u'\\';
      for (it = tree.lower_bound(prefix); it != tree.end() && it->first.starts_with(prefix);) it = tree.erase(it);
    }
    return hr;
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
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')  // relative ones are to be ignored
    return fs::path(xdg) / "kdx-bridge" / "registry";
  if (const char* home = std::getenv("HOME"); home && *home)
    return fs::path(home) / ".local" / "share" / "kdx-bridge" / "registry";
  // No home at all (a service account): a folder of this user's own in the shared one, which
  // is refused if someone else made it first.
  std::error_code ec;
  fs::path temp = fs::temp_directory_path(ec);
  if (ec) temp = "/tmp";
  return temp / ("kdx-bridge-" + std::to_string(geteuid())) / "registry";
}

std::u16string_view TypeLibPlatformKey() { return u"win32"; }

Registry& ClassesRoot() {
  static Registry root(DefaultRegistryFile());
  return root;
}

void SetRegistryFile(fs::path file) { ClassesRoot().SetFile(std::move(file)); }

}  // namespace kdx
