// What the HTTP backends share: the time-out store, proxy lists (http_client.h), and the URL
// and cookie checks both make before handing anything to their library.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_client.h"

namespace kdx::http {

// The URL as it goes out: each run of non-ASCII characters in the ANSI code page, every byte
// of it percent-encoded (a '?' standing for an unmappable character must not start a query);
// blanks, control characters, DEL and '#' percent-encoded; the rest as given. nullopt when
// the code page has no converter.
std::optional<std::string> EscapeUrl(std::u16string_view url);

// "http" or "https" for such a URL with a host (and a valid port, if any); empty otherwise.
std::string HttpScheme(std::string_view url);

// The cookie InternetSetCookieW stores, checked: "name=value" with attributes after ';' and
// outer blanks dropped; nullopt when empty, nameless, or holding a control character or DEL.
struct Cookie {
  std::string name, pair;
};
std::optional<Cookie> MakeCookie(const char16_t* cookieName, std::u16string_view cookieData);

// InternetOpenW's checks and its session, once the backend's library has started: null for a
// bypass list, an unknown access type, or INTERNET_OPEN_TYPE_PROXY with an empty or malformed
// list.
std::unique_ptr<InternetSession> MakeSession(TextView agent, DWORD accessType, TextView proxyList,
                                             TextView proxyBypass);

}  // namespace kdx::http
