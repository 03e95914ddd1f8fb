// Local time and the host executable's file name, both overridable so that tests and
// hosts can fix them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/types.h"

namespace kdx {

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

// The process's local time (wDayOfWeek 0 = Sunday), or the fixed override when set.
void GetLocalTime(SYSTEMTIME* time);
// A fixed clock for every thread; nullopt returns to the real one.
void SetLocalTimeOverride(std::optional<SYSTEMTIME> time);

// Full path of the running executable, or the override when set. Unlike the Windows call
// there is no 256-character limit: a cut path would name the wrong folder.
std::u16string GetModuleFileName();
void SetModuleFileNameOverride(std::optional<std::u16string> path);

// GetModuleFileName() cut before its last separator, without a trailing one: "/" for the
// real path on Linux; "/" or "\" on Windows and for an override, which may be a
// Windows-style path. Empty when the path has no separator.
std::u16string ModuleDirectory();

// Zeroes memory holding a secret, in a way the compiler may not drop as a dead store.
void SecureZero(void* data, std::size_t size);

}  // namespace kdx
