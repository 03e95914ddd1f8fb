// Profile files on Windows. The parsing stays the portable one: the system's own
// GetPrivateProfile* functions differ from it (bare names resolve to the Windows folder, no
// UTF-8 BOM, no size limit), and callers rely on the documented behaviour.
#include "platform/win32/win32.h"

#include <algorithm>
#include <memory>

#include "platform/profile_file.h"

namespace kdx::detail {

using Status = PrivateProfile::Status;

// With '/' separators, as SetProfileDirectory stores them; a drive's root keeps its slash.
std::u16string ExecutableDirectory() {
  std::u16string path = win32::ExecutablePath();
  std::replace(path.begin(), path.end(), u'\\', u'/');
  const std::size_t slash = path.rfind(u'/');
  if (slash == std::u16string::npos) return u".";
  const bool root = slash == 0 || (slash == 2 && path[1] == u':');
  return path.substr(0, root ? slash + 1 : slash);
}

// Attributes first: a folder cannot be opened as a file, and a device or a pipe is recognised
// by its handle's type before anything is read from it.
Status ReadProfileFile(const std::u16string& name, std::string& bytes) {
  if (name.empty() || name.find(u'\0') != std::u16string::npos) return Status::Missing;
  const auto* path = reinterpret_cast<const wchar_t*>(name.c_str());
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME)
      return Status::Missing;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return Status::NotRegularFile;
  }
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Status::Missing : Status::Unreadable;
  }
  const std::unique_ptr<void, BOOL (WINAPI*)(HANDLE)> closer(file, CloseHandle);
  if (GetFileType(file) != FILE_TYPE_DISK) return Status::NotRegularFile;
  // The limit is checked on what is read, not on the size: the file may grow meanwhile.
  char chunk[65536];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &n, nullptr)) return Status::Unreadable;
    if (n == 0) return Status::Ok;
    if (bytes.size() + n > PrivateProfile::kMaxBytes) return Status::TooLarge;
    bytes.append(chunk, n);
  }
}

}  // namespace kdx::detail
