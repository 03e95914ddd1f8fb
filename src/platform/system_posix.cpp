#include <string.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

#include "platform/codepage.h"
#include "platform/system_native.h"

namespace kdx {
namespace native {

std::u16string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return MultiByteToWide(CP_UTF8, buffer);
    }
    buffer.resize(buffer.size() * 2);  // possibly cut: try again with more room
  }
}

void LocalTime(SYSTEMTIME* time) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&seconds, &tm);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  *time = SYSTEMTIME{static_cast<WORD>(tm.tm_year + 1900), static_cast<WORD>(tm.tm_mon + 1),
                     static_cast<WORD>(tm.tm_wday),         static_cast<WORD>(tm.tm_mday),
                     static_cast<WORD>(tm.tm_hour),         static_cast<WORD>(tm.tm_min),
                     static_cast<WORD>(tm.tm_sec),          static_cast<WORD>(ms < 0 ? ms + 1000 : ms)};
}

std::u16string_view PathSeparators() { return u"/"; }

}  // namespace native

void SecureZero(void* data, std::size_t size) { explicit_bzero(data, size); }

}  // namespace kdx
