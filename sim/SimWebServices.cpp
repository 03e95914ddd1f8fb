#include "sim/SimWebServices.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <list>
#include <mutex>
#include <thread>

#include "sim/SimWebBodies.h"

namespace kdx::sim {
namespace {

constexpr std::size_t kSendPiece = 64 * 1024;
constexpr time_t kReadTimeoutSeconds = 2;  // bounds how long an idle connection can delay shutdown
constexpr const char* kWarmUpHeader = "X-Kdx-Warm-Up";

std::string NormalPath(std::string path) {
  if (!path.empty() && path.front() != '/') path.insert(path.begin(), '/');
  return path;
}

// One thread per connection, so held or stalled requests never keep others waiting.
// Threads block SIGPIPE: writing to a connection the client dropped must fail, not kill.
class ConnectionThreads final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    Reap();
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
      threads_.push_back({std::thread([fn, done] {
                            sigset_t pipe;
                            sigemptyset(&pipe);
                            sigaddset(&pipe, SIGPIPE);
                            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
                            fn();
                            done->store(true);
                          }),
                          done});
    } catch (const std::system_error&) {
      fn();  // no thread to spare: serve this connection on the accepting thread
    }
  }

  // Joins every connection thread, holding the lock so that the accepting thread's next
  // connection comes after all of them.
  void JoinAll() {
    std::lock_guard lock(mutex_);
    for (Worker& worker : threads_) worker.thread.join();
    threads_.clear();
  }

  void shutdown() override {
    std::list<Worker> all;
    {
      std::lock_guard lock(mutex_);
      all.swap(threads_);
    }
    for (Worker& worker : all) worker.thread.join();
  }

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };

  void Reap() {
    for (auto it = threads_.begin(); it != threads_.end();) {
      if (!it->done->load()) {
        ++it;
        continue;
      }
      it->thread.join();
      it = threads_.erase(it);
    }
  }

  std::mutex mutex_;
  std::list<Worker> threads_;
};

// Closes the server side of the connection local port → remote port, so the client sees
// the connection end with no byte of an answer. The socket belongs to the calling
// connection thread, so it cannot be closed and reused while we look.
void DropConnection(uint16_t localPort, int remotePort) {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return;
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    sockaddr_in local{}, peer{};
    socklen_t length = sizeof local;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        local.sin_family != AF_INET || ntohs(local.sin_port) != localPort)
      continue;
    length = sizeof peer;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        ntohs(peer.sin_port) != remotePort)
      continue;
    shutdown(static_cast<int>(fd), SHUT_RDWR);
  }
  closedir(dir);
}

// The library listens with a backlog of a handful; bursts of clients would see their
// connections dropped and retried a second later. Listening again widens it.
class Server final : public httplib::Server {
 public:
  void WidenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

struct FaultSetting {
  Fault fault = Fault::None;
  std::chrono::milliseconds delay{0};
};

// Where a path's answer comes from, copied out of the shared state for one request.
struct Route {
  enum class Kind { Missing, Raw, Records, Products } kind = Kind::Missing;
  std::string raw;
  RowSource rows;
  std::shared_ptr<const std::vector<ObProduct>> products;
  int entriesPerBlock = 0;
  int pieceBytes = 0;
};

std::vector<std::string> NormalLines(const Route& route, const ServedRequest& request, bool garbage) {
  switch (route.kind) {
    case Route::Kind::Raw: return SplitLines(route.raw);
    case Route::Kind::Records: return ReplyLines(route.rows(request));
    case Route::Kind::Products:
      return ProductListLines(*route.products, route.entriesPerBlock, route.pieceBytes, garbage);
    case Route::Kind::Missing: break;
  }
  return {};
}

// The body a route answers under a fault that shapes the body.
std::string ComposeBody(const Route& route, const ServedRequest& request, Fault fault) {
  switch (fault) {
    case Fault::EmptyBody: return {};
    case Fault::KindOneLine: return JoinLines(WithErrorLine(NormalLines(route, request, false)));
    case Fault::GarbageLines:
      if (route.kind == Route::Kind::Products) return JoinLines(NormalLines(route, request, true));
      return JoinLines(Interleave(NormalLines(route, request, false), ReplyGarbageLines()));
    case Fault::Huge: return JoinLines(RepeatLines(NormalLines(route, request, false), kHugeLines));
    default: break;
  }
  if (route.kind == Route::Kind::Raw) return route.raw;  // exact bytes
  return JoinLines(NormalLines(route, request, false));
}

}  // namespace

struct SimWebServices::State {
  Server server;
  std::atomic<ConnectionThreads*> queue{nullptr};  // valid while the listener runs
  std::thread listener;
  std::atomic<bool> listenerDone{false};
  uint16_t port = 0;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // a request arrived, or shutdown began
  bool stopping = false;
  std::vector<ServedRequest> requests;

  std::shared_ptr<const std::vector<ObProduct>> products;
  int entriesPerBlock = 50;
  int pieceBytes = 300;
  RowSource rights = DefaultRightsRows;
  RowSource performance = DefaultPerformanceRows;
  std::map<std::string, RowSource> queries;
  std::map<std::string, std::string> rawBodies;
  std::map<std::string, FaultSetting> faults;

  bool Stopping() const {
    std::lock_guard lock(mutex);
    return stopping;
  }

  // Waits for the delay (0: until shutdown); false when shutdown cut it short.
  bool Hold(std::chrono::milliseconds delay) const {
    std::unique_lock lock(mutex);
    if (delay.count() <= 0) {
      changed.wait(lock, [this] { return stopping; });
      return false;
    }
    return !changed.wait_for(lock, delay, [this] { return stopping; });
  }

  // Logs the request and takes what answering it needs, under one lock.
  std::pair<Route, FaultSetting> Admit(ServedRequest request) {
    std::lock_guard lock(mutex);
    Route route;
    const std::string& path = request.path;
    if (auto raw = rawBodies.find(path); raw != rawBodies.end()) {
      route.kind = Route::Kind::Raw;
      route.raw = raw->second;
    } else if (auto query = queries.find(path); query != queries.end()) {
      route.kind = Route::Kind::Records;
      route.rows = query->second;
    } else if (path == kRightsPath || path == kPerformancePath) {
      route.kind = Route::Kind::Records;
      route.rows = path == kRightsPath ? rights : performance;
    } else if (path == kProductListPath) {
      route.kind = Route::Kind::Products;
      if (!products) products = std::make_shared<const std::vector<ObProduct>>(DefaultProducts());
      route.products = products;
      route.entriesPerBlock = entriesPerBlock;
      route.pieceBytes = pieceBytes;
    }
    FaultSetting fault;
    if (auto own = faults.find(path); own != faults.end()) {
      fault = own->second;
    } else if (auto every = faults.find(""); every != faults.end()) {
      fault = every->second;
    }
    requests.push_back(std::move(request));
    changed.notify_all();
    return {std::move(route), fault};
  }

  void Send(httplib::Response& res, std::shared_ptr<const std::string> body, std::size_t declared,
            std::size_t sendable) {
    res.status = 200;
    if (declared == 0) {
      res.set_content("", "text/plain");
      return;
    }
    res.set_content_provider(declared, "text/plain",
                             [this, body, sendable](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                               // Stop at the cut, and at shutdown so no long write holds it up.
                               if (offset >= sendable || Stopping()) return false;
                               const std::size_t n = std::min({length, sendable - offset, kSendPiece});
                               return sink.write(body->data() + offset, n);
                             });
  }

  // The library builds some tables at first use, behind guards ThreadSanitizer cannot see
  // in uninstrumented code; one request served alone builds them before any concurrency.
  void WarmUp() {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(5, 0);
    client.Get("/", {{kWarmUpHeader, "1"}});
    if (ConnectionThreads* threads = queue.load()) threads->JoinAll();
  }

  void Handle(const httplib::Request& req, httplib::Response& res) {
    if (req.has_header(kWarmUpHeader)) {
      Send(res, std::make_shared<const std::string>("ok"), 2, 2);
      return;
    }
    ServedRequest request{req.path, req.params, req.target};
    auto [route, setting] = Admit(request);

    const bool held = setting.fault == Fault::NoAnswer || (setting.fault == Fault::Stall && setting.delay.count() > 0);
    if (held && (!Hold(setting.delay) || setting.fault == Fault::NoAnswer)) {
      DropConnection(port, req.remote_port);
      return;
    }
    if (route.kind == Route::Kind::Missing || setting.fault == Fault::NotFound) {
      res.status = 404;
      res.set_content("Not Found", "text/plain");
      return;
    }

    auto body = std::make_shared<const std::string>(ComposeBody(route, request, setting.fault));
    const std::size_t size = body->size();
    if (setting.fault == Fault::CutMidBody) {
      Send(res, std::move(body), std::max<std::size_t>(size, 2), size / 2);
    } else {
      Send(res, std::move(body), size, size);
    }
  }
};

SimWebServices::SimWebServices() : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.server.new_task_queue = [&s] {
    auto* threads = new ConnectionThreads;
    s.queue.store(threads);
    return threads;
  };
  s.server.set_keep_alive_max_count(1);
  s.server.set_read_timeout(kReadTimeoutSeconds, 0);
  s.server.Get(".*", [&s](const httplib::Request& req, httplib::Response& res) { s.Handle(req, res); });

  const int port = s.server.bind_to_any_port("127.0.0.1");
  if (port <= 0 || port > 65535) return;
  s.port = static_cast<uint16_t>(port);
  s.server.WidenBacklog();
  s.listener = std::thread([&s] {
    s.server.listen_after_bind();
    s.listenerDone.store(true);
  });
  // A stop before the accept loop runs would be lost; connections queue until then anyway.
  while (!s.server.is_running() && !s.listenerDone.load()) std::this_thread::yield();
  s.WarmUp();
}

SimWebServices::~SimWebServices() {
  State& s = *state_;
  {
    std::lock_guard lock(s.mutex);
    s.stopping = true;
  }
  s.changed.notify_all();
  if (s.listener.joinable()) {
    s.server.stop();
    s.listener.join();  // also joins every connection thread
  }
}

uint16_t SimWebServices::Port() const { return state_->port; }

std::string SimWebServices::Address() const { return "127.0.0.1:" + std::to_string(state_->port); }

std::string SimWebServices::Url(std::string_view pathAndQuery) const {
  return "http://" + Address() + std::string(pathAndQuery);
}

void SimWebServices::SetProducts(std::vector<ObProduct> products, int entriesPerBlock, int pieceBytes) {
  auto list = std::make_shared<const std::vector<ObProduct>>(std::move(products));
  std::lock_guard lock(state_->mutex);
  state_->products = std::move(list);
  state_->entriesPerBlock = entriesPerBlock;
  state_->pieceBytes = pieceBytes;
}

void SimWebServices::SetRights(RowSource rows) {
  std::lock_guard lock(state_->mutex);
  state_->rights = rows ? std::move(rows) : RowSource(DefaultRightsRows);
}

void SimWebServices::SetPerformance(RowSource rows) {
  std::lock_guard lock(state_->mutex);
  state_->performance = rows ? std::move(rows) : RowSource(DefaultPerformanceRows);
}

void SimWebServices::SetQuery(std::string path, RowSource rows) {
  std::lock_guard lock(state_->mutex);
  if (rows) {
    state_->queries[NormalPath(std::move(path))] = std::move(rows);
  } else {
    state_->queries.erase(NormalPath(std::move(path)));
  }
}

void SimWebServices::SetRawBody(std::string path, std::string body) {
  std::lock_guard lock(state_->mutex);
  state_->rawBodies[NormalPath(std::move(path))] = std::move(body);
}

void SimWebServices::SetFault(std::string path, Fault fault, std::chrono::milliseconds delay) {
  std::lock_guard lock(state_->mutex);
  path = NormalPath(std::move(path));
  if (path.empty() && fault == Fault::None) {
    state_->faults.erase(path);
  } else {
    state_->faults[path] = {fault, delay};
  }
}

std::vector<ServedRequest> SimWebServices::Requests() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests;
}

std::size_t SimWebServices::RequestCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->requests.size();
}

bool SimWebServices::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mutex);
  return state_->changed.wait_for(lock, timeout, [&] { return state_->requests.size() >= count; });
}

}  // namespace kdx::sim
