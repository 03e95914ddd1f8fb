// The parts of the HTTP client that do not depend on the library behind it.
#include "platform/http_common.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/codepage.h"

namespace kdx {
namespace {

using std::chrono::milliseconds;

std::atomic<int64_t> g_connectMs{HttpTimeouts{}.connect.count()};
std::atomic<int64_t> g_stallMs{HttpTimeouts{}.stall.count()};
std::atomic<int64_t> g_totalMs{HttpTimeouts{}.total.count()};

// 1 ms to about 24 days: what the libraries' waits take, and no overflow in time arithmetic.
int64_t TimeoutMs(milliseconds value) { return std::clamp<int64_t>(value.count(), 1, INT32_MAX); }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '.' || c == '-' || c == '_';
}

bool IsV6Char(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.'; }

struct HostPort {
  std::string_view host;
  std::optional<std::string_view> port;  // nullopt when none is given
};

// "host[:port]" or "[IPv6][:port]"; nullopt when the host is empty or holds a character no
// host name has.
std::optional<HostPort> SplitHostPort(std::string_view authority) {
  HostPort out{authority, std::nullopt};
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos || close < 2 ||
        !std::all_of(authority.begin() + 1, authority.begin() + close, IsV6Char))
      return std::nullopt;
    out.host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      out.port = rest.substr(1);
    }
    return out;
  }
  if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
    out.host = authority.substr(0, colon);
    out.port = authority.substr(colon + 1);
  }
  if (out.host.empty() || !std::all_of(out.host.begin(), out.host.end(), IsHostChar)) return std::nullopt;
  return out;
}

// A port of up to five digits, at most 65535; -1 otherwise.
int PortNumber(std::string_view port) {
  if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit)) return -1;
  const int number = std::stoi(std::string(port));
  return number <= 65535 ? number : -1;
}

// "[scheme=][scheme://]host[:port]" into "http://host:port"; nullopt when malformed.
std::optional<std::string> ProxyEntryTarget(std::string_view entry) {
  if (auto sep = entry.find("://"); sep != std::string_view::npos) entry.remove_prefix(sep + 3);
  const auto split = SplitHostPort(entry);
  if (!split) return std::nullopt;
  const int port = split->port ? PortNumber(*split->port) : 80;
  if (port < 1) return std::nullopt;
  return "http://" + std::string(split->host) + ":" + std::to_string(port);
}

void AppendEscaped(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

}  // namespace

void SetHttpTimeouts(const HttpTimeouts& timeouts) {
  SetHttpTimeouts(timeouts.connect, timeouts.stall);
  g_totalMs = TimeoutMs(timeouts.total);
}

void SetHttpTimeouts(milliseconds connect, milliseconds stall) {
  g_connectMs = TimeoutMs(connect);
  g_stallMs = TimeoutMs(stall);
}

HttpTimeouts GetHttpTimeouts() {
  return {milliseconds(g_connectMs.load()), milliseconds(g_stallMs.load()), milliseconds(g_totalMs.load())};
}

std::optional<std::string> ProxyForScheme(std::u16string_view proxyList, std::string_view scheme) {
  std::optional<std::string> generic, specific;
  std::size_t i = 0;
  while (i < proxyList.size()) {
    while (i < proxyList.size() && (IsBlank(proxyList[i]) || proxyList[i] == u';')) ++i;
    std::size_t end = i;
    while (end < proxyList.size() && !IsBlank(proxyList[end]) && proxyList[end] != u';') ++end;
    if (end == i) break;
    const std::string entry = Utf16ToUtf8(proxyList.substr(i, end - i));
    i = end;
    std::string_view target = entry;
    std::string entryScheme;
    if (auto eq = target.find('='); eq != std::string_view::npos) {
      entryScheme = Lower(target.substr(0, eq));
      target.remove_prefix(eq + 1);
    }
    auto proxy = ProxyEntryTarget(target);
    if (!proxy) return std::nullopt;
    if (entryScheme.empty()) {
      if (!generic) generic = std::move(proxy);
    } else if (entryScheme == scheme && !specific) {
      specific = std::move(proxy);
    }
  }
  if (specific) return specific;
  if (generic) return generic;
  return std::string();
}

std::optional<std::string> http::EscapeUrl(std::u16string_view url) {
  std::string out;
  for (std::size_t i = 0; i < url.size();) {
    const char16_t c = url[i];
    if (c < 0x80) {
      if (c <= 0x20 || c == 0x7F || c == u'#')
        AppendEscaped(out, static_cast<unsigned char>(c));
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < url.size() && url[end] >= 0x80) ++end;
    const auto bytes = TryWideToMultiByte(CP_ACP, url.substr(i, end - i));
    if (!bytes) return std::nullopt;
    for (unsigned char b : *bytes) AppendEscaped(out, b);
    i = end;
  }
  return out;
}

std::string http::HttpScheme(std::string_view url) {
  const auto sep = url.find("://");
  if (sep == std::string_view::npos) return {};
  std::string scheme = Lower(url.substr(0, sep));
  if (scheme != "http" && scheme != "https") return {};
  std::string_view authority = url.substr(sep + 3);
  authority = authority.substr(0, authority.find_first_of("/?"));  // '#' arrives escaped
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
  const auto split = SplitHostPort(authority);
  if (!split || (split->port && !split->port->empty() && PortNumber(*split->port) < 0)) return {};
  return scheme;
}

std::optional<http::Cookie> http::MakeCookie(const char16_t* cookieName, std::u16string_view cookieData) {
  std::string pair = Utf16ToUtf8(cookieData);
  std::string name;
  if (cookieName && *cookieName) {
    name = Utf16ToUtf8(cookieName);
    pair = name + "=" + pair.substr(0, pair.find(';'));
  } else {
    pair = pair.substr(0, pair.find(';'));
  }
  const auto notBlank = [](char c) { return c != ' ' && c != '\t'; };
  pair.erase(pair.begin(), std::find_if(pair.begin(), pair.end(), notBlank));
  pair.erase(std::find_if(pair.rbegin(), pair.rend(), notBlank).base(), pair.end());
  if (pair.empty() || pair.front() == '=' ||
      std::any_of(pair.begin(), pair.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return std::nullopt;
  if (name.empty()) name = pair.substr(0, pair.find('='));
  return Cookie{std::move(name), std::move(pair)};
}

InternetSession::InternetSession(std::string agent, DWORD accessType, std::u16string proxyList)
    : agent_(std::move(agent)), accessType_(accessType), proxyList_(std::move(proxyList)) {}

std::unique_ptr<InternetSession> http::MakeSession(TextView agent, DWORD accessType, TextView proxyList,
                                                   TextView proxyBypass) {
  if (!proxyBypass.view().empty()) return nullptr;
  if (accessType == INTERNET_OPEN_TYPE_PROXY) {
    // The list must name a proxy for some scheme; which one applies is decided per URL.
    std::u16string_view list = proxyList;
    if (list.find_first_not_of(u" \t\r\n;") == std::u16string_view::npos || !ProxyForScheme(list, "http"))
      return nullptr;
  } else if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT) {
    return nullptr;
  }
  return std::make_unique<InternetSession>(Utf16ToUtf8(agent.view()), accessType, std::u16string(proxyList.view()));
}

}  // namespace kdx
