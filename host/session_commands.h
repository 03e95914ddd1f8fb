// kdx-host demo and kdx-host run: a session against the simulated broker, played from the
// built-in demo script or from a script file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/session.h"

namespace kdx::host {

// The options the session commands share (--yes --no-prompt --no-times --market --profile
// --session); the other arguments go to `rest`. False, with the reason on `err`, for bad ones.
bool ParseSessionOptions(const std::vector<std::string>& args, HostSession::Options& options,
                         std::vector<std::string>& rest, std::ostream& err);

int DemoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kdx::host
