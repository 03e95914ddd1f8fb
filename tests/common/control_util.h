// Driving the control as a host does: a control with a recording sink, the fixture that logs in
// against the simulated component, reply bodies built with the record encoder, and the
// process-wide settings (message boxes, HTTP time-outs) a test replaces for its duration.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/host_util.h"
#include "control/KdxCtrl.h"
#include "platform/http_client.h"
#include "platform/message_box.h"
#include "platform/message_window.h"
#include "record/field_record.h"
#include "sim/SimTradeApi.h"

namespace kdx::test {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

inline constexpr auto kPatience = 20s;  // reached only when something is broken
inline constexpr const char16_t* kAccount = u"9A950012345";  // the simulated log-in's account

// A method called by name through the automation interface, as a host calls it.
VARIANT CallByName(IDispatch& target, std::u16string_view name, std::vector<VARIANT> args = {});

// A sink for one of the control's events, calling f with the event's arguments.
std::shared_ptr<IDispatch> OnEvent(DISPID event, std::function<void(std::span<VARIANT>)> f);

// A control with a recorder advised, owned by the calling (user-interface) thread.
struct ControlHarness {
  ControlHarness();

  // Pumps this thread's loop until done() or kPatience.
  bool PumpUntil(std::function<bool()> done) { return MessageLoop::ForCurrentThread().RunUntil(done, kPatience); }
  // Until that many update events have arrived.
  bool PumpUntilUpdates(std::size_t count) { return PumpUntil([&] { return events.Updates().size() >= count; }); }
  // Hands a reply to the control as a worker would (lParam 0 when body is null).
  void Reply(long infoType, long sequence, const std::string* body, const CString& name = {},
             const CString& url = u"http://host/x", bool truncated = false);

  EventRecorder events;
  std::unique_ptr<CORV_Velmar_KDXCtrl> ctrl;
};

// The simulated trade-API component registered for every test; afterwards no instance may be
// left alive, nor have been destroyed inside its own call.
class ControlTest : public testing::Test, public ControlHarness {
 protected:
  void SetUp() override {
    sim::SimTradeApi::ResetCounters();
    Register({});
  }
  void TearDown() override;

  static void Register(sim::SimConfig config) { sim::SimTradeApi::Register(std::move(config)); }
  static sim::SimTradeApi& Api() { return *sim::SimTradeApi::Last(); }  // the newest component
  // With a UTF-8 BOM: without one the file would be read in the ANSI code page.
  std::u16string Ini(const std::string& section) { return folder.Write("kdx.ini", "\xEF\xBB\xBF[Sim]\n" + section); }
  VARIANT Call(std::u16string_view name, std::vector<VARIANT> args = {}) {
    return CallByName(*ctrl, name, std::move(args));
  }
  long Login(const std::u16string& path, const std::u16string& section = u"Sim") {
    return Call(u"Login", {VARIANT(path), VARIANT(section)}).lVal;
  }
  long Status() { return Call(u"GetConnectStatus").lVal; }
  // Logs in with the default account; the event record is empty before and after.
  void LogIn(const std::string& section = "RocID=a1\n");

  TempFolder folder;
};

// Message boxes answered with IDOK and recorded, with their owners, while this lives.
class RecordedBoxes {
 public:
  RecordedBoxes() : previous_(SetMessageBoxPresenter(presenter_)) {}
  ~RecordedBoxes() { SetMessageBoxPresenter(previous_); }
  const std::vector<MessageBoxRequest>& Shown() const { return presenter_->Shown(); }
  const std::vector<WindowHandle>& Owners() const { return presenter_->owners; }

 private:
  struct Presenter : ScriptedMessageBoxPresenter {
    int Show(WindowHandle owner, const MessageBoxRequest& request) override;
    std::vector<WindowHandle> owners;
  };
  std::shared_ptr<Presenter> presenter_ = std::make_shared<Presenter>();
  std::shared_ptr<MessageBoxPresenter> previous_;
};

// HTTP time-outs for one test, the previous ones again afterwards.
struct TimeoutsFor {
  TimeoutsFor(std::chrono::milliseconds connect, std::chrono::milliseconds stall,
              std::chrono::milliseconds total = HttpTimeouts{}.total) { SetHttpTimeouts({connect, stall, total}); }
  ~TimeoutsFor() { SetHttpTimeouts(saved); }
  HttpTimeouts saved = GetHttpTimeouts();
};

// A record with string fields (number, UTF-8 text) and numeric fields (number, value).
FieldRecord MakeRecord(std::vector<std::pair<int, std::string>> strings,
                       std::vector<std::pair<int, int64_t>> numbers = {});
// One reply line of the kind ("d" kind "D " RecordText), no line end.
std::string Line(char kind, const FieldRecord& record);
// Lines joined with "\r\n".
std::string Body(const std::vector<std::string>& lines);

inline std::string Utf8(const CString& text) { return text.ToUtf8(); }

}  // namespace kdx::test
