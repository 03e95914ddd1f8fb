// kdx-host demo and kdx-host run: a session against the simulated broker, played from the
// built-in demo script or from a script file.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kdx::host {

int DemoCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kdx::host
