// The conversions both reports share, on the texts the component sends.
#include "reports/ReportText.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/system.h"

namespace kdx {
namespace {

TEST(ReportText, NoteTags) {
  const CString note = u"[!@0]A%$&B[!@1]C";
  struct Case {
    const char16_t* note;
    long field;
    const char16_t* expected;
  } cases[] = {
      {note.GetString(), 14, u"A,B"}, {note.GetString(), 40, u"C"}, {note.GetString(), 41, u""},
      {u"plain%$&text", 14, u"plain%$&text"}, {u"plain", 48, u"plain"},  // no tag: the whole note
      {u"x[!@6]ORV.CME.ES.202403[!@7]y", 45, u"ORV.CME.ES.202403"}, {u"[!@9]last", 48, u"last"},
      {u"[!@1]", 40, u""}, {u"[!@2]a[!@", 41, u"a"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtractNoteTag(c.note, c.field), c.expected) << CString(c.note).ToUtf8() << c.field;
}

TEST(ReportText, UniformSymbols) {
  SetLocalTimeOverride(SYSTEMTIME{2026, 12, 1, 7, 9, 30, 0, 0});
  struct Case {
    const char16_t* text;
    long type;
    const char16_t* expected;
  } cases[] = {
      {u"2330", 1, u"ORV.TWS.2330"},
      {u"TXF202401", 2, u"ORV.TWF.TXF.202401"},
      {u"MXF20240", 2, u"ORV.TWF.MX.F20240"},  // 8 characters: all but the last six
      {u"TX2024", 2, u"TX2024"},               // too short and no fourth token
      {u"F|CME|ES|202403", 2, u"ORV.CME.ES.202403"},
      {u"F||CME|ES|202403|0", 2, u"ORV.CME.ES.202403"},  // empty tokens skipped
      {u"F|CME|ES", 2, u"F|CME|ES"},
      {u"ORV.TWS.2330", 1, u"ORV.TWS.2330"}, {u"ORV", 2, u"ORV"}, {u"2330", 7, u"2330"},
      {u"TXO18000L7", 3, u"ORV.TWF.TXO.202712.C.18000"},
      {u"TXO18000M6", 3, u"ORV.TWF.TXO.202601.P.18000"},
      {u"TXO18000X5", 3, u"ORV.TWF.TXO.203512.P.18000"},  // 2025 is past: next decade
      {u"TEO01250A6", 3, u"ORV.TWF.TEO.202601.C.125"},    // leading zeros go, and the last digit
      {u"TFO00950B7", 3, u"ORV.TWF.TFO.202702.C.950"},
      {u"TXO18000Y6", 3, u"TXO18000Y6"}, {u"TXO18000a6", 3, u"TXO18000a6"}, {u"TXO1800L6", 3, u"TXO1800L6"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToUniformSymbol(c.text, c.type), c.expected) << CString(c.text).ToUtf8();
  SetLocalTimeOverride(std::nullopt);
}

TEST(ReportText, TimesDatesStrikesAndNumbers) {
  const std::pair<CString, const char16_t*> cases[] = {
      {FormatTime(u"093015"), u"09:30:15"}, {FormatTime(u"93015"), u"9:30:15"}, {FormatTime(u"abc"), u":a:bc"},
      {FormatTime(u""), u"::"},             {FormatDate(u"20240105"), u"2024/01/05"}, {FormatDate(u"2024"), u"2024//"},
      {StrikeText(15500), u"15.5"},         {StrikeText(16000), u"16"}, {StrikeText(125), u"0.125"},
      {StrikeText(0), u"0"},                {StrikeText(-2500), u"-2.5"},
  };
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
  EXPECT_EQ(ParseDecimal(u"  -12ab"), -12);
  EXPECT_EQ(ParseDecimal(u"E01"), 0);
  EXPECT_EQ(ParseDecimal(u"99999999999"), 2147483647);
  EXPECT_EQ(ParseDecimal(u"-99999999999"), -2147483647 - 1);
  // Component numbers: truncated toward zero, saturated short of the absent marker, NaN dropped.
  EXPECT_EQ(TruncateToInt64(-2.9), -2);
  EXPECT_EQ(TruncateToInt64(1e300), INT64_MAX);
  EXPECT_EQ(TruncateToInt64(-1e300), INT64_MIN + 1);
  EXPECT_EQ(TruncateToInt64(std::nan("")), std::nullopt);
}

TEST(ReportText, OrderStates) {
  using S = OrderState;
  struct Case {
    const char16_t* error;
    long long status, remaining, filled;
    S state;
    const char16_t* english;
  } cases[] = {
      {u"E", 60, 0, 0, S::Cancelled, u"Cancelled"},  // letters read 0: no error
      {u"0", 60, 5, 0, S::Accepted, u"Order OK"},
      {u"12", 60, 5, 0, S::Failed, u"Order Failed"},
      {u"-3x", 10, 0, 0, S::Failed, u"Order Failed"},
      {u"", 9, 5, 0, S::None, u""},
      {u"", 10, 5, 0, S::ServerReceived, u"ITS Server Received"}, {u"", 19, 5, 0, S::ServerReceived, u"ITS Server Received"},
      {u"", 20, 5, 0, S::Preorder, u"Preorder"}, {u"", 29, 5, 0, S::Preorder, u"Preorder"},
      {u"", 30, 5, 0, S::SentToGateway, u"Send to Gateway"}, {u"", 39, 5, 0, S::SentToGateway, u"Send to Gateway"},
      {u"", 40, 5, 0, S::BackOfficeReceived, u"BO Received"}, {u"", 49, 5, 0, S::BackOfficeReceived, u"BO Received"},
      {u"", 50, 5, -1, S::PartiallyFilled, u"Partial Matched"},
      {u"", 50, 0, 1, S::FullyFilled, u"Full Matched"},
      {u"", 99, -1, 0, S::Cancelled, u"Cancelled"},
  };
  for (const Case& c : cases) {
    const S state = GetOrderState(c.error, c.status, c.remaining, c.filled);
    EXPECT_EQ(state, c.state) << c.status;
    EXPECT_EQ(OrderStatusText(state, StatusWords::English), c.english);
  }
  EXPECT_EQ(OrderStatusText(S::SentToGateway, StatusWords::Literal), u"送至後台Gateway");
  EXPECT_EQ(OrderStatusText(S::Accepted, StatusWords::Resource), u"委託成功");
  EXPECT_EQ(OrderStatusText(S::None, StatusWords::Resource), u"");
}

}  // namespace
}  // namespace kdx
