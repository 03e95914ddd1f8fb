#include "host/script.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/message_box.h"

namespace kdx::host {
namespace {

constexpr auto kDefaultWait = std::chrono::milliseconds(5000);

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits a line at blanks; quoted texts keep theirs. Nothing when a quote is not closed.
std::optional<std::vector<Token>> Tokenize(std::string_view line) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i >= line.size()) return tokens;
    Token token;
    if (line[i] == '"') {
      token.quoted = true;
      for (++i;; ++i) {
        if (i >= line.size()) return std::nullopt;
        if (line[i] == '"') break;
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        token.text += line[i];
      }
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') token.text += line[i++];
    }
    tokens.push_back(std::move(token));
  }
}

template <class T>
std::optional<T> Number(const std::string& text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

VARIANT Argument(const Token& token) {
  if (!token.quoted) {
    if (const auto whole = Number<int32_t>(token.text)) return VARIANT(*whole);
    if (token.text.find_first_of(".eE") != std::string::npos) {
      if (const auto decimal = Number<double>(token.text)) return VARIANT(*decimal);
    }
  }
  return VARIANT(CString::FromUtf8(token.text).str());
}

std::vector<VARIANT> Arguments(const std::vector<Token>& tokens, std::size_t from, std::size_t to) {
  std::vector<VARIANT> args;
  for (std::size_t i = from; i < to; ++i) args.push_back(Argument(tokens[i]));
  return args;
}

class Runner {
 public:
  explicit Runner(HostSession& session) : session_(session), out_(session.Out()) {}

  // The reason the line failed, or nothing.
  std::optional<std::string> Run(const std::vector<Token>& t) {
    const std::string& command = t[0].text;
    if (command == "echo") {
      std::string text;
      for (std::size_t i = 1; i < t.size(); ++i) text += (i > 1 ? " " : "") + t[i].text;
      out_ << text << '\n';
      return std::nullopt;
    }
    if (command == "login") {
      std::string error;
      if (!session_.LogIn(error)) return error;
      return std::nullopt;
    }
    if (command == "call" || command == "expect") return Call(t, command == "expect");
    if (command == "wait") return Wait(t);
    if (command == "answer" && t.size() == 2 && (t[1].text == "ORDER" || t[1].text == "CANCEL")) {
      session_.QueueAnswer(t[1].text == "ORDER" ? IDOK : IDCANCEL);
      return std::nullopt;
    }
    if (command == "fill" && t.size() == 4) {
      const auto quantity = Number<long>(t[2].text);
      const auto price = Number<double>(t[3].text);
      if (!quantity || !price) return "fill takes ORDERNO QUANTITY PRICE";
      sim::SimTradeApi* api = session_.Api();
      if (api == nullptr || !api->FillBookedOrder(CString::FromUtf8(t[1].text).str(), *quantity, *price))
        return "the simulated broker has no open order " + t[1].text + " to fill with that";
      return std::nullopt;
    }
    if (command == "show" && t.size() >= 2) return Show(t);
    if ((command == "advance" && t.size() == 2) || (command == "price" && t.size() == 3)) return Market(t);
    if (command == "sleep" && t.size() == 2) {
      const auto ms = Number<int>(t[1].text);
      if (!ms || *ms < 0) return "sleep takes milliseconds";
      session_.Pump(std::chrono::milliseconds(*ms));
      return std::nullopt;
    }
    return "unknown command or wrong arguments: " + command + " (commands: echo login call expect wait answer fill "
           "advance price show sleep)";
  }

 private:
  std::optional<std::string> Call(const std::vector<Token>& t, bool expect) {
    std::size_t end = t.size();
    if (expect) {
      if (t.size() < 4 || t[t.size() - 2].text != "==" || t[t.size() - 2].quoted)
        return "expect takes METHOD [ARG...] == VALUE";
      end = t.size() - 2;
    }
    if (end < 2) return t[0].text + " takes a method name";
    const std::string& method = t[1].text;
    VARIANT result;
    const HRESULT hr = session_.Call(CString::FromUtf8(method).str(), Arguments(t, 2, end), &result);
    if (hr == DISP_E_UNKNOWNNAME) return "the control has no method " + method;
    if (hr == DISP_E_BADPARAMCOUNT) return method + ": wrong number of arguments";
    if (FAILED(hr)) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      return method + " failed: " + code;
    }
    const std::string seen = ValueText(result);
    if (!expect) {
      if (result.vt != VT_EMPTY) out_ << "  " << method << " = " << seen << '\n';
      return std::nullopt;
    }
    if (seen != t.back().text) return method + " gave \"" + seen + "\", expected \"" + t.back().text + "\"";
    return std::nullopt;
  }

  std::optional<std::string> Wait(const std::vector<Token>& t) {
    if (t.size() < 2) return "wait takes an event name";
    std::size_t end = t.size();
    auto timeout = kDefaultWait;
    if (t.size() >= 4 && t[t.size() - 2].text == "within") {
      const auto ms = Number<int>(t.back().text);
      if (!ms || *ms < 0) return "within takes milliseconds";
      timeout = std::chrono::milliseconds(*ms);
      end = t.size() - 2;
    }
    std::vector<std::string> leading;
    for (std::size_t i = 2; i < end; ++i) leading.push_back(t[i].text);
    if (session_.Wait(t[1].text, leading, timeout)) return std::nullopt;
    std::string wanted = t[1].text;
    for (const auto& a : leading) wanted += " " + a;
    return "no " + wanted + " within " + std::to_string(timeout.count()) + " ms";
  }

  // The simulated market (kdx-host --market): advance STEPS, price PRODUCT PRICE.
  std::optional<std::string> Market(const std::vector<Token>& t) {
    sim::SimTradeApi* api = session_.Api();
    if (api == nullptr || !api->Config().market) return "the simulated market is off (start with --market)";
    if (t[0].text == "advance") {
      const auto steps = Number<int>(t[1].text);
      if (!steps || *steps < 0 || *steps > 100000) return "advance takes a number of steps (0 to 100000)";
      api->AdvanceMarket(*steps);
      return std::nullopt;
    }
    const auto price = Number<double>(t[2].text);
    if (!price || !api->SetLastPrice(CString::FromUtf8(t[1].text).str(), *price))
      return "price takes a product and a price above 0";
    return std::nullopt;
  }

  std::optional<std::string> Show(const std::vector<Token>& t) {
    const std::string& what = t[1].text;
    if (what == "orders") return session_.PrintOrders(), std::nullopt;
    if (what == "fills") return session_.PrintFills(), std::nullopt;
    if (what == "tables") return session_.PrintTables(), std::nullopt;
    if (what == "statement" && t.size() == 3) {
      if (const auto type = Number<int>(t[2].text)) return session_.PrintStatement(*type), std::nullopt;
    }
    return "show takes orders, fills, tables or statement N";
  }

  HostSession& session_;
  std::ostream& out_;
};

}  // namespace

std::optional<std::string> RunLine(HostSession& session, const std::string& line) {
  const auto tokens = Tokenize(line);
  if (!tokens) return "a quote is not closed";
  if (tokens->empty() || (*tokens)[0].text.starts_with('#')) return std::nullopt;
  return Runner(session).Run(*tokens);
}

int RunScript(HostSession& session, std::istream& script, const std::string& name, std::ostream& err) {
  std::string line;
  for (int number = 1; std::getline(script, line); ++number) {
    if (const auto failure = RunLine(session, line)) {
      err << name << ':' << number << ": " << line << "\n  " << *failure << '\n';
      return 1;
    }
  }
  return 0;
}

}  // namespace kdx::host
