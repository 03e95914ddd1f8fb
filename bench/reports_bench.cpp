// A host re-reading its whole order table, as it typically does on every OrderStatus: every
// field of 10,000 domestic and 2,000 overseas order rows through the automation interface,
// against the component calls those reads make, made straight on the simulated component.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/message_window.h"
#include "sim/SimRows.h"

namespace {

using namespace kdx;

constexpr DISPID kGetOrderString = 6, kGetOrderValue = 7;
constexpr long kDomesticRows = 10000, kOverseasRows = 2000;
const std::vector<long> kStringFields = {0,  1,  2,  3,  4,  5,  6,  7,  11, 12, 13, 14, 15, 16,  17,  20,  21,  22,
                                         23, 24, 25, 26, 28, 29, 30, 31, 32, 40, 45, 48, 103, 104, 105, 106, 111, 115, 130};
const std::vector<long> kValueFields = {-1, 0, 1, 6, 7, 8, 9, 10, 11};

bool Pump(const std::function<bool()>& done) {
  return MessageLoop::ForCurrentThread().RunUntil(done, std::chrono::seconds(60));
}

// One log-in with every order row announced, shared by the benchmarks of this file.
struct Session {
  Session() {
    sim::SimConfig config;
    config.recordCalls = false;
    sim::SimTradeApi::Register(config);
    const auto ini = std::filesystem::temp_directory_path() / ("kdx-bench-" + std::to_string(getpid()) + ".ini");
    std::ofstream(ini) << "\xEF\xBB\xBF[Sim]\nRocID=a1\nBroker=KGI\n";
    ctrl = std::make_unique<CORV_Velmar_KDXCtrl>();
    ctrl->Login(CString::FromUtf8(ini.string()), u"Sim");
    Pump([&] { return ctrl->GetConnectStatus() == 2 && !ctrl->m_mapAccounts.empty(); });
    std::filesystem::remove(ini);
    api = sim::SimTradeApi::Last();
    const sim::Product products[] = {sim::Product::Stock, sim::Product::Futures, sim::Product::Option,
                                     sim::Product::FuturesSpread, sim::Product::OptionSpread};
    for (long i = 0; i < kDomesticRows + kOverseasRows; ++i) {
      sim::SimOrderSpec spec;
      const bool overseas = i >= kDomesticRows;
      spec.product = overseas ? sim::Product::Overseas : products[i % 5];
      spec.orderNo = u"A" + CString::FromUtf8(std::to_string(i)).str();
      spec.note = u"[!@0]desk 7[!@6]ORV.CME.ES.202703";
      api->AddOrder(overseas ? sim::Market::Overseas : sim::Market::Domestic, overseas ? 3 : 1, i % kDomesticRows,
                    sim::OrderRow(spec));
    }
    Pump([&] { return ctrl->m_nOrderCount == kDomesticRows + kOverseasRows; });
  }
  bool Ready() const { return api && ctrl->m_nOrderCount == kDomesticRows + kOverseasRows; }

  std::unique_ptr<CORV_Velmar_KDXCtrl> ctrl;
  std::shared_ptr<sim::SimTradeApi> api;
};

Session& Shared() {
  static Session session;
  return session;
}

// Every field of every row, as a host asks: Invoke by DISPID with VARIANT arguments.
std::size_t ReadTable(IDispatch& control) {
  std::size_t reads = 0;
  VARIANT args[2], result;
  for (int32_t index = 0; index < kDomesticRows + kOverseasRows; ++index) {
    args[0] = VARIANT(index);
    for (DISPID method : {kGetOrderString, kGetOrderValue}) {
      for (long field : method == kGetOrderString ? kStringFields : kValueFields) {
        args[1] = VARIANT(static_cast<int32_t>(field));
        control.Invoke(method, DISPATCH_METHOD, args, &result);
        ++reads;
      }
    }
  }
  benchmark::DoNotOptimize(result);
  return reads;
}

void BM_ReadOrderTableThroughControl(benchmark::State& state) {
  Session& s = Shared();
  if (!s.Ready()) return state.SkipWithError("the session did not start");
  std::size_t reads = 0;
  for (auto _ : state) reads = ReadTable(*s.ctrl);
  state.counters["reads"] = static_cast<double>(reads);
  state.counters["ns_per_read"] =
      benchmark::Counter(static_cast<double>(reads), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReadOrderTableThroughControl)->Unit(benchmark::kMillisecond);

// The same component calls, recorded from one pass of the reads above and made directly.
void BM_ReadOrderTableStraightFromComponent(benchmark::State& state) {
  Session& s = Shared();
  if (!s.Ready()) return state.SkipWithError("the session did not start");
  s.api->ClearCalls();
  s.api->Config().recordCalls = true;
  ReadTable(*s.ctrl);
  s.api->Config().recordCalls = false;
  std::vector<sim::SimCall> calls = s.api->Calls();
  s.api->ClearCalls();
  VARIANT result;
  for (auto _ : state) {
    for (sim::SimCall& call : calls) s.api->Invoke(call.id, DISPATCH_METHOD, call.args, &result);
    benchmark::DoNotOptimize(result);
  }
  state.counters["component_calls"] = static_cast<double>(calls.size());
}
BENCHMARK(BM_ReadOrderTableStraightFromComponent)->Unit(benchmark::kMillisecond);

// One GetOrderString of a futures row's display symbol, by DISPID and by name.
void BM_GetOrderString(benchmark::State& state) {
  Session& s = Shared();
  if (!s.Ready()) return state.SkipWithError("the session did not start");
  const bool byName = state.range(0) != 0;
  VARIANT args[2] = {VARIANT(int32_t{1}), VARIANT(int32_t{2})}, result;
  for (auto _ : state) {
    DISPID id = kGetOrderString;
    if (byName) s.ctrl->GetIDsOfNames(u"GetOrderString", &id);
    s.ctrl->Invoke(id, DISPATCH_METHOD, args, &result);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_GetOrderString)->ArgName("by_name")->Arg(0)->Arg(1);

}  // namespace
