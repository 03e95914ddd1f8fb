// One session of the console host, as an ActiveX test container gives it: the simulated broker
// (trade-API component and web services on loopback) started in the process, a generated
// profile, the control created by ProgID through its registration, every event printed as it
// fires, and the control's tables printed as aligned columns.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <ostream>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "record/field_record.h"
#include "platform/variant.h"
#include "sim/SimTradeApi.h"
#include "sim/SimWebServices.h"
#include "ui/ConfirmPresenter.h"

namespace kdx::host {

struct HostEvent {
  std::string name;
  std::vector<VARIANT> args;
};

// "OrderStatus(0)", "Log(2,(StkOrder)ROC_ID=...)".
std::string Describe(const HostEvent& event);
// A result or argument as the host prints it: numbers in decimal, texts as they are.
std::string ValueText(const VARIANT& value);

// What the session traded, for the web services' answers (read on their threads).
class AccountBook {
 public:
  struct Fill {
    std::u16string symbol;
    bool buy = true;
    double quantity = 0, price = 0;
  };
  void Add(Fill fill);
  // Named query "Positions": one row per symbol, its net quantity.
  std::vector<FieldRecord> Positions() const;
  // The rights statement: stock and futures balances, the stock trades paid for.
  std::vector<FieldRecord> Rights() const;
  // The performance statement: one row per fill.
  std::vector<FieldRecord> Performance(const std::string& account) const;

 private:
  mutable std::mutex mutex_;
  std::vector<Fill> fills_;
};

class HostSession {
 public:
  enum class Dialogs { Auto, Yes, Terminal, Window };
  struct Options {
    Dialogs dialogs = Dialogs::Auto;  // Auto: the terminal when standard input is one
    std::string dialogImages;         // with Yes: each dialog also saved there as a PNG
    bool prompt = true;               // OrderPrompt of the generated profile
    bool timestamps = true;           // event lines start with the time
    bool market = false;              // the simulated broker's market: prices that move, fills
    std::string profile, session;     // a profile of the user's own, instead of the generated one
  };

  HostSession(std::ostream& out, Options options);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Starts the simulated broker and creates the control; false with the reason in `error`.
  bool Start(std::string& error);
  // Logs in with the session's profile and waits for LoginReady or LoginFail.
  bool LogIn(std::string& error);

  // A method of the control by name; the HRESULT of the call.
  HRESULT Call(std::u16string_view name, std::vector<VARIANT> args, VARIANT* result);
  // The next event of that name not yet waited for whose first arguments equal `leading`
  // (as printed), pumping the control's messages until it comes or the time is up.
  std::optional<HostEvent> Wait(const std::string& name, const std::vector<std::string>& leading,
                                std::chrono::milliseconds timeout);
  // Runs the control's messages for that long.
  void Pump(std::chrono::milliseconds duration);
  // The answer the scripted presenter gives the next dialogs (IDOK once none is queued).
  void QueueAnswer(int answer);

  // Orders, fills and the account list, each as aligned columns.
  void PrintTables();
  void PrintOrders();
  void PrintFills();
  void PrintStatement(long infoType);

  sim::SimTradeApi* Api() const { return sim::SimTradeApi::Last().get(); }
  IDispatch* Control() const { return control_.get(); }
  std::ostream& Out() { return out_; }

 private:
  void OnEvent(DISPID id, std::span<VARIANT> args);
  void RecordFill(int32_t index);
  CString Text(std::u16string_view method, std::vector<VARIANT> args);
  long Count(std::u16string_view method, std::vector<VARIANT> args);
  void PrintTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows);
  // The order or fill report ("Order", "FillOrder"): its count, then the columns of each row.
  void PrintReport(const char* title, std::u16string_view prefix, std::span<const struct ReportColumn> columns);

  std::ostream& out_;
  Options options_;
  std::filesystem::path folder_;
  std::unique_ptr<sim::SimWebServices> web_;
  std::shared_ptr<AccountBook> book_ = std::make_shared<AccountBook>();
  std::shared_ptr<IDispatch> control_;
  std::shared_ptr<IDispatch> sink_;
  DWORD cookie_ = 0;
  std::shared_ptr<ScriptedConfirmPresenter> scripted_;
  std::shared_ptr<ConfirmPresenter> previousPresenter_;
  std::shared_ptr<MessageBoxPresenter> previousBoxes_;
  std::deque<HostEvent> events_;  // not yet waited for
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

}  // namespace kdx::host
