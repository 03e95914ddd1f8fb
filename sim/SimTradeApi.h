// SimTradeApi: a trade-API component that behaves as a broker's would. It answers every
// DISPID of the component contract, logs in by configuration, keeps the log-in data and the
// domestic and overseas order and fill tables, and raises its events from its own window,
// never inside the caller's call. Tests and hosts drive it through the hooks below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/dispatch.h"
#include "platform/message_window.h"
#include "platform/variant.h"
#include "tradeapi/ORVOmniDealApi.h"

namespace kdx::sim {

enum class Market { Domestic, Overseas };
// Posted: the event waits for the creating thread's message loop. Now: raised at once.
enum class Delivery { Posted, Now };

// Length of the order array the order methods take.
inline constexpr std::size_t kOrderFieldCount = 36;

// Text fields by field code.
using SimFields = std::map<long, std::u16string>;

// One row of a report table: text fields (GetDataString, GetOBDataString) and numeric fields
// (GetDataValue, GetOBDataValue). Numeric field -1 is the whole-record number; a row stored
// without one gets the next serial number of its table.
struct SimRow {
  SimFields text;
  std::map<long, double> number;

  SimRow& Text(long field, std::u16string value);
  SimRow& Number(long field, double value);
  // Every field of `changes` replaces this row's.
  void Merge(const SimRow& changes);
};

// One call of an order method, with a deep copy of the array it received.
struct SimOrder {
  DISPID id = DISPID_UNKNOWN;
  std::u16string method;
  bool reduce = false;
  long quantity = 0;  // the reduce methods' first argument
  std::vector<VARIANT> fields;
};

struct SimConfig {
  bool loginSucceeds = true;
  // On failure: event 2's code (0 and 1 end the log-in) and its two texts.
  long failCode = 0;
  std::u16string failTextA = u"E0001";
  std::u16string failTextB = u"Login refused";
  long connectResult = 0;  // 0 starts the log-in
  // Whether calls and orders are kept for Calls() and Orders(); benchmarks turn it off.
  bool recordCalls = true;
  // Members and properties that fail with the given result (and an error description).
  std::map<DISPID, HRESULT> failingCalls;
  // What the order methods return, unless onOrder answers instead.
  long orderResult = 0;
  std::function<long(const SimOrder&)> onOrder;
  // Orders answered 0 become rows of the order tables, and reduces, cancels and price changes
  // answered 0 change those rows, as a broker's component would report them.
  bool bookOrders = true;
  // Log-in level fields (kind 1, row -1): 34 log-in id, 35 password, 214 group list.
  SimFields loginData{{34, u"A123456789"}, {35, u"pass1234"}, {214, u""}};
  // Account rows (kind 1): 1 branch, 5 account, 39 customer account, 59 account type,
  // 213 and 214 the texts account statements show.
  std::vector<SimFields> accounts{Account(u"9A95", u"0012345")};
  // A market for the booked orders: market orders fill at once at their product's last price,
  // limit orders rest until AdvanceMarket's walk crosses them, and orders above
  // maxOrderQuantity lots or contracts or with a limit price not above 0 are booked as failed.
  // Off, orders only fill through FillBookedOrder. The seed is read when the component is made.
  bool market = false;
  uint32_t marketSeed = 20261207;
  long maxOrderQuantity = 999;
  // Event 11's texts, raised one after another once the log-in completes (market on only).
  std::vector<std::u16string> marketDates{u"NML000OPEN", u"FIX000OPEN", u"ODD000OPEN", u"FUT000OPEN"};

  // An account row; the account number defaults to branch + customer account.
  static SimFields Account(std::u16string branch, std::u16string custAccount, std::u16string account = u"",
                           std::u16string type = u"F");
};

// A property set or method call as received, arguments already at their declared types;
// a VARIANT* argument is recorded as a deep copy of what it points to.
struct SimCall {
  DISPID id = DISPID_UNKNOWN;
  std::u16string name;
  bool propertyPut = false;
  std::vector<VARIANT> args;
};

// Current values of the put-only properties.
struct SimProperties {
  std::u16string twOrderPrefix;
  std::u16string obOrderPrefix;
  std::u16string caPath;
  std::u16string caPassword;
  BOOL useCA = TRUE;
  long caType = 0;
};

class SimTradeApi : public DispatchObject,
                    public IConnectionPointContainer,
                    public std::enable_shared_from_this<SimTradeApi> {
 public:
  // GetStatus values.
  static constexpr long kDisconnected = 0, kConnecting = 1, kLoggedIn = 2;
  // Kinds of the rows booked from accepted orders and of their fills, in either market.
  static constexpr long kBookedOrderKind = 1, kBookedFillKind = 2;
  // What a new order is answered instead of 0 when its table has no free row left: the
  // reports' record keys hold rows 0 to 99999 only.
  static constexpr long kBookFull = -900;

  // Belongs to the calling thread: its events are posted to that thread's loop. Use Create
  // (or Register) so that the instance is counted and reachable through Last().
  explicit SimTradeApi(SimConfig config = {});
  ~SimTradeApi() override;
  SimTradeApi(const SimTradeApi&) = delete;
  SimTradeApi& operator=(const SimTradeApi&) = delete;

  // Registration under CLSID_ORVOMNIDEALAPI; each created instance gets a copy of config.
  static void Register(SimConfig config = {});
  static void Unregister();
  static std::shared_ptr<SimTradeApi> Create(SimConfig config = {});
  // The most recently created instance still alive, or null.
  static std::shared_ptr<SimTradeApi> Last();
  static int CreatedCount();
  static int AliveCount();
  // How many instances were alive when Connect was last called (the caller's included).
  static int AliveAtLastConnect();
  // Instances destroyed while one of their own calls or events was on the stack: a fault
  // of whoever released them there.
  static int DestroyedInsideOwnCall();
  // Zeroes the created and destroyed-inside counters (alive instances stay counted).
  static void ResetCounters();

  HRESULT Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) override;
  ConnectionPoint* FindConnectionPoint() override { return &events_; }

  long Status() const { return status_; }
  const SimProperties& Properties() const { return properties_; }
  const std::vector<SimCall>& Calls() const { return calls_; }
  std::vector<SimCall> CallsNamed(std::u16string_view name) const;
  const std::vector<SimOrder>& Orders() const { return orders_; }
  void ClearCalls();
  // Behaviour may be changed between calls (results, log-in outcome, accounts).
  SimConfig& Config() { return config_; }
  std::size_t PendingEvents() const { return pending_.size(); }
  int CallDepth() const { return *depth_; }

  // Report tables, addressed by (kind, row).
  void SetRow(Market market, long kind, long row, SimRow data);
  const SimRow* FindRow(Market market, long kind, long row) const;

  // Hooks. Each raises its event by DISPID with the contract's arguments.
  void Raise(DISPID event, std::vector<VARIANT> args, Delivery when = Delivery::Posted);
  void Disconnect(Delivery when = Delivery::Posted);  // status 0, event 1 (0)
  void StatementChanged(DISPID event = omnideal::EvStatement, Delivery when = Delivery::Posted);
  void MarketDate(std::u16string text, Delivery when = Delivery::Posted);
  void AddOrder(Market market, long kind, long row, SimRow data, Delivery when = Delivery::Posted);
  void ChangeOrder(Market market, long kind, long row, const SimRow& changes, Delivery when = Delivery::Posted);
  void RemoveOrder(Market market, long kind, long row, Delivery when = Delivery::Posted);
  void AddFill(Market market, long kind, long row, SimRow data, Delivery when = Delivery::Posted);
  void ChangeFill(Market market, long kind, long row, const SimRow& changes, Delivery when = Delivery::Posted);
  // Fills an order booked from an order method: a new fill row and the order row's filled and
  // remaining quantities, average price and status, raised as order changed then fill new.
  // quantity in lots (shares for an odd-lot stock order) or contracts, price in price units.
  // False, with nothing changed, for an unknown order, a quantity not above 0 or above the
  // remaining quantity, a price that is not finite, or a full fill table.
  bool FillBookedOrder(std::u16string_view orderNo, long quantity, double price);

  // The market (SimConfig::market). Products are keyed by the symbol as booked: the stock code
  // ("2330"), futures product and month ("TXF 202612"), option product, month, strike and call
  // or put ("TXO 202503 9500 P"), overseas exchange, product and month ("CME ES 202703").
  // A product's first order seeds its last price at the limit (kDefaultPrice for a market
  // order). Prices in price units; false, with nothing changed, for one not finite or not
  // above 0. A new price fills nothing until the next step.
  static constexpr double kDefaultPrice = 100;
  bool SetLastPrice(std::u16string_view product, double price);
  std::optional<double> LastPrice(std::u16string_view product) const;
  // Each step moves every product's last price one tick up or down, by the seeded generator
  // and in product-key order, then fills each of its resting orders the price crossed (buy:
  // last <= limit, sell: last >= limit) at its limit: half the lots left, at least one.
  // Ticks: 0.5 for futures, options and overseas products; stocks by price band.
  void AdvanceMarket(int steps = 1);

 private:
  class CallScope;
  static constexpr UINT kRaiseEventMessage = WM_USER + 1;
  struct PendingEvent {
    DISPID id = DISPID_UNKNOWN;
    std::vector<VARIANT> args;
    std::function<void()> apply;  // state change made as the event goes out
  };
  using RowTable = std::map<std::pair<long, long>, SimRow>;

  void BuildTable();
  void Bind(DISPID id, const char16_t* name, MemberKind kind, VARTYPE result, std::vector<DispatchParam> params,
            DispatchHandler handler);
  void BindProperties();
  void BindSession();
  void BindReports();
  void BindOrders();
  HRESULT TakeOrder(DISPID id, const std::u16string& name, bool reduce, long quantity, const VARIANT& order,
                    VARIANT* result);
  void Record(DISPID id, const std::u16string& name, bool propertyPut, std::span<VARIANT> args);

  std::u16string LoginText(long kind, long row, long field) const;
  std::u16string RowText(Market market, long kind, long row, long field) const;
  double RowNumber(Market market, long kind, long row, long field) const;
  RowTable& TableOf(Market market) { return market == Market::Domestic ? domestic_ : overseas_; }
  const RowTable& TableOf(Market market) const { return market == Market::Domestic ? domestic_ : overseas_; }
  void MergeRow(Market market, long kind, long row, const SimRow& changes);

  struct Booking;
  long BookOrder(const SimOrder& order);
  void BookChange(const SimOrder& order);
  // Takes the next row of (market, kind), past every row of its table and every one handed out;
  // -1 when none is left.
  long FreeRow(Market market, long kind);

  void Schedule(PendingEvent event, Delivery when);
  void ScheduleRow(Market market, DISPID domestic, DISPID overseas, long kind, long row, std::function<void()> apply,
                   Delivery when);
  void Deliver(PendingEvent event);
  LRESULT OnRaise();

  SimConfig config_;
  SimProperties properties_;
  long status_ = kDisconnected;
  std::vector<SimCall> calls_;
  std::vector<SimOrder> orders_;
  RowTable domestic_;
  RowTable overseas_;
  long nextRecordNumber_ = 1;
  // Booked orders by order number; their rows as booked, ahead of the events still queued.
  std::map<std::u16string, std::shared_ptr<Booking>, std::less<>> booked_;
  std::map<std::pair<Market, long>, long> nextRow_;
  long nextOrderNo_ = 1;
  struct Quote {
    double last = kDefaultPrice;
    std::vector<std::shared_ptr<Booking>> resting;  // in booking order
  };
  std::map<std::u16string, Quote, std::less<>> quotes_;
  std::mt19937 walk_;
  std::deque<PendingEvent> pending_;
  // Shared with the call scopes, which outlive the object when it is released inside a call.
  std::shared_ptr<int> depth_ = std::make_shared<int>(0);
  ConnectionPoint events_;
  MessageWindow window_;
};

}  // namespace kdx::sim
