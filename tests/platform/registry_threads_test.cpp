#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/host_util.h"
#include "platform/class_factory.h"
#include "platform/registry.h"

namespace kdx {
namespace {

// Writers share one object or use one each (as separate processes would); either way no
// write may be lost to another's read-modify-write.
TEST(RegistryThreads, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4, kWrites = 15;
  auto name = [](int w, int i) { return u"W" + std::u16string(1, u'0' + w) + u"\\" + std::u16string(1, u'A' + i); };
  for (bool shared : {true, false}) {
    test::TempFolder dir;
    Registry common(dir.path() / "registry");
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
      threads.emplace_back([&, w] {
        Registry own(dir.path() / "registry");
        Registry& r = shared ? common : own;
        for (int i = 0; i < kWrites; ++i) {
          EXPECT_EQ(r.SetValue(name(w, i), u"", name(w, i)), S_OK);
          EXPECT_EQ(r.GetValue(name(w, i), u""), name(w, i));
          r.SubKeys(u"");
        }
      });
    for (auto& t : threads) t.join();
    Registry check(dir.path() / "registry");
    EXPECT_EQ(check.SubKeys(u"").size(), std::size_t{kWriters});
    for (int w = 0; w < kWriters; ++w)
      for (int i = 0; i < kWrites; ++i) EXPECT_EQ(check.GetValue(name(w, i), u""), name(w, i)) << shared;
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

}  // namespace
}  // namespace kdx
