#include "host/session.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <map>

#include "control/KdxCtrl.h"
#include "control/Module.h"
#include "platform/class_factory.h"
#include "platform/codepage.h"
#include "platform/message_window.h"
#include "platform/registry.h"
#include "platform/window.h"
#include "record/field_record.h"
#include "ui/WindowPresenter.h"

namespace kdx::host {
namespace {

constexpr std::u16string_view kProgId = u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1";

std::string Utf8(const CString& text) { return text.ToUtf8(); }

// Answers as scripted, and shows what it answered.
class EchoingPresenter : public ScriptedConfirmPresenter {
 public:
  explicit EchoingPresenter(std::ostream& out) : ScriptedConfirmPresenter({}, true), out_(out) {}
  int Show(const ConfirmRequest& request) override {
    PrintConfirmRequest(out_, request);
    const int answer = ScriptedConfirmPresenter::Show(request);
    out_ << "  -> " << (answer == IDOK ? "ORDER" : "CANCEL") << '\n';
    return answer;
  }

 private:
  std::ostream& out_;
};

}  // namespace

std::string ValueText(const VARIANT& value) {
  switch (value.vt) {
    case VT_BSTR: return Utf16ToUtf8(value.bstrVal);
    case VT_I4: return std::to_string(value.lVal);
    case VT_R8: {
      char text[32];
      const auto end = std::to_chars(text, text + sizeof text, value.dblVal).ptr;
      return std::string(text, end);
    }
    case VT_EMPTY: return "";
    default: {
      VARIANT text;
      return SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR)) ? Utf16ToUtf8(text.bstrVal) : "?";
    }
  }
}

std::string Describe(const HostEvent& event) {
  std::string line = event.name;
  for (std::size_t i = 0; i < event.args.size(); ++i) line += (i == 0 ? "(" : ",") + ValueText(event.args[i]);
  return event.args.empty() ? line : line + ")";
}

HostSession::HostSession(std::ostream& out, Options options) : out_(out), options_(std::move(options)) {}

HostSession::~HostSession() {
  if (control_) {
    if (auto* container = dynamic_cast<IConnectionPointContainer*>(control_.get()); container && cookie_)
      container->FindConnectionPoint()->Unadvise(cookie_);
    VARIANT ignored;
    Call(u"Logout", {}, &ignored);
    control_.reset();
    MessageLoop::ForCurrentThread().RunPending();
  }
  if (previousPresenter_) SetConfirmPresenter(previousPresenter_);
  if (previousBoxes_) SetMessageBoxPresenter(previousBoxes_);
  sim::SimTradeApi::Unregister();
  web_.reset();
  std::error_code ignored;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

bool HostSession::Start(std::string& error) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kdx-host-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    error = "cannot make a scratch folder in " + std::filesystem::temp_directory_path().string();
    return false;
  }
  folder_ = pattern;
  // A registry of the session's own: the user's registrations stay as they are.
  SetRegistryFile(folder_ / "registry");
  if (DllRegisterServer() != S_OK) {
    error = "the control could not be registered";
    return false;
  }
  sim::SimConfig config;
  config.market = options_.market;
  sim::SimTradeApi::Register(config);
  web_ = std::make_unique<sim::SimWebServices>();
  if (web_->Port() == 0) {
    error = "the simulated web services found no port on 127.0.0.1";
    return false;
  }
  // The web services answer from what the session traded: positions per symbol, and the
  // performance statement's fills. Row sources run on the server's threads.
  web_->SetQuery("/positions", [book = book_](const sim::ServedRequest&) { return book->Positions(); });
  web_->SetRights([book = book_](const sim::ServedRequest&) { return book->Rights(); });
  web_->SetPerformance([book = book_](const sim::ServedRequest& r) { return book->Performance(sim::ParamValue(r, "broker_id")); });
  if (options_.profile.empty()) {
    options_.profile = (folder_ / "demo.ini").string();
    options_.session = "Demo";
    std::ofstream(options_.profile) << "\xEF\xBB\xBF[Demo]\nRocID=KG_A123456789\nPassword=demo-only\nBroker=8880\n"
                                       "BrokerName=KGI\nQueryAddress="
                                    << web_->Address() << "\nOrderPrompt=" << (options_.prompt ? 1 : 0)
                                    << "\nPositions=http://%QUERY_ADDRESS%/positions\n";
  }

  if (const HRESULT hr = CreateObjectByProgID(kProgId, &control_); FAILED(hr)) {
    error = "creating " + Utf16ToUtf8(kProgId) + " failed: " + std::to_string(hr);
    return false;
  }
  DispatchTable table = KdxEventTable();
  for (const DispatchMember& row : KdxEventTable()) {
    table.Bind(row.id, MemberKind::Method, [this, id = row.id](std::span<VARIANT> args, VARIANT*) {
      OnEvent(id, args);
      return S_OK;
    });
  }
  sink_ = std::make_shared<DispatchObject>(std::move(table));
  auto* container = dynamic_cast<IConnectionPointContainer*>(control_.get());
  if (container == nullptr) {
    error = "the control offers no events";
    return false;
  }
  cookie_ = container->FindConnectionPoint()->Advise(sink_);

  const bool terminal = options_.dialogs == Dialogs::Terminal ||
                        (options_.dialogs == Dialogs::Auto && isatty(STDIN_FILENO) == 1);
  scripted_ = std::make_shared<EchoingPresenter>(out_);
  scripted_->SaveImagesTo(options_.dialogImages);
  std::shared_ptr<ConfirmPresenter> presenter = scripted_;
  if (options_.dialogs == Dialogs::Window) {
    if (!ModalWindow::DisplayAvailable()) {
      error = "--gui needs an X display: $DISPLAY is not set or does not answer";
      return false;
    }
    presenter = std::make_shared<WindowConfirmPresenter>();
    previousBoxes_ = SetMessageBoxPresenter(std::make_shared<WindowMessageBoxPresenter>());
  } else if (terminal) {
    presenter = std::make_shared<TerminalConfirmPresenter>(STDIN_FILENO, out_);
  }
  previousPresenter_ = SetConfirmPresenter(std::move(presenter));
  return true;
}

bool HostSession::LogIn(std::string& error) {
  VARIANT result;
  const HRESULT hr = Call(u"Login", {VARIANT(CString::FromUtf8(options_.profile).str()),
                                     VARIANT(CString::FromUtf8(options_.session).str())}, &result);
  if (FAILED(hr) || result.lVal != 0) {
    error = "Login returned " + (FAILED(hr) ? "a failed call" : ValueText(result));
    return false;
  }
  const auto ready = Wait("LoginReady", {}, std::chrono::seconds(10));
  if (!ready) error = "no LoginReady within 10 s";
  return ready.has_value();
}

HRESULT HostSession::Call(std::u16string_view name, std::vector<VARIANT> args, VARIANT* result) {
  if (!control_) return E_POINTER;
  return InvokeByName(*control_, name, DISPATCH_METHOD, args, result);
}

void HostSession::OnEvent(DISPID id, std::span<VARIANT> args) {
  const DispatchMember* row = KdxEventTable().Find(id, MemberKind::Method);
  HostEvent event{row ? Utf16ToUtf8(row->name) : std::to_string(id), {args.begin(), args.end()}};
  if (options_.timestamps) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
    out_ << '[' << std::setw(6) << std::fixed << std::setprecision(3) << ms.count() / 1000.0 << "] ";
  }
  out_ << Describe(event) << '\n';
  if (id == kdxevent::FillOrder && !event.args.empty() && event.args[0].vt == VT_I4) RecordFill(event.args[0].lVal);
  events_.push_back(std::move(event));
}

void HostSession::RecordFill(int32_t index) {
  auto text = [&](int32_t field) { return Text(u"GetFillOrderString", {VARIANT(index), VARIANT(field)}); };
  auto value = [&](int32_t field) {
    VARIANT v;
    return SUCCEEDED(Call(u"GetFillOrderValue", {VARIANT(index), VARIANT(field)}, &v)) && v.vt == VT_R8 ? v.dblVal : 0.0;
  };
  book_->Add({text(25).str(), text(6) == u"買進", value(9), value(10)});
}

void AccountBook::Add(Fill fill) {
  const std::lock_guard lock(mutex_);
  fills_.push_back(std::move(fill));
}

std::vector<FieldRecord> AccountBook::Positions() const {
  const std::lock_guard lock(mutex_);
  std::map<std::u16string, double> net;
  for (const Fill& f : fills_) net[f.symbol] += f.buy ? f.quantity : -f.quantity;
  std::vector<FieldRecord> rows;
  for (const auto& [symbol, quantity] : net) {
    FieldRecord& row = rows.emplace_back();
    row.SetString(0, symbol);
    row.SetNumber(0, static_cast<int64_t>(quantity));
  }
  return rows;
}

std::vector<FieldRecord> AccountBook::Rights() const {
  const std::lock_guard lock(mutex_);
  // Cash moves with stock trades (lots of 1,000 shares); futures margin is left out.
  constexpr int64_t kStart = 5000000;
  int64_t stockCash = 0;
  for (const Fill& f : fills_) {
    if (!f.symbol.starts_with(u"ORV.TWS.")) continue;
    const auto amount = static_cast<int64_t>(f.quantity * f.price * 1000);
    stockCash += f.buy ? -amount : amount;
  }
  std::vector<FieldRecord> rows;
  for (const auto& [market, balance] : {std::pair(u"證券", kStart + stockCash), std::pair(u"期貨", kStart)}) {
    FieldRecord& row = rows.emplace_back();
    const std::u16string text = CString::FromUtf8(std::to_string(balance)).str();
    const std::pair<int, std::u16string> fields[] = {{2, u"TWD"}, {3, u"示範帳戶"}, {4, text}, {5, u"0"}, {6, u"0"},
                                                     {7, u"0"},   {8, u"0"},        {9, text}, {11, market}};
    for (const auto& [field, value] : fields) row.SetString(field, value);
    row.SetString(10, CString::FromUtf8(std::to_string(balance - balance / 4)).str());
  }
  return rows;
}

std::vector<FieldRecord> AccountBook::Performance(const std::string& account) const {
  const std::lock_guard lock(mutex_);
  std::vector<FieldRecord> rows;
  for (const Fill& f : fills_) {
    FieldRecord& row = rows.emplace_back();
    row.SetNumber(0, 4);
    row.SetString(0, CString::FromUtf8(account).str());
    // ORV.<exchange>.<product>[.<month>...]
    std::vector<std::u16string> parts;
    for (std::size_t at = 0; at <= f.symbol.size();) {
      const std::size_t dot = std::min(f.symbol.find(u'.', at), f.symbol.size());
      parts.push_back(f.symbol.substr(at, dot - at));
      at = dot + 1;
    }
    parts.resize(std::max<std::size_t>(parts.size(), 4));
    row.SetString(1, parts[1]);
    row.SetString(2, parts[2]);
    row.SetString(3, parts[3]);
    row.SetString(4, f.buy ? u"1" : u"-1");
    row.SetString(5, CString::FromUtf8(ValueText(VARIANT(f.quantity))).str());
    row.SetString(6, CString::FromUtf8(ValueText(VARIANT(f.price))).str());
  }
  return rows;
}

std::optional<HostEvent> HostSession::Wait(const std::string& name, const std::vector<std::string>& leading,
                                           std::chrono::milliseconds timeout) {
  auto matches = [&](const HostEvent& e) {
    if (e.name != name || e.args.size() < leading.size()) return false;
    for (std::size_t i = 0; i < leading.size(); ++i)
      if (ValueText(e.args[i]) != leading[i]) return false;
    return true;
  };
  std::optional<HostEvent> found;
  auto take = [&] {
    const auto it = std::find_if(events_.begin(), events_.end(), matches);
    if (it == events_.end()) return false;
    found = std::move(*it);
    events_.erase(events_.begin(), it + 1);  // what came before it is passed over
    return true;
  };
  MessageLoop::ForCurrentThread().RunUntil(take, timeout);
  if (!found) take();
  return found;
}

void HostSession::Pump(std::chrono::milliseconds duration) {
  MessageLoop::ForCurrentThread().RunUntil([] { return false; }, duration);
}

void HostSession::QueueAnswer(int answer) { scripted_->QueueAnswer(answer); }

CString HostSession::Text(std::u16string_view method, std::vector<VARIANT> args) {
  VARIANT result;
  return SUCCEEDED(Call(method, std::move(args), &result)) && result.vt == VT_BSTR ? CString(result.bstrVal) : CString();
}

long HostSession::Count(std::u16string_view method, std::vector<VARIANT> args) {
  VARIANT result;
  return SUCCEEDED(Call(method, std::move(args), &result)) && result.vt == VT_I4 ? result.lVal : 0;
}

void HostSession::PrintTable(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows) {
  std::vector<int> widths(header.size());
  auto width = [](const std::string& text) { return DisplayWidth(CString::FromUtf8(text).str()); };
  for (std::size_t c = 0; c < header.size(); ++c) {
    widths[c] = width(header[c]);
    for (const auto& row : rows) widths[c] = std::max(widths[c], width(row[c]));
  }
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text = "  ";
    for (std::size_t c = 0; c < cells.size(); ++c) {
      text += cells[c];
      if (c + 1 < cells.size()) text += std::string(static_cast<std::size_t>(widths[c] - width(cells[c]) + 2), ' ');
    }
    out_ << text << '\n';
  };
  line(header);
  for (const auto& row : rows) line(row);
}

// A report's columns: a text field (GetOrderString, ...) or, when `value`, a number field.
struct ReportColumn {
  const char* title;
  int32_t field;
  bool value;
};

void HostSession::PrintReport(const char* title, std::u16string_view prefix, std::span<const ReportColumn> columns) {
  const std::u16string name(prefix);
  const long count = Count(u"Get" + name + u"Count", {});
  out_ << title << " (" << count << ")\n";
  std::vector<std::string> header{"#"};
  for (const ReportColumn& c : columns) header.push_back(c.title);
  std::vector<std::vector<std::string>> rows;
  for (int32_t i = 0; i < count; ++i) {
    std::vector<std::string> row{std::to_string(i)};
    for (const ReportColumn& c : columns) {
      VARIANT v;
      Call(u"Get" + name + (c.value ? u"Value" : u"String"), {VARIANT(i), VARIANT(c.field)}, &v);
      row.push_back(ValueText(v));
    }
    rows.push_back(std::move(row));
  }
  PrintTable(header, rows);
}

void HostSession::PrintOrders() {
  static constexpr ReportColumn kColumns[] = {{"order no", 1, false}, {"symbol", 25, false}, {"side", 6, false},
                                              {"price", 7, true},     {"remaining", 8, true}, {"filled", 9, true},
                                              {"status", 11, false}};
  PrintReport("orders", u"Order", kColumns);
}

void HostSession::PrintFills() {
  static constexpr ReportColumn kColumns[] = {{"order no", 1, false}, {"symbol", 25, false}, {"side", 6, false},
                                              {"price", 10, true},    {"quantity", 9, true}};
  PrintReport("fills", u"FillOrder", kColumns);
}

void HostSession::PrintStatement(long infoType) {
  constexpr int32_t kFields = 16;
  const auto type = static_cast<int32_t>(infoType);
  const long count = Count(u"GetStatementCount", {VARIANT(type)});
  out_ << "statement " << infoType << " (" << count << ")\n";
  std::vector<std::vector<std::string>> cells;
  for (int32_t i = 0; i < count; ++i) {
    auto& row = cells.emplace_back();
    for (int32_t field = 0; field < kFields; ++field)
      row.push_back(Utf8(Text(u"GetStatementString", {VARIANT(type), VARIANT(i), VARIANT(field)})));
  }
  // Only the fields some row has.
  std::vector<std::string> header{"#"};
  std::vector<std::vector<std::string>> rows(cells.size());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].push_back(std::to_string(i));
  for (int32_t field = 0; field < kFields; ++field) {
    const auto f = static_cast<std::size_t>(field);
    if (std::all_of(cells.begin(), cells.end(), [&](const auto& row) { return row[f].empty(); })) continue;
    header.push_back(std::to_string(field));
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i].push_back(cells[i][f]);
  }
  PrintTable(header, rows);
}

void HostSession::PrintTables() {
  PrintOrders();
  PrintFills();
}

}  // namespace kdx::host
