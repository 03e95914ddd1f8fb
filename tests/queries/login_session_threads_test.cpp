// The product list at log-in, against the simulated component and web services: loaded over
// HTTP before LoginReady, on top of what the tables held; a failing product service still ends
// in LoginReady, after its message box.
#include <gtest/gtest.h>

#include <tuple>

#include "common/control_util.h"
#include "queries/HttpQuery.h"
#include "sim/SimWebServices.h"

namespace kdx::test {
namespace {

using sim::Fault;
using Table = std::unordered_map<CString, CString>;

constexpr const char16_t *kEs = u"F|CME|ES|202406|0|0", *kZc = u"F|CBT|ZC|202407|0|0";

class LoginSessionTest : public ControlTest, public testing::WithParamInterface<Fault> {
 protected:
  RecordedBoxes boxes;
  sim::SimWebServices web;
};

TEST_P(LoginSessionTest, ProductTableThenLoginReady) {
  web.SetProducts({{kEs, u"ES06", u"CME", u"ES"},
                   {kZc, u"", u"CBT", u"ZC"},          // no display symbol: still mapped
                   {kEs, u"ES06b", u"CME", u"ESM"}},  // same key again: the later wins
                  2, 7);                              // blocks of two entries, pieces of 7 bytes
  web.SetFault(std::string(sim::kProductListPath), GetParam());
  ctrl->m_mapObProductCode[u"KEEP"] = u"KC";
  // The list's host and broker code: keys of any case, an empty value meaning the log-in's.
  ASSERT_EQ(Login(Ini("RocID=a1\nBroker=ZZ9\nQueryAddress=" + web.Address() + "\nobproducthost=\nOBBROKERCODE=B7\n")), 0);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  ASSERT_EQ(web.RequestCount(), 1u);
  EXPECT_EQ(web.Requests()[0].target, "/ob-bin/obstkid.cgi?ARG=*,B7");
  if (GetParam() == Fault::NotFound) {
    EXPECT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(ctrl->m_mapObProductCode, (Table{{u"KEEP", u"KC"}}));
    return;
  }
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(ctrl->m_mapObProductCode, (Table{{kEs, u"ESM"}, {kZc, u"ZC"}, {u"KEEP", u"KC"}}));
  EXPECT_EQ(ctrl->m_mapObExchange, (Table{{kEs, u"CME"}, {kZc, u"CBT"}}));
  EXPECT_EQ(ctrl->m_mapObDisplaySymbol, (Table{{kEs, u"ES06b"}, {kZc, u""}}));
  EXPECT_EQ(ctrl->m_mapObCodeToKey, (Table{{u"ES", kEs}, {u"ESM", kEs}, {u"ZC", kZc}}));
}

INSTANTIATE_TEST_SUITE_P(ProductService, LoginSessionTest,
                         testing::Values(Fault::None, Fault::GarbageLines, Fault::NotFound),
                         [](const auto& info) {
                           return info.param == Fault::None ? "Clean" : info.param == Fault::NotFound ? "NotFound" : "Garbage";
                         });

// A list past the reply limit is not loaded: a Log line saying why, and the failure box, which
// any failed load shows.
TEST(ObProductLoad, AListOverTheLimitIsRefusedWithALogLine) {
  RecordedBoxes boxes;
  sim::SimWebServices web;
  ControlHarness h;
  const ReplyLimits saved = GetReplyLimits();
  SetReplyLimits({100, saved.maxRows});
  h.ctrl->m_mapProfile[u"ObProductHost"] = CString::FromUtf8(web.Address());
  h.ctrl->LoadObProductTable();
  SetReplyLimits(saved);
  EXPECT_EQ(h.events.Logs(0),
            Strings{"Product list over the limit of 100 bytes,URL=http://" + web.Address() + "/ob-bin/obstkid.cgi?ARG=*,ZAZUZO"});
  ASSERT_EQ(boxes.Shown().size(), 1u);
  const MessageBoxRequest& box = boxes.Shown()[0];
  EXPECT_EQ(box.text, CString(u"無法取得國外商品代表對應表，\r\n請重新嘗試登入，否則將無法正確下單!"));
  EXPECT_EQ(std::tuple(box.caption, box.type), std::tuple(CString(u"錯誤"), UINT{MB_OK | MB_ICONERROR | MB_TOPMOST}));
  EXPECT_TRUE(boxes.Owners()[0] == h.ctrl->GetSafeHwnd());
  EXPECT_TRUE(h.ctrl->m_mapObProductCode.empty());
}

}  // namespace
}  // namespace kdx::test
