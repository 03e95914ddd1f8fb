// Remake the sample with:   build/host/kdx-host encode-sample > host/samples/reply.txt
// and the fuzz seeds with:  build/host/kdx-host encode-sample --fuzz-seeds fuzz/corpus
#include "sample_command.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <ostream>
#include <string_view>
#include <utility>

#include "platform/codepage.h"
#include "sim/SimWebServices.h"
#include "sim/record_encoder.h"

namespace kdx::host {
namespace {

struct SampleRow {
  std::vector<std::pair<int, int64_t>> numbers;
  std::vector<std::pair<int, std::u16string_view>> strings;
};

// Rights-statement rows: reply string fields 2 to 11 as the statement reads them, plus
// amounts as numbers of every size class and a few high field numbers.
const std::vector<SampleRow>& Rows() {
  static const std::vector<SampleRow> rows = {
      {{{0, 1}, {1, 1250000}, {2, -3500}, {3, 0}, {5, 63}, {6, 64}},
       {{2, u"TWD"}, {3, u"9A95-0012345"}, {4, u"王小明"}, {5, u"現金餘額"}, {6, u"1,250,000"},
        {11, u"2024/06/11"}}},
      {{{0, 2}, {1, 98765432100}, {2, -40282095615}, {4, 802816}},
       {{2, u"USD"}, {3, u"9A95-0012345"}, {4, u"王小明"}, {5, u"外幣保證金"}, {6, u"3,201.55"},
        {11, u"2024/06/11"}}},
      {{{0, 3}, {1, -1}, {100, 3583}},
       {{2, u"CNY"}, {3, u"9A95-0067890"}, {4, u"陳𠮷華"}, {5, u"人民幣帳戶 \"主\""}, {11, u"2024/06/11"},
        {40, u"備註:\t部分成交"}}},
      {{{0, 4}, {1, 0}, {7, -9223372036854775807}},
       {{2, u"TWD"}, {3, u"9A95-0067890"}, {4, u"林美玲"}, {5, u"期貨權益數"}, {11, u"2024/06/11"},
        {12, u"本帳戶之權益數係依前一營業日結算價計算,僅供參考;實際金額以本公司對帳單為準。"
             u"如有疑問請洽營業員或客服專線。本帳戶之權益數係依前一營業日結算價計算,僅供參考;"
             u"實際金額以本公司對帳單為準。"}}},
  };
  return rows;
}

std::string EncodeRow(const SampleRow& row) {
  FieldRecord record;
  for (const auto& [id, value] : row.numbers) record.SetNumber(id, value);
  for (const auto& [id, text] : row.strings) record.SetString(id, text);
  sim::EncodeOptions options;
  options.recordType = 1;
  return sim::EncodeRecord(record, options);
}

bool WriteFile(const std::filesystem::path& path, std::string_view data) {
  std::ofstream file(path, std::ios::binary);
  file.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(file);
}

int WriteFuzzSeeds(const std::filesystem::path& root, std::ostream& err) {
  std::error_code ec;
  std::filesystem::create_directories(root / "fuzz_decode", ec);
  std::filesystem::create_directories(root / "fuzz_record_text", ec);
  std::vector<std::string> records = {sim::FrameRecord(0, "")};
  for (const auto& row : Rows()) records.push_back(EncodeRow(row));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string& bytes = records[i];
    // fuzz_decode: start and length (little-endian 32-bit), then the bytes.
    const auto length = static_cast<uint32_t>(bytes.size());
    std::string decodeSeed(8, '\0');
    for (int k = 0; k < 4; ++k) decodeSeed[4 + k] = static_cast<char>(length >> (8 * k));
    // fuzz_record_text: mode 0 with capacity offset 2 (the exact fit), then UTF-16LE text.
    std::string textSeed = {'\0', '\2', '\0'};
    for (char16_t c : sim::EncodeRecordText(bytes)) {
      textSeed += static_cast<char>(c & 0xFF);
      textSeed += static_cast<char>(c >> 8);
    }
    const std::string name = "seed" + std::to_string(i);
    if (!WriteFile(root / "fuzz_decode" / name, decodeSeed + bytes) ||
        !WriteFile(root / "fuzz_record_text" / name, textSeed)) {
      err << "kdx-host encode-sample: cannot write seeds under '" << root.string() << "'\n";
      return 2;
    }
  }
  // Whole bodies: a statement reply (first byte picks the request kind) and a product list.
  std::filesystem::create_directories(root / "fuzz_reply_body", ec);
  std::filesystem::create_directories(root / "fuzz_product_list", ec);
  const auto products = sim::DefaultProducts();
  const bool written =
      WriteFile(root / "fuzz_reply_body" / "seed0", std::string(1, '\0') + SampleReply()) &&
      WriteFile(root / "fuzz_reply_body" / "seed1", std::string(1, '\2') + SampleReply()) &&
      WriteFile(root / "fuzz_product_list" / "seed0", sim::ProductListBody(products, 50, 300)) &&
      WriteFile(root / "fuzz_product_list" / "seed1", sim::ProductListBody(products, 3, 17));
  if (!written) {
    err << "kdx-host encode-sample: cannot write seeds under '" << root.string() << "'\n";
    return 2;
  }
  return 0;
}

}  // namespace

std::string SampleReply() {
  const auto& rows = Rows();
  std::string body;
  body += sim::ReplyLine('0', EncodeRow(rows[0])) + "\n";
  body += sim::ReplyLine('0', EncodeRow(rows[1])) + "\n";
  body += "<!-- get_rights.jsp branch_id=9A95 cust_id=0012345 -->\n";
  body += sim::ReplyLine('0', EncodeRow(rows[2])) + "\n";
  std::string damaged = EncodeRow(rows[2]);
  damaged[2] = static_cast<char>(damaged[2] ^ 1);  // one field bit flipped: the check fails
  body += sim::ReplyLine('0', damaged) + "\n";
  body += sim::ReplyLine('0', EncodeRow(rows[3])) + "\n";
  return body;
}

int EncodeSampleCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    out << SampleReply();
    return out ? 0 : 2;
  }
  if (args.size() == 2 && args[0] == "--fuzz-seeds") return WriteFuzzSeeds(args[1], err);
  err << "usage: kdx-host encode-sample [--fuzz-seeds DIR]\n";
  return 2;
}

int ServeWebCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) {
    err << "usage: kdx-host serve-web\n";
    return 2;
  }
  sim::SimWebServices web;
  if (web.Port() == 0) {
    err << "kdx-host: the simulated web services found no port on 127.0.0.1\n";
    return 1;
  }
  out << "serving " << web.Address() << std::endl;
  std::string ignored;
  while (std::getline(std::cin, ignored)) {
  }
  return 0;
}

}  // namespace kdx::host
