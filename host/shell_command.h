// kdx-host shell: the script commands typed interactively, with line editing, history and
// completion of commands, method and event names.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kdx::host {

int ShellCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Every method and event of the control with its DISPID and parameters, from the dispatch tables.
void PrintInterface(std::ostream& out);
// The same as Markdown tables, as the README shows them.
std::string InterfaceMarkdown();
// kdx-host interface (not listed in --help): prints InterfaceMarkdown().
int InterfaceCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kdx::host
