// Profile files on POSIX systems.
#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>

#include "platform/codepage.h"

namespace kdx::detail {

using Status = PrivateProfile::Status;

std::u16string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) return u".";
  std::string_view exe(path, static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string_view::npos) return u".";
  return MultiByteToWide(CP_UTF8, slash == 0 ? exe.substr(0, 1) : exe.substr(0, slash));
}

// O_NONBLOCK so that a FIFO or a device cannot hold the open; only a regular file is read.
Status ReadProfileFile(const std::u16string& name, std::string& bytes) {
  if (name.empty()) return Status::Missing;
  const std::string path = Utf16ToUtf8(name);
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? Status::Missing : Status::Unreadable;
  Status status = Status::Ok;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    status = Status::NotRegularFile;
  } else {
    // The limit is checked on what is read, not on st_size: the file may grow meanwhile.
    char chunk[65536];
    for (;;) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n < 0) {
        status = Status::Unreadable;
        break;
      }
      if (n == 0) break;
      if (bytes.size() + static_cast<std::size_t>(n) > PrivateProfile::kMaxBytes) {
        status = Status::TooLarge;
        break;
      }
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return status;
}

}  // namespace kdx::detail
