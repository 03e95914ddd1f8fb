// Requests on worker threads, driven as a host would: StartHttpQuery, then the message pump
// until the update events arrive, against the simulated web services.
#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <tuple>

#include "common/control_util.h"
#include "platform/worker.h"
#include "queries/HttpQuery.h"
#include "sim/SimWebServices.h"

namespace kdx::test {
namespace {

using sim::Fault;

// Seven outcomes, seven times each, all at once: every request ends in exactly one update,
// handled whole before the next (its failure line right before it), with its own rows only;
// its URL requested cut to 1023 characters and logged whole; a proxy used only with host and
// port. Logged URLs hide the password and its digest, even once they are gone (Logout) when
// the reply arrives, and escape control characters. Then the control goes while more workers run.
TEST(Worker, ConcurrentRequestsEndInOneUpdateEachAndOutliveTheirControl) {
  TimeoutsFor timeouts{2000ms, 1000ms};  // short enough for the silent server
  sim::SimWebServices web;
  ControlHarness h;
  h.ctrl->m_strPassword = u"pw1";
  h.ctrl->m_strPasswordMD5 = u"d1g";
  const std::tuple<Fault, const char16_t*, int32_t, std::string, std::size_t> cases[] = {
      {Fault::None, u"127.0.0.1", 0, "", 3},
      {Fault::None, u"", 1, "", 3},
      {Fault::None, u"127.0.0.1", 1, "伺服器沒有回應,URL=", 0},  // nothing listens on port 1
      {Fault::EmptyBody, u"", 0, "伺服器沒有回應,URL=", 0},
      {Fault::CutMidBody, u"", 0, "伺服器沒有回應,URL=", 0},
      {Fault::NotFound, u"", 0, "Query資料不完整,URL=", 0},  // an error page is a body without records
      {Fault::KindOneLine, u"", 0, "查詢失敗", 1},
  };
  Strings logged;
  std::map<std::string, std::string> want;  // update -> the event right before it
  for (int i = 0; i < 49; ++i) {
    const auto& [fault, host, port, fail, rows] = cases[i % 7];
    const std::string n = std::to_string(i), pad = "&pad=" + std::string(1500, 'a'), url = web.Url("/q/" + n);
    web.SetQuery("/q/" + n, [n](const sim::ServedRequest&) { return std::vector(3, MakeRecord({{1, n}})); });
    web.SetFault("/q/" + n, fault);
    h.ctrl->m_strProxyAddress = host;
    h.ctrl->m_nProxyPort = port;
    const CString full = CString::FromUtf8(url + "?p=pw1&d=d1g" + pad + "\t\x7f");
    ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, full, CString::FromUtf8("Q" + n + ",t")), 1);
    const std::string masked = url + "?p=****&d=****" + pad + "%09%7F";
    logged.push_back("HTTP Query = " + masked);
    // The URL a reply failure names: as requested, each mask a character longer than its secret.
    const std::string cut = rows ? "" : masked.substr(0, kMaxUrlLength + 2);
    want["QueryUpdate(Q" + n + ")"] = fail.empty() ? "" : "Log(0," + fail + cut + ")";
  }
  EXPECT_EQ(h.events.Logs(3), logged);
  h.events.Clear();
  h.ctrl->m_strPassword.Empty();
  h.ctrl->m_strPasswordMD5.Empty();
  ASSERT_TRUE(h.PumpUntilUpdates(49));
  std::map<std::string, std::string> seen;
  std::string last;
  for (const std::string& event : h.events.Summary()) {
    const bool log = event.starts_with("Log(");
    EXPECT_TRUE(log || seen.emplace(event, last).second) << event;
    last = log ? event : "";
  }
  EXPECT_EQ(seen, want);
  for (const auto& request : web.Requests()) EXPECT_EQ(web.Url(request.target).size(), std::size_t{kMaxUrlLength});
  for (int i = 0; i < 49; ++i) {
    const auto& rows = h.ctrl->m_mapQueryTables[CString::FromUtf8("Q" + std::to_string(i))];
    ASSERT_EQ(rows.size(), std::get<4>(cases[i % 7]));
    for (const auto& row : rows)
      EXPECT_EQ(Utf8(CString(row->GetStringView(1))) + Utf8(CString(row->GetStringView(100))), std::to_string(i) + "t");
  }

  // Then workers still fetching, and workers whose reply waits for the pump, when the control goes.
  web.SetFault("/q/silent", Fault::NoAnswer);
  for (int i = 0; i < 6; ++i)
    ASSERT_EQ(h.ctrl->StartHttpQuery(100, 0, CString::FromUtf8(web.Url(i % 2 ? "/q/silent" : "/q/0")), u"D"), 1);
  ASSERT_TRUE(web.WaitForRequests(42 + 6, kPatience));
  // Not pumping: the answered workers block in their send until the window is gone.
  auto& loop = MessageLoop::ForCurrentThread();
  for (auto until = std::chrono::steady_clock::now() + kPatience;
       loop.QueuedCount() < 3 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(5ms);
  EXPECT_EQ(loop.QueuedCount(), 3u);
  h.ctrl.reset();
  EXPECT_TRUE(WaitForWorkers(kPatience));
  EXPECT_EQ(h.events.Updates().size(), 49u);  // none of these six
  EXPECT_EQ(h.events.Logs(3).size(), 6u);
  loop.RunPending();  // nothing is left to deliver
}

}  // namespace
}  // namespace kdx::test
