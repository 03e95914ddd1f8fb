// What a test needs to act as the control's host: an event sink that records, a message pump,
// and a scratch folder. Linked into every test program.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace kdx::test {

// Runs the thread's message loop until nothing is left to run (bounded, in case something
// keeps posting).
void Pump();

// An event sink built from the control's event interface; every event is recorded in order.
class EventRecorder {
 public:
  struct Event {
    DISPID id = DISPID_UNKNOWN;
    std::u16string name;
    std::vector<VARIANT> args;
  };

  EventRecorder();
  std::shared_ptr<IDispatch> Sink() const { return sink_; }
  const std::vector<Event>& Events() const { return *events_; }
  // "LoginReady", "StatementUpdate(0)", "Log(1,Test Mode = ON)": compact and easy to compare.
  std::vector<std::string> Summary() const;
  std::vector<std::string> Logs(long type) const;  // the texts of Log events of that type
  std::vector<std::string> Updates() const;        // StatementUpdate and QueryUpdate, summarised
  void Clear() { events_->clear(); }

 private:
  std::shared_ptr<std::vector<Event>> events_ = std::make_shared<std::vector<Event>>();
  std::shared_ptr<IDispatch> sink_;
};

// A fresh folder, removed with its contents afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes the bytes to a file of that name and returns its full path.
  std::u16string Write(const std::string& name, std::string_view text) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kdx::test
