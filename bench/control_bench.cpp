// The control end to end on loopback: the overseas product list loaded at log-in, and a named
// query's reply of 10,000 lines from the server to the host's update event, with the memory its
// stored rows take.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/message_window.h"
#include "queries/ObProductTable.h"
#include "sim/SimWebServices.h"

namespace {

using namespace kdx;

std::vector<sim::ObProduct> Products(int count) {
  std::vector<sim::ObProduct> products;
  for (int i = 0; i < count; ++i) {
    const std::u16string n = CString::FromUtf8(std::to_string(i)).str();
    products.push_back({u"F|CME|P" + n + u"|202612|0|0", u"P" + n + u"12", u"CME", u"P" + n});
  }
  return products;
}

void BM_LoadProductList20000(benchmark::State& state) {
  sim::SimWebServices web;
  web.SetProducts(Products(20000));
  CORV_Velmar_KDXCtrl ctrl;
  ctrl.m_mapProfile[u"ObProductHost"] = CString::FromUtf8(web.Address());
  for (auto _ : state) {
    ctrl.LoadObProductTable();
    benchmark::DoNotOptimize(ctrl.m_mapObProductCode.size());
  }
  if (ctrl.m_mapObCodeToKey.size() != 20000) state.SkipWithError("the list did not load");
  state.counters["products"] = static_cast<double>(ctrl.m_mapObCodeToKey.size());
}
BENCHMARK(BM_LoadProductList20000)->Unit(benchmark::kMillisecond);

void BM_ParseProductList20000(benchmark::State& state) {
  const std::string body = sim::ProductListBody(Products(20000), 50, 300);
  for (auto _ : state) benchmark::DoNotOptimize(ParseObProductList(body));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ParseProductList20000)->Unit(benchmark::kMillisecond);

// A statement-like row: 12 numbers and 12 texts, some Chinese.
std::vector<FieldRecord> Rows(int count) {
  std::vector<FieldRecord> rows(static_cast<std::size_t>(count));
  const char16_t* texts[] = {u"9A95", u"9A95-0012345-00", u"王小明", u"TWD", u"現金餘額(交割款,T+2)", u"1,250,000",
                             u"3,201.55", u"2024/06/11 13:30:00", u"台積電(2330)", u"2330", u"普通股現股", u"ORV.TWS.2330"};
  for (int r = 0; r < count; ++r) {
    for (int i = 0; i < 12; ++i) rows[r].SetNumber(i, int64_t{1250000} * i + r);
    for (int i = 0; i < 12; ++i) rows[r].SetString(i, texts[i]);
  }
  return rows;
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

std::size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// From StartHttpQuery to the QueryUpdate the host receives: the worker's fetch, the hand-over
// to the user-interface thread, decoding and storing every row.
void BM_Reply10000Lines(benchmark::State& state) {
  constexpr int kLines = 10000;
  sim::SimWebServices web;
  const std::vector<FieldRecord> rows = Rows(kLines);
  web.SetQuery("/q", [&rows](const sim::ServedRequest&) { return rows; });
  const std::string url = web.Url("/q");
  CORV_Velmar_KDXCtrl ctrl;
  int updates = 0;
  DispatchTable sink = KdxEventTable();
  sink.Bind(kdxevent::QueryUpdate, MemberKind::Method, [&updates](std::span<VARIANT>, VARIANT*) {
    ++updates;
    return S_OK;
  });
  ctrl.FindConnectionPoint()->Advise(std::make_shared<DispatchObject>(std::move(sink)));

  double heapPerRow = 0, residentPerRow = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ctrl.m_mapQueryTables.clear();
    malloc_trim(0);
    const std::size_t heap = HeapInUse(), resident = ResidentBytes();
    const int before = updates;
    state.ResumeTiming();
    ctrl.StartHttpQuery(100, 0, CString::FromUtf8(url), u"Q");
    MessageLoop::ForCurrentThread().RunUntil([&] { return updates > before; }, std::chrono::seconds(60));
    state.PauseTiming();
    const auto& table = ctrl.m_mapQueryTables[u"Q"];
    if (table.size() != static_cast<std::size_t>(kLines)) state.SkipWithError("rows missing");
    heapPerRow = static_cast<double>(HeapInUse() - heap) / kLines;
    // Only the first reply grows the process; later ones reuse what the previous one freed.
    if (residentPerRow == 0) residentPerRow = static_cast<double>(ResidentBytes() - resident) / kLines;
    state.ResumeTiming();
  }
  state.counters["heap_bytes_per_row"] = heapPerRow;
  state.counters["resident_bytes_per_row"] = residentPerRow;
  state.counters["lines"] = kLines;
}
BENCHMARK(BM_Reply10000Lines)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
