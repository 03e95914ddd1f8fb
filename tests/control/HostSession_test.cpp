// A whole session as a host runs it: register the module, create the control by ProgID, log in
// against the simulated component with an INI file, and see each way a log-in ends.
#include <gtest/gtest.h>

#include <ostream>

#include "common/control_util.h"
#include "control/Module.h"
#include "platform/class_factory.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace kdx {
namespace {

using sim::SimConfig;
using sim::SimTradeApi;
using test::Pump;
using test::Strings;

class HostSessionTest : public testing::Test {
 protected:
  void SetUp() override {
    SetRegistryFile(std::filesystem::path(Utf16ToUtf8(folder.Write("registry", ""))));
    ASSERT_EQ(DllRegisterServer(), S_OK);
    SimTradeApi::ResetCounters();
  }
  void TearDown() override {
    control.reset();
    Pump();
    EXPECT_EQ(SimTradeApi::DestroyedInsideOwnCall(), 0);
    EXPECT_EQ(SimTradeApi::AliveCount(), 0);
    SimTradeApi::Unregister();
    DllUnregisterServer();
    SetRegistryFile(DefaultRegistryFile());
  }

  // Creates the control by its ProgID and advises the recorder, as a container does.
  void Create() {
    ASSERT_EQ(CreateObjectByProgID(u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1", &control), S_OK);
    auto* container = dynamic_cast<IConnectionPointContainer*>(control.get());
    ASSERT_NE(container, nullptr);
    ASSERT_NE(container->FindConnectionPoint()->Advise(events.Sink()), 0u);
  }
  VARIANT Call(std::u16string_view name, std::vector<VARIANT> args = {}) {
    return test::CallByName(*control, name, std::move(args));
  }
  long Login() {
    const std::u16string ini = folder.Write("host.ini", "[Session]\nRocID=a123_x\nPassword=secret\n");
    return Call(u"Login", {VARIANT(ini), VARIANT(u"Session")}).lVal;
  }

  test::TempFolder folder;
  test::EventRecorder events;
  std::shared_ptr<IDispatch> control;
};

struct EndCase {
  const char* name;
  SimConfig config;
  bool disconnect;  // after a successful log-in
  Strings expected;
  friend void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }
};

class HostSessionEnds : public HostSessionTest, public testing::WithParamInterface<EndCase> {};

TEST_P(HostSessionEnds, EachEndDeletesTheComponentAndFiresItsEvent) {
  SimTradeApi::Register(GetParam().config);
  Create();
  EXPECT_EQ(Call(u"GetConnectStatus").lVal, 0);
  EXPECT_EQ(Login(), 0);
  EXPECT_TRUE(events.Events().empty()) << "the outcome arrived inside Login";
  Pump();
  if (GetParam().disconnect) {
    EXPECT_EQ(Call(u"GetConnectStatus").lVal, 2);
    SimTradeApi::Last()->Disconnect();
    Pump();
  }
  EXPECT_EQ(events.Summary(), GetParam().expected);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  EXPECT_EQ(Call(u"GetConnectStatus").lVal, 0);
}

SimConfig Failing(long code) {
  SimConfig config;
  config.loginSucceeds = false;
  config.failCode = code;
  config.failTextA = u"E1001";
  config.failTextB = u"密碼錯誤";
  return config;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, HostSessionEnds,
    testing::Values(EndCase{"refused", Failing(0), false, {"LoginFail(密碼錯誤(E1001))"}},
                    EndCase{"failed", Failing(1), false, {"LoginFail(密碼錯誤(E1001))"}},
                    EndCase{"lost", SimConfig{}, true, {"LoginReady", "StatementUpdate(0)", "ConnectionLost"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostSessionTest, LogInThenLogOutThenTheClassIsGoneWithTheRegistration) {
  SimTradeApi::Register(SimConfig{});
  Create();
  EXPECT_EQ(Login(), 0);
  Pump();
  EXPECT_EQ(Call(u"GetConnectStatus").lVal, 2);
  Call(u"Logout");
  Pump();
  EXPECT_EQ(Call(u"GetConnectStatus").lVal, 0);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));

  control.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  std::shared_ptr<IDispatch> again;
  EXPECT_TRUE(FAILED(CreateObjectByProgID(u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1", &again)));
}

}  // namespace
}  // namespace kdx
