#include "platform/win32/win32.h"

#include "platform/system_native.h"

namespace kdx {

// GetModuleFileNameW cuts a long path silently (it returns the buffer size), so the buffer
// grows until the whole path fits.
std::u16string win32::ModuleFileName(HMODULE module) {
  std::u16string buffer(256, u'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, reinterpret_cast<wchar_t*>(buffer.data()), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};  // longer than any Windows path can be
    buffer.resize(buffer.size() * 2);
  }
}

std::u16string win32::ExecutablePath() { return ModuleFileName(GetModuleHandleW(nullptr)); }

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

HINSTANCE win32::ThisModule() {
  static const HMODULE module = [] {
    HMODULE m = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&win32::ThisModule), &m);
    return m;
  }();
  return module;
}

bool win32::RegisterWindowClass(const wchar_t* name, WNDPROC procedure, bool arrowCursor) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = procedure;
  wc.hInstance = ThisModule();
  if (arrowCursor) wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = name;
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

std::u16string native::ExecutablePath() { return win32::ExecutablePath(); }

// Windows paths take either separator.
std::u16string_view native::PathSeparators() { return u"/\\"; }

void SecureZero(void* data, std::size_t size) { SecureZeroMemory(data, size); }

}  // namespace kdx
