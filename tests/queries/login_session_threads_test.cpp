// A whole log-in as a host sees it, against the simulated component and web services: the
// product table comes from the server before LoginReady, rows are numbered as they arrive, and
// a failing product service still ends in LoginReady after its message box.
#include <gtest/gtest.h>

#include "common/control_util.h"
#include "common/raw_server_util.h"
#include "sim/SimWebServices.h"

namespace kdx {
namespace {

using sim::Fault;
using sim::Market;
using sim::SimRow;
using test::Pump;
using test::Strings;

constexpr const char16_t* kAccount = u"9A950012345";

class LoginSessionTest : public test::ControlTest, public testing::WithParamInterface<Fault> {
 protected:
  test::RecordedBoxes boxes;
  sim::SimWebServices web;
};

TEST_P(LoginSessionTest, ProductTableThenLoginReadyThenNumberedRows) {
  web.SetFault(std::string(sim::kProductListPath), GetParam());
  ASSERT_EQ(Login(Ini("RocID=a1\nBroker=ZZ9\nQueryAddress=" + web.Address() + "\n")), 0);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  ASSERT_EQ(web.RequestCount(), 1u);
  EXPECT_EQ(web.Requests()[0].target, "/ob-bin/obstkid.cgi?ARG=*,ZZ9");

  const std::size_t products = sim::DefaultProducts().size();
  if (GetParam() == Fault::None) {
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(ctrl->m_mapObProductCode.size(), products);
    EXPECT_EQ(ctrl->m_mapObCodeToKey.size(), products);
  } else {
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, u"錯誤");
    EXPECT_EQ(boxes.Shown()[0].type, MB_OK | MB_ICONERROR | MB_TOPMOST);
    EXPECT_TRUE(ctrl->m_mapObProductCode.empty());
  }

  events.Clear();
  auto& api = *sim::SimTradeApi::Last();
  api.AddOrder(Market::Domestic, 1, 0, SimRow().Text(5, kAccount));
  api.AddOrder(Market::Overseas, 1, 0, SimRow().Text(5, kAccount).Text(208, u"OB1"));
  api.AddFill(Market::Overseas, 2, 0, SimRow().Text(5, kAccount).Text(208, u"OB1").Number(257, 5).Number(364, 1));
  api.AddFill(Market::Domestic, 3, 0, SimRow().Text(5, kAccount));
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "FillOrder(0)", "OrderStatus(1)",
                                       "FillOrder(1)"}));
}

INSTANTIATE_TEST_SUITE_P(ProductService, LoginSessionTest,
                         testing::Values(Fault::None, Fault::NotFound, Fault::EmptyBody, Fault::CutMidBody),
                         [](const auto& info) {
                           switch (info.param) {
                             case Fault::None: return "Answers";
                             case Fault::NotFound: return "NotFound";
                             case Fault::EmptyBody: return "EmptyBody";
                             default: return "CutMidBody";
                           }
                         });

// The URL a request logs, and the failure line its reply logs later, hide the password and its
// digest, even when the secrets are gone (Logout) by the time the reply arrives.
TEST(HttpQueryLog, LoggedUrlsHideThePasswordAndEscapeControls) {
  test::ControlHarness h;
  h.ctrl->m_strPassword = u"pw1";
  h.ctrl->m_strPasswordMD5 = u"d1g";
  const std::string url = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/q?p=pw1&d=d1g&x=\t";
  ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, CString::FromUtf8(url), u"Q"), 1);
  h.ctrl->m_strPassword.Empty();
  h.ctrl->m_strPasswordMD5.Empty();
  ASSERT_TRUE(h.PumpUntilUpdates(1));
  const std::string logged = url.substr(0, url.find('?')) + "?p=****&d=****&x=%09";
  EXPECT_EQ(h.events.Logs(3), Strings{"HTTP Query = " + logged});
  EXPECT_EQ(h.events.Logs(0), Strings{"伺服器沒有回應,URL=" + logged});
}

}  // namespace
}  // namespace kdx
