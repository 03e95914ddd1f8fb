// The simulated component's report tables and the hooks that change them and raise events.
#include "sim/SimTradeApi.h"

namespace kdx::sim {
namespace {

VARIANT Long(long value) { return VARIANT(static_cast<int32_t>(value)); }

}  // namespace

void SimTradeApi::SetRow(Market market, long kind, long row, SimRow data) {
  if (!data.number.contains(-1)) data.number[-1] = static_cast<double>(nextRecordNumber_++);
  TableOf(market)[{kind, row}] = std::move(data);
}

const SimRow* SimTradeApi::FindRow(Market market, long kind, long row) const {
  const RowTable& table = TableOf(market);
  const auto it = table.find({kind, row});
  return it == table.end() ? nullptr : &it->second;
}

std::u16string SimTradeApi::RowText(Market market, long kind, long row, long field) const {
  const SimRow* found = FindRow(market, kind, row);
  if (found == nullptr) return {};
  const auto it = found->text.find(field);
  return it == found->text.end() ? std::u16string() : it->second;
}

double SimTradeApi::RowNumber(Market market, long kind, long row, long field) const {
  const SimRow* found = FindRow(market, kind, row);
  if (found == nullptr) return 0;
  const auto it = found->number.find(field);
  return it == found->number.end() ? 0 : it->second;
}

void SimTradeApi::Raise(DISPID event, std::vector<VARIANT> args, Delivery when) {
  Schedule({event, std::move(args), nullptr}, when);
}

void SimTradeApi::Disconnect(Delivery when) {
  Schedule({omnideal::EvStatus, {Long(kDisconnected)}, [this] { status_ = kDisconnected; }}, when);
}

void SimTradeApi::StatementChanged(DISPID event, Delivery when) { Schedule({event, {}, nullptr}, when); }

void SimTradeApi::MarketDate(std::u16string text, Delivery when) {
  Schedule({omnideal::EvMarketDate, {VARIANT(std::move(text))}, nullptr}, when);
}

void SimTradeApi::MergeRow(Market market, long kind, long row, const SimRow& changes) {
  RowTable& table = TableOf(market);
  if (const auto it = table.find({kind, row}); it != table.end()) {
    it->second.Merge(changes);
  } else {
    SetRow(market, kind, row, changes);
  }
}

// Table changes take effect as their event goes out, so a reader inside the event sees the
// row as the event describes it, whatever else was queued before.

void SimTradeApi::ScheduleRow(Market market, DISPID domestic, DISPID overseas, long kind, long row,
                              std::function<void()> apply, Delivery when) {
  Schedule(PendingEvent{market == Market::Domestic ? domestic : overseas, {Long(kind), Long(row)}, std::move(apply)},
           when);
}

void SimTradeApi::AddOrder(Market market, long kind, long row, SimRow data, Delivery when) {
  ScheduleRow(market, omnideal::EvOrderNew, omnideal::EvOBOrderNew, kind, row,
              [this, market, kind, row, data = std::move(data)] { SetRow(market, kind, row, data); }, when);
}

void SimTradeApi::ChangeOrder(Market market, long kind, long row, const SimRow& changes, Delivery when) {
  ScheduleRow(market, omnideal::EvOrderChanged, omnideal::EvOBOrderChanged, kind, row,
              [this, market, kind, row, changes] { MergeRow(market, kind, row, changes); }, when);
}

void SimTradeApi::RemoveOrder(Market market, long kind, long row, Delivery when) {
  ScheduleRow(market, omnideal::EvOrderRemoved, omnideal::EvOBOrderRemoved, kind, row,
              [this, market, kind, row] { TableOf(market).erase({kind, row}); }, when);
}

void SimTradeApi::AddFill(Market market, long kind, long row, SimRow data, Delivery when) {
  ScheduleRow(market, omnideal::EvFillNew, omnideal::EvOBFillNew, kind, row,
              [this, market, kind, row, data = std::move(data)] { SetRow(market, kind, row, data); }, when);
}

void SimTradeApi::ChangeFill(Market market, long kind, long row, const SimRow& changes, Delivery when) {
  ScheduleRow(market, omnideal::EvFillChanged, omnideal::EvOBFillChanged, kind, row,
              [this, market, kind, row, changes] { MergeRow(market, kind, row, changes); }, when);
}

void SimTradeApi::Schedule(PendingEvent event, Delivery when) {
  if (when == Delivery::Now) {
    Deliver(std::move(event));
    return;
  }
  pending_.push_back(std::move(event));
  // One message per event: the loop delivers them in the order they were scheduled.
  if (!window_.PostMessage(kRaiseEventMessage, 0, 0)) pending_.pop_back();
}

LRESULT SimTradeApi::OnRaise() {
  if (pending_.empty()) return 0;
  PendingEvent event = std::move(pending_.front());
  pending_.pop_front();
  Deliver(std::move(event));  // may have released this component: touch nothing after it
  return 0;
}

}  // namespace kdx::sim
