// A whole session as a host runs it: register the module, create the control by ProgID, log in
// against the simulated component with an INI file, see each way a log-in ends, unregister.
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

constexpr const char16_t* kProgID = u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1";

struct EndCase {
  const char* name;
  long failCode;  // -1: the log-in succeeds
  Strings expected;
  friend void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }
};

class HostSession : public testing::TestWithParam<EndCase> {
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
  VARIANT Call(std::u16string_view name, std::vector<VARIANT> args = {}) {
    return test::CallByName(*control, name, std::move(args));
  }

  test::TempFolder folder;
  test::EventRecorder events;
  std::shared_ptr<IDispatch> control;
};

TEST_P(HostSession, EachEndDeletesTheComponentAndFiresItsEvent) {
  const EndCase& c = GetParam();
  SimConfig config;
  config.loginSucceeds = c.failCode < 0;
  config.failCode = c.failCode;
  config.failTextA = u"E1001";
  config.failTextB = u"密碼錯誤";
  SimTradeApi::Register(config);
  // Created by its ProgID and advised, as a container does.
  ASSERT_EQ(CreateObjectByProgID(kProgID, &control), S_OK);
  auto* container = dynamic_cast<IConnectionPointContainer*>(control.get());
  ASSERT_NE(container, nullptr);
  ASSERT_NE(container->FindConnectionPoint()->Advise(events.Sink()), 0u);
  EXPECT_EQ(Call(u"GetConnectStatus").lVal, 0);
  const std::u16string ini = folder.Write("host.ini", "[Session]\nRocID=a123_x\nPassword=secret\n");
  EXPECT_EQ(Call(u"Login", {VARIANT(ini), VARIANT(u"Session")}).lVal, 0);
  EXPECT_TRUE(events.Events().empty()) << "the outcome arrived inside Login";
  Pump();
  if (c.failCode < 0) {
    EXPECT_EQ(Call(u"GetConnectStatus").lVal, 2);
    if (std::string(c.name) == "lost") {
      SimTradeApi::Last()->Disconnect();
    } else {
      Call(u"Logout");
    }
    Pump();
  }
  EXPECT_EQ(events.Summary(), c.expected);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  EXPECT_EQ(Call(u"GetConnectStatus").lVal, 0);

  control.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_TRUE(FAILED(CreateObjectByProgID(kProgID, &control)));
}

INSTANTIATE_TEST_SUITE_P(Ends, HostSession,
                         testing::Values(EndCase{"refused", 0, {"LoginFail(密碼錯誤(E1001))"}},
                                         EndCase{"failed", 1, {"LoginFail(密碼錯誤(E1001))"}},
                                         EndCase{"lost", -1, {"LoginReady", "StatementUpdate(0)", "ConnectionLost"}},
                                         EndCase{"logout", -1, {"LoginReady", "StatementUpdate(0)"}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kdx
