#include "platform/class_factory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kdx {
namespace {

class Nothing : public IDispatch {
 public:
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID, WORD, std::span<VARIANT>, VARIANT*) override { return DISP_E_MEMBERNOTFOUND; }
};

CLSID Numbered(uint32_t n) { return CLSID{0xC1A55000 + n, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}}; }

// Hosts register and create from several threads; no call may see a torn registry.
TEST(ClassRegistryThreads, RegisterCreateAndRevokeConcurrently) {
  const CLSID shared = Numbered(0);
  ASSERT_EQ(CoRegisterClassObject(shared, [] { return std::make_shared<Nothing>(); }), S_OK);
  std::atomic<int> unexpected{0};
  std::vector<std::thread> threads;
  for (uint32_t t = 1; t <= 4; ++t) {
    threads.emplace_back([t, shared, &unexpected] {
      const CLSID own = Numbered(t);
      for (int i = 0; i < 300; ++i) {
        std::shared_ptr<IDispatch> obj;
        if (CoCreateInstance(shared, &obj) != S_OK || !obj) ++unexpected;
        if (FAILED(CoRegisterClassObject(own, [] { return std::make_shared<Nothing>(); }))) ++unexpected;
        if (CoCreateInstance(own, &obj) != S_OK) ++unexpected;
        if (CoRevokeClassObject(own) != S_OK) ++unexpected;
        if (CoCreateInstance(own, &obj) != REGDB_E_CLASSNOTREG) ++unexpected;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(CoRevokeClassObject(shared), S_OK);
}

}  // namespace
}  // namespace kdx
