// The HTTP client's choices that need no server: proxy lists, sessions, cookies.
#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kdx {
namespace {

TEST(HttpClient, ProxyListsAsWinInetReadsThem) {
  const std::tuple<const char16_t*, const char*, std::optional<std::string>> cases[] = {
      {u"http=http://10.0.0.1:8080", "http", "http://10.0.0.1:8080"},
      {u"http=http://proxy.local", "http", "http://proxy.local:80"},  // port 80, not libcurl's 1080
      {u"http=http://10.0.0.1:8080", "https", ""},                    // no entry for https: direct
      {u"HTTP=proxy:3128", "http", "http://proxy:3128"}, {u"generic:81", "https", "http://generic:81"},
      {u"generic:81 https=sec:82", "https", "http://sec:82"}, {u"https=sec:82;  http=p:83", "http", "http://p:83"},
      {u"http=[::1]:9000", "http", "http://[::1]:9000"}, {u"http=http://ho st:80", "http", "http://ho:80"},
      {u"http=http://:8080", "http", {}}, {u"http=http://h:0", "http", {}}, {u"http=http://h:-5", "http", {}},
      {u"http=http://h:65536", "http", {}}, {u"http=http://bad!host", "http", {}}, {u"http=http://[::1", "http", {}},
      {u"", "http", ""},
  };
  for (const auto& [list, scheme, proxy] : cases)
    EXPECT_EQ(ProxyForScheme(list, scheme), proxy) << CString(list).ToUtf8() << " for " << scheme;
}

TEST(HttpClient, SessionsNeedAUsableProxyListOnlyForNamedProxiesAndOpenOnlyHttpUrls) {
  const std::tuple<DWORD, const char16_t*, bool> cases[] = {
      {INTERNET_OPEN_TYPE_PRECONFIG, u"", true},      {INTERNET_OPEN_TYPE_DIRECT, u"", true},
      {INTERNET_OPEN_TYPE_PROXY, u"http=http://p:1", true}, {INTERNET_OPEN_TYPE_PROXY, u"", false},
      {INTERNET_OPEN_TYPE_PROXY, u" ; ", false},      {INTERNET_OPEN_TYPE_PROXY, u"http=http://:1", false},
      {7, u"", false},
  };
  for (const auto& [access, list, opens] : cases)
    EXPECT_EQ(InternetOpenW(u"agent", access, list, u"", 0) != nullptr, opens) << CString(list).ToUtf8() << access;
  EXPECT_EQ(InternetOpenW(u"agent", INTERNET_OPEN_TYPE_PROXY, u"http=http://p:1", u"<local>", 0), nullptr);
  auto session = InternetOpenW(u"agent", INTERNET_OPEN_TYPE_DIRECT, u"", u"", 0);
  for (const char16_t* url : {u"file:///etc/passwd", u"ftp://127.0.0.1/x", u"not a url", u""})
    EXPECT_EQ(InternetOpenUrlW(session.get(), url, u"", 0), nullptr) << CString(url).ToUtf8();  // only http(s)
  EXPECT_EQ(InternetOpenUrlW(nullptr, u"http://127.0.0.1/", u"", 0), nullptr);
}

TEST(HttpClient, CookiesNeedAnHttpUrlAndAPrintablePair) {
  const char16_t* url = u"http://host/p";
  const std::tuple<const char16_t*, const char16_t*, const char16_t*, BOOL> cases[] = {
      {url, nullptr, u"a=1", TRUE}, {url, u"n", u"v", TRUE}, {url, u"", u"b=2", TRUE}, {url, nullptr, u"=1", FALSE},
      {u"https://host/p", nullptr, u"a=1; path=/; expires=Sat, 01-Jan-2000 00:00:00 GMT", TRUE},
      {u"http://host/p?q=中", nullptr, u"a=1", TRUE}, {u"ftp://host/p", nullptr, u"a=1", FALSE},
      {u"host/p", nullptr, u"a=1", FALSE}, {u"http://", nullptr, u"a=1", FALSE}, {url, nullptr, u"  ; path=/", FALSE},
      {url, nullptr, u"a=1\r\nX-Injected: 1", FALSE}, {url, nullptr, u"a=1\x7F", FALSE}, {url, nullptr, u"", FALSE},
  };
  for (const auto& [where, name, data, accepted] : cases)
    EXPECT_EQ(InternetSetCookieW(where, name, data), accepted) << CString(where).ToUtf8() << CString(data).ToUtf8();
}

}  // namespace
}  // namespace kdx
