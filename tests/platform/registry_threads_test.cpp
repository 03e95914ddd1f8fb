#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/host_util.h"
#include "platform/class_factory.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace kdx {
namespace {

std::u16string Name(int writer, int i) {
  const std::string s = "W" + std::to_string(writer) + "\\" + std::to_string(i);
  return std::u16string(s.begin(), s.end());
}

// Writers share one object or use one each (as separate processes would); either way no
// write may be lost to another's read-modify-write.
TEST(RegistryThreads, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4, kWrites = 15;
  for (bool shared : {true, false}) {
    test::TempFolder dir;
    Registry common(dir.path() / "registry");
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
      threads.emplace_back([&, w] {
        Registry own(dir.path() / "registry");
        Registry& r = shared ? common : own;
        for (int i = 0; i < kWrites; ++i) {
          EXPECT_EQ(r.SetValue(Name(w, i), u"", Name(w, i)), S_OK);
          EXPECT_EQ(r.GetValue(Name(w, i), u""), Name(w, i));
          r.SubKeys(u"");
        }
      });
    for (auto& t : threads) t.join();
    Registry check(dir.path() / "registry");
    EXPECT_EQ(check.SubKeys(u"").size(), std::size_t{kWriters});
    for (int w = 0; w < kWriters; ++w)
      for (int i = 0; i < kWrites; ++i) EXPECT_EQ(check.GetValue(Name(w, i), u""), Name(w, i)) << shared;
  }
}

// Hosts register, create and revoke classes from several threads; no call may see a torn table.
TEST(ClassRegistryThreads, RegisterCreateAndRevokeConcurrently) {
  auto make = [] { return std::make_shared<DispatchObject>(DispatchTable{}); };
  auto clsid = [](uint32_t n) { return CLSID{0xC1A55000 + n, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}}; };
  ASSERT_EQ(CoRegisterClassObject(clsid(0), make), S_OK);
  std::atomic<int> unexpected{0};
  std::vector<std::thread> threads;
  for (uint32_t t = 1; t <= 4; ++t)
    threads.emplace_back([&, t] {
      std::shared_ptr<IDispatch> obj;
      for (int i = 0; i < 300; ++i)
        unexpected += CoCreateInstance(clsid(0), &obj) != S_OK || CoRegisterClassObject(clsid(t), make) != S_OK ||
                      CoCreateInstance(clsid(t), &obj) != S_OK || CoRevokeClassObject(clsid(t)) != S_OK ||
                      CoCreateInstance(clsid(t), &obj) != REGDB_E_CLASSNOTREG;
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(CoRevokeClassObject(clsid(0)), S_OK);
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
