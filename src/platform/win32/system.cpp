#include "platform/win32/win32.h"

#include <mutex>

#include "platform/system.h"

namespace kdx {
namespace {

struct Overrides {
  std::mutex mutex;
  std::optional<SYSTEMTIME> time;
  std::optional<std::u16string> moduleFileName;
};

Overrides& TheOverrides() {
  static Overrides overrides;
  return overrides;
}

}  // namespace

// GetModuleFileNameW cuts a long path silently (it returns the buffer size), so the buffer
// grows until the whole path fits.
std::u16string win32::ExecutablePath() {
  const HMODULE exe = GetModuleHandleW(nullptr);
  std::u16string buffer(256, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(exe, reinterpret_cast<wchar_t*>(buffer.data()), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};  // longer than any Windows path can be
    buffer.resize(buffer.size() * 2);
  }
}

void GetLocalTime(SYSTEMTIME* time) {
  if (!time) return;
  {
    auto& o = TheOverrides();
    std::lock_guard lock(o.mutex);
    if (o.time) {
      *time = *o.time;
      return;
    }
  }
  ::SYSTEMTIME now;
  ::GetLocalTime(&now);
  *time = SYSTEMTIME{now.wYear, now.wMonth, now.wDayOfWeek, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void SetLocalTimeOverride(std::optional<SYSTEMTIME> time) {
  auto& o = TheOverrides();
  std::lock_guard lock(o.mutex);
  o.time = time;
}

std::u16string GetModuleFileName() {
  {
    auto& o = TheOverrides();
    std::lock_guard lock(o.mutex);
    if (o.moduleFileName) return *o.moduleFileName;
  }
  return win32::ExecutablePath();
}

void SetModuleFileNameOverride(std::optional<std::u16string> path) {
  auto& o = TheOverrides();
  std::lock_guard lock(o.mutex);
  o.moduleFileName = std::move(path);
}

// Windows paths take either separator, the real one as much as an override.
std::u16string ModuleDirectory() {
  const std::u16string path = GetModuleFileName();
  const auto cut = path.find_last_of(u"/\\");
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

void SecureZero(void* data, std::size_t size) { SecureZeroMemory(data, size); }

}  // namespace kdx
