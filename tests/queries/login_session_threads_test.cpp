// The product list at log-in, against the simulated component and web services: loaded over
// HTTP before LoginReady, on top of what the tables held; a failing product service still ends
// in LoginReady, after its message box.
#include <gtest/gtest.h>

#include <array>

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

// Fault::Huge stands for a list past the reply limit: not loaded, with a Log line saying why.
TEST_P(LoginSessionTest, ProductTableThenLoginReady) {
  // Blocks of two entries, pieces of 7 bytes; an entry without a display symbol is still mapped,
  // and of a key given twice the later wins.
  web.SetProducts({{kEs, u"ES06", u"CME", u"ES"}, {kZc, u"", u"CBT", u"ZC"}, {kEs, u"ES06b", u"CME", u"ESM"}}, 2, 7);
  web.SetFault(std::string(sim::kProductListPath), GetParam() == Fault::Huge ? Fault::None : GetParam());
  ctrl->m_mapObProductCode[u"KEEP"] = u"KC";
  const ReplyLimits saved = GetReplyLimits();
  if (GetParam() == Fault::Huge) SetReplyLimits({100, saved.maxRows});
  // The list's host and broker code: keys of any case, an empty value meaning the log-in's.
  ASSERT_EQ(Login(Ini("RocID=a1\nBroker=ZZ9\nQueryAddress=127.0.0.1:1\nobproducthost=" + web.Address() +
                      "\nOBBROKERCODE=\n")), 0);
  Pump();  // the list loads before LoginReady, inside this pump
  SetReplyLimits(saved);
  Strings expected = {"LoginReady", "StatementUpdate(0)"};
  const std::string url = "http://" + web.Address() + "/ob-bin/obstkid.cgi?ARG=*,ZZ9";
  if (GetParam() == Fault::Huge) expected.insert(expected.begin(), "Log(0,Product list over the limit of 100 bytes,URL=" + url + ")");
  EXPECT_EQ(events.Summary(), expected);
  ASSERT_EQ(web.RequestCount(), 1u);
  EXPECT_EQ("http://" + web.Address() + web.Requests()[0].target, url);
  if (GetParam() == Fault::NotFound || GetParam() == Fault::Huge) {
    ASSERT_EQ(boxes.Shown().size(), 1u);
    const MessageBoxRequest& box = boxes.Shown()[0];
    EXPECT_EQ(box.text, CString(u"無法取得國外商品代表對應表，\r\n請重新嘗試登入，否則將無法正確下單!"));
    EXPECT_EQ(std::tuple(box.caption, box.type), std::tuple(CString(u"錯誤"), UINT{MB_OK | MB_ICONERROR | MB_TOPMOST}));
    EXPECT_TRUE(boxes.Owners()[0] == ctrl->GetSafeHwnd());
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
                         testing::Values(Fault::None, Fault::GarbageLines, Fault::NotFound, Fault::Huge),
                         [](const auto& info) {
                           return std::string(std::array{"Answers", "GarbageLines", "NotFound", "Huge"}[info.index]);
                         });

}  // namespace
}  // namespace kdx::test
