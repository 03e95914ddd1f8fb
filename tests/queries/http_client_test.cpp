// The HTTP client's choices that need no server: proxy lists, sessions, cookies.
#include "platform/http_client.h"

#include <gtest/gtest.h>

namespace kdx {
namespace {

struct ProxyCase {
  const char16_t* list;
  const char* scheme;
  std::optional<std::string> proxy;
};

TEST(HttpClient, ProxyListsAsWinInetReadsThem) {
  const ProxyCase cases[] = {
      {u"http=http://10.0.0.1:8080", "http", "http://10.0.0.1:8080"},
      {u"http=http://proxy.local", "http", "http://proxy.local:80"},  // port 80, not libcurl's 1080
      {u"http=http://10.0.0.1:8080", "https", ""},                    // no entry for https: direct
      {u"HTTP=proxy:3128", "http", "http://proxy:3128"},
      {u"generic:81", "https", "http://generic:81"},
      {u"generic:81 https=sec:82", "https", "http://sec:82"},
      {u"https=sec:82;  http=plain:83", "http", "http://plain:83"},
      {u"http=[::1]:9000", "http", "http://[::1]:9000"},
      {u"http=http://:8080", "http", std::nullopt},
      {u"http=http://host:0", "http", std::nullopt},
      {u"http=http://host:-5", "http", std::nullopt},
      {u"http=http://host:65536", "http", std::nullopt},
      {u"http=http://ho st:80", "http", "http://ho:80"},  // blanks separate entries
      {u"http=http://bad!host", "http", std::nullopt},
      {u"http=http://[::1", "http", std::nullopt},
      {u"", "http", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.list).ToUtf8() + " for " + c.scheme);
    EXPECT_EQ(ProxyForScheme(c.list, c.scheme), c.proxy);
  }
}

TEST(HttpClient, SessionsNeedAUsableProxyListOnlyForNamedProxies) {
  const struct {
    DWORD access;
    const char16_t* list;
    bool opens;
  } cases[] = {
      {INTERNET_OPEN_TYPE_PRECONFIG, u"", true},
      {INTERNET_OPEN_TYPE_DIRECT, u"", true},
      {INTERNET_OPEN_TYPE_PROXY, u"http=http://p:1", true},
      {INTERNET_OPEN_TYPE_PROXY, u"", false},
      {INTERNET_OPEN_TYPE_PROXY, u" ; ", false},
      {INTERNET_OPEN_TYPE_PROXY, u"http=http://:1", false},
      {7, u"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.list).ToUtf8() + " access " + std::to_string(c.access));
    EXPECT_EQ(InternetOpenW(u"agent", c.access, c.list, u"", 0) != nullptr, c.opens);
  }
}

TEST(HttpClient, CookiesNeedAnHttpUrlAndAPrintablePair) {
  const struct {
    const char16_t* url;
    const char16_t* name;
    const char16_t* data;
    BOOL accepted;
  } cases[] = {
      {u"http://host/p", nullptr, u"a=1", TRUE},
      {u"https://host/p", nullptr, u"a=1; path=/; expires=Sat, 01-Jan-2000 00:00:00 GMT", TRUE},
      {u"http://host/p", u"n", u"v", TRUE},
      {u"http://host/p", u"", u"b=2", TRUE},
      {u"ftp://host/p", nullptr, u"a=1", FALSE},
      {u"host/p", nullptr, u"a=1", FALSE},
      {u"http://", nullptr, u"a=1", FALSE},
      {u"http://host/p", nullptr, u"", FALSE},
      {u"http://host/p", nullptr, u"  ; path=/", FALSE},
      {u"http://host/p", nullptr, u"=1", FALSE},
      {u"http://host/p", nullptr, u"a=1\r\nX-Injected: 1", FALSE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.url).ToUtf8() + " " + CString(c.data).ToUtf8());
    EXPECT_EQ(InternetSetCookieW(c.url, c.name, c.data), c.accepted);
  }
}

TEST(HttpClient, UrlsOtherThanHttpDoNotOpen) {
  auto session = InternetOpenW(u"agent", INTERNET_OPEN_TYPE_DIRECT, u"", u"", 0);
  ASSERT_NE(session, nullptr);
  for (const char16_t* url : {u"file:///etc/passwd", u"ftp://127.0.0.1/x", u"not a url", u""})
    EXPECT_EQ(InternetOpenUrlW(session.get(), url, u"", 0), nullptr) << CString(url).ToUtf8();
  EXPECT_EQ(InternetOpenUrlW(nullptr, u"http://127.0.0.1/", u"", 0), nullptr);
}

}  // namespace
}  // namespace kdx
