// The simulated web services' garbage lines, which the control's tests count on a reader to
// skip: a test of skipping them proves something only if some would pass a careless reader.
#include "sim/SimWebServices.h"

#include <gtest/gtest.h>

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

// The record of each kind-'0' line whose RecordText decodes into `capacity` bytes,
// re-encoded, so that equal fields give equal texts.
std::vector<std::string> Records(std::string_view body, int capacity = 8192) {
  std::vector<std::string> records;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(capacity));
  ForEachReplyLine(body, [&](std::string_view line) {
    const int n = line.starts_with("d0D ") ? DecodeRecordText(bytes.data(), capacity, line.data() + 4,
                                                              static_cast<int>(line.size() - 4))
                                           : 0;
    FieldRecord record;
    if (n > 0 && record.Decode(bytes.data(), 0, n) >= 0) records.push_back(EncodeRecord(record));
    return true;
  });
  return records;
}

TEST(SimWebServices, GarbageLinesHideRecordsOnlyTooLongForTheReader) {
  SimWebServices server;
  std::vector<FieldRecord> rows(3);
  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    rows[i].SetString(0, u"帳號" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    expected.push_back(EncodeRecord(rows[i]));
  }
  server.SetQuery("/q", [rows](const ServedRequest&) { return rows; });
  server.SetFault("/q", Fault::GarbageLines);
  const std::string body = Get(server.Url("/q"));
  EXPECT_EQ(Records(body), expected);
  EXPECT_GT(Records(body, 1 << 16).size(), expected.size());
}

}  // namespace
}  // namespace kdx::sim
