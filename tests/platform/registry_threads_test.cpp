#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "common/host_util.h"
#include "platform/system.h"

namespace kdx {
namespace {

std::u16string Name(int writer, int i) {
  std::string s = "W" + std::to_string(writer) + "\\" + std::to_string(i);
  return std::u16string(s.begin(), s.end());
}

// Writers share one object or use one each (as separate processes would); either way no
// write may be lost to another's read-modify-write.
TEST(RegistryThreads, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4, kWrites = 15;
  for (bool shared : {true, false}) {
    test::TempFolder dir;
    const auto file = dir.path() / "registry";
    Registry common(file);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
      threads.emplace_back([&, w] {
        Registry own(file);
        Registry& r = shared ? common : own;
        for (int i = 0; i < kWrites; ++i) {
          EXPECT_EQ(r.SetValue(Name(w, i), u"", Name(w, i)), S_OK);
          EXPECT_EQ(r.GetValue(Name(w, i), u""), Name(w, i));
          r.SubKeys(u"");
        }
      });
    for (auto& t : threads) t.join();
    Registry check(file);
    EXPECT_EQ(check.SubKeys(u"").size(), std::size_t{kWriters});
    for (int w = 0; w < kWriters; ++w)
      for (int i = 0; i < kWrites; ++i) EXPECT_EQ(check.GetValue(Name(w, i), u""), Name(w, i)) << shared;
  }
}

TEST(SystemThreads, OverridesAreSafeToChangeWhileRead) {
  const SYSTEMTIME fixed{2030, 1, 2, 1, 0, 0, 0, 0};
  std::thread setter([&] {
    for (int i = 0; i < 200; ++i) {
      SetLocalTimeOverride(i % 2 ? std::optional(fixed) : std::nullopt);
      SetModuleFileNameOverride(i % 2 ? std::optional<std::u16string>(u"C:\\a\\b.exe") : std::nullopt);
    }
  });
  for (int i = 0; i < 200; ++i) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12);
    const std::u16string dir = ModuleDirectory();
    EXPECT_TRUE(dir == u"C:\\a" || dir.starts_with(u"/"));
  }
  setter.join();
  SetLocalTimeOverride(std::nullopt);
  SetModuleFileNameOverride(std::nullopt);
}

}  // namespace
}  // namespace kdx
