// WinINet-shaped HTTP GET on libcurl: a multi handle per request, pumped by the reader, so
// the body arrives in the caller's chunks instead of all at once.
#include "platform/http_client.h"

#include <curl/curl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/codepage.h"

namespace kdx {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<int64_t> g_connectMs{HttpTimeouts{}.connect.count()};
std::atomic<int64_t> g_stallMs{HttpTimeouts{}.stall.count()};
std::atomic<int64_t> g_totalMs{HttpTimeouts{}.total.count()};

// Global initialisation is not thread-safe in libcurl; it is done once and never undone,
// since detached workers may still be fetching while the process ends.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// libcurl must not touch signal dispositions in a threaded host (CURLOPT_NOSIGNAL), so a
// write to a connection the server closed would raise SIGPIPE and end the process. While
// libcurl runs, SIGPIPE is blocked on this thread only, and one it raised is taken back.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &saved_);
  }
  ~SigpipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec now{0, 0};
      sigtimedwait(&pipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t saved_;
  bool wasPending_ = false;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return out;
}

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
}

// "[scheme=][scheme://]host[:port]" into "http://host:port"; nullopt when malformed.
std::optional<std::string> ProxyEntryTarget(std::string_view entry) {
  if (auto sep = entry.find("://"); sep != std::string_view::npos) entry.remove_prefix(sep + 3);
  std::string_view host = entry, port = "80";
  if (!entry.empty() && entry.front() == '[') {  // an IPv6 literal
    auto close = entry.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = entry.substr(0, close + 1);
    std::string_view rest = entry.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
    }
  } else if (auto colon = entry.find(':'); colon != std::string_view::npos) {
    host = entry.substr(0, colon);
    port = entry.substr(colon + 1);
    if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostChar)) return std::nullopt;
  } else if (host.empty() || !std::all_of(host.begin(), host.end(), IsHostChar)) {
    return std::nullopt;
  }
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int number = std::stoi(std::string(port));
  if (number < 1 || number > 65535) return std::nullopt;
  return "http://" + std::string(host) + ":" + std::to_string(number);
}

// The cookie jar: URL -> cookie name -> "name=value".
struct CookieJar {
  std::mutex mu;
  std::map<std::string, std::map<std::string, std::string>> cookies;
};

CookieJar& Jar() {
  static auto* jar = new CookieJar;  // outlives static destruction, like the workers using it
  return *jar;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
    const char c = text[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != lowerPrefix[i]) return false;
  }
  return true;
}

std::string CookieHeaderFor(const std::string& url) {
  auto& jar = Jar();
  std::lock_guard lock(jar.mu);
  auto it = jar.cookies.find(url);
  if (it == jar.cookies.end()) return {};
  std::string header;
  for (const auto& [name, pair] : it->second) {
    if (!header.empty()) header += "; ";
    header += pair;
  }
  return header;
}

// Scheme of an http or https URL with a host; empty otherwise.
std::string HttpScheme(const std::string& url) {
  std::string scheme;
  CURLU* parsed = curl_url();
  if (!parsed) return scheme;
  char* part = nullptr;
  if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_get(parsed, CURLUPART_SCHEME, &part, 0) == CURLUE_OK) {
    std::string s = Lower(part);
    curl_free(part);
    part = nullptr;
    if ((s == "http" || s == "https") && curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK && *part)
      scheme = s;
    curl_free(part);
  }
  curl_url_cleanup(parsed);
  return scheme;
}

void AppendEscaped(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

// The URL as it goes out: each run of non-ASCII characters in the ANSI code page, every byte
// of it percent-encoded (a '?' standing for an unmappable character must not start a query);
// blanks, control characters, DEL and '#' percent-encoded; the rest as given. nullopt when
// the code page has no converter.
std::optional<std::string> EscapeUrl(std::u16string_view url) {
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

// 1 ms to about 24 days: what libcurl's waits take, and no overflow in time arithmetic.
int64_t TimeoutMs(milliseconds value) { return std::clamp<int64_t>(value.count(), 1, INT32_MAX); }

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

InternetSession::InternetSession(std::string agent, DWORD accessType, std::u16string proxyList)
    : agent_(std::move(agent)), accessType_(accessType), proxyList_(std::move(proxyList)) {}

std::unique_ptr<InternetSession> InternetOpenW(TextView agent, DWORD accessType, TextView proxyList,
                                               TextView proxyBypass, DWORD) {
  if (!CurlReady() || !proxyBypass.view().empty()) return nullptr;
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

struct InternetFile::Transfer {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  bool attached = false;
  std::string pending;  // bytes received and not yet read
  std::size_t taken = 0;
  bool headersDone = false;
  bool redirecting = false;  // the current header block names a Location
  bool finished = false;
  CURLcode result = CURLE_OK;
  Clock::time_point lastActivity = Clock::now();
  Clock::time_point deadline = Clock::time_point::max();
  milliseconds stall{};

  ~Transfer() {
    const SigpipeGuard guard;  // closing a TLS connection writes too
    if (attached) curl_multi_remove_handle(multi, easy);
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
  }

  // Called from C: an exception must not cross it. A short count fails the transfer.
  static size_t OnBody(char* data, size_t size, size_t count, void* self) noexcept {
    auto* t = static_cast<Transfer*>(self);
    t->lastActivity = Clock::now();
    try {
      t->pending.append(data, size * count);
    } catch (...) {
      return CURL_WRITEFUNC_ERROR;
    }
    return size * count;
  }

  // The blank line ends a header block; interim (1xx) and redirect blocks are followed by more.
  static size_t OnHeader(char* data, size_t size, size_t count, void* self) noexcept {
    auto* t = static_cast<Transfer*>(self);
    t->lastActivity = Clock::now();
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
      t->redirecting = false;
    } else if (StartsWithNoCase(line, "location:")) {
      t->redirecting = true;
    } else if (line == "\r\n" || line == "\n") {
      long status = 0;
      curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
      if (status >= 200 && !(status >= 300 && status < 400 && t->redirecting)) t->headersDone = true;
    }
    return size * count;
  }

  // Runs the transfer until ready() holds or it ends; a stall or the deadline ends it as
  // failed. The deadline is checked before every step, so a trickle cannot outrun it.
  template <class Ready>
  void Pump(Ready ready) {
    const SigpipeGuard guard;
    while (!ready() && !finished) {
      const auto now = Clock::now();
      if (now >= deadline) {
        finished = true;
        result = CURLE_OPERATION_TIMEDOUT;
        return;
      }
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        finished = true;
        result = CURLE_FAILED_INIT;
        return;
      }
      int queued = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE) {
          finished = true;
          result = msg->data.result;
        }
      }
      if (ready() || finished) return;
      const auto idle = std::chrono::duration_cast<milliseconds>(Clock::now() - lastActivity);
      if (idle >= stall) {
        finished = true;
        result = CURLE_OPERATION_TIMEDOUT;
        return;
      }
      const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
      const auto wait = std::min({stall - idle, left, milliseconds(1000)});
      curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
  }
};

InternetFile::InternetFile(std::unique_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}
InternetFile::~InternetFile() = default;

long InternetFile::StatusCode() const {
  long status = 0;
  curl_easy_getinfo(transfer_->easy, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

std::unique_ptr<InternetFile> InternetOpenUrlW(const InternetSession* session, TextView url, TextView headers,
                                               DWORD flags) {
  if (!session || !CurlReady()) return nullptr;
  const std::optional<std::string> escaped = EscapeUrl(url.view());
  if (!escaped) return nullptr;
  const std::string& target = *escaped;
  const std::string scheme = HttpScheme(target);
  if (scheme.empty()) return nullptr;

  auto t = std::make_unique<InternetFile::Transfer>();
  t->easy = curl_easy_init();
  t->multi = curl_multi_init();
  if (!t->easy || !t->multi) return nullptr;
  const HttpTimeouts timeouts = GetHttpTimeouts();
  t->stall = timeouts.stall;
  t->deadline = Clock::now() + timeouts.total;

  CURL* e = t->easy;
  curl_easy_setopt(e, CURLOPT_URL, target.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, session->Agent().c_str());
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &InternetFile::Transfer::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &InternetFile::Transfer::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());

  if (session->AccessType() == INTERNET_OPEN_TYPE_PROXY) {
    auto proxy = ProxyForScheme(session->ProxyList(), scheme);
    curl_easy_setopt(e, CURLOPT_PROXY, proxy ? proxy->c_str() : "");
    // An explicit, empty bypass list, so no_proxy from the environment does not apply.
    curl_easy_setopt(e, CURLOPT_NOPROXY, "");
  } else if (session->AccessType() == INTERNET_OPEN_TYPE_DIRECT) {
    curl_easy_setopt(e, CURLOPT_PROXY, "");
  }  // INTERNET_OPEN_TYPE_PRECONFIG: libcurl reads the environment's proxy settings

  // Header lines; curl copies the strings, the list itself must live as long as the transfer.
  const std::string extra = Utf16ToUtf8(headers.view());
  for (std::size_t i = 0; i < extra.size();) {
    std::size_t end = extra.find_first_of("\r\n", i);
    if (end == std::string::npos) end = extra.size();
    if (end > i) t->headers = curl_slist_append(t->headers, extra.substr(i, end - i).c_str());
    i = end + 1;
  }
  if (flags & INTERNET_FLAG_RELOAD) {
    t->headers = curl_slist_append(t->headers, "Cache-Control: no-cache");
    t->headers = curl_slist_append(t->headers, "Pragma: no-cache");
  }
  if (t->headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headers);
  const std::string cookie = CookieHeaderFor(target);
  if (!cookie.empty()) curl_easy_setopt(e, CURLOPT_COOKIE, cookie.c_str());

  if (curl_multi_add_handle(t->multi, e) != CURLM_OK) return nullptr;
  t->attached = true;
  t->lastActivity = Clock::now();
  InternetFile::Transfer& transfer = *t;
  transfer.Pump([&transfer] { return transfer.headersDone; });
  if (!transfer.headersDone) return nullptr;
  return std::unique_ptr<InternetFile>(new InternetFile(std::move(t)));
}

BOOL InternetReadFile(InternetFile* file, void* buffer, DWORD bytesToRead, DWORD* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  if (!file || !bytesRead || (!buffer && bytesToRead > 0)) return FALSE;
  InternetFile::Transfer& t = *file->transfer_;
  if (t.taken == t.pending.size()) {
    t.pending.clear();
    t.taken = 0;
    t.Pump([&t] { return !t.pending.empty(); });
  }
  const std::size_t n = std::min<std::size_t>(bytesToRead, t.pending.size() - t.taken);
  if (n > 0) {
    std::memcpy(buffer, t.pending.data() + t.taken, n);
    t.taken += n;
    *bytesRead = static_cast<DWORD>(n);
    return TRUE;
  }
  if (t.pending.size() > t.taken) return TRUE;  // a read of 0 bytes asked for; nothing consumed
  return t.finished && t.result == CURLE_OK ? TRUE : FALSE;
}

BOOL InternetSetCookieW(TextView url, const char16_t* cookieName, TextView cookieData) {
  if (!CurlReady()) return FALSE;
  std::optional<std::string> key = EscapeUrl(url.view());
  if (!key || HttpScheme(*key).empty()) return FALSE;
  std::string pair = Utf16ToUtf8(cookieData.view());
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
    return FALSE;
  if (name.empty()) name = pair.substr(0, pair.find('='));
  auto& jar = Jar();
  std::lock_guard lock(jar.mu);
  jar.cookies[*key][name] = std::move(pair);
  return TRUE;
}

}  // namespace kdx
