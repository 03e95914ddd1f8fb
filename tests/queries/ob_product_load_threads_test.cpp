// The product list loaded over HTTP from the simulated services, as at log-in.
#include <gtest/gtest.h>

#include "common/control_util.h"
#include "queries/HttpQuery.h"
#include "queries/ObProductTable.h"
#include "sim/SimWebServices.h"

namespace kdx::test {
namespace {

using Table = std::unordered_map<CString, CString>;

const std::vector<sim::ObProduct> kProducts = {
    {u"F|CME|ES|202406|0|0", u"ES06", u"CME", u"ES"},
    {u"F|CBT|ZC|202407|0|0", u"", u"CBT", u"ZC"},        // no display symbol: still mapped
    {u"F|CME|ES|202406|0|0", u"ES06b", u"CME", u"ESM"},  // same key again: the later wins
    {u"F|SGX|CN|202408|0|0", u"CN08", u"", u"CN"},       // no exchange: not mapped
    {u"F|SGX|TW|202408|0|0", u"TW08", u"SGX", u""},      // no product code: not mapped
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
  EXPECT_EQ(h.ctrl->m_mapObProductCode,
            (Table{{u"F|CME|ES|202406|0|0", u"ESM"}, {u"F|CBT|ZC|202407|0|0", u"ZC"}, {u"KEEP", u"KC"}}));
  EXPECT_EQ(h.ctrl->m_mapObExchange, (Table{{u"F|CME|ES|202406|0|0", u"CME"}, {u"F|CBT|ZC|202407|0|0", u"CBT"}}));
  EXPECT_EQ(h.ctrl->m_mapObDisplaySymbol, (Table{{u"F|CME|ES|202406|0|0", u"ES06b"}, {u"F|CBT|ZC|202407|0|0", u""}}));
  EXPECT_EQ(
      h.ctrl->m_mapObCodeToKey,
      (Table{{u"ES", u"F|CME|ES|202406|0|0"}, {u"ESM", u"F|CME|ES|202406|0|0"}, {u"ZC", u"F|CBT|ZC|202407|0|0"}}));
  EXPECT_TRUE(h.events.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(Bodies, ObProductLoad, ::testing::Values(sim::Fault::None, sim::Fault::GarbageLines),
                         [](const auto& info) { return info.param == sim::Fault::None ? "Clean" : "WithGarbage"; });

TEST(ObProductLoadSettings, HostAndBrokerDefaultToTheLogInValues) {
  sim::SimWebServices web;
  const struct {
    std::vector<std::pair<const char16_t*, const char16_t*>> profile;
    const char* target;
  } cases[] = {
      {{{u"ObProductHost", u""}, {u"ObBrokerCode", u""}}, "/ob-bin/obstkid.cgi?ARG=*,ZAZ"},
      {{{u"obbrokercode", u"ANYCASE"}}, "/ob-bin/obstkid.cgi?ARG=*,ANYCASE"},
  };
  for (const auto& c : cases) {
    ControlHarness h;
    h.ctrl->m_strQueryAddress = CString::FromUtf8(web.Address());
    h.ctrl->m_strBroker = u"ZAZ";
    for (const auto& [key, value] : c.profile) h.ctrl->m_mapProfile[key] = value;
    h.ctrl->LoadObProductTable();
    ASSERT_FALSE(web.Requests().empty());
    EXPECT_EQ(web.Requests().back().target, c.target);
    EXPECT_FALSE(h.ctrl->m_mapObProductCode.empty());  // the services' default list
  }
}

// A list past the reply limit is not loaded: the failure box, and a Log line saying why.
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
  EXPECT_EQ(boxes.Shown().size(), 1u);
  EXPECT_TRUE(h.ctrl->m_mapObProductCode.empty());
}

}  // namespace
}  // namespace kdx::test
