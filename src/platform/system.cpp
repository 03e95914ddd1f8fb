#include "platform/system.h"

#include <mutex>

#include "platform/system_native.h"

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
  native::LocalTime(time);
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
  return native::ExecutablePath();
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
  if (!overridden) path = native::ExecutablePath();
  const auto cut = path.find_last_of(overridden ? std::u16string_view(u"/\\") : native::PathSeparators());
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

}  // namespace kdx
