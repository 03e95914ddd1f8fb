// What each platform supplies to platform/system.cpp, which keeps the overrides.
#pragma once

#include <string>
#include <string_view>

#include "platform/system.h"

namespace kdx::native {

void LocalTime(SYSTEMTIME* time);
// The running executable's full path, uncut; empty when it cannot be read.
std::u16string ExecutablePath();
// The separators a real executable path uses ("/" on Linux; "/" or "\\" on Windows).
std::u16string_view PathSeparators();

}  // namespace kdx::native
