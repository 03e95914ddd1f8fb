#include "common/host_util.h"

#include <gtest/gtest.h>

#include "control/KdxCtrl.h"
#include "platform/codepage.h"
#include "platform/message_window.h"

namespace kdx::test {

void Pump() {
  for (int i = 0; i < 100 && MessageLoop::ForCurrentThread().RunPending(); ++i) {
  }
}

EventRecorder::EventRecorder() {
  DispatchTable table = KdxEventTable();
  for (const DispatchMember& row : KdxEventTable()) {
    table.Bind(row.id, MemberKind::Method,
               [events = events_, id = row.id, name = row.name](std::span<VARIANT> args, VARIANT*) {
                 events->push_back({id, name, {args.begin(), args.end()}});
                 return S_OK;
               });
  }
  sink_ = std::make_shared<DispatchObject>(std::move(table));
}

namespace {

std::string Summarise(const EventRecorder::Event& e) {
  std::string line = Utf16ToUtf8(e.name);
  for (std::size_t i = 0; i < e.args.size(); ++i) {
    line += i == 0 ? "(" : ",";
    line += e.args[i].vt == VT_BSTR ? Utf16ToUtf8(e.args[i].bstrVal) : std::to_string(e.args[i].lVal);
  }
  if (!e.args.empty()) line += ")";
  return line;
}

}  // namespace

std::vector<std::string> EventRecorder::Summary() const {
  std::vector<std::string> lines;
  for (const Event& e : *events_) lines.push_back(Summarise(e));
  return lines;
}

std::vector<std::string> EventRecorder::Logs(long type) const {
  std::vector<std::string> texts;
  for (const Event& e : *events_)
    if (e.id == kdxevent::Log && e.args[0].lVal == type) texts.push_back(Utf16ToUtf8(e.args[1].bstrVal));
  return texts;
}

std::vector<std::string> EventRecorder::Updates() const {
  std::vector<std::string> updates;
  for (const Event& e : *events_)
    if (e.id == kdxevent::StatementUpdate || e.id == kdxevent::QueryUpdate) updates.push_back(Summarise(e));
  return updates;
}

}  // namespace kdx::test
