// A host placing orders with prompting off: the ticket filled field by field through the
// automation interface by DISPID, then ProcessOrder; against the bare component order call
// with the same array, made straight on the simulated component.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/message_window.h"
#include "platform/safearray.h"
#include "sim/SimTradeApi.h"

namespace {

using namespace kdx;

constexpr DISPID kProcessOrder = 4, kClearOrder = 15, kSetOrderInfoString = 16, kSetOrderInfoValue = 17;

struct TicketField {
  int32_t field;
  const char16_t* text;  // null for a number
  double value;
};

const std::vector<TicketField> kStockTicket = {
    {0, u"S", 0},     {1, u"9A95-0012345", 0}, {2, u"ORV.TWS.2330", 0}, {3, u"N", 0}, {4, u"B", 0}, {5, u"L", 0},
    {6, nullptr, 600.5}, {7, nullptr, 2},      {8, u"T", 0},           {10, u"N", 0}, {11, u"desk 7", 0}};
const std::vector<TicketField> kOverseasTicket = {
    {0, u"F", 0},  {1, u"9A95-0012345", 0}, {2, u"ORV.CME.ES.202703", 0}, {3, u"R", 0},
    {4, u"B", 0},  {6, nullptr, 4321.25},   {7, nullptr, 1},             {10, u"N", 0},
    {14, nullptr, 0}, {15, u"O", 0},        {11, u"desk 7", 0}};

// One log-in with prompting off, shared by the benchmarks of this file.
struct Session {
  Session() {
    sim::SimConfig config;
    config.recordCalls = false;
    config.orderResult = 1;  // not booked: the table would otherwise grow by an order per run
    sim::SimTradeApi::Register(config);
    const auto ini = std::filesystem::temp_directory_path() / ("kdx-orders-" + std::to_string(getpid()) + ".ini");
    std::ofstream(ini) << "\xEF\xBB\xBF[Sim]\nRocID=a1\nBroker=KGI\nOrderPrompt=0\n";
    ctrl = std::make_unique<CORV_Velmar_KDXCtrl>();
    ctrl->Login(CString::FromUtf8(ini.string()), u"Sim");
    MessageLoop::ForCurrentThread().RunUntil([&] { return !ctrl->m_mapAccounts.empty(); }, std::chrono::seconds(60));
    std::filesystem::remove(ini);
    api = sim::SimTradeApi::Last();
  }

  std::unique_ptr<CORV_Velmar_KDXCtrl> ctrl;
  std::shared_ptr<sim::SimTradeApi> api;
};

Session& Shared() {
  static Session session;
  return session;
}

long PlaceOrder(IDispatch& control, const std::vector<TicketField>& ticket) {
  VARIANT args[2], result;
  control.Invoke(kClearOrder, DISPATCH_METHOD, {}, &result);
  for (const TicketField& f : ticket) {
    args[0] = VARIANT(f.field);
    args[1] = f.text ? VARIANT(f.text) : VARIANT(f.value);
    control.Invoke(f.text ? kSetOrderInfoString : kSetOrderInfoValue, DISPATCH_METHOD, args, &result);
  }
  control.Invoke(kProcessOrder, DISPATCH_METHOD, {}, &result);
  return result.lVal;
}

void ProcessOrder(benchmark::State& state, const std::vector<TicketField>& ticket) {
  Session& s = Shared();
  if (!s.api || PlaceOrder(*s.ctrl, ticket) != 1) {
    state.SkipWithError("the order did not reach the simulated component");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(PlaceOrder(*s.ctrl, ticket));
}

// The array the control sends for that ticket, called straight on the component.
void BareOrderCall(benchmark::State& state, const std::vector<TicketField>& ticket, DISPID method) {
  Session& s = Shared();
  if (!s.api) {
    state.SkipWithError("no simulated component");
    return;
  }
  s.api->Config().recordCalls = true;
  PlaceOrder(*s.ctrl, ticket);
  s.api->Config().recordCalls = false;
  if (s.api->Orders().empty()) {
    state.SkipWithError("the order did not reach the simulated component");
    return;
  }
  const std::vector<VARIANT>& fields = s.api->Orders().back().fields;
  SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(fields.size()));
  for (LONG i = 0; i < static_cast<LONG>(fields.size()); ++i) {
    VARIANT element = fields[static_cast<std::size_t>(i)];
    SafeArrayPutElement(psa, &i, &element);
  }
  VARIANT order = VARIANT::Array(psa), arg = VARIANT::ByRef(&order), result;
  for (auto _ : state) {
    s.api->Invoke(method, DISPATCH_METHOD, std::span<VARIANT>(&arg, 1), &result);
    benchmark::DoNotOptimize(result.lVal);
  }
}

void BM_ProcessOrderStock(benchmark::State& state) { ProcessOrder(state, kStockTicket); }
void BM_BareStkOrder(benchmark::State& state) { BareOrderCall(state, kStockTicket, omnideal::StkOrder); }
void BM_ProcessOrderOverseasFutures(benchmark::State& state) { ProcessOrder(state, kOverseasTicket); }
void BM_BareOBFutOrder(benchmark::State& state) { BareOrderCall(state, kOverseasTicket, omnideal::OBFutOrder); }

BENCHMARK(BM_ProcessOrderStock);
BENCHMARK(BM_BareStkOrder);
BENCHMARK(BM_ProcessOrderOverseasFutures);
BENCHMARK(BM_BareOBFutOrder);

}  // namespace
