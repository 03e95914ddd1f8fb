// Replies handed to the control as a worker hands them: status records, routing and events,
// and the rows the statement and query tables receive.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "common/control_util.h"
#include "platform/system.h"
#include "queries/HttpQuery.h"
#include "sim/record_encoder.h"

namespace kdx::test {
namespace {

const std::string kData1 = Line('0', MakeRecord({{1, "a"}}, {{0, 4}}));
const std::string kData2 = Line('0', MakeRecord({{1, "b"}}, {{0, 4}}));
const std::string kError = Line('1', MakeRecord({{68, "9999"}, {69, "查詢失敗"}}));
// A data line far longer than any fixed buffer would hold.
const std::string kLong = Line('0', MakeRecord({{1, std::string(3000, 'a')}, {2, std::string(3000, 'b')}, {3, std::string(3000, 'c')}}));
const std::string kIncomplete = "Log(0,Query資料不完整,URL=http://host/x)";

// A data line whose check character is off by one bit.
std::string BadCheck(const FieldRecord& record) {
  std::string bytes = sim::EncodeRecord(record);
  bytes.back() = static_cast<char>(bytes.back() ^ 1);
  return sim::ReplyLine('0', bytes);
}

// A row's string fields 0..n-1 joined by '|', "-" for an absent one.
std::string Fields(const FieldRecord& row, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += (i ? "|" : "") + (row.GetString(i) ? Utf8(CString(row.GetStringView(i))) : "-");
  return out;
}

// Under limits of 1000 bytes and 2 rows: past either, the rows so far stay and the reply ends
// as cut; a partial last line of a cut body is not a row.
TEST(ReplyOutcome, FiresTheStatusEventsInOrder) {
  const struct {
    long infoType;
    const char16_t* requestName;
    std::optional<std::string> body;
    Strings events;
    std::size_t rows;        // query rows stored (info type 100) or performance rows (6)
    bool truncated = false;  // the worker cut the body at the byte limit
  } cases[] = {
      {2, u"G_A", std::nullopt, {"Log(0,伺服器沒有回應,URL=http://host/x)", "StatementUpdate(2)"}, 0},
      {100, u"Q", Body({kData1, kData2}), {"QueryUpdate(Q)"}, 2},
      {100, u"Q", Body({kData1, kError, kData2}), {"Log(0,查詢失敗)", "QueryUpdate(Q)"}, 1},  // an error ends it
      {6, u"", Body({kError, kData1}), {"Log(0,查詢失敗)", "StatementUpdate(4)"}, 0},
      {2, u"", Body({Line('1', MakeRecord({{68, "9"}}))}), {"Log(0,)", "StatementUpdate(2)"}, 0},
      {2, u"", std::string("hello\r\nworld\r\nd0D\r\nd0X abc"), {kIncomplete, "StatementUpdate(2)"}, 0},
      // Other kinds and bad checks are skipped.
      {100, u"Q",
       Body({Line('2', MakeRecord({{1, "x"}})), BadCheck(MakeRecord({{1, "a"}})), "d0D ", "d0D_" + kData1.substr(4)}),
       {kIncomplete, "QueryUpdate(Q)"}, 0},
      {100, u"Q", Body({kLong}), {"QueryUpdate(Q)"}, 1},
      {100, u"Q", Body({"junk", kData1, BadCheck(MakeRecord({{1, "b"}})), "", kData2}), {"QueryUpdate(Q)"}, 2},
      {100, u"Q", "\n\r" + kData1 + "\r\r\n\n" + kData2 + "\r", {"QueryUpdate(Q)"}, 2},
      {100, u"Q", Body({kData1, kData2, kData1, kError}),
       {"Log(0,Reply cut at the limit of 2 rows,URL=http://host/x)", "QueryUpdate(Q)"}, 2},
      {100, u"Q", kData1 + "\r\n" + kData2.substr(0, kData2.size() - 3),
       {"Log(0,Reply cut at the limit of 1000 bytes,URL=http://host/x)", "QueryUpdate(Q)"}, 1, true},
      {6, u"", Body({kData1}), {"StatementUpdate(4)"}, 1},
      {100, u"Q,C1,x", Body({kData1}), {"QueryUpdate(Q)"}, 1},  // the name ends at the first comma
      {100, u",C1", Body({kData1}), {"QueryUpdate(,C1)"}, 1}};
  const ReplyLimits saved = GetReplyLimits();
  SetReplyLimits({1000, 2});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.value_or("(none)").substr(0, 40));
    ControlHarness h;
    h.Reply(c.infoType, 0, c.body ? &*c.body : nullptr, c.requestName, u"http://host/x", c.truncated);
    EXPECT_EQ(h.events.Summary(), c.events);
    std::size_t rows = h.ctrl->m_arrStatementRows[4].size();
    for (const auto& [key, table] : h.ctrl->m_mapQueryTables) rows += table.size();
    EXPECT_EQ(rows, c.rows);
  }
  SetReplyLimits(saved);
}

// A host that destroys the control in a failure's Log line gets no more events.
TEST(ReplyRouting, AHostMayDestroyTheControlInAFailureLine) {
  ControlHarness h;
  h.ctrl->FindConnectionPoint()->Advise(OnEvent(kdxevent::Log, [&](auto) { h.ctrl.reset(); }));
  const std::string body = "nothing";
  h.Reply(2, 0, &body);
  EXPECT_EQ(h.events.Summary(), Strings{kIncomplete});
}

// Rights rows (info type 2) and performance rows (6; records of kind 4 only) take their tables'
// fields, for the current request only; an older one still ends in an update.
TEST(ReplyRouting, StatementRowsTakeTheirTableFieldsForTheCurrentRequestOnly) {
  ControlHarness h;
  h.ctrl->m_strBroker = u"BRK";
  h.ctrl->m_nStatementSeq[2] = 3;
  h.ctrl->m_nStatementSeq[4] = 5;
  const auto full = MakeRecord({{2, "f2"}, {3, "f3"}, {4, "f4"}, {5, "f5"}, {6, "f6"}, {7, "f7"}, {8, "f8"}, {9, "f9"},
                                {10, "f10"}, {11, "f11"}, {12, "f12"}});
  const std::string rights = Body({Line('0', full), Line('0', MakeRecord({{11, "only"}}))});
  auto perf = [](const char* side, int64_t kind) {
    return Line('0', MakeRecord({{0, "acct"}, {1, "EX"}, {2, "PROD"}, {3, "202406"}, {4, side}, {5, "f5"}, {6, "f6"}},
                                {{0, kind}}));
  };
  const std::string perfs = Body({perf("1", 4), perf("-1", 4), perf("2", 4), perf("1", 3), perf("1", kAbsent)});
  SetLocalTimeOverride(SYSTEMTIME{2024, 3, 0, 7, 9, 5, 1, 0});
  for (const auto& [type, sequence, body] : {std::tuple(2, 3, &rights), std::tuple(2, 2, &rights),
                                             std::tuple(6, 5, &perfs), std::tuple(6, 4, &perfs)})
    h.Reply(type, sequence, body, u"G1_A1");
  SetLocalTimeOverride(std::nullopt);
  EXPECT_EQ(h.events.Updates(), (Strings{"StatementUpdate(2)", "StatementUpdate(2)", "StatementUpdate(4)", "StatementUpdate(4)"}));
  const auto &rightsRows = h.ctrl->m_arrStatementRows[2], &perfRows = h.ctrl->m_arrStatementRows[4];
  ASSERT_EQ(std::tuple(rightsRows.size(), perfRows.size()), std::tuple(2u, 3u));
  EXPECT_EQ(Fields(*rightsRows[0], 20), "f11|BRK|G1_A1|f2|f3||f4|f5|||f6|f7|f8||f9||||f10|-");
  EXPECT_EQ(Fields(*rightsRows[1], 4), "only|BRK|G1_A1|");
  EXPECT_EQ(Fields(*perfRows[0], 13), "BRK|acct|PROD|PROD|202406|B|f6|f5|EX|RMB|2024/03/07 09:05:01|ORV.G_EX.PROD.202406|-");
  EXPECT_EQ(Utf8(CString(perfRows[1]->GetStringView(5))) + Utf8(CString(perfRows[2]->GetStringView(5))), "S2");
}

TEST(ReplyRouting, QueryRowsCopyEveryFieldTagTheRowAndCheckTheSequencePerKey) {
  ControlHarness h;
  h.ctrl->m_mapQuerySeq[u"Q"] = 2;
  const std::string body = Body({Line('0', MakeRecord({{0, "zero"}, {150, "far"}}, {{0, 7}, {300, -9}}))});
  h.Reply(100, 2, &body, u"Q,C1");
  h.Reply(100, 2, &body, u"Q");
  h.Reply(100, 2, &body, u"Q,");
  h.Reply(100, 1, &body, u"Q,OLD");  // an older request of the key
  h.Reply(100, 0, &body, u"R");      // a key never requested has sequence 0
  h.Reply(100, 1, &body, u"S");      // ... so a reply with 1 is not current
  EXPECT_EQ(h.events.Updates().size(), 6u);
  const auto& rows = h.ctrl->m_mapQueryTables[u"Q"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(!h.ctrl->m_mapQueryTables.contains(u"S") && h.ctrl->m_mapQueryTables[u"R"].size() == 1);
  auto text = [&](int id) { return Utf8(CString(rows[0]->GetStringView(id))); };
  EXPECT_EQ(text(100) + "|" + text(0) + "|" + text(150), "C1|zero|far");
  EXPECT_TRUE(rows[1]->GetString(100) == nullptr && rows[2]->GetString(100) == nullptr);
  EXPECT_EQ(std::tuple(rows[0]->GetNumber(0), rows[0]->GetNumber(300), rows[0]->GetNumber(1)),
            (std::tuple<int64_t, int64_t, int64_t>(7, -9, kAbsent)));
}

}  // namespace
}  // namespace kdx::test
