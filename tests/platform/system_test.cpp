#include "platform/system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>

namespace kdx {
namespace {

// True when GetLocalTime reports one of the whole seconds around the call. Both ends come from
// the same clock it reads: time() may lag it by a tick and so miss a second just begun.
bool ReadsTheClock() {
  using std::chrono::system_clock;
  SYSTEMTIME t;
  const std::time_t before = system_clock::to_time_t(system_clock::now());
  GetLocalTime(&t);
  bool found = false;
  for (std::time_t s = before; s <= system_clock::to_time_t(system_clock::now()); ++s) {
    std::tm tm{};
    localtime_r(&s, &tm);
    found |= std::tuple(t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond) ==
             std::tuple(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_wday, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return found && t.wMilliseconds < 1000;
}

TEST(LocalTime, FollowsTheTimeZoneAndTheOverride) {
  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  setenv("TZ", "CST-8", 1);  // Taipei is eight hours east of UTC
  tzset();
  EXPECT_TRUE(ReadsTheClock());
  const SYSTEMTIME fixed{2024, 2, 4, 29, 13, 45, 30, 123};
  SYSTEMTIME t{};
  SetLocalTimeOverride(fixed);
  GetLocalTime(&t);
  SetLocalTimeOverride(std::nullopt);
  EXPECT_EQ(std::memcmp(&t, &fixed, sizeof t), 0);
  EXPECT_TRUE(ReadsTheClock());
  GetLocalTime(nullptr);  // a null pointer from a host must not crash us
  oldTz ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

TEST(ModuleFileName, IsTheRunningExecutableUnlessOverridden) {
  const std::u16string real = GetModuleFileName();
  EXPECT_TRUE(real == ModuleDirectory() + u"/test_platform" || real == ModuleDirectory() + u"\\test_platform.exe");
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\Program Files\\Host\\host.exe", u"C:\\Program Files\\Host"}, {u"/opt/host/bin/kdx-host", u"/opt/host/bin"},
      {u"C:\\mixed/style\\host.exe", u"C:\\mixed/style"}, {u"/kdx-host", u""}, {u"host.exe", u""}, {u"", u""}};
  for (const auto& [path, directory] : cases) {
    SetModuleFileNameOverride(path);
    EXPECT_EQ(std::pair(GetModuleFileName(), ModuleDirectory()), std::pair(path, directory));
  }
  SetModuleFileNameOverride(std::nullopt);
  EXPECT_EQ(GetModuleFileName(), real);
}

}  // namespace
}  // namespace kdx
