#include "control_util.h"

#include <cstdlib>

#include "platform/message_window.h"
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

std::string Utf8(const CString& text) { return text.ToUtf8(); }

ControlHarness::ControlHarness() : ctrl(std::make_unique<CORV_Velmar_KDXCtrl>()) {
  ctrl->FindConnectionPoint()->Advise(recorder.Sink());
}

ControlHarness::~ControlHarness() = default;

bool ControlHarness::PumpUntil(const std::function<bool()>& done) {
  return MessageLoop::ForCurrentThread().RunUntil(done, kPatience);
}

bool ControlHarness::PumpUntilUpdates(std::size_t count) {
  return PumpUntil([&] { return recorder.Updates().size() >= count; });
}

void ControlHarness::Reply(long infoType, long sequence, const std::string* body, const CString& name,
                           const CString& url) {
  HttpJob job;
  job.url = url;
  job.infoType = static_cast<int32_t>(infoType);
  job.sequence = static_cast<int32_t>(sequence);
  job.name = name;
  job.window = ctrl->GetSafeHwnd();
  std::string copy = body ? *body : std::string();
  job.bodyLength = copy.size();
  ctrl->GetSafeHwnd().SendMessage(WM_HTTPREPLY, reinterpret_cast<WPARAM>(&job),
                                  body ? reinterpret_cast<LPARAM>(copy.data()) : 0);
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
