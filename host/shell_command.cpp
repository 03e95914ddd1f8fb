#include "host/shell_command.h"

#include <poll.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "control/KdxCtrl.h"
#include "host/script.h"
#include "host/session_commands.h"
#include "platform/codepage.h"
#include "platform/message_window.h"

#include <editline/readline.h>

namespace kdx::host {
namespace {

const char* TypeName(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY: return "void";
    case VT_I4: return "long";
    case VT_R8: return "double";
    case VT_BSTR: return "BSTR";
    default: return "VARIANT";
  }
}

std::string Signature(const DispatchMember& m) {
  std::string text = std::string(TypeName(m.result)) + ' ' + Utf16ToUtf8(m.name) + '(';
  for (std::size_t i = 0; i < m.params.size(); ++i)
    text += (i ? ", " : "") + std::string(TypeName(m.params[i].vt)) + ' ' + Utf16ToUtf8(m.params[i].name);
  return text + ')';
}

void PrintTable(std::ostream& out, const DispatchTable& table) {
  for (const DispatchMember& m : table) out << "  " << m.id << '\t' << Signature(m) << '\n';
}

const char* const kCommands[] = {"echo", "login", "call",  "expect", "wait", "answer", "fill", "advance",
                                 "price", "show",  "sleep", "help",   "quit", nullptr};

// The names a word may complete to: commands first, then methods after call and expect,
// events after wait.
std::vector<std::string> Candidates(const std::string& before) {
  std::vector<std::string> names;
  const DispatchTable* table = nullptr;
  if (before.find_first_not_of(" \t") == std::string::npos) {
    for (const char* const* c = kCommands; *c; ++c) names.emplace_back(*c);
    return names;
  }
  if (before.starts_with("call ") || before.starts_with("expect ")) table = &KdxMethodTable();
  if (before.starts_with("wait ")) table = &KdxEventTable();
  // Only the word right after the command.
  if (table == nullptr || before.find(' ') != before.find_last_of(' ')) return names;
  for (const DispatchMember& m : *table) names.push_back(Utf16ToUtf8(m.name));
  return names;
}

std::vector<std::string> g_matches;

char* NextMatch(const char* text, int state) {
  static std::size_t next;
  if (state == 0) next = 0;
  const std::size_t length = std::strlen(text);
  while (next < g_matches.size()) {
    const std::string& name = g_matches[next++];
    if (name.compare(0, length, text) == 0) return strdup(name.c_str());
  }
  return nullptr;
}

char** Complete(const char* text, int start, int) {
  g_matches = Candidates(std::string(rl_line_buffer, static_cast<std::size_t>(start)));
  rl_attempted_completion_over = 1;
  return g_matches.empty() ? nullptr : rl_completion_matches(text, NextMatch);
}

// The line the editor handed over; null at end of input.
struct Pending {
  bool ready = false;
  bool ended = false;
  std::string line;
} g_pending;

void OnLine(char* line) {
  g_pending.ready = true;
  g_pending.ended = line == nullptr;
  if (line) {
    g_pending.line = line;
    if (*line) add_history(line);
    std::free(line);
  }
}

}  // namespace

void PrintInterface(std::ostream& out) {
  out << "methods (DISPID, result, name, parameters):\n";
  PrintTable(out, KdxMethodTable());
  out << "events:\n";
  PrintTable(out, KdxEventTable());
  out << "commands: echo login call expect wait answer fill advance price show sleep help quit (see the README)\n";
}

std::string InterfaceMarkdown() {
  std::string text;
  for (const auto& [title, table] : {std::pair("method", &KdxMethodTable()), std::pair("event", &KdxEventTable())}) {
    text += std::string("| DISPID | ") + title + " |\n|---|---|\n";
    for (const DispatchMember& m : *table) text += "| " + std::to_string(m.id) + " | `" + Signature(m) + "` |\n";
    if (table == &KdxMethodTable()) text += '\n';
  }
  return text;
}

int InterfaceCommand(const std::vector<std::string>&, std::ostream& out, std::ostream&) {
  out << InterfaceMarkdown();
  return 0;
}

int ShellCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  HostSession::Options options;
  std::vector<std::string> rest;
  if (!ParseSessionOptions(args, options, rest, err) || !rest.empty()) {
    err << "usage: kdx-host shell [--gui] [--no-prompt] [--no-times] [--market] [--profile FILE --session NAME]\n";
    return 2;
  }
  // The terminal is the editor's: dialogs are answered ORDER, or shown in windows with --gui.
  if (options.dialogs != HostSession::Dialogs::Window) options.dialogs = HostSession::Dialogs::Yes;
  HostSession session(out, options);
  std::string error;
  if (!session.Start(error)) {
    err << "kdx-host: " << error << '\n';
    return 1;
  }
  out << "kdx-host shell: the control against the simulated broker. Type help, or login to begin.\n" << std::flush;
  rl_attempted_completion_function = Complete;
  rl_callback_handler_install("kdx> ", OnLine);
  auto& loop = MessageLoop::ForCurrentThread();
  for (;;) {
    // Events keep arriving while the user types.
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {loop.WaitFd(), POLLIN, 0}};
    if (poll(fds, fds[1].fd >= 0 ? 2 : 1, fds[1].fd >= 0 ? -1 : 50) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) {
      loop.RunPending();
      out << std::flush;
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP))) continue;
    rl_callback_read_char();
    if (!g_pending.ready) continue;
    g_pending.ready = false;
    if (g_pending.ended) break;
    const std::string line = g_pending.line;
    if (line == "quit" || line == "exit") break;
    if (line == "help") {
      PrintInterface(out);
    } else if (const auto failure = RunLine(session, line)) {
      out << "  " << *failure << '\n';
    }
    out << std::flush;
  }
  rl_callback_handler_remove();
  out << '\n';
  return 0;
}

}  // namespace kdx::host
