// The simulated web services' garbage lines, which the control's tests count on a reader to
// skip: a test of skipping them proves something only if some would pass a careless reader.
#include "sim/SimWebServices.h"

#include <gtest/gtest.h>

#include "common/control_util.h"
#include "platform/http_client.h"
#include "queries/HttpQuery.h"
#include "sim/record_encoder.h"

namespace kdx::sim {
namespace {

// The body of a GET, through the control's HTTP client.
std::string Get(const std::string& url) {
  auto session = InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_DIRECT, u"", u"", 0);
  auto file = InternetOpenUrlW(session.get(), CString::FromUtf8(url), u"", 0);
  std::string body;
  EXPECT_TRUE(file && ReadHttpBody(file.get(), body)) << url;
  return body;
}

// The record of each line the reader takes as a kind-'0' row (a careless one: any line with text
// after its first four characters), re-encoded, so that equal fields give equal texts.
std::vector<std::string> Records(std::string_view body, bool careless = false) {
  std::vector<std::string> records;
  std::vector<unsigned char> bytes(1 << 16);
  ForEachReplyLine(body, [&](std::string_view line) {
    const bool row = careless ? line.size() > 4 : line.starts_with("d0D ");
    const int n = row ? DecodeRecordText(bytes.data(), 1 << 16, line.data() + 4, static_cast<int>(line.size() - 4)) : 0;
    if (FieldRecord record; n > 0 && record.Decode(bytes.data(), 0, n) >= 0) records.push_back(EncodeRecord(record));
    return true;
  });
  return records;
}

TEST(SimWebServices, GarbageLinesHideRecordsOnlyFromACarelessReader) {
  SimWebServices server;
  const std::vector<FieldRecord> rows = {test::MakeRecord({{0, "帳號0"}}), test::MakeRecord({{0, "帳號1"}, {1, "x"}})};
  const std::vector<std::string> expected = {EncodeRecord(rows[0]), EncodeRecord(rows[1])};
  server.SetQuery("/q", [rows](const ServedRequest&) { return rows; });
  server.SetFault("/q", Fault::GarbageLines);
  const std::string body = Get(server.Url("/q"));
  EXPECT_EQ(Records(body), expected);
  EXPECT_GT(Records(body, true).size(), expected.size());
}

}  // namespace
}  // namespace kdx::sim
