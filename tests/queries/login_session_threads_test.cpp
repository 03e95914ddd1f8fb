// A whole log-in as a host sees it, against the simulated component and web services: the
// product table comes from the server before LoginReady, and a failing product service still
// ends in LoginReady after its message box.
#include <gtest/gtest.h>

#include <tuple>

#include "common/control_util.h"
#include "common/raw_server_util.h"
#include "sim/SimWebServices.h"

namespace kdx {
namespace {

using sim::Fault;
using test::Pump;
using test::Strings;

class LoginSessionTest : public test::ControlTest, public testing::WithParamInterface<Fault> {
 protected:
  test::RecordedBoxes boxes;
  sim::SimWebServices web;
};

TEST_P(LoginSessionTest, ProductTableThenLoginReady) {
  web.SetFault(std::string(sim::kProductListPath), GetParam());
  // The list's host and broker code: keys of any case, an empty value meaning the log-in's.
  ASSERT_EQ(Login(Ini("RocID=a1\nBroker=ZZ9\nQueryAddress=" + web.Address() + "\nobproducthost=\nOBBROKERCODE=B7\n")), 0);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  ASSERT_EQ(web.RequestCount(), 1u);
  EXPECT_EQ(web.Requests()[0].target, "/ob-bin/obstkid.cgi?ARG=*,B7");

  const std::size_t products = GetParam() == Fault::None ? sim::DefaultProducts().size() : 0;
  EXPECT_EQ(std::tuple(boxes.Shown().size(), ctrl->m_mapObProductCode.size(), ctrl->m_mapObCodeToKey.size()),
            std::tuple(products ? 0u : 1u, products, products));
}

INSTANTIATE_TEST_SUITE_P(ProductService, LoginSessionTest, testing::Values(Fault::None, Fault::NotFound),
                         [](const auto& info) { return info.param == Fault::None ? "Answers" : "NotFound"; });

// The URL a request logs, and the failure line its reply logs later, hide the password and its
// digest, even when the secrets are gone (Logout) by the time the reply arrives, and escape
// control characters.
TEST(HttpQueryLog, LoggedUrlsHideThePasswordAndEscapeControls) {
  test::ControlHarness h;
  h.ctrl->m_strPassword = u"pw1";
  h.ctrl->m_strPasswordMD5 = u"d1g";
  const std::string url = "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/q?p=pw1&d=d1g&x=\t\x7f";
  ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, CString::FromUtf8(url), u"Q"), 1);
  h.ctrl->m_strPassword.Empty();
  h.ctrl->m_strPasswordMD5.Empty();
  ASSERT_TRUE(h.PumpUntilUpdates(1));
  const std::string logged = url.substr(0, url.find('?')) + "?p=****&d=****&x=%09%7F";
  EXPECT_EQ(h.events.Logs(3), Strings{"HTTP Query = " + logged});
  EXPECT_EQ(h.events.Logs(0), Strings{"伺服器沒有回應,URL=" + logged});
}

}  // namespace
}  // namespace kdx
