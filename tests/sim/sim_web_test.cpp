// The simulated web services' garbage lines: a test of skipping them proves something only if
// some would pass a careless reader.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/control_util.h"
#include "queries/HttpQuery.h"
#include "sim/SimWebServices.h"
#include "sim/record_encoder.h"

namespace kdx::sim {
namespace {

TEST(SimWebServices, GarbageLinesHideRecordsOnlyFromACarelessReader) {
  SimWebServices server;
  server.SetQuery("/q", [](const ServedRequest&) { return std::vector(2, test::MakeRecord({{0, "帳號"}})); });
  server.SetFault("/q", Fault::GarbageLines);
  long length = 0;
  const auto fetched = FetchUrlSync(CString::FromUtf8(server.Url("/q")), u"", u"", length);
  ASSERT_TRUE(fetched);
  // Lines whose text after the first four characters decodes to a record: the rows, and those
  // a careless reader (one that looks only at the text) would take for rows.
  int rows = 0, hidden = 0;
  std::vector<unsigned char> bytes(1 << 16);
  ForEachReplyLine(std::string_view(fetched.get(), static_cast<std::size_t>(length)), [&](std::string_view line) {
    const int n = line.size() > 4 ? DecodeRecordText(bytes.data(), 1 << 16, line.data() + 4, int(line.size() - 4)) : 0;
    if (FieldRecord r; n > 0 && r.Decode(bytes.data(), 0, n) >= 0)
      ++(line.starts_with("d0D ") ? rows : hidden);
    return true;
  });
  EXPECT_EQ(rows, 2);
  EXPECT_GT(hidden, 0);
}

}  // namespace
}  // namespace kdx::sim
