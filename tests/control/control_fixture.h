// The fixture of tests that drive the control as a host does, against the simulated component.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "common/host_util.h"
#include "platform/codepage.h"
#include "platform/system.h"
#include "sim/SimTradeApi.h"

namespace kdx::test {

using Strings = std::vector<std::string>;
using sim::SimConfig;
using sim::SimTradeApi;

class ControlTest : public testing::Test {
 public:
  CORV_Velmar_KDXCtrl& Control() { return *ctrl; }

 protected:
  void SetUp() override {
    SimTradeApi::ResetCounters();
    Register(SimConfig{});
    ctrl = std::make_unique<CORV_Velmar_KDXCtrl>();
    ASSERT_NE(ctrl->FindConnectionPoint()->Advise(events.Sink()), 0u);
  }

  void TearDown() override {
    ctrl.reset();
    Pump();
    EXPECT_EQ(SimTradeApi::DestroyedInsideOwnCall(), 0);
    EXPECT_EQ(SimTradeApi::AliveCount(), 0);
    SimTradeApi::Unregister();
    SetModuleFileNameOverride(std::nullopt);
  }

  static void Register(SimConfig config) { SimTradeApi::Register(std::move(config)); }

  std::u16string Ini(const std::string& section) { return folder.Write("kdx.ini", "[Sim]\n" + section); }

  // As a host calls: by name through the automation interface.
  VARIANT Call(std::u16string_view name, std::vector<VARIANT> args = {}) {
    VARIANT result;
    EXPECT_EQ(InvokeByName(*ctrl, name, DISPATCH_METHOD, args, &result), S_OK) << Utf16ToUtf8(name);
    return result;
  }
  long Login(const std::u16string& path, const std::u16string& section = u"Sim") {
    return Call(u"Login", {VARIANT(path), VARIANT(section)}).lVal;
  }
  long Status() { return Call(u"GetConnectStatus").lVal; }

  // Logs in with the default account and empties the event record.
  void LogIn(const std::string& section = "RocID=a1\n") {
    ASSERT_EQ(Login(Ini(section)), 0);
    Pump();
    ASSERT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
    events.Clear();
  }

  test::TempFolder folder;
  test::EventRecorder events;
  std::unique_ptr<CORV_Velmar_KDXCtrl> ctrl;
};

}  // namespace kdx::test
