#include "host/session_commands.h"

#include <fstream>
#include <sstream>

#include "host/demo_script.h"
#include "host/script.h"

namespace kdx::host {
namespace {

}  // namespace

bool ParseSessionOptions(const std::vector<std::string>& args, HostSession::Options& options,
                         std::vector<std::string>& rest, std::ostream& err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--yes") {
      options.dialogs = HostSession::Dialogs::Yes;
    } else if (a == "--gui") {
      options.dialogs = HostSession::Dialogs::Window;
    } else if (a == "--dialog-images" && i + 1 < args.size()) {
      options.dialogImages = args[++i];
    } else if (a == "--no-prompt") {
      options.prompt = false;
    } else if (a == "--no-times") {
      options.timestamps = false;
    } else if (a == "--market") {
      options.market = true;
    } else if ((a == "--profile" || a == "--session") && i + 1 < args.size()) {
      (a == "--profile" ? options.profile : options.session) = args[++i];
    } else if (a.starts_with("--")) {
      err << "kdx-host: unknown option " << a << '\n';
      return false;
    } else {
      rest.push_back(a);
    }
  }
  if (options.profile.empty() != options.session.empty()) {
    err << "kdx-host: --profile and --session go together\n";
    return false;
  }
  return true;
}

namespace {

int Play(HostSession::Options options, std::istream& script, const std::string& name, std::ostream& out,
         std::ostream& err) {
  HostSession session(out, std::move(options));
  std::string error;
  if (!session.Start(error)) {
    err << "kdx-host: " << error << '\n';
    return 1;
  }
  return RunScript(session, script, name, err);
}

}  // namespace

int DemoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  HostSession::Options options;
  std::vector<std::string> rest;
  if (!ParseSessionOptions(args, options, rest, err) || !rest.empty()) {
    err << "usage: kdx-host demo [--yes | --gui] [--dialog-images DIR] [--no-prompt] [--no-times]\n";
    return 2;
  }
  std::istringstream script{std::string(kDemoScript)};
  const int result = Play(std::move(options), script, "demo", out, err);
  if (result == 0) out << "demo: done\n";
  return result;
}

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  HostSession::Options options;
  std::vector<std::string> rest;
  if (!ParseSessionOptions(args, options, rest, err) || rest.size() != 1) {
    err << "usage: kdx-host run FILE [--yes | --gui] [--dialog-images DIR] [--no-prompt] [--no-times] [--market] [--profile FILE --session NAME]\n";
    return 2;
  }
  std::ifstream script(rest[0]);
  if (!script) {
    err << "kdx-host: cannot read " << rest[0] << '\n';
    return 2;
  }
  return Play(std::move(options), script, rest[0], out, err);
}

}  // namespace kdx::host
