// The product list loaded over HTTP from the simulated services, as at log-in.
#include <gtest/gtest.h>

#include <tuple>

#include "common/control_util.h"
#include "queries/HttpQuery.h"
#include "queries/ObProductTable.h"
#include "sim/SimWebServices.h"

namespace kdx::test {
namespace {

using Table = std::unordered_map<CString, CString>;

constexpr const char16_t *kEs = u"F|CME|ES|202406|0|0", *kZc = u"F|CBT|ZC|202407|0|0";
const std::vector<sim::ObProduct> kProducts = {
    {kEs, u"ES06", u"CME", u"ES"},
    {kZc, u"", u"CBT", u"ZC"},        // no display symbol: still mapped
    {kEs, u"ES06b", u"CME", u"ESM"},  // same key again: the later wins
};

class ObProductLoad : public ::testing::TestWithParam<sim::Fault> {
 protected:
  RecordedBoxes boxes;
  sim::SimWebServices web;
  ControlHarness h;
};

TEST_P(ObProductLoad, FillsTheFourTablesOnTopOfWhatTheyHeld) {
  web.SetProducts(kProducts, 2, 7);  // blocks of two entries, pieces of 7 bytes
  web.SetFault(std::string(sim::kProductListPath), GetParam());
  h.ctrl->m_mapProfile[u"ObProductHost"] = CString::FromUtf8(web.Address());
  h.ctrl->m_mapProfile[u"ObBrokerCode"] = u"BRK9";
  h.ctrl->m_mapObProductCode[u"KEEP"] = u"KC";
  h.ctrl->LoadObProductTable();

  EXPECT_TRUE(boxes.Shown().empty());
  ASSERT_EQ(web.Requests().size(), 1u);
  EXPECT_EQ(web.Requests()[0].target, "/ob-bin/obstkid.cgi?ARG=*,BRK9");
  EXPECT_EQ(h.ctrl->m_mapObProductCode, (Table{{kEs, u"ESM"}, {kZc, u"ZC"}, {u"KEEP", u"KC"}}));
  EXPECT_EQ(h.ctrl->m_mapObExchange, (Table{{kEs, u"CME"}, {kZc, u"CBT"}}));
  EXPECT_EQ(h.ctrl->m_mapObDisplaySymbol, (Table{{kEs, u"ES06b"}, {kZc, u""}}));
  EXPECT_EQ(h.ctrl->m_mapObCodeToKey, (Table{{u"ES", kEs}, {u"ESM", kEs}, {u"ZC", kZc}}));
  EXPECT_TRUE(h.events.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(Bodies, ObProductLoad, ::testing::Values(sim::Fault::None, sim::Fault::GarbageLines),
                         [](const auto& info) { return info.param == sim::Fault::None ? "Clean" : "WithGarbage"; });

// A list past the reply limit is not loaded: a Log line saying why, and the failure box, which
// any failed load shows.
TEST(ObProductLoadSettings, AListOverTheLimitIsRefusedWithALogLine) {
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
