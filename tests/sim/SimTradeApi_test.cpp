// The simulated trade-API component's counters, on which the control's tests rely to tell
// whether it left an instance alive or released one inside its own call: they must see both.
#include "sim/SimTradeApi.h"

#include <gtest/gtest.h>

#include "common/host_util.h"
#include "platform/class_factory.h"

namespace kdx::sim {
namespace {

// Lets go of the component inside its event.
struct Releaser : IDispatch {
  explicit Releaser(std::shared_ptr<SimTradeApi>& held) : api(held) {}
  HRESULT GetIDsOfNames(std::u16string_view, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  HRESULT Invoke(DISPID, WORD, std::span<VARIANT>, VARIANT*) override { return api.reset(), S_OK; }
  std::shared_ptr<SimTradeApi>& api;
};

TEST(SimTradeApi, FactoryCountsInstancesAndDetectsReleaseInsideOwnCall) {
  SimTradeApi::ResetCounters();
  const int aliveBefore = SimTradeApi::AliveCount();
  SimConfig config;
  config.connectResult = 4;
  SimTradeApi::Register(config);
  std::shared_ptr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), S_OK);
  auto api = std::dynamic_pointer_cast<SimTradeApi>(object);
  ASSERT_TRUE(api);
  EXPECT_EQ(SimTradeApi::Last(), api);
  EXPECT_EQ(std::tuple(SimTradeApi::CreatedCount(), SimTradeApi::AliveCount(), api->Config().connectResult),
            std::tuple(1, aliveBefore + 1, 4));
  // Events still queued die with the component.
  api->MarketDate(u"FUT000OPEN");
  object.reset();
  api.reset();
  EXPECT_EQ(SimTradeApi::Last(), nullptr);
  EXPECT_EQ(SimTradeApi::AliveCount(), aliveBefore);
  test::Pump();
  EXPECT_EQ(SimTradeApi::DestroyedInsideOwnCall(), 0);

  api = SimTradeApi::Create();
  api->FindConnectionPoint()->Advise(std::make_shared<Releaser>(api));
  api->StatementChanged();
  test::Pump();
  EXPECT_EQ(api, nullptr);
  EXPECT_EQ(std::tuple(SimTradeApi::DestroyedInsideOwnCall(), SimTradeApi::AliveCount()), std::tuple(1, aliveBefore));
  SimTradeApi::ResetCounters();
  SimTradeApi::Unregister();
  EXPECT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace kdx::sim
