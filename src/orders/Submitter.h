// The one pipeline every submitter runs: fill the component's order array, ask the user,
// log, honour test mode, send, release. The submitters differ only in their tables (array
// elements, log keys, dialog rows) and in a small hook that works out the values those
// tables name.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>

#include "platform/cstring.h"
#include "platform/types.h"
#include "platform/variant.h"

namespace kdx {

class CORV_Velmar_KDXCtrl;
class CORVOMNIDEALAPI;

// Values an order's tables name; the hook of each submitter sets those it uses.
enum class OV : uint8_t {
  LoginID, Password, Branch, Cust, Account, Symbol, Side, OrderType, TradeType, PriceFlag, Price, Qty,
  OrderKey, MarketType, DayTrade, OpenClose, Month, Exchange, StopPrice, CallPut, Strike, OrderNo,
  Quantity30, Quantity31, Filled, Zero,
  // Shown in the dialog only.
  Broker, AccountShown, SideShown, QtyShown, PriceShown, OrderTypeShown, OpenCloseShown, ConditionShown,
  StrikeShown, CallPutShown, SymbolShown, StopShown, Remaining, Reduction, OldPrice, NewPrice, OldStop, NewStop,
  Count
};

// Where a table entry takes its value from: a named value, a fixed text, or a field of the
// existing order's row in the component (text or number).
struct Src {
  enum Kind : uint8_t { Named, Literal, RowText, RowNumber } kind = Literal;
  int id = 0;
  const char16_t* text = nullptr;
};
constexpr Src N(OV v) { return {Src::Named, static_cast<int>(v)}; }
constexpr Src Lit(const char16_t* text) { return {Src::Literal, 0, text}; }
constexpr Src D(int field) { return {Src::RowText, field}; }
constexpr Src Dv(int field) { return {Src::RowNumber, field}; }

struct ArrayField {
  int element = 0;
  VARTYPE vt = VT_BSTR;  // or VT_I4
  Src src;
};

// One table from a shared head and a tail of a kind's own.
template <std::size_t H, std::size_t T>
constexpr std::array<ArrayField, H + T> JoinFields(const ArrayField (&head)[H], const ArrayField (&tail)[T]) {
  std::array<ArrayField, H + T> all{};
  for (std::size_t i = 0; i < H; ++i) all[i] = head[i];
  for (std::size_t i = 0; i < T; ++i) all[H + i] = tail[i];
  return all;
}
struct LogKey {
  const char16_t* key;
  Src src;
};
struct DialogRow {
  const char16_t* label;
  Src src;  // a named value that was not set leaves the row out
};

class COrderContext;
// Works out the order's values. A result means the order stops there with that code.
using OrderHook = std::optional<long> (*)(COrderContext&);
using OrderSend = long (*)(CORVOMNIDEALAPI&, long quantity, VARIANT* order);

struct SubmitterDef {
  const char16_t* name;  // as the log lines give it: "StkOrder"
  OrderHook hook;
  std::span<const ArrayField> fields;
  std::span<const LogKey> log;
  std::span<const DialogRow> rows;
  const char16_t* title;        // a new order, a price change, or a cancel
  const char16_t* reduceTitle;  // a reduce (quantity not 0); null for the others
  int dialogKind;               // of `title`; a reduce is 2
  bool overseasRow;             // the existing order is read with GetOBData...
  OrderSend send;
};

// One order on its way: the control, the ticket's or the existing order's values, and the
// arguments ProcessOrder passed.
class COrderContext {
 public:
  struct Value {
    CString text;
    int64_t number = 0;
    COLORREF colour = 0;
    bool set = false;
  };

  COrderContext(CORV_Velmar_KDXCtrl& ctrl, const SubmitterDef& def, long quantity = 0, long kind = 0, long row = 0)
      : ctrl(ctrl), def(&def), quantity(quantity), kind(kind), row(row) {}

  void Set(OV id, CString text, COLORREF colour = 0);
  void SetNumber(OV id, int64_t number);  // the text is its decimal form
  const Value& Get(OV id) const { return values_[static_cast<std::size_t>(id)]; }
  const CString& Text(OV id) const { return Get(id).text; }
  // Fields of the existing order's row, read from the component once each.
  const CString& RowText(int field);
  int64_t RowNumber(int field);
  // Ends the order: a value does not fit what the component takes.
  std::optional<long> Refuse(const char16_t* what);

  // Whether the dialog will be shown: its values are worked out only then.
  bool Prompting() const;
  // The order's own parts of every array: log-in id, password, the "OR" source code.
  void SetLogin();
  // Label "帳號" shows the ROC id prefix and the order's account.
  void SetAccountShown(const CString& account);
  // "Buy" in red for exactly "B", "Sell" in green otherwise.
  void SetSide(const CString& side);

  CORV_Velmar_KDXCtrl& ctrl;
  const SubmitterDef* def;  // a futures order learns from its symbol whether it is overseas
  long quantity;  // reduce: the quantity to take off, 0 to cancel
  long kind, row;  // the existing order's row
  CString orderNo;
  double newPrice = 0, newStopPrice = 0;  // a price change; 0 keeps the order's
  bool skipPrompt = false;
  long sendQuantity = 0;  // the reduce methods' first argument

 private:
  std::array<Value, static_cast<std::size_t>(OV::Count)> values_{};
  std::map<int, CString> rowTexts_;
  std::map<int, int64_t> rowNumbers_;
  friend class COrderSubmitter;
};

// "%I64d" without the formatter.
CString DecimalText(int64_t number);

// Runs one submitter.
long RunSubmitter(COrderContext& order);

// The submitters, for ProcessOrder.
long SubmitStockOrder(CORV_Velmar_KDXCtrl& ctrl);
long SubmitFuturesOrder(CORV_Velmar_KDXCtrl& ctrl);
long SubmitOptionsOrder(CORV_Velmar_KDXCtrl& ctrl);
long SubmitReduceStkOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row);
long SubmitReduceFutOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row);
long SubmitReduceOptOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row);
long SubmitReduceOBFutOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, long quantity, long kind, long row);
long SubmitModifyOBFutOrder(CORV_Velmar_KDXCtrl& ctrl, const CString& orderNo, double price, double stopPrice,
                            long kind, long row);

}  // namespace kdx
