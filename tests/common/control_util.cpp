#include "common/control_util.h"

#include <cstdlib>
#include <optional>

#include "platform/codepage.h"
#include "platform/system.h"
#include "queries/HttpQuery.h"
#include "sim/record_encoder.h"

namespace kdx::test {
namespace {

// Loopback servers are reached directly even where the environment names a proxy.
const bool kLoopbackDirect = [] {
  for (const char* name : {"no_proxy", "NO_PROXY"}) setenv(name, "127.0.0.1,localhost", 1);
  return true;
}();

}  // namespace

VARIANT CallByName(IDispatch& target, std::u16string_view name, std::vector<VARIANT> args) {
  VARIANT result;
  EXPECT_EQ(InvokeByName(target, name, DISPATCH_METHOD, args, &result), S_OK) << Utf16ToUtf8(name);
  return result;
}

std::shared_ptr<IDispatch> OnEvent(DISPID event, std::function<void(std::span<VARIANT>)> f) {
  DispatchTable table;
  DispatchMember row = *KdxEventTable().Find(event, MemberKind::Method);
  row.handler = [f = std::move(f)](std::span<VARIANT> args, VARIANT*) {
    f(args);
    return S_OK;
  };
  table.Add(std::move(row));
  return std::make_shared<DispatchObject>(std::move(table));
}

ControlHarness::ControlHarness() : ctrl(std::make_unique<CORV_Velmar_KDXCtrl>()) {
  EXPECT_NE(ctrl->FindConnectionPoint()->Advise(events.Sink()), 0u);
}

void ControlHarness::Reply(long infoType, long sequence, const std::string* body, const CString& name,
                           const CString& url, bool truncated) {
  std::string copy = body ? *body : std::string();
  HttpJob job{.url = url, .infoType = static_cast<int32_t>(infoType), .sequence = static_cast<int32_t>(sequence),
              .window = ctrl->GetSafeHwnd(), .proxyHost = {}, .name = name, .logUrl = {}, .bodyLength = copy.size(),
              .truncated = truncated};
  ctrl->GetSafeHwnd().SendMessage(WM_HTTPREPLY, reinterpret_cast<WPARAM>(&job),
                                  body ? reinterpret_cast<LPARAM>(copy.data()) : 0);
}

void ControlTest::TearDown() {
  ctrl.reset();
  Pump();
  EXPECT_EQ(sim::SimTradeApi::DestroyedInsideOwnCall(), 0);
  EXPECT_EQ(sim::SimTradeApi::AliveCount(), 0);
  sim::SimTradeApi::Unregister();
  SetModuleFileNameOverride(std::nullopt);
}

void ControlTest::LogIn(const std::string& section) {
  events.Clear();
  ASSERT_EQ(Login(Ini(section)), 0);
  Pump();
  ASSERT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  events.Clear();
}

int RecordedBoxes::Presenter::Show(WindowHandle owner, const MessageBoxRequest& request) {
  owners.push_back(owner);
  return ScriptedMessageBoxPresenter::Show(owner, request);
}

FieldRecord MakeRecord(std::vector<std::pair<int, std::string>> strings, std::vector<std::pair<int, int64_t>> numbers) {
  FieldRecord r;
  for (const auto& [id, text] : strings) r.SetString(id, CString::FromUtf8(text).str());
  for (const auto& [id, value] : numbers) r.SetNumber(id, value);
  return r;
}

std::string Line(char kind, const FieldRecord& record) { return sim::ReplyLine(kind, sim::EncodeRecord(record)); }

std::string Body(const std::vector<std::string>& lines) {
  std::string body;
  for (const auto& line : lines) body += line + "\r\n";
  return body;
}

}  // namespace kdx::test
