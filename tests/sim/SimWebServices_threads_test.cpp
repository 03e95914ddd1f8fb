#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/SimWebServices.h"
#include "web_client_util.h"

namespace kdx::sim {
namespace {

using namespace std::chrono_literals;
using test::Fetch;
using test::ReadReply;
using test::SameFields;

std::string RightsTarget(int customer) {
  return "/get_rights.jsp?branch_id=9A00&cust_id=" + std::to_string(customer) + "&group_id=G&broker_id=F" +
         std::to_string(customer);
}

TEST(SimWebServicesThreadsTest, FiftyConcurrentClientsAreAllAnswered) {
  SimWebServices server;
  constexpr int kClients = 50;
  std::vector<test::Fetched> got(kClients);
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i)
    clients.emplace_back([&, i] { got[i] = Fetch(server.Url(RightsTarget(i))); });
  for (auto& client : clients) client.join();

  for (int i = 0; i < kClients; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(got[i].code, CURLE_OK);
    const auto expected = DefaultRightsRows(
        {"/get_rights.jsp", {{"cust_id", std::to_string(i)}, {"broker_id", "F" + std::to_string(i)}}, ""});
    const auto records = ReadReply(got[i].body);
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t r = 0; r < records.size(); ++r) EXPECT_TRUE(SameFields(expected[r], records[r].record));
  }
  EXPECT_EQ(server.RequestCount(), static_cast<std::size_t>(kClients));
}

// Requests held by the server end when it is destroyed: the clients see the connection
// close without an answer instead of waiting for their own time-outs.
TEST(SimWebServicesThreadsTest, DestructionEndsHeldRequests) {
  for (const Fault fault : {Fault::NoAnswer, Fault::Stall}) {
    SCOPED_TRACE(static_cast<int>(fault));
    constexpr int kClients = 4;
    std::vector<test::Fetched> got(kClients);
    std::vector<std::thread> clients;
    {
      SimWebServices server;
      server.SetFault("", fault, fault == Fault::Stall ? std::chrono::milliseconds(10min) : 0ms);
      for (int i = 0; i < kClients; ++i)
        clients.emplace_back([&, i, url = server.Url(RightsTarget(i))] { got[i] = Fetch(url, 10min); });
      ASSERT_TRUE(server.WaitForRequests(kClients, 60s));
    }
    for (auto& client : clients) client.join();
    for (const auto& fetched : got) {
      EXPECT_EQ(fetched.code, CURLE_GOT_NOTHING) << curl_easy_strerror(fetched.code);
      EXPECT_EQ(fetched.body, "");
    }
  }
}

TEST(SimWebServicesThreadsTest, StalledRequestDoesNotHoldUpOthers) {
  SimWebServices server;
  server.SetFault("/get_perf.jsp", Fault::Stall, 1000ms);
  std::atomic<bool> stalledDone{false};
  test::Fetched stalled;
  std::thread client([&] {
    stalled = Fetch(server.Url("/get_perf.jsp?broker_id=F1"));
    stalledDone = true;
  });
  ASSERT_TRUE(server.WaitForRequests(1, 60s));
  const auto quick = Fetch(server.Url(RightsTarget(1)));
  EXPECT_EQ(quick.code, CURLE_OK);
  EXPECT_FALSE(stalledDone) << "the stall ended before a later request was answered";
  client.join();
  ASSERT_EQ(stalled.code, CURLE_OK);
  const auto expected = DefaultPerformanceRows({"/get_perf.jsp", {{"broker_id", "F1"}}, ""});
  const auto records = ReadReply(stalled.body);
  ASSERT_EQ(records.size(), expected.size());
  for (std::size_t r = 0; r < records.size(); ++r) EXPECT_TRUE(SameFields(expected[r], records[r].record));
}

// Set-up calls while requests are being served: every answer is one of the configured
// ones, whole.
TEST(SimWebServicesThreadsTest, ReconfigurationWhileServing) {
  SimWebServices server;
  const auto one = [](const ServedRequest&) {
    std::vector<FieldRecord> rows(1);
    rows[0].SetString(2, u"一");
    return rows;
  };
  std::atomic<bool> done{false};
  std::thread configurer([&] {
    for (int i = 0; !done; ++i) {
      if (i % 2) {
        server.SetRights(one);
      } else {
        server.SetRights(nullptr);  // back to the default rows
      }
      server.SetFault("/get_rights.jsp", i % 3 ? Fault::None : Fault::NotFound);
      server.SetRawBody("/raw", std::string(static_cast<std::size_t>(i % 50), 'r'));
      (void)server.Requests();
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> clients;
  std::atomic<int> answered{0};
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      for (int k = 0; k < 10; ++k) {
        const auto got = Fetch(server.Url(RightsTarget(c)));
        const std::size_t rows = ReadReply(got.body).size();
        if (got.code == CURLE_OK && (got.status == 404 || rows == 1 || rows == 2)) ++answered;
      }
    });
  }
  for (auto& client : clients) client.join();
  done = true;
  configurer.join();
  EXPECT_EQ(answered, 80);
  EXPECT_EQ(server.RequestCount(), 80u);
}

}  // namespace
}  // namespace kdx::sim
