// kdx-host: the console host. Each command is one row of the table below.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "decode_command.h"
#include "sample_command.h"
#include "session_commands.h"
#include "shell_command.h"

namespace kdx::host {
namespace {

using CommandFunction = int (*)(const std::vector<std::string>&, std::ostream&, std::ostream&);

struct Command {
  std::string_view name;
  std::string_view usage;
  std::string_view summary;  // empty for commands not listed in --help
  CommandFunction run;
};

constexpr Command kCommands[] = {
    {"demo", "demo [--yes | --gui] [--dialog-images DIR] [--no-prompt] [--no-times]",
     "play a whole session against the simulated broker in this process and print every event and table",
     DemoCommand},
    {"run", "run FILE [--yes | --gui] [--dialog-images DIR] [--no-prompt] [--no-times] [--market] [--profile FILE --session NAME]",
     "run a script of calls and expectations (see examples/demo.kdx) against the simulated broker", RunCommand},
    {"shell", "shell [--gui] [--no-prompt] [--no-times] [--market] [--profile FILE --session NAME]",
     "the script commands typed interactively (line editing, history, completion; help lists the interface)",
     ShellCommand},
    {"decode", "decode [--strict] [FILE]",
     "print the record lines of a reply body (FILE or standard input; one byte per character) as fields", DecodeCommand},
    {"encode-sample", "encode-sample [--fuzz-seeds DIR]", "", EncodeSampleCommand},
    {"interface", "interface", "", InterfaceCommand},
    {"serve-web", "serve-web", "", ServeWebCommand},
};

void PrintHelp(std::ostream& out) {
  out << "usage: kdx-host COMMAND [ARGS]\n\ncommands:\n";
  for (const auto& c : kCommands)
    if (!c.summary.empty()) out << "  " << c.usage << "\n      " << c.summary << '\n';
  out << "\nexit codes:\n"
         "  0  done (decode: the input was read; lines that do not decode are reported on stderr)\n"
         "  1  demo, run: a line of the session failed (the line and what was seen go to stderr)\n"
         "  1  decode --strict: some record line did not decode or had a malformed field\n"
         "  2  usage error, or a file that cannot be read\n";
}

}  // namespace
}  // namespace kdx::host

int main(int argc, char** argv) {
  using namespace kdx::host;
  std::ios::sync_with_stdio(false);
  if (argc < 2) {
    PrintHelp(std::cerr);
    return 2;
  }
  const std::string_view name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(std::cout);
    return 0;
  }
  for (const auto& c : kCommands) {
    if (c.name == name) return c.run(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
  }
  std::cerr << "kdx-host: unknown command '" << name << "'\n";
  PrintHelp(std::cerr);
  return 2;
}
