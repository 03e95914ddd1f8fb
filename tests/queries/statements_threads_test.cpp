// Statements and named queries as a host sees them, against the simulated component and a
// real HTTP server on loopback: what the server receives, what the tables hold, which events
// fire, and which late replies add nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "common/control_util.h"
#include "sim/SimWebServices.h"

namespace kdx {
namespace {

using sim::SimConfig;
using test::Strings;

using test::MakeRecord;

class StatementsTest : public test::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    SimConfig config;
    config.loginData[214] = u"G1=ACC1,ACC2;G 2=A&B";
    // Two accounts qualify for per-account queries; the blank and '&' must reach the server intact.
    config.accounts = {SimConfig::Account(u"9A95", u"0012345"), SimConfig::Account(u"9A96", u"00 9&9"),
                       SimConfig::Account(u"9A97", u"0055555", u"", u"S")};
    Register(config);
    web.SetQuery("/positions", [](const sim::ServedRequest& r) {
      return std::vector{MakeRecord({{1, sim::ParamValue(r, "cust")}, {2, sim::ParamValue(r, "x")}}, {{0, 42}})};
    });
    section = "RocID=a1_x\nBroker=KGI\nQueryAddress=" + web.Address() + "\nPositions=http://%QUERY_ADDRESS%/positions\n";
    LogIn(section);
  }
  std::u16string StatementText(long type, long index, long field) {
    return Call(u"GetStatementString", {VARIANT(int32_t(type)), VARIANT(int32_t(index)), VARIANT(int32_t(field))})
        .bstrVal;
  }
  long StatementCount(long type) { return Call(u"GetStatementCount", {VARIANT(int32_t(type))}).lVal; }
  long Query(const char16_t* name, const char16_t* param) {
    return Call(u"GeneralQuery", {VARIANT(name), VARIANT(param)}).lVal;
  }
  long QueryCount(const char16_t* name) { return Call(u"GetQueryCount", {VARIANT(name)}).lVal; }
  std::u16string QueryText(const char16_t* name, long index, long field) {
    return Call(u"GetQueryString", {VARIANT(name), VARIANT(int32_t(index)), VARIANT(int32_t(field))}).bstrVal;
  }
  std::vector<std::string> Targets() {
    std::vector<std::string> targets;
    for (const auto& r : web.Requests())
      if (r.path != sim::kProductListPath) targets.push_back(r.target);
    return targets;
  }

  test::RecordedBoxes boxes;
  sim::SimWebServices web;
  std::string section;
};

TEST_F(StatementsTest, RightsAskOncePerPairWithOneSequenceAndALateRequestAddsNothing) {
  EXPECT_EQ(Call(u"QueryStatement", {VARIANT(int32_t{2})}).lVal, 0);
  EXPECT_EQ(Call(u"QueryStatement", {VARIANT(int32_t{2})}).lVal, 0);  // overtakes the first
  ASSERT_TRUE(PumpUntilUpdates(6));
  EXPECT_EQ(events.Updates(), Strings(6, "StatementUpdate(2)"));
  // Only the second call's three replies, two rows each.
  ASSERT_EQ(StatementCount(2), 6);
  std::multiset<std::u16string> names;
  for (long i = 0; i < 6; ++i) {
    names.insert(StatementText(2, i, 2));
    EXPECT_EQ(StatementText(2, i, 1), u"KGI");
    EXPECT_EQ(StatementText(2, i, 3), u"TWD");
    EXPECT_EQ(StatementText(2, i, 5), u"");
  }
  EXPECT_EQ(names, (std::multiset<std::u16string>{u"G1_ACC1", u"G1_ACC1", u"G1_ACC2", u"G1_ACC2", u"G 2_A&B", u"G 2_A&B"}));
  auto targets = Targets();
  std::sort(targets.begin(), targets.end());
  EXPECT_EQ(targets.back(), "/get_rights.jsp?branch_id=9A95&cust_id=0012345&group_id=G1&broker_id=ACC2");
  EXPECT_EQ(targets.front(), "/get_rights.jsp?branch_id=9A95&cust_id=0012345&group_id=G%202&broker_id=A%26B");
  EXPECT_EQ(StatementText(2, 6, 1), u"");
  EXPECT_EQ(StatementText(2, -1, 1), u"");
}

TEST_F(StatementsTest, PerformanceRowsOnlyFromKindFourRecords) {
  web.SetPerformance([](const sim::ServedRequest&) {
    return std::vector{
        MakeRecord({{0, "acc"}, {1, "CME"}, {2, "NQ"}, {3, "202409"}, {4, "1"}, {5, "2"}, {6, "18750.25"}}, {{0, 4}}),
        MakeRecord({{1, "X"}, {4, "-1"}}, {{0, 4}}), MakeRecord({{4, "0"}}, {{0, 4}}),
        MakeRecord({{1, "dropped"}}, {{0, 5}})};
  });
  Call(u"QueryStatement", {VARIANT(int32_t{4})});
  ASSERT_TRUE(PumpUntilUpdates(3));
  EXPECT_EQ(events.Updates(), Strings(3, "StatementUpdate(4)"));
  ASSERT_EQ(StatementCount(4), 9);
  const std::u16string first[] = {u"KGI", u"acc", u"NQ", u"NQ", u"202409", u"B", u"18750.25", u"2", u"CME", u"RMB"};
  for (long i = 0; i < 9; ++i) {
    const std::u16string side = StatementText(4, i, 5);
    if (side != u"B") {
      EXPECT_TRUE(side == u"S" || side == u"0") << CString(side).ToUtf8();
      continue;
    }
    for (long f = 0; f < 10; ++f) EXPECT_EQ(StatementText(4, i, f), first[f]) << f;
    EXPECT_EQ(StatementText(4, i, 11), u"ORV.G_CME.NQ.202409");
    EXPECT_EQ(StatementText(4, i, 10).size(), 19u);  // "yyyy/mm/dd hh:mm:ss"
  }
  EXPECT_EQ(Targets().size(), 3u);
}

TEST_F(StatementsTest, AccountListMarketDatesAndBounds) {
  ctrl->m_strMarketDateFUT = u"OPEN";
  const std::pair<std::array<long, 3>, const char16_t*> cases[] = {
      {{0, 0, 0}, u"A1-ACC1"}, {{0, 2, 1}, u"A&B (G 2)"}, {{0, 3, 0}, u""}, {{0, 99, 2}, u"F"},
      {{0, 99, 3}, u"KGI"},    {{0, 0, 4}, u"A1_X"},      {{0, 0, 5}, u"Sim"}, {{0, 1, 6}, u"Simulated broker"},
      {{0, 1, 7}, u"Simulated trader"}, {{0, 0, 8}, u"9A95-0012345"}, {{0, 0, 9}, u""}, {{6, 42, 3}, u"OPEN"},
      {{6, 0, 4}, u""},        {{7, 0, 0}, u""},          {{-1, 0, 0}, u""},   {{1, 0, 0}, u""},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(StatementText(args[0], args[1], args[2]), expected) << args[0];
  const std::pair<long, long> counts[] = {{0, 3}, {6, 1}, {7, 0}, {-1, 0}, {1, 0}, {3, 0}};
  for (const auto& [type, count] : counts) EXPECT_EQ(StatementCount(type), count) << type;
  EXPECT_EQ(Call(u"GetStatementValue", {VARIANT(int32_t{0}), VARIANT(int32_t{0}), VARIANT(int32_t{0})}).dblVal, 0.0);
  // Other numbers start nothing.
  for (int32_t type : {0, 1, 3, 5, 6}) EXPECT_EQ(Call(u"QueryStatement", {VARIANT(type)}).lVal, 0);
  // Nor does a default account without a branch before its "-".
  for (const char16_t* account : {u"-0012345", u"9A950012345"}) {
    ctrl->m_strDefaultAccount = account;
    for (int32_t type : {2, 4}) Call(u"QueryStatement", {VARIANT(type)});
  }
  test::Pump();
  EXPECT_TRUE(Targets().empty());
}

TEST_F(StatementsTest, PerAccountQueryRowsCarryTheirTagAndOneKey) {
  EXPECT_EQ(Query(u"Positions,%CUST_ID%", u"cust=%CUST_ID%&b=%BRANCH_ID%&id=%ROC_ID%&x=a%20b"), 1);
  ASSERT_TRUE(PumpUntilUpdates(2));
  EXPECT_EQ(events.Updates(), Strings(2, "QueryUpdate(Positions)"));
  auto targets = Targets();
  std::sort(targets.begin(), targets.end());
  EXPECT_EQ(targets, (std::vector<std::string>{"/positions?cust=00%209%269&b=9A96&id=A1_X&x=a%20b",
                                               "/positions?cust=0012345&b=9A95&id=A1_X&x=a%20b"}));
  ASSERT_EQ(QueryCount(u"Positions"), 2);
  EXPECT_EQ(QueryCount(u"Positions,0012345"), 0) << "readers take the key, not a tagged name";
  std::set<std::u16string> tags;
  for (long i = 0; i < 2; ++i) {
    tags.insert(QueryText(u"Positions", i, 100));
    EXPECT_EQ(QueryText(u"Positions", i, 1), QueryText(u"Positions", i, 100));
    EXPECT_EQ(QueryText(u"Positions", i, 2), u"a b");
  }
  EXPECT_EQ(tags, (std::set<std::u16string>{u"0012345", u"00 9&9"}));
  auto value = [&](long index, long field) {
    return Call(u"GetQueryValue", {VARIANT(u"Positions"), VARIANT(int32_t(index)), VARIANT(int32_t(field))}).dblVal;
  };
  EXPECT_EQ(value(0, 0), 42.0);
  EXPECT_EQ(value(0, 4), -9223372036854775808.0);
  EXPECT_EQ(value(2, 0), 0.0);
  EXPECT_EQ(value(-1, 0), 0.0);
  EXPECT_EQ(QueryText(u"Positions", -1, 1), u"");
  EXPECT_EQ(QueryText(u"Nope", 0, 1), u"");
}

TEST_F(StatementsTest, DeleteDataUnknownKeysAndLogoutLeaveLateRepliesOut) {
  EXPECT_EQ(Query(u"Positions", u"x=1"), 1);
  ASSERT_TRUE(PumpUntilUpdates(1));
  ASSERT_EQ(QueryCount(u"Positions"), 1);
  EXPECT_EQ(Query(u"Nope", u"x=1"), 0);
  EXPECT_EQ(QueryCount(u"Positions"), 1) << "an unknown key leaves the others alone";
  // A request on its way when its key is cleared adds nothing, but still reports.
  EXPECT_EQ(Query(u"Positions", u"x=2"), 1);
  EXPECT_EQ(Query(u"Positions", u"DELETE_DATA"), 0);
  ASSERT_TRUE(PumpUntilUpdates(2));
  EXPECT_EQ(QueryCount(u"Positions"), 0);
  EXPECT_EQ(Targets().size(), 2u);
}

TEST_F(StatementsTest, RepliesOfRequestsMadeBeforeLogoutAddNothingLater) {
  // Held back until the next log-in has asked again with the same sequence numbers.
  web.SetFault("", sim::Fault::Stall, std::chrono::milliseconds(300));
  web.SetFault(std::string(sim::kProductListPath), sim::Fault::None);
  Call(u"QueryStatement", {VARIANT(int32_t{2})});
  Query(u"Positions", u"x=old");
  Call(u"Logout");
  test::Pump();
  events.Clear();
  ASSERT_EQ(Login(Ini(section)), 0);
  ASSERT_TRUE(PumpUntil([&] { return !events.Logs(0).empty() || events.Summary().size() >= 2; }));
  Query(u"Positions", u"x=new");
  ASSERT_TRUE(PumpUntilUpdates(1 + 3 + 2));  // the log-in's account list, three rights, two queries
  EXPECT_EQ(StatementCount(2), 0);
  ASSERT_EQ(QueryCount(u"Positions"), 1);
  EXPECT_EQ(QueryText(u"Positions", 0, 2), u"new");
}

}  // namespace
}  // namespace kdx
