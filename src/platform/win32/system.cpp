#include "platform/win32/win32.h"

#include "platform/system_native.h"

namespace kdx {

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

void native::LocalTime(SYSTEMTIME* time) {
  ::SYSTEMTIME now;
  ::GetLocalTime(&now);
  *time = SYSTEMTIME{now.wYear, now.wMonth, now.wDayOfWeek, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void win32::PinThisModule() {
  static const bool pinned = [] {
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&win32::PinThisModule), &module) != 0;
  }();
  (void)pinned;
}

std::u16string native::ExecutablePath() { return win32::ExecutablePath(); }

// Windows paths take either separator.
std::u16string_view native::PathSeparators() { return u"/\\"; }

void SecureZero(void* data, std::size_t size) { SecureZeroMemory(data, size); }

}  // namespace kdx
