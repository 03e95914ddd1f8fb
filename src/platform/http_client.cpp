// WinINet-shaped HTTP GET on libcurl: a multi handle per request, pumped by the reader, so
// the body arrives in the caller's chunks instead of all at once.
#include "platform/http_client.h"

#include <curl/curl.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/codepage.h"
#include "platform/http_common.h"

namespace kdx {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

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

}  // namespace

std::unique_ptr<InternetSession> InternetOpenW(TextView agent, DWORD accessType, TextView proxyList,
                                               TextView proxyBypass, DWORD) {
  if (!CurlReady()) return nullptr;
  return http::MakeSession(agent, accessType, proxyList, proxyBypass);
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
  const std::optional<std::string> escaped = http::EscapeUrl(url.view());
  if (!escaped) return nullptr;
  const std::string& target = *escaped;
  const std::string scheme = http::HttpScheme(target);
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
  std::optional<std::string> key = http::EscapeUrl(url.view());
  if (!key || http::HttpScheme(*key).empty()) return FALSE;
  auto cookie = http::MakeCookie(cookieName, cookieData.view());
  if (!cookie) return FALSE;
  auto& jar = Jar();
  std::lock_guard lock(jar.mu);
  jar.cookies[*key][cookie->name] = std::move(cookie->pair);
  return TRUE;
}

}  // namespace kdx
