// The HTTP client against loopback servers that misbehave byte by byte.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>

#include "platform/http_client.h"
#include "queries/HttpQuery.h"
#include "common/control_util.h"
#include "common/raw_server_util.h"

namespace kdx::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<InternetSession> Direct() {
  return InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0);
}

CString U(const std::string& text) { return CString::FromUtf8(text); }

struct ReadCase {
  const char* name;
  std::string response;
  bool holdOpen;
  bool opens;
  long status;
  bool complete;
  std::string body;  // what was gathered
  friend void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }
};

class ReadOutcome : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadOutcome, TellsCompleteFromCut) {
  const ReadCase& c = GetParam();
  TimeoutsFor timeouts(2000ms, 300ms);
  RawHttpServer server(c.response, c.holdOpen);
  auto session = Direct();
  auto file = InternetOpenUrlW(session.get(), U(server.Url("/x")), u"", INTERNET_FLAG_RELOAD);
  ASSERT_EQ(file != nullptr, c.opens);
  if (!file) return;
  EXPECT_EQ(file->StatusCode(), c.status);
  std::string body;
  EXPECT_EQ(ReadHttpBody(file.get(), body), c.complete);
  EXPECT_EQ(body, c.body);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, ReadOutcome,
    ::testing::Values(
        ReadCase{"WithLength", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, true, 200, true, "hello"},
        ReadCase{"ShorterThanLength", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", false, true, 200, false,
                 "hello"},
        ReadCase{"ChunkedCut", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", false, true, 200,
                 false, "hello"},
        ReadCase{"ChunkedWhole", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false,
                 true, 200, true, "hello"},
        ReadCase{"EndedByClose", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello", false, true, 200, true, "hello"},
        ReadCase{"EmptyBody", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, true, 200, true, ""},
        ReadCase{"ErrorPageIsABody", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", false, true, 404, true,
                 "gone"},
        ReadCase{"InterimResponseSkipped",
                 "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, true, 200, true,
                 "ok"},
        ReadCase{"StallAfterPartOfTheBody", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhel", true, true, 200, false,
                 "hel"},
        ReadCase{"ClosedWithoutAnswer", "", false, false, 0, false, ""},
        ReadCase{"NoAnswer", "", true, false, 0, false, ""},
        ReadCase{"StallInTheHeaders", "HTTP/1.1 200 OK\r\nContent-", true, false, 0, false, ""},
        ReadCase{"NotHttp", "hello there\r\n", false, false, 0, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClientRequests, SendTheAgentNoCacheHeadersAndTheUrlsCookie) {
  RawHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  const CString withCookie = U(server.Url("/c?x=1"));
  ASSERT_TRUE(InternetSetCookieW(withCookie, nullptr, u"SID=abc; path=/"));
  ASSERT_TRUE(InternetSetCookieW(withCookie, u"Two", u"2"));
  ASSERT_TRUE(InternetSetCookieW(withCookie, nullptr, u"SID=def"));  // replaces the first
  auto session = Direct();
  for (const CString& url : {withCookie, U(server.Url("/c?x=2"))}) {
    auto file = InternetOpenUrlW(session.get(), url, u"X-Extra: 1\r\n", INTERNET_FLAG_RELOAD);
    ASSERT_NE(file, nullptr);
  }
  auto plain = InternetOpenUrlW(session.get(), U(server.Url("/c?x=1 a\xE4\xB8\xAD")), u"", 0);
  ASSERT_NE(plain, nullptr);
  const auto heads = server.Requests();
  ASSERT_EQ(heads.size(), 3u);
  for (const auto& head : heads) EXPECT_NE(head.find("User-Agent: Microsoft Internet Explorer\r\n"), std::string::npos);
  EXPECT_TRUE(heads[0].starts_with("GET /c?x=1 HTTP/1.1\r\n")) << heads[0];
  EXPECT_NE(heads[0].find("Cache-Control: no-cache\r\n"), std::string::npos);
  EXPECT_NE(heads[0].find("Pragma: no-cache\r\n"), std::string::npos);
  EXPECT_NE(heads[0].find("X-Extra: 1\r\n"), std::string::npos);
  EXPECT_NE(heads[0].find("Cookie: SID=def; Two=2\r\n"), std::string::npos) << heads[0];
  EXPECT_EQ(heads[1].find("Cookie:"), std::string::npos);
  EXPECT_EQ(heads[2].find("no-cache"), std::string::npos);
  EXPECT_TRUE(heads[2].starts_with("GET /c?x=1%20a%E4%B8%AD HTTP/1.1\r\n")) << heads[2];
}

TEST(HttpClientRequests, ReadsComeInChunksOfTheAskedSize) {
  const std::string body(10000, 'b');
  RawHttpServer server("HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + body);
  auto session = Direct();
  auto file = InternetOpenUrlW(session.get(), U(server.Url("/big")), u"", 0);
  ASSERT_NE(file, nullptr);
  char chunk[kHttpChunkSize];
  std::string got;
  DWORD n = 0;
  while (InternetReadFile(file.get(), chunk, sizeof chunk, &n) && n > 0) {
    ASSERT_LE(n, kHttpChunkSize);
    got.append(chunk, n);
  }
  EXPECT_EQ(got, body);
  EXPECT_TRUE(InternetReadFile(file.get(), chunk, sizeof chunk, &n));  // complete stays complete
  EXPECT_EQ(n, 0u);
}

TEST(HttpClientRequests, RedirectsAreFollowed) {
  RawHttpServer target("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  RawHttpServer mover("HTTP/1.1 302 Found\r\nLocation: " + target.Url("/there") + "\r\nContent-Length: 0\r\n\r\n");
  auto session = Direct();
  auto file = InternetOpenUrlW(session.get(), U(mover.Url("/here")), u"", 0);
  ASSERT_NE(file, nullptr);
  std::string body;
  EXPECT_TRUE(ReadHttpBody(file.get(), body));
  EXPECT_EQ(body, "ok");
  EXPECT_EQ(target.Requests().size(), 1u);
}

// Both proxy modes, with the environment saying otherwise where it must not matter.
TEST(HttpClientRequests, NamedProxyIgnoresTheEnvironmentAndPreconfigFollowsIt) {
  RawHttpServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\npx");
  const std::string proxyUrl = "http://127.0.0.1:" + std::to_string(proxy.Port());
  const char* saved = std::getenv("no_proxy");
  const std::string savedNoProxy = saved ? saved : "";
  setenv("no_proxy", "*", 1);
  auto named = InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PROXY, U("http=" + proxyUrl), u"", 0);
  ASSERT_NE(named, nullptr);
  EXPECT_NE(InternetOpenUrlW(named.get(), u"http://broker.invalid/get_rights.jsp?a=1", u"", 0), nullptr);
  setenv("no_proxy", "", 1);
  setenv("http_proxy", proxyUrl.c_str(), 1);
  EXPECT_NE(InternetOpenUrlW(Direct().get(), u"http://broker.invalid/q", u"", 0), nullptr);
  unsetenv("http_proxy");
  setenv("no_proxy", savedNoProxy.c_str(), 1);
  const auto heads = proxy.Requests();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_TRUE(heads[0].starts_with("GET http://broker.invalid/get_rights.jsp?a=1 HTTP/1.1\r\n")) << heads[0];
  EXPECT_TRUE(heads[1].starts_with("GET http://broker.invalid/q HTTP/1.1\r\n")) << heads[1];
}

}  // namespace
}  // namespace kdx::test
