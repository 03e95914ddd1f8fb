// Drives the control as a host would: a recording event sink, the message pump, and reply
// bodies built with the record encoder.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/host_util.h"
#include "control/KdxCtrl.h"
#include "record/field_record.h"

namespace kdx::test {

using namespace std::chrono_literals;

inline constexpr auto kPatience = 20s;  // reached only when something is broken

// A control with a recorder advised, owned by the calling (user-interface) thread.
struct ControlHarness {
  ControlHarness();
  ~ControlHarness();
  ControlHarness(const ControlHarness&) = delete;
  ControlHarness& operator=(const ControlHarness&) = delete;

  // Pumps this thread's loop until done() or kPatience.
  bool PumpUntil(const std::function<bool()>& done);
  // Pumps until `count` update events have arrived.
  bool PumpUntilUpdates(std::size_t count);
  // Hands a reply to the control as a worker would (lParam 0 when body is null).
  void Reply(long infoType, long sequence, const std::string* body, const CString& name = {},
             const CString& url = u"http://host/x");

  std::unique_ptr<CORV_Velmar_KDXCtrl> ctrl;
  EventRecorder recorder;
};

// A record with string fields (number, UTF-8 text) and numeric fields (number, value).
FieldRecord MakeRecord(std::vector<std::pair<int, std::string>> strings,
                       std::vector<std::pair<int, int64_t>> numbers = {});
// One reply line of the kind ("d" kind "D " RecordText), no line end.
std::string Line(char kind, const FieldRecord& record);
// Lines joined with "\r\n".
std::string Body(const std::vector<std::string>& lines);

std::string Utf8(const CString& text);

}  // namespace kdx::test
