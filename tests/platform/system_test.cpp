#include "platform/system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

namespace kdx {
namespace {

auto Fields(const SYSTEMTIME& t) {
  return std::tuple(t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

// True when GetLocalTime reports one of the whole seconds around the call.
bool ReadsTheClock() {
  SYSTEMTIME t;
  const std::time_t before = std::time(nullptr);
  GetLocalTime(&t);
  for (std::time_t s = before; s <= std::time(nullptr); ++s) {
    std::tm tm{};
    localtime_r(&s, &tm);
    const SYSTEMTIME expected{WORD(tm.tm_year + 1900), WORD(tm.tm_mon + 1), WORD(tm.tm_wday), WORD(tm.tm_mday),
                              WORD(tm.tm_hour),        WORD(tm.tm_min),     WORD(tm.tm_sec),  0};
    if (Fields(t) == Fields(expected)) return t.wMilliseconds < 1000;
  }
  return false;
}

TEST(LocalTime, FollowsTheTimeZoneAndTheOverride) {
  const char* oldTz = std::getenv("TZ");
  const std::string savedTz = oldTz ? oldTz : "";
  for (const char* tz : {"UTC0", "CST-8", "EST5"}) {  // Taipei is eight hours east of UTC
    setenv("TZ", tz, 1);
    tzset();
    EXPECT_TRUE(ReadsTheClock()) << tz;
  }
  oldTz ? setenv("TZ", savedTz.c_str(), 1) : unsetenv("TZ");
  tzset();

  const SYSTEMTIME fixed{2024, 2, 4, 29, 13, 45, 30, 123};
  SetLocalTimeOverride(fixed);
  SYSTEMTIME t{};
  GetLocalTime(&t);
  EXPECT_FALSE(ReadsTheClock());
  SetLocalTimeOverride(std::nullopt);
  EXPECT_EQ(Fields(t), Fields(fixed));
  EXPECT_EQ(t.wMilliseconds, 123);
  EXPECT_TRUE(ReadsTheClock());
  GetLocalTime(nullptr);  // a null pointer from a host must not crash us
}

TEST(ModuleFileName, IsTheRunningExecutableUnlessOverridden) {
  const std::u16string real = GetModuleFileName();
  ASSERT_TRUE(real.ends_with(u"/test_platform")) << std::string(real.begin(), real.end());
  EXPECT_EQ(ModuleDirectory() + u"/test_platform", real);
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\Program Files\\Host\\host.exe", u"C:\\Program Files\\Host"}, {u"/opt/host/bin/kdx-host", u"/opt/host/bin"},
      {u"C:\\mixed/style\\host.exe", u"C:\\mixed/style"}, {u"/kdx-host", u""}, {u"host.exe", u""}, {u"", u""}};
  for (const auto& [path, directory] : cases) {
    SetModuleFileNameOverride(path);
    EXPECT_EQ(GetModuleFileName(), path);
    EXPECT_EQ(ModuleDirectory(), directory) << std::string(path.begin(), path.end());
  }
  SetModuleFileNameOverride(std::nullopt);
  EXPECT_EQ(GetModuleFileName(), real);
}

}  // namespace
}  // namespace kdx
