// HTTP GET on WinINet itself. What WinINet does not bound or check is added here: the overall
// deadline (between reads), the body cut before its Content-Length, and the URL, proxy and
// cookie checks the libcurl backend makes, so both backends accept the same requests.
#include "platform/win32/win32.h"

#include <wininet.h>

#include <algorithm>
#include <cstdint>

namespace {

// WinINet's values, kept before its macros give way to the header's constants of the same names.
constexpr DWORD kPreconfig = INTERNET_OPEN_TYPE_PRECONFIG;
constexpr DWORD kDirect = INTERNET_OPEN_TYPE_DIRECT;
constexpr DWORD kProxy = INTERNET_OPEN_TYPE_PROXY;
constexpr DWORD kPassedFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;

}  // namespace

#undef INTERNET_OPEN_TYPE_PRECONFIG
#undef INTERNET_OPEN_TYPE_DIRECT
#undef INTERNET_OPEN_TYPE_PROXY
#undef INTERNET_FLAG_RELOAD
#undef INTERNET_FLAG_NO_CACHE_WRITE
#undef INTERNET_FLAG_IGNORE_CERT_DATE_INVALID

#include "platform/codepage.h"
#include "platform/http_client.h"
#include "platform/http_common.h"

namespace kdx {

static_assert(kPreconfig == INTERNET_OPEN_TYPE_PRECONFIG && kDirect == INTERNET_OPEN_TYPE_DIRECT &&
              kProxy == INTERNET_OPEN_TYPE_PROXY);
static_assert(kPassedFlags ==
              (INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID));

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct HandleCloser {
  void operator()(HINTERNET handle) const { ::InternetCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

void SetTimeout(HINTERNET handle, DWORD option, milliseconds value) {
  ::DWORD ms = static_cast<::DWORD>(std::clamp<int64_t>(value.count(), 1, INT32_MAX));
  ::InternetSetOptionW(handle, option, &ms, sizeof ms);
}

// A response header as text; empty when absent.
std::u16string QueryHeader(HINTERNET request, ::DWORD info) {
  std::u16string text(64, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    ::DWORD size = static_cast<::DWORD>(text.size() * sizeof(char16_t));
    if (::HttpQueryInfoW(request, info, text.data(), &size, nullptr)) {
      text.resize(size / sizeof(char16_t));
      return text;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 65536) break;
    text.resize(size / sizeof(char16_t) + 1);
  }
  return {};
}

// Content-Length when given as a plain number.
std::optional<uint64_t> ContentLength(HINTERNET request) {
  const std::u16string text = QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH);
  if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](char16_t c) {
        return c >= u'0' && c <= u'9';
      }))
    return std::nullopt;
  uint64_t n = 0;
  for (char16_t c : text) n = n * 10 + (c - u'0');
  return n;
}

}  // namespace

// The WinINet session itself is opened per URL, with the proxy for that URL's scheme; here
// only the choices are checked, and that WinINet starts at all.
std::unique_ptr<InternetSession> InternetOpenW(TextView agent, DWORD accessType, TextView proxyList,
                                               TextView proxyBypass, DWORD) {
  if (!Handle(::InternetOpenW(L"", kDirect, nullptr, nullptr, 0))) return nullptr;
  return http::MakeSession(agent, accessType, proxyList, proxyBypass);
}

struct InternetFile::Transfer {
  Handle session, request;
  std::optional<uint64_t> expected;  // Content-Length
  uint64_t received = 0;
  Clock::time_point deadline;
  milliseconds stall{};
  bool failed = false, ended = false;
};

InternetFile::InternetFile(std::unique_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}
InternetFile::~InternetFile() = default;

long InternetFile::StatusCode() const {
  ::DWORD status = 0, size = sizeof status;
  if (!::HttpQueryInfoW(transfer_->request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
    return 0;
  return static_cast<long>(status);
}

std::unique_ptr<InternetFile> InternetOpenUrlW(const InternetSession* session, TextView url, TextView headers,
                                               DWORD flags) {
  if (!session) return nullptr;
  const std::optional<std::string> escaped = http::EscapeUrl(url.view());
  if (!escaped) return nullptr;
  const std::string scheme = http::HttpScheme(*escaped);
  if (scheme.empty()) return nullptr;

  // A named list becomes the one proxy for this scheme, as the libcurl backend reads it.
  ::DWORD access = session->AccessType() == INTERNET_OPEN_TYPE_DIRECT ? kDirect : kPreconfig;
  std::u16string proxy;
  if (session->AccessType() == INTERNET_OPEN_TYPE_PROXY) {
    const auto target = ProxyForScheme(session->ProxyList(), scheme);
    access = target && !target->empty() ? kProxy : kDirect;
    if (access == kProxy) proxy = MultiByteToWide(CP_UTF8, std::string_view(*target).substr(7));  // after "http://"
  }
  auto t = std::make_unique<InternetFile::Transfer>();
  const std::u16string agent = MultiByteToWide(CP_UTF8, session->Agent());
  t->session.reset(::InternetOpenW(Wide(agent), access, access == kProxy ? Wide(proxy) : nullptr,
                                   access == kProxy ? L"" : nullptr, 0));
  if (!t->session) return nullptr;
  const HttpTimeouts timeouts = GetHttpTimeouts();
  t->stall = timeouts.stall;
  t->deadline = Clock::now() + timeouts.total;
  // Opening waits for the response head: bounded by the connect time-out and, per wait for
  // bytes, by the stall time-out or the deadline, whichever comes first.
  SetTimeout(t->session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connect);
  SetTimeout(t->session.get(), INTERNET_OPTION_SEND_TIMEOUT, std::min(timeouts.stall, timeouts.total));
  SetTimeout(t->session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, std::min(timeouts.stall, timeouts.total));

  const std::u16string wideUrl = MultiByteToWide(CP_UTF8, *escaped);
  const std::u16string extra(headers.view());
  t->request.reset(::InternetOpenUrlW(t->session.get(), Wide(wideUrl), extra.empty() ? nullptr : Wide(extra),
                                      extra.empty() ? 0 : static_cast<::DWORD>(-1),
                                      (flags & kPassedFlags) | INTERNET_FLAG_NO_UI, 0));
  if (!t->request) return nullptr;
  t->expected = ContentLength(t->request.get());
  return std::unique_ptr<InternetFile>(new InternetFile(std::move(t)));
}

BOOL InternetReadFile(InternetFile* file, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (!file || !bytesRead || (!buffer && bytesToRead > 0)) return FALSE;
  InternetFile::Transfer& t = *file->transfer_;
  if (t.failed) return FALSE;
  if (t.ended || bytesToRead == 0) return TRUE;
  const auto left = std::chrono::ceil<milliseconds>(t.deadline - Clock::now());
  if (left.count() <= 0) {
    t.failed = true;
    return FALSE;
  }
  // Wait for what has arrived, and read only that: a full-size read would wait for the
  // whole buffer however long the server trickles it.
  SetTimeout(t.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, std::min(t.stall, left));
  ::DWORD available = 0, n = 0;
  if (!::InternetQueryDataAvailable(t.request.get(), &available, 0, 0) ||
      (available > 0 && !::InternetReadFile(t.request.get(), buffer, std::min<::DWORD>(available, bytesToRead), &n)) ||
      Clock::now() > t.deadline) {
    t.failed = true;
    return FALSE;
  }
  if (n == 0) {
    // WinINet ends a body cut short of its Content-Length as if complete.
    if (t.expected && t.received != *t.expected) {
      t.failed = true;
      return FALSE;
    }
    t.ended = true;
    return TRUE;
  }
  t.received += n;
  *bytesRead = n;
  return TRUE;
}

BOOL InternetSetCookieW(TextView url, const char16_t* cookieName, TextView cookieData) {
  const std::optional<std::string> escaped = http::EscapeUrl(url.view());
  if (!escaped || http::HttpScheme(*escaped).empty()) return FALSE;
  const auto cookie = http::MakeCookie(cookieName, cookieData.view());
  if (!cookie) return FALSE;
  const std::u16string wideUrl = MultiByteToWide(CP_UTF8, *escaped), pair = MultiByteToWide(CP_UTF8, cookie->pair);
  return ::InternetSetCookieW(Wide(wideUrl), nullptr, Wide(pair)) ? TRUE : FALSE;
}

}  // namespace kdx
