// Requests on worker threads against the simulated web services, driven as a host would:
// StartHttpQuery, then the message pump until the update events arrive.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <map>
#include <set>
#include <thread>

#include "common/control_util.h"
#include "platform/worker.h"
#include "queries/HttpQuery.h"
#include "queries/ObProductTable.h"
#include "common/raw_server_util.h"
#include "sim/SimWebServices.h"

namespace kdx::test {
namespace {

using sim::Fault;

constexpr auto kStall = 1000ms;

std::vector<FieldRecord> Rows(int count, const std::string& tag) {
  std::vector<FieldRecord> rows;
  for (int i = 0; i < count; ++i) rows.push_back(MakeRecord({{1, tag}, {2, std::to_string(i)}}, {{0, 4}}));
  return rows;
}

// A control, the services, and time-outs short enough for the silent-server cases.
class Worker : public ::testing::Test {
 protected:
  ~Worker() override {
    h.ctrl.reset();
    EXPECT_TRUE(WaitForWorkers(kPatience));  // so leak checks see every worker's buffers freed
  }
  CString Url(const std::string& pathAndQuery) const { return CString::FromUtf8(web.Url(pathAndQuery)); }
  std::size_t QueryRows(const char16_t* key) {
    auto it = h.ctrl->m_mapQueryTables.find(key);
    return it == h.ctrl->m_mapQueryTables.end() ? 0 : it->second.size();
  }

  TimeoutsFor timeouts{2000ms, kStall};
  sim::SimWebServices web;
  ControlHarness h;
};

TEST_F(Worker, LongUrlsAreRequestedCutAndLoggedWhole) {
  const std::string whole = web.Url("/q/long?pad=" + std::string(1500, 'a'));
  web.SetQuery("/q/long", [](const sim::ServedRequest&) { return Rows(1, "L"); });
  ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, CString::FromUtf8(whole), u"L"), 1);
  ASSERT_TRUE(h.PumpUntilUpdates(1));
  EXPECT_EQ(h.events.Logs(3), std::vector<std::string>{"HTTP Query = " + whole});
  const auto served = web.Requests();
  ASSERT_EQ(served.size(), 1u);
  const std::string cut = whole.substr(0, kMaxUrlLength);
  EXPECT_EQ(served[0].target, cut.substr(web.Url("").size()));
  EXPECT_EQ(h.events.Updates(), std::vector<std::string>{"QueryUpdate(L)"});
}

TEST_F(Worker, ProxyIsUsedOnlyWithHostAndPort) {
  web.SetQuery("/q/p", [](const sim::ServedRequest&) { return Rows(1, "P"); });
  const uint16_t closed = ClosedPort();
  const struct {
    const char16_t* host;
    int32_t port;
    bool reaches;
  } cases[] = {{u"127.0.0.1", 0, true}, {u"", closed, true}, {u"127.0.0.1", closed, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(CString(c.host).ToUtf8() + ":" + std::to_string(c.port));
    h.events.Clear();
    h.ctrl->m_strProxyAddress = c.host;
    h.ctrl->m_nProxyPort = c.port;
    ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, Url("/q/p"), u"P"), 1);
    ASSERT_TRUE(h.PumpUntilUpdates(1));
    EXPECT_EQ(h.events.Logs(0).empty(), c.reaches);
  }
}

struct FaultCase {
  const char* name;
  Fault fault;
  std::chrono::milliseconds delay;
  std::vector<std::string> failures;  // Log(0) texts; "{url}" stands for the URL
  std::size_t rows;                   // rows stored of the 3 served
  friend void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }
};

class WorkerFaults : public Worker, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WorkerFaults, EndInOneUpdateAndTheirStatus) {
  const FaultCase& c = GetParam();
  web.SetQuery("/q/f", [](const sim::ServedRequest&) { return Rows(3, "F"); });
  web.SetFault("/q/f", c.fault, c.delay);
  const CString url = Url("/q/f?a=1");
  ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, url, u"F,tag"), 1);
  ASSERT_TRUE(h.PumpUntilUpdates(1));
  std::vector<std::string> failures;
  for (std::string text : c.failures) {
    if (auto at = text.find("{url}"); at != std::string::npos) text.replace(at, 5, url.ToUtf8());
    failures.push_back(text);
  }
  EXPECT_EQ(h.events.Logs(0), failures);
  EXPECT_EQ(h.events.Updates(), std::vector<std::string>{"QueryUpdate(F)"});
  EXPECT_EQ(QueryRows(u"F"), c.rows);
}

const char* kNoReply = "伺服器沒有回應,URL={url}";
const char* kIncomplete = "Query資料不完整,URL={url}";

INSTANTIATE_TEST_SUITE_P(
    Faults, WorkerFaults,
    ::testing::Values(FaultCase{"Whole", Fault::None, 0ms, {}, 3},
                      FaultCase{"EmptyBody", Fault::EmptyBody, 0ms, {kNoReply}, 0},
                      FaultCase{"ServerErrorLine", Fault::KindOneLine, 0ms, {"查詢失敗"}, 1},
                      FaultCase{"NotFoundPageIsABodyWithoutRecords", Fault::NotFound, 0ms, {kIncomplete}, 0},
                      FaultCase{"CutMidBody", Fault::CutMidBody, 0ms, {kNoReply}, 0},
                      FaultCase{"NoAnswer", Fault::NoAnswer, 0ms, {kNoReply}, 0},
                      FaultCase{"StallLongerThanTheLimit", Fault::Stall, 30000ms, {kNoReply}, 0},
                      FaultCase{"ShortStall", Fault::Stall, 50ms, {}, 3},
                      FaultCase{"GarbageLinesSkipped", Fault::GarbageLines, 0ms, {}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// Fifty workers at once, every fifth one failing: every reply arrives once, each handled
// whole before the next (its failure line right before its own update), no row strays.
TEST_F(Worker, FiftyConcurrentRequestsAreAllAnsweredOneAtATime) {
  constexpr int kRequests = 50;
  web.SetQuery("/q/c", [](const sim::ServedRequest& r) { return Rows(3, sim::ParamValue(r, "n")); });
  web.SetFault("/q/c/missing", Fault::NotFound);
  std::map<std::string, std::string> urlOf;
  for (int i = 0; i < kRequests; ++i) {
    const std::string n = std::to_string(i);
    const std::string url = web.Url((i % 5 == 4 ? "/q/c/missing?n=" : "/q/c?n=") + n);
    urlOf["QueryUpdate(Q" + n + ")"] = url;
    ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, CString::FromUtf8(url), CString::FromUtf8("Q" + n + ",t")), 1);
  }
  ASSERT_TRUE(h.PumpUntilUpdates(kRequests));
  const auto updates = h.events.Updates();
  EXPECT_EQ(std::set<std::string>(updates.begin(), updates.end()).size(), std::size_t{kRequests});
  const auto events = h.events.Summary();
  for (std::size_t e = 0; e < events.size(); ++e) {
    if (!events[e].starts_with("Log(0,")) continue;
    ASSERT_LT(e + 1, events.size());
    EXPECT_EQ(events[e], "Log(0,Query資料不完整,URL=" + urlOf[events[e + 1]] + ")");
  }
  EXPECT_EQ(h.events.Logs(0).size(), std::size_t{kRequests / 5});
  for (int i = 0; i < kRequests; ++i) {
    const CString key = CString::FromUtf8("Q" + std::to_string(i));
    auto it = h.ctrl->m_mapQueryTables.find(key);
    if (i % 5 == 4) {
      EXPECT_EQ(it, h.ctrl->m_mapQueryTables.end());
      continue;
    }
    ASSERT_NE(it, h.ctrl->m_mapQueryTables.end());
    ASSERT_EQ(it->second.size(), 3u);
    for (const auto& row : it->second) {
      EXPECT_EQ(CString(row->GetStringView(1)), CString::FromUtf8(std::to_string(i)));
      EXPECT_EQ(CString(row->GetStringView(100)), CString(u"t"));
    }
  }
}

// Workers still fetching, and workers whose reply waits for the pump, when the control goes.
TEST_F(Worker, ControlDestroyedWhileWorkersRun) {
  web.SetQuery("/q/d", [](const sim::ServedRequest&) { return Rows(2, "D"); });
  web.SetFault("/q/d/silent", Fault::NoAnswer);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, Url(i % 2 ? "/q/d/silent" : "/q/d"), u"D"), 1);
  ASSERT_TRUE(web.WaitForRequests(6, kPatience));
  // Not pumping: the answered workers block in their send until the window is gone.
  auto& loop = MessageLoop::ForCurrentThread();
  for (auto until = std::chrono::steady_clock::now() + kPatience;
       loop.QueuedCount() < 3 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(loop.QueuedCount(), 3u);
  h.ctrl.reset();
  EXPECT_TRUE(WaitForWorkers(kPatience));
  EXPECT_TRUE(h.events.Updates().empty());
  EXPECT_EQ(h.events.Logs(3).size(), 6u);
  loop.RunPending();  // nothing is left to deliver
}

TEST_F(Worker, ThreadProcedureWithoutJobOrWindowSendsNothing) {
  EXPECT_EQ(HttpQueryThread(nullptr), 0u);
  auto* job = new HttpJob;
  job->url = Url("/q/none");
  EXPECT_EQ(HttpQueryThread(job), 0u);  // frees the job; nothing is requested
  EXPECT_EQ(web.RequestCount(), 0u);
  // On the window's own thread the reply is handled inside the call.
  web.SetQuery("/q/own", [](const sim::ServedRequest&) { return Rows(1, "O"); });
  const std::pair<CString, DWORD> cases[] = {
      {Url("/q/own"), 1}, {CString::FromUtf8("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/"), 0}};
  for (const auto& [url, exitCode] : cases) {
    job = new HttpJob;
    job->url = url;
    job->infoType = 100;
    job->name = u"O";
    job->window = h.ctrl->GetSafeHwnd();
    EXPECT_EQ(HttpQueryThread(job), exitCode) << url.ToUtf8();
  }
  EXPECT_EQ(h.events.Updates(), (std::vector<std::string>{"QueryUpdate(O)", "QueryUpdate(O)"}));
  EXPECT_EQ(h.events.Logs(0).size(), 1u);
}

struct FetchCase {
  const char* name;
  std::string path;  // "" = a closed port; otherwise served by the services
  Fault fault;
  const char16_t* proxy;  // "{closed}": a closed loopback port
  const char16_t* cookie;
  long code;  // 0: success
  friend void PrintTo(const FetchCase& c, std::ostream* os) { *os << c.name; }
};

class FetchSync : public Worker, public ::testing::WithParamInterface<FetchCase> {};

TEST_P(FetchSync, ReturnsTheBodyOrItsCode) {
  const FetchCase& c = GetParam();
  web.SetFault(std::string(sim::kProductListPath), c.fault);
  const CString url =
      c.path.empty() ? CString::FromUtf8("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/") : Url(c.path);
  CString proxy = c.proxy;
  proxy.Replace(u"{closed}", CString::FromUtf8("127.0.0.1:" + std::to_string(ClosedPort())));
  long result = -1;
  auto body = FetchUrlSync(url, proxy, c.cookie, result);
  if (c.code != 0) {
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(result, c.code);
    return;
  }
  ASSERT_NE(body, nullptr);
  ASSERT_GT(result, 0);
  EXPECT_EQ(std::strlen(body.get()), static_cast<std::size_t>(result));
  EXPECT_FALSE(ParseObProductList(std::string_view(body.get(), static_cast<std::size_t>(result))).empty());
}

const std::string kList = std::string(sim::kProductListPath) + "?ARG=*,ZAZUZO";

INSTANTIATE_TEST_SUITE_P(
    Codes, FetchSync,
    ::testing::Values(FetchCase{"Success", kList, Fault::None, u"", u"", 0},
                      FetchCase{"SuccessWithCookie", kList, Fault::None, u"", u"SID=1", 0},
                      FetchCase{"BadProxyHost", kList, Fault::None, u":1", u"", kFetchNoSession},
                      FetchCase{"ProxyIsUsed", kList, Fault::None, u"{closed}", u"", kFetchUrlNotOpened},
                      FetchCase{"NothingListening", "", Fault::None, u"", u"", kFetchUrlNotOpened},
                      FetchCase{"NotFound", kList, Fault::NotFound, u"", u"", kFetchUrlNotOpened},
                      FetchCase{"NoAnswer", kList, Fault::NoAnswer, u"", u"", kFetchUrlNotOpened},
                      FetchCase{"EmptyBody", kList, Fault::EmptyBody, u"", u"", kFetchNoData},
                      FetchCase{"CutMidBody", kList, Fault::CutMidBody, u"", u"", kFetchIncomplete},
                      FetchCase{"CookieRefused", kList, Fault::None, u"", u"SID=1\nX: y", kFetchCookieRefused}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kdx::test
