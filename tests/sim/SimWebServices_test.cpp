#include "sim/SimWebServices.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>

#include "platform/codepage.h"
#include "web_client_util.h"

namespace kdx::sim {
namespace {

using namespace std::chrono_literals;
using test::Fetch;
using test::ReadProductList;
using test::ReadReply;
using test::SameFields;
using Params = std::multimap<std::string, std::string>;

std::u16string Wide(std::string_view utf8) { return MultiByteToWide(CP_UTF8, utf8); }

// Rows echoing the request, so a parameter lost or mis-decoded on the way shows.
std::vector<FieldRecord> EchoRows(const ServedRequest& request) {
  std::vector<FieldRecord> rows(2);
  int id = 2;
  for (const auto& [name, value] : request.params) rows[0].SetString(id++, Wide(name + "=" + value));
  rows[0].SetString(11, u"期貨");
  rows[1].SetNumber(0, 4);
  rows[1].SetNumber(7, -123456789012);
  rows[1].SetString(40, Wide(request.path));
  return rows;
}

std::vector<FieldRecord> ThreeRows(const ServedRequest&) {
  std::vector<FieldRecord> rows(3);
  for (int i = 0; i < 3; ++i) {
    rows[i].SetNumber(0, 4);
    rows[i].SetString(0, u"帳號" + Wide(std::to_string(i)));
    rows[i].SetString(4, i % 2 ? u"-1" : u"1");
  }
  return rows;
}

struct ServiceCase {
  const char* name;
  std::string target;
  Params params;
  std::function<void(SimWebServices&)> setUp;
  RowSource expected;
};

TEST(SimWebServicesTest, ServicesAnswerTheirRowsAsReplyLines) {
  const Params account{{"branch_id", "9A00"}, {"cust_id", "0123456"}, {"group_id", "G1"}, {"broker_id", "F001"}};
  const std::string query = "?branch_id=9A00&cust_id=0123456&group_id=G1&broker_id=F001";
  const ServiceCase cases[] = {
      {"default rights", "/get_rights.jsp" + query, account, nullptr, DefaultRightsRows},
      {"default performance", "/get_perf.jsp" + query, account, nullptr, DefaultPerformanceRows},
      {"rights rows", "/get_rights.jsp" + query, account, [](SimWebServices& s) { s.SetRights(EchoRows); }, EchoRows},
      {"performance rows", "/get_perf.jsp" + query, account, [](SimWebServices& s) { s.SetPerformance(EchoRows); },
       EchoRows},
      {"named query, escaped values", "/q/pos.jsp?id=A%2B1&name=%E5%8F%B0%E5%8C%97&id=2", {{"id", "A+1"}, {"id", "2"}, {"name", "台北"}},
       [](SimWebServices& s) { s.SetQuery("q/pos.jsp", EchoRows); }, EchoRows},
  };
  for (const ServiceCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimWebServices server;
    if (c.setUp) c.setUp(server);
    const test::Fetched got = Fetch(server.Url(c.target));
    ASSERT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(got.status, 200);
    const ServedRequest logged = server.Requests().at(0);
    EXPECT_EQ(logged.target, c.target);
    EXPECT_EQ(logged.params, c.params);
    const auto expected = c.expected({logged.path, c.params, c.target});
    const auto records = ReadReply(got.body);
    ASSERT_EQ(records.size(), expected.size());
    ASSERT_FALSE(expected.empty());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].kind, '0');
      EXPECT_TRUE(SameFields(expected[i], records[i].record)) << "row " << i;
    }
  }
}

TEST(SimWebServicesTest, ProductListBlocksDecodeBackToTheProducts) {
  struct Case {
    int count, perBlock, pieceBytes, maxPiece;
  };
  const Case cases[] = {{0, 50, 300, 300}, {1, 50, 300, 300}, {120, 50, 300, 300}, {17, 1, 1, 1},
                        {40, 7, 4095, 4095}, {9, 0, 9000, 4095}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " products, " << c.perBlock << " per block, pieces " << c.pieceBytes);
    std::vector<ObProduct> products;
    for (int i = 0; i < c.count; ++i) {
      const std::u16string n = Wide(std::to_string(i));
      products.push_back({u"F|CME|NQ" + n + u"|202406|0|0", i % 5 ? u"小那指" + n : u"", u"CME", u"NQM" + n});
    }
    const std::string body = ProductListBody(products, c.perBlock, c.pieceBytes);
    EXPECT_EQ(ReadProductList(body), products);
    int blocks = 0;
    for (std::size_t at = 0; (at = body.find("d0H ", at)) != std::string::npos; ++at) ++blocks;
    const int perBlock = std::max(c.perBlock, 1);
    EXPECT_EQ(blocks, (c.count + perBlock - 1) / perBlock);
    std::vector<unsigned char> piece(8192);
    for (std::size_t at = 0; (at = body.find("d0D ", at)) != std::string::npos; at += 4) {
      const std::size_t end = std::min(body.find('\r', at), body.size());
      const int n = DecodeRecordText(piece.data(), 8192, body.data() + at + 4, static_cast<int>(end - at - 4));
      EXPECT_GE(n, 1);
      EXPECT_LE(n, c.maxPiece);
    }
  }
}

TEST(SimWebServicesTest, ProductListIsServedWithItsArgument) {
  std::vector<ObProduct> custom = {{u"F|SGX|TW|202406|0|0", u"摩台 2406", u"SGX", u"TWM4"},
                                   {u"F|HKFE|HSI|202406|0|0", u"", u"HKF", u"HSIM4"},
                                   {u"F|CME|ES|202406|0|0", u"no exchange", u"", u"ESM4"}};
  const std::vector<ObProduct> kept(custom.begin(), custom.begin() + 2);
  struct Case {
    bool setProducts;
    Fault fault;
  };
  for (const Case c : {Case{false, Fault::None}, Case{false, Fault::GarbageLines}, Case{true, Fault::None},
                       Case{true, Fault::GarbageLines}}) {
    SCOPED_TRACE(testing::Message() << c.setProducts << " " << static_cast<int>(c.fault));
    SimWebServices server;
    if (c.setProducts) server.SetProducts(custom, 1, 5);
    server.SetFault("/ob-bin/obstkid.cgi", c.fault);
    const auto got = Fetch(server.Url("/ob-bin/obstkid.cgi?ARG=*,KDX"));
    ASSERT_EQ(got.code, CURLE_OK);
    EXPECT_EQ(ReadProductList(got.body), c.setProducts ? kept : DefaultProducts());
    EXPECT_EQ(ParamValue(server.Requests().at(0), "ARG"), "*,KDX");
    EXPECT_EQ(got.body.find("d0H 0") != std::string::npos, c.fault == Fault::GarbageLines);
  }
}

struct FaultCase {
  const char* name;
  Fault fault;
  std::chrono::milliseconds delay, clientTimeout;
  CURLcode code;
  long status;
  // Checks the body against the rows and the body the service answers without faults.
  std::function<void(const std::string&, const std::vector<FieldRecord>&, const std::string&)> check;
  friend void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }
};

void ExpectRows(const std::vector<test::ReplyRecord>& records, const std::vector<FieldRecord>& rows) {
  ASSERT_EQ(records.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(records[i].kind, '0');
    EXPECT_TRUE(SameFields(rows[i], records[i].record)) << "row " << i;
  }
}

TEST(SimWebServicesTest, FaultsAsAClientSeesThem) {
  const auto plain = [](const std::string& body, const auto& rows, const auto&) { ExpectRows(ReadReply(body), rows); };
  const auto empty = [](const std::string& body, const auto&, const auto&) { EXPECT_EQ(body, ""); };
  const FaultCase cases[] = {
      {"none", Fault::None, 0ms, 30s, CURLE_OK, 200, plain},
      {"stall", Fault::Stall, 50ms, 30s, CURLE_OK, 200, plain},
      {"empty body", Fault::EmptyBody, 0ms, 30s, CURLE_OK, 200, empty},
      {"not found", Fault::NotFound, 0ms, 30s, CURLE_OK, 404, nullptr},
      {"no answer, client gives up", Fault::NoAnswer, 0ms, 300ms, CURLE_OPERATION_TIMEDOUT, 0, empty},
      {"no answer for a while", Fault::NoAnswer, 50ms, 30s, CURLE_GOT_NOTHING, 0, empty},
      {"cut mid-body", Fault::CutMidBody, 0ms, 30s, CURLE_PARTIAL_FILE, 200,
       [](const std::string& body, const auto&, const std::string& full) {
         EXPECT_LT(body.size(), full.size());
         EXPECT_GT(body.size(), 0u);
         EXPECT_EQ(full.compare(0, body.size(), body), 0);
       }},
      {"kind-1 line", Fault::KindOneLine, 0ms, 30s, CURLE_OK, 200,
       [](const std::string& body, const auto& rows, const auto&) {
         auto records = ReadReply(body);
         ASSERT_EQ(records.size(), rows.size() + 1);
         const FieldRecord& error = records[1].record;
         EXPECT_EQ(records[1].kind, '1');
         EXPECT_EQ(error.GetNumber(0), 2);
         EXPECT_EQ(error.GetStringView(68), kServerErrorCode);
         EXPECT_EQ(error.GetStringView(69), u"查詢失敗");
         records.erase(records.begin() + 1);
         ExpectRows(records, rows);
       }},
      {"garbage lines", Fault::GarbageLines, 0ms, 30s, CURLE_OK, 200,
       [](const std::string& body, const auto& rows, const std::string& full) {
         ExpectRows(ReadReply(body), rows);
         EXPECT_GT(ReadReply(body, 1 << 16).size(), rows.size()) << "no line too long for 8192 bytes";
         EXPECT_GE(body.size(), full.size() + 8192);
       }},
      {"huge", Fault::Huge, 0ms, 60s, CURLE_OK, 200,
       [](const std::string& body, const auto& rows, const auto&) {
         const auto records = ReadReply(body);
         ASSERT_GE(records.size(), kHugeLines);
         for (std::size_t i = 0; i < records.size(); i += 997) EXPECT_TRUE(SameFields(rows[i % 3], records[i].record));
       }},
  };
  const std::vector<FieldRecord> rows = ThreeRows({});
  const std::string full = ReplyBody(rows);
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimWebServices server;  // a request still held must not keep its destruction waiting
    server.SetPerformance(ThreeRows);
    server.SetFault("/get_perf.jsp", c.fault, c.delay);
    const auto got = Fetch(server.Url("/get_perf.jsp?broker_id=F1"), c.clientTimeout);
    EXPECT_EQ(got.code, c.code) << curl_easy_strerror(got.code);
    EXPECT_EQ(got.status, c.status);
    if (c.check) c.check(got.body, rows, full);
  }
}

TEST(SimWebServicesTest, FaultOfEveryPathAndExemptions) {
  SimWebServices server;
  struct Step {
    std::string faultPath;
    Fault fault;
    long rights, performance, unknown;
  };
  const Step steps[] = {
      {"", Fault::None, 200, 200, 404},
      {"", Fault::NotFound, 404, 404, 404},
      {"/get_perf.jsp", Fault::None, 404, 200, 404},
      {"get_rights.jsp", Fault::EmptyBody, 200, 200, 404},
      {"", Fault::None, 200, 200, 404},
  };
  for (const Step& step : steps) {
    server.SetFault(step.faultPath, step.fault);
    EXPECT_EQ(Fetch(server.Url("/get_rights.jsp")).status, step.rights);
    EXPECT_EQ(Fetch(server.Url("/get_perf.jsp")).status, step.performance);
    EXPECT_EQ(Fetch(server.Url("/nothing/here.jsp")).status, step.unknown);
  }
  EXPECT_EQ(server.RequestCount(), std::size(steps) * 3);
}

TEST(SimWebServicesTest, RequestLogKeepsTargetsInArrivalOrder) {
  SimWebServices server;
  server.SetRawBody("/raw.txt", "exact\r\nbytes\xB0");
  const std::string targets[] = {"/get_rights.jsp?branch_id=1&cust_id=2", "/raw.txt", "/missing?x=1",
                                 "/ob-bin/obstkid.cgi?ARG=*,KDX", "/get_perf.jsp?a=1&a=2"};
  for (const std::string& target : targets) Fetch(server.Url(target));
  EXPECT_EQ(Fetch(server.Url("/raw.txt")).body, "exact\r\nbytes\xB0");
  const auto log = server.Requests();
  ASSERT_EQ(log.size(), std::size(targets) + 1);
  for (std::size_t i = 0; i < std::size(targets); ++i) EXPECT_EQ(log[i].target, targets[i]);
  EXPECT_EQ(log[2].path, "/missing");
  EXPECT_EQ(log[4].params.count("a"), 2u);
  EXPECT_TRUE(server.WaitForRequests(log.size(), 0ms));
  EXPECT_FALSE(server.WaitForRequests(log.size() + 1, 10ms));
  EXPECT_EQ(server.Address(), "127.0.0.1:" + std::to_string(server.Port()));
}

}  // namespace
}  // namespace kdx::sim
