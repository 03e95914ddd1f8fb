// The HTTP client, the worker and the synchronous fetch against loopback servers that
// misbehave byte by byte, and the client's choices that need no server: proxy lists, sessions,
// cookies.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <mutex>
#include <thread>
#include <tuple>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "platform/http_client.h"
#include "platform/worker.h"
#include "queries/HttpQuery.h"

// Allocations from this size up fail on the thread that sets it, as when memory runs out.
static thread_local std::size_t t_failFrom = SIZE_MAX;

void* operator new(std::size_t n) {
  if (void* p = n < t_failFrom ? malloc(n + 1) : nullptr) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return n < t_failFrom ? malloc(n + 1) : nullptr; }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kdx::test {
namespace {

CString U(const std::string& text) { return CString::FromUtf8(text); }

// A loopback HTTP server for faults that a real server library will not produce (short bodies,
// cuts, silence, trickles), keeping the request heads it received. Per connection, one at a
// time: it reads the request head, sends `response` (with a pace, the bytes after its head one
// per pace), then closes the connection, or, with holdOpen, keeps it open and silent until the
// server goes.
class RawHttpServer {
  using Socket = decltype(socket(0, 0, 0));  // a SOCKET on Windows

 public:
  explicit RawHttpServer(std::string response, bool holdOpen = false, std::chrono::milliseconds pace = {})
      : thread_(&RawHttpServer::Serve, this, std::move(response), holdOpen, pace) {}
  ~RawHttpServer() {
    stopping_ = true;
    const Socket wake = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // ends the accept
    const sockaddr_in addr = Loopback(port_);
    connect(wake, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    thread_.join();
    close(wake);
    close(listenFd_);
  }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::vector<std::string> Requests() const {  // request heads, in arrival order
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void Serve(std::string response, bool holdOpen, std::chrono::milliseconds pace) {
    const std::size_t paced = pace.count() > 0 ? response.find("\r\n\r\n") + 4 : response.size();  // the head at once
    std::vector<Socket> held;
    for (Socket fd; (fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC)) != static_cast<Socket>(-1);) {
      if (stopping_) {
        close(fd);
        break;
      }
      std::string head;
      char buffer[4096];
      for (ssize_t n; head.find("\r\n\r\n") == std::string::npos && (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        head.append(buffer, static_cast<std::size_t>(n));
      std::unique_lock lock(mu_);
      requests_.push_back(std::move(head));
      lock.unlock();
      bool sending = send(fd, response.data(), paced, MSG_NOSIGNAL) == static_cast<ssize_t>(paced);  // all or failed
      for (std::size_t i = paced; sending && i < response.size(); ++i) {
        std::this_thread::sleep_for(pace);
        sending = send(fd, &response[i], 1, MSG_NOSIGNAL) == 1;  // until the client has gone
      }
      holdOpen ? held.push_back(fd) : void(close(fd));
    }
    for (Socket fd : held) close(fd);
  }
  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
  }
  static Socket Listen(uint16_t& port) {
    const Socket fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
    listen(fd, 64);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
  }

  uint16_t port_ = 0;  // before listenFd_, which sets it, and thread_, which uses it
  Socket listenFd_ = Listen(port_);
  std::atomic<bool> stopping_{false};
  mutable std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

const std::string kOk = "HTTP/1.1 200 OK\r\n";

// What one WM_HTTPREPLY brought: a body or none, cut or not, the bytes.
using Reply = std::tuple<bool, bool, std::string>;

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
  constexpr DWORD kNamed = INTERNET_OPEN_TYPE_PROXY;
  const std::tuple<DWORD, const char16_t*, const char16_t*, bool> cases[] = {
      {INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", true}, {INTERNET_OPEN_TYPE_DIRECT, u"", u"", true}, {7, u"", u"", false},
      {kNamed, u"http=http://p:1", u"", true}, {kNamed, u"", u"", false}, {kNamed, u" ; ", u"", false},
      {kNamed, u"http=http://:1", u"", false}, {kNamed, u"http=http://p:1", u"<local>", false}};  // no bypass lists
  for (const auto& [access, list, bypass, opens] : cases)
    EXPECT_EQ(InternetOpenW(u"agent", access, list, bypass, 0) != nullptr, opens) << CString(list).ToUtf8() << access;
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

// Each response through a worker (exactly one reply, to a bare window) and, at the same time,
// through the synchronous fetch; the environment asks for no proxy, which a named one ignores.
TEST(HttpFetches, TellEveryOutcomeOnce) {
  EXPECT_EQ(HttpQueryThread(nullptr), 0u);
  RawHttpServer moved("HTTP/1.1 400 Bad Request\r\nContent-Length: 2\r\n\r\nok");
  auto* orphan = new HttpJob;
  orphan->url = U(moved.Url("/"));
  EXPECT_EQ(HttpQueryThread(orphan), 0u);  // no window: frees the job and requests nothing

  const std::string hello = kOk + "Content-Length: 5\r\n\r\nhello", x(10000, 'x');
  const struct {
    std::string response;
    DWORD exitCode;
    std::optional<std::string> body;  // what the worker sends, cut when the fetch is kFetchTooLarge
    long fetch = 0;                   // FetchUrlSync's code; 0: it returns the body too; -1: not run
    bool holdOpen = false;
    CString proxy{}, cookie{};
    std::size_t limit = SIZE_MAX, failFrom = SIZE_MAX;  // allocations from failFrom up fail on the worker's thread
    std::chrono::milliseconds pace{0};
  } cases[] = {
      {hello, 1, "hello"}, {kOk + "Content-Length: 10\r\n\r\nhello", 1, {}, kFetchIncomplete},
      // A body of no length is no data; one of no stated length ends with the connection.
      {kOk + "Content-Length: 0\r\n\r\n", 1, {}, kFetchNoData}, {kOk + "Connection: close\r\n\r\nhello", 1, "hello"},
      {"HTTP/1.1 400 Bad Request\r\nContent-Length: 4\r\n\r\ngone", 1, "gone", kFetchUrlNotOpened},
      {"HTTP/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nok", 1, "ok"},
      {"HTTP/1.1 301 Moved\r\nLocation: " + moved.Url("/") + "\r\n\r\n", 1, "ok", kFetchUrlNotOpened},
      {kOk + "Content-Length: 10\r\n\r\nhel", 1, {}, kFetchIncomplete, true},  // stalls
      // Each byte well within the stall time-out, the whole longer than it: no stall.
      {kOk + "Content-Length: 8\r\n\r\nsteadily", 1, "steadily", 0, false, u"", u"", SIZE_MAX, SIZE_MAX, 80ms},
      // Never stalling, but past the deadline.
      {kOk + "Content-Length: 99\r\n\r\n" + x.substr(0, 99), 1, {}, kFetchIncomplete, false, u"", u"", SIZE_MAX, SIZE_MAX, 50ms},
      {"", 0, {}, kFetchUrlNotOpened, true}, {"hello there\r\n", 0, {}, kFetchUrlNotOpened},
      {kOk + "Content-Length: 10000\r\n\r\n" + x, 1, x.substr(0, 5000), kFetchTooLarge, false, u"", u"", 5000},
      {kOk + "Content-Length: 10000\r\n\r\n" + x, 1, x, 0, false, u"", u"", 10000},
      // Memory runs out in libcurl's write callback, and in opening the (long) URL.
      {kOk + "Content-Length: 999999\r\n\r\n" + std::string(999999, 'm'), 1, {}, -1, false, u"", u"", SIZE_MAX, 8192},
      {hello, 0, {}, -1, false, u"", u"", SIZE_MAX, 1024},
      {hello, 1, "hello", kFetchCookieRefused, false, u"", u"SID=1\nX: y"}, {hello, 1, "hello", 0, false, u"", u"SID=1"},
      // The worker is given the proxy host, port 1.
      {hello, 0, {}, kFetchNoSession, false, u":1"}, {hello, 0, {}, kFetchUrlNotOpened, false, u"127.0.0.1:1"},
  };
  TimeoutsFor timeouts(2000ms, 400ms, 1500ms);
  const ReplyLimits saved = GetReplyLimits();
  setenv("no_proxy", "*", 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.response.substr(0, 60));
    SetReplyLimits({c.limit, saved.maxRows});
    RawHttpServer forWorker(c.response, c.holdOpen, c.pace), forFetch(c.response, c.holdOpen, c.pace);
    MessageWindow window;
    std::vector<Reply> replies;
    window.OnMessage(WM_HTTPREPLY, [&replies](WPARAM wParam, LPARAM lParam) {
      const auto& job = *reinterpret_cast<const HttpJob*>(wParam);
      const auto* body = reinterpret_cast<const char*>(lParam);
      replies.emplace_back(body != nullptr, job.truncated, body ? std::string(body, job.bodyLength) : "");
      return LRESULT{0};
    });
    auto* job = new HttpJob;
    job->url = U(forWorker.Url("/w?" + std::string(1100, 'p')));
    job->window = window.Handle();
    job->proxyHost = c.proxy;  // with a port, no such list opens
    job->proxyPort = 1;
    std::atomic<DWORD> exitCode{2};
    ASSERT_TRUE(StartWorker([job, &exitCode, failFrom = c.failFrom] {
      t_failFrom = failFrom;  // for this thread only, which ends with the job
      exitCode = HttpQueryThread(job);
    }));
    long result = -1;
    const auto fetched = c.fetch < 0 ? nullptr : FetchUrlSync(U(forFetch.Url("/f")), c.proxy, c.cookie, result);
    ASSERT_TRUE(MessageLoop::ForCurrentThread().RunUntil([&] { return !replies.empty(); }, kPatience));
    ASSERT_TRUE(WaitForWorkers(kPatience));  // a second reply would hold it
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(replies, (std::vector<Reply>{{c.body.has_value(), c.fetch == kFetchTooLarge, c.body.value_or("")}}));
    if (c.fetch < 0) continue;
    EXPECT_EQ(result, c.fetch ? c.fetch : static_cast<long>(c.body->size()));
    EXPECT_EQ(fetched ? std::string(fetched.get()) : "-", c.fetch ? "-" : *c.body);
    const auto h = forFetch.Requests();  // the cookie as the server receives it
    EXPECT_EQ(h.size() == 1 && h[0].find("\r\nCookie: SID=1\r\n") < h[0].size(), !c.fetch && !c.cookie.IsEmpty());
  }
  unsetenv("no_proxy");
  SetReplyLimits(saved);
  EXPECT_EQ(moved.Requests().size(), 2u);
}

// What the server receives: the URL as the ANSI code page spells it ('?' for a character it
// lacks, which must not start the query), the agent, the no-cache headers, extra header lines
// and the cookies set for exactly that URL. Without a converter for the code page a non-ASCII
// URL is neither sent nor keyed; the system's settings follow the environment's proxy; reads
// give no more than asked.
TEST(HttpClientRequests, SendTheUrlInTheAnsiCodePageAndItsCookies) {
  RawHttpServer server(kOk + "Content-Length: 2\r\n\r\nok");
  const CString url = U(server.Url("/c한?x=1 中\xC2\x80#b=\x7F\t&z=1"));
  ASSERT_TRUE(InternetSetCookieW(url, nullptr, u"SID=abc; path=/") && InternetSetCookieW(url, u"Two", u"2") &&
              InternetSetCookieW(url, nullptr, u"SID=def"));  // replaces the first
  auto session = InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0);
  ASSERT_NE(InternetOpenUrlW(session.get(), url, u"X-Extra: 1\r\n", INTERNET_FLAG_RELOAD), nullptr);
  SetAnsiCodePage(12345);
  EXPECT_EQ(InternetOpenUrlW(session.get(), url, u"", 0), nullptr);
  EXPECT_FALSE(InternetSetCookieW(url, nullptr, u"a=1"));
  EXPECT_TRUE(InternetSetCookieW(U(server.Url("/plain")), nullptr, u"a=1"));
  SetAnsiCodePage(CP_ACP);
  setenv("http_proxy", server.Url("").c_str(), 1);
  auto file = InternetOpenUrlW(session.get(), u"http://broker.invalid/q", u"", 0);
  unsetenv("http_proxy");
  char one[2] = {};
  DWORD n = 0;
  EXPECT_TRUE(file && InternetReadFile(file.get(), one, 1, &n) && n == 1 && one[0] == 'o' && one[1] == 0);
  const auto heads = server.Requests();
  ASSERT_EQ(heads.size(), 2u);
  EXPECT_TRUE(heads[0].starts_with("GET /c%3F?x=1%20%A4%A4%80%23b=%7F%09&z=1 HTTP/1.1\r\n")) << heads[0];
  for (const char* line : {"User-Agent: Microsoft Internet Explorer", "Cache-Control: no-cache", "Pragma: no-cache",
                           "X-Extra: 1", "Cookie: SID=def; Two=2"})
    EXPECT_NE(heads[0].find("\r\n" + std::string(line) + "\r\n"), std::string::npos) << line;
  EXPECT_TRUE(heads[1].starts_with("GET http://broker.invalid/q HTTP/1.1\r\n")) << heads[1];
  EXPECT_EQ(heads[1].find("Cookie"), std::string::npos);
}

// A SIGPIPE raised while libcurl runs (as a TLS write to a closed connection may) is taken
// back instead of ending the process.
TEST(HttpClientRequests, SigpipeWhileLibcurlRunsIsTakenBack) {
  TimeoutsFor timeouts(2000ms, 1500ms);
  RawHttpServer silent("", true);
  std::thread raiser([&silent, reader = pthread_self()] {
    for (int i = 0; i < 5000 && silent.Requests().empty(); ++i) std::this_thread::sleep_for(1ms);
    pthread_kill(reader, SIGPIPE);  // the reader now waits inside libcurl for an answer
  });
  auto session = InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0);
  EXPECT_EQ(InternetOpenUrlW(session.get(), U(silent.Url("/")), u"", 0), nullptr);
  raiser.join();
  sigset_t mask{};  // and the thread's signal mask is as it was
  EXPECT_TRUE(pthread_sigmask(SIG_BLOCK, nullptr, &mask) == 0 && !sigismember(&mask, SIGPIPE));
}

}  // namespace
}  // namespace kdx::test
