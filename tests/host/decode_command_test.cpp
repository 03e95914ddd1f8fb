#include "host/decode_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "host/sample_command.h"
#include "record/field_record.h"
#include "sim/record_encoder.h"

namespace kdx::host {
namespace {

const char* const kSample = KDX_SOURCE_DIR "/host/samples/reply.txt";

TEST(DecodeCommand, SampleReplyDecodesAsGenerated) {
  std::stringstream content;
  content << std::ifstream(kSample, std::ios::binary).rdbuf();
  const std::string sample = content.str();
  ASSERT_EQ(sample, SampleReply()) << "remake with: kdx-host encode-sample > host/samples/reply.txt";
  std::istringstream in(sample);
  std::ostringstream out, err;
  const DecodeSummary s = DecodeReply(in, out, err);
  EXPECT_EQ(std::tuple(s.records, s.bad, s.other, s.malformed), std::tuple(4, 1, 1, 0));
  EXPECT_EQ(err.str(), "line 5: check character does not match\n");
  // Numbers, escaped texts, characters outside the BMP, high field ids.
  for (const char* part : {"line 1 kind 0 type 1: n0=1 n1=1250000 n2=-3500 n3=0 n5=63 n6=64 s2=\"TWD\" "
                           "s3=\"9A95-0012345\" s4=\"王小明\" s5=\"現金餘額\" s6=\"1,250,000\" s11=\"2024/06/11\"\n",
                           "line 4 kind 0 type 1: n0=3 n1=-1 n100=3583 ", "s4=\"陳𠮷華\" s5=\"人民幣帳戶 \\\"主\\\"\"",
                           "s40=\"備註:\\t部分成交\"", "line 6 kind 0 type 1: n0=4 n1=0 n7=-9223372036854775807 "})
    EXPECT_NE(out.str().find(part), std::string::npos) << part << "\nin:\n" << out.str();
  EXPECT_EQ(out.str().find("line 5"), std::string::npos);
}

std::string Line(char kind, const FieldRecord& record) { return sim::ReplyLine(kind, sim::EncodeRecord(record)); }

TEST(DecodeCommand, FramingAndBadLines) {
  FieldRecord a;
  a.SetNumber(0, 7);
  a.SetString(1, std::u16string{u'x', 0x01, u'\n', 0x9B});
  FieldRecord b;
  b.SetNumber(0, 8);
  const std::string tooLong = "d0D " + std::string(8192 / 7 * 8 + 16, 'A');
  struct Row { const char* name; std::string body; std::string out, err; };
  const Row rows[] = {
      {"cr_separated_runs", Line('0', a) + "\r\r\n\r" + Line('2', b) + "\r\n",
       "line 1 kind 0 type 0: n0=7 s1=\"x\\u0001\\n\\u009b\"\nline 2 kind 2 type 0: n0=8\n", ""},
      {"kind_1_ends_the_reply", "d0D \n" + Line('1', b) + "\n" + Line('0', a) + "\n",
       "line 2 kind 1 type 0: n0=8\nline 2: end of reply (kind 1); the control ignores the lines after it\n",
       "line 1: record text is empty\n"},
      {"not_record_lines", "d0Dx" + Line('0', b).substr(4) + "\nD0d \nd0D\n", "", ""},
      {"too_long_and_too_short", tooLong + "\nd0D A!\n", "",
       "line 1: record text too long for the line buffer\nline 2: record too short\n"},
      {"invalid_utf8_is_a_bad_check", "d0D \xFF\xFE\xFD\n", "", "line 1: check character does not match\n"},
  };
  for (const auto& row : rows) {
    std::istringstream in(row.body);
    std::ostringstream out, err;
    DecodeReply(in, out, err);
    EXPECT_EQ(out.str(), row.out) << row.name;
    EXPECT_EQ(err.str(), row.err) << row.name;
  }
}

TEST(DecodeCommand, ExitCodes) {
  std::ostringstream out, err;
  EXPECT_EQ(DecodeCommand({kSample}, out, err), 0);
  EXPECT_EQ(DecodeCommand({"--strict", kSample}, out, err), 1);  // the sample has a bad line
  for (auto args : {std::vector<std::string>{KDX_SOURCE_DIR "/no/such/file"}, {"--bogus"}, {kSample, kSample}})
    EXPECT_EQ(DecodeCommand(args, out, err), 2);
}

}  // namespace
}  // namespace kdx::host
