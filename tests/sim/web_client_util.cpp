#include "web_client_util.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace kdx::test {
namespace {

std::size_t Append(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

std::vector<std::string_view> Lines(std::string_view body) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < body.size();) {
    const std::size_t end = std::min(body.find_first_of("\r\n", start), body.size());
    if (end > start) lines.push_back(body.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

int DecodeText(std::string_view text, std::vector<unsigned char>& out) {
  return DecodeRecordText(out.data(), static_cast<int>(out.size()), text.data(), static_cast<int>(text.size()));
}

void ProcessBlock(const std::vector<unsigned char>& block, std::vector<sim::ObProduct>& products) {
  for (std::size_t at = 0; at + 2 <= block.size();) {
    const std::size_t length = static_cast<std::size_t>(block[at]) << 8 | block[at + 1];
    if (at + 2 + length > block.size()) return;
    FieldRecord record;
    if (record.Decode(block.data(), static_cast<int>(at + 2), static_cast<int>(length)) >= 0) {
      sim::ObProduct p{std::u16string(record.GetStringView(1)), std::u16string(record.GetStringView(2)),
                       std::u16string(record.GetStringView(12)), std::u16string(record.GetStringView(13))};
      if (!p.key.empty() && !p.productCode.empty() && !p.exchange.empty()) products.push_back(std::move(p));
    }
    at += 2 + length;
  }
}

}  // namespace

Fetched Fetch(const std::string& url, std::chrono::milliseconds timeout) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  Fetched result;
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &result.body);
  result.code = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &result.status);
  return result;
}

std::vector<ReplyRecord> ReadReply(std::string_view body, int capacity) {
  std::vector<ReplyRecord> records;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(capacity));
  for (std::string_view line : Lines(body)) {
    if (line.size() < 4 || line[0] != 'd' || line[2] != 'D' || line[3] != ' ') continue;
    if (line[1] != '0' && line[1] != '1') continue;  // other kinds are skipped
    const int n = DecodeText(line.substr(4), bytes);
    ReplyRecord reply{line[1], FieldRecord()};
    if (n > 0 && reply.record.Decode(bytes.data(), 0, n) >= 0) records.push_back(std::move(reply));
  }
  return records;
}

std::vector<sim::ObProduct> ReadProductList(std::string_view body) {
  std::vector<sim::ObProduct> products;
  std::vector<unsigned char> piece(4096), block;
  std::size_t declared = 0;
  bool open = false;
  for (std::string_view line : Lines(body)) {
    if (line.size() < 4 || line[0] != 'd' || line[3] != ' ') continue;
    if (line[2] == 'H') {
      if (open) ProcessBlock(block, products);
      const std::string size(line.substr(4, line.find(' ', 4) - 4));  // npos - 4 still means the rest
      const long n = std::strtol(size.c_str(), nullptr, 10);
      open = n > 0;
      declared = open ? static_cast<std::size_t>(n) : 0;
      block.clear();
    } else if (line[2] == 'D') {
      const int n = DecodeText(line.substr(4), piece);
      if (n >= 1 && open && block.size() + static_cast<std::size_t>(n) <= declared)
        block.insert(block.end(), piece.begin(), piece.begin() + n);
    } else if (line[2] == 'E' && open && !block.empty()) {
      ProcessBlock(block, products);
      open = false;
    }
  }
  return products;
}

::testing::AssertionResult SameFields(const FieldRecord& expected, const FieldRecord& actual) {
  const int strings = std::max(expected.GetStringCapacity(), actual.GetStringCapacity());
  for (int id = 0; id < strings; ++id) {
    if (expected.GetStringView(id) != actual.GetStringView(id))
      return ::testing::AssertionFailure() << "string field " << id << " differs";
  }
  const int numbers = std::max(expected.GetNumberCapacity(), actual.GetNumberCapacity());
  for (int id = 0; id < numbers; ++id) {
    if (expected.GetNumber(id) != actual.GetNumber(id))
      return ::testing::AssertionFailure() << "numeric field " << id << ": " << expected.GetNumber(id) << " vs "
                                           << actual.GetNumber(id);
  }
  return ::testing::AssertionSuccess();
}

}  // namespace kdx::test
