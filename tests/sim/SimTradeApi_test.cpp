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
  EXPECT_EQ(std::tuple(SimTradeApi::CreatedCount(), SimTradeApi::AliveCount(), SimTradeApi::Last() == object),
            std::tuple(1, aliveBefore + 1, true));
  SimTradeApi::Last()->MarketDate(u"FUT000OPEN");  // an event still queued dies with the component
  object.reset();
  test::Pump();
  EXPECT_EQ(std::tuple(SimTradeApi::Last(), SimTradeApi::AliveCount(), SimTradeApi::DestroyedInsideOwnCall()),
            std::tuple(nullptr, aliveBefore, 0));
  auto api = SimTradeApi::Create();
  api->FindConnectionPoint()->Advise(std::make_shared<Releaser>(api));
  api->StatementChanged();
  test::Pump();
  EXPECT_EQ(std::tuple(api, SimTradeApi::DestroyedInsideOwnCall(), SimTradeApi::AliveCount()),
            std::tuple(nullptr, 1, aliveBefore));
  SimTradeApi::ResetCounters();
  SimTradeApi::Unregister();
  EXPECT_EQ(CoCreateInstance(CLSID_ORVOMNIDEALAPI, &object), REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace kdx::sim
