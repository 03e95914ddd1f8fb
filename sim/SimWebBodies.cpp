#include "sim/SimWebBodies.h"

#include <algorithm>

#include "platform/codepage.h"
#include "sim/record_encoder.h"

namespace kdx::sim {
namespace {

// The product-list reader decodes a piece into 4096 bytes, terminator included.
constexpr int kLargestPiece = 4095;
constexpr std::size_t kLargestEntry = 65535;

// Garbage that a lenient reader would turn into rows or products, so tests can see it.
const ObProduct kGarbageProduct{u"F|GARBAGE|XX|000000|0|0", u"垃圾", u"XX", u"XX0"};

std::u16string Wide(std::string_view utf8) { return MultiByteToWide(CP_UTF8, utf8); }

std::string EntryOf(const ObProduct& product) {
  FieldRecord record;
  record.SetString(1, product.key);
  record.SetString(2, product.displaySymbol);
  record.SetString(12, product.exchange);
  record.SetString(13, product.productCode);
  const std::string bytes = EncodeRecord(record);
  if (bytes.empty() || bytes.size() > kLargestEntry) return {};
  std::string entry;
  entry += static_cast<char>(bytes.size() >> 8);
  entry += static_cast<char>(bytes.size() & 0xFF);
  return entry + bytes;
}

std::string PieceLine(std::string_view bytes) { return ReplyLine('0', bytes); }

FieldRecord GarbageRecord() {
  FieldRecord record;
  record.SetNumber(0, 4);
  for (int id = 0; id < 12; ++id) record.SetString(id, u"GARBAGE");
  return record;
}

uint32_t Hash(std::string_view text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

std::u16string Amount(int64_t value) { return Wide(std::to_string(value)); }

}  // namespace

std::vector<std::string> ReplyLines(const std::vector<FieldRecord>& records) {
  std::vector<std::string> lines;
  lines.reserve(records.size());
  for (const FieldRecord& record : records) {
    const std::string bytes = EncodeRecord(record);
    if (!bytes.empty()) lines.push_back(ReplyLine('0', bytes));
  }
  return lines;
}

std::string ReplyBody(const std::vector<FieldRecord>& records) { return JoinLines(ReplyLines(records)); }

std::vector<std::string> ProductListLines(const std::vector<ObProduct>& products, int entriesPerBlock, int pieceBytes,
                                          bool garbage) {
  const std::size_t perBlock = static_cast<std::size_t>(std::max(entriesPerBlock, 1));
  const std::size_t piece = static_cast<std::size_t>(std::clamp(pieceBytes, 1, kLargestPiece));
  const std::string stray = EntryOf(kGarbageProduct);
  std::string oversized;  // longer than any block here: it ends the block it lands in
  while (oversized.size() <= static_cast<std::size_t>(kLargestPiece)) oversized += stray;

  std::vector<std::string> lines;
  if (garbage) {
    lines = {"<!-- obstkid -->", PieceLine(stray), "d0H 0", PieceLine(stray), "d0H -12", PieceLine(stray),
             "d0H 8", PieceLine(oversized), PieceLine(stray), "d0E "};
  }
  std::string block;
  std::size_t inBlock = 0;
  const auto flush = [&] {
    if (block.empty()) return;
    lines.push_back("d0H " + std::to_string(block.size()));
    if (garbage) lines.push_back("dx");
    for (std::size_t at = 0; at < block.size(); at += piece) lines.push_back(PieceLine(block.substr(at, piece)));
    if (garbage) lines.push_back(PieceLine(stray));  // past the declared size
    lines.push_back("d0E ");
    if (garbage) {
      lines.push_back(PieceLine(stray));  // no block open
      lines.push_back("d0X junk");
    }
    block.clear();
    inBlock = 0;
  };
  for (const ObProduct& product : products) {
    const std::string entry = EntryOf(product);
    if (entry.empty()) continue;
    block += entry;
    if (++inBlock == perBlock) flush();
  }
  flush();
  return lines;
}

std::string ProductListBody(const std::vector<ObProduct>& products, int entriesPerBlock, int pieceBytes) {
  return JoinLines(ProductListLines(products, entriesPerBlock, pieceBytes, false));
}

std::string ServerErrorLine() {
  FieldRecord record;
  record.SetNumber(0, 2);
  record.SetString(68, kServerErrorCode);
  record.SetString(69, kServerErrorText);
  return ReplyLine('1', EncodeRecord(record));
}

std::vector<std::string> ReplyGarbageLines() {
  const std::string bytes = EncodeRecord(GarbageRecord());
  const std::string text = ReplyLine('0', bytes).substr(4);

  std::string badCheck = bytes;
  badCheck.back() = badCheck.back() == '0' ? '1' : '0';  // another valid check character

  return {
      "<html><body>Service busy</body></html>",
      "d0D",
      "x0D " + text,
      "d0X " + text,
      "d2D " + text,
      "d0D ",
      ReplyLine('0', badCheck),
  };
}

std::vector<std::string> Interleave(const std::vector<std::string>& lines, const std::vector<std::string>& garbage) {
  std::vector<std::string> out;
  out.reserve(lines.size() + garbage.size());
  std::size_t g = 0;
  for (const std::string& line : lines) {
    if (g < garbage.size()) out.push_back(garbage[g++]);
    out.push_back(line);
  }
  out.insert(out.end(), garbage.begin() + static_cast<std::ptrdiff_t>(g), garbage.end());
  return out;
}

std::vector<std::string> WithErrorLine(std::vector<std::string> lines) {
  lines.insert(lines.begin() + (lines.empty() ? 0 : 1), ServerErrorLine());
  return lines;
}

std::vector<std::string> RepeatLines(const std::vector<std::string>& lines, std::size_t count) {
  if (lines.empty()) return {};
  std::vector<std::string> out;
  out.reserve(count + lines.size());
  while (out.size() < count) out.insert(out.end(), lines.begin(), lines.end());
  return out;
}

std::vector<std::string> SplitLines(std::string_view body) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < body.size()) {
    const std::size_t end = std::min(body.find_first_of("\r\n", start), body.size());
    if (end > start) lines.emplace_back(body.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string body;
  body.reserve(size);
  for (const std::string& line : lines) {
    if (!body.empty()) body += "\r\n";
    body += line;
  }
  return body;
}

std::string ParamValue(const ServedRequest& request, const std::string& name) {
  const auto it = request.params.find(name);
  return it == request.params.end() ? std::string() : it->second;
}

std::vector<FieldRecord> DefaultRightsRows(const ServedRequest& request) {
  static const char16_t* const kNames[] = {u"王小明", u"陳美玲", u"林志豪", u"張雅婷", u"李建宏"};
  struct Market {
    const char16_t* name;
    int64_t base, step;
  };
  static const Market kMarkets[] = {{u"證券", 500000, 10000}, {u"期貨", 200000, 5000}};

  const uint32_t h = Hash(ParamValue(request, "cust_id") + "|" + ParamValue(request, "broker_id"));
  std::vector<FieldRecord> rows;
  for (const Market& market : kMarkets) {
    const int64_t balance = market.base + static_cast<int64_t>(h % 97) * market.step;
    const int64_t deposits = (h & 1) ? -20000 : 0;
    const int64_t realised = static_cast<int64_t>(h % 53) * 1200;
    const int64_t unrealised = -static_cast<int64_t>(h % 31) * 800;
    const int64_t fees = 85 + static_cast<int64_t>(h % 17) * 20;
    const int64_t equity = balance + deposits + realised + unrealised - fees;

    FieldRecord row;
    row.SetString(2, u"TWD");
    row.SetString(3, kNames[h % std::size(kNames)]);
    row.SetString(4, Amount(balance));
    row.SetString(5, Amount(deposits));
    row.SetString(6, Amount(realised));
    row.SetString(7, Amount(unrealised));
    row.SetString(8, Amount(fees));
    row.SetString(9, Amount(equity));
    row.SetString(10, Amount(equity - equity / 4));
    row.SetString(11, market.name);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<FieldRecord> DefaultPerformanceRows(const ServedRequest& request) {
  struct Fill {
    const char16_t *exchange, *product, *month, *side, *quantity, *price;
  };
  static const Fill kFills[] = {
      {u"TAIFEX", u"TXF", u"202406", u"1", u"2", u"20150"},
      {u"TAIFEX", u"MXF", u"202406", u"-1", u"1", u"20168"},
      {u"CME", u"NQ", u"202409", u"1", u"1", u"18750.25"},
  };
  const std::u16string account = Wide(ParamValue(request, "broker_id"));
  std::vector<FieldRecord> rows;
  for (const Fill& fill : kFills) {
    FieldRecord row;
    row.SetNumber(0, 4);
    row.SetString(0, account);
    row.SetString(1, fill.exchange);
    row.SetString(2, fill.product);
    row.SetString(3, fill.month);
    row.SetString(4, fill.side);
    row.SetString(5, fill.quantity);
    row.SetString(6, fill.price);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<ObProduct> DefaultProducts() {
  struct Product {
    const char16_t *exchange, *product, *brokerExchange, *name;
  };
  static const Product kProducts[] = {
      {u"CME", u"ES", u"CME", u"小S&P"},   {u"CME", u"NQ", u"CME", u"小那斯達克"}, {u"CBOT", u"YM", u"CBT", u"小道瓊"},
      {u"NYMEX", u"CL", u"NYM", u"輕原油"}, {u"COMEX", u"GC", u"CMX", u"黃金"},    {u"HKFE", u"HSI", u"HKF", u"恆生指數"},
      {u"SGX", u"TW", u"SGX", u"摩台指"},   {u"EUREX", u"FDAX", u"EUX", u"德國DAX"},
  };
  struct Month {
    const char16_t *month, *code, *shortName;
  };
  static const Month kMonths[] = {{u"202406", u"M4", u"2406"}, {u"202409", u"U4", u"2409"}};

  std::vector<ObProduct> products;
  for (const Product& p : kProducts) {
    for (const Month& m : kMonths) {
      products.push_back({u"F|" + std::u16string(p.exchange) + u"|" + p.product + u"|" + m.month + u"|0|0",
                          std::u16string(p.name) + u" " + m.shortName, p.brokerExchange,
                          std::u16string(p.product) + m.code});
    }
  }
  return products;
}

}  // namespace kdx::sim
