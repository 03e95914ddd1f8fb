#include "platform/system.h"

#include <string.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <mutex>

#include "platform/codepage.h"

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

}  // namespace

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
  return ExecutablePath();
}

void SetModuleFileNameOverride(std::optional<std::u16string> path) {
  auto& o = TheOverrides();
  std::lock_guard lock(o.mutex);
  o.moduleFileName = std::move(path);
}

std::u16string ModuleDirectory() {
  bool overridden;
  std::u16string path;
  {
    auto& o = TheOverrides();
    std::lock_guard lock(o.mutex);
    overridden = o.moduleFileName.has_value();
    if (overridden) path = *o.moduleFileName;
  }
  if (!overridden) path = ExecutablePath();
  const auto cut = path.find_last_of(overridden ? std::u16string_view(u"/\\") : std::u16string_view(u"/"));
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

void SecureZero(void* data, std::size_t size) { explicit_bzero(data, size); }

}  // namespace kdx
