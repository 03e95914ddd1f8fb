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
  SimTradeApi::Register();
  std::shared_ptr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), S_OK);
  std::shared_ptr<SimTradeApi> api = SimTradeApi::Last();
  EXPECT_EQ(std::tuple(SimTradeApi::CreatedCount(), SimTradeApi::AliveCount(), api == object),
            std::tuple(1, aliveBefore + 1, true));
  object.reset();
  api->FindConnectionPoint()->Advise(std::make_shared<Releaser>(api));
  api->StatementChanged();
  api->MarketDate(u"FUT000OPEN");  // still queued when the component goes: dies with it
  test::Pump();
  EXPECT_EQ(std::tuple(api, SimTradeApi::Last(), SimTradeApi::DestroyedInsideOwnCall(), SimTradeApi::AliveCount()),
            std::tuple(nullptr, nullptr, 1, aliveBefore));
  SimTradeApi::ResetCounters();
  SimTradeApi::Unregister();
}

}  // namespace
}  // namespace kdx::sim
