// The shell as a user meets it: kdx-host on a pseudo-terminal, with completion and help.
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "host/shell_command.h"

namespace {

// Everything the shell writes until it exits (or 20 s pass), the input typed a line at a time
// once the banner is there.
std::string Drive(const std::string& input) {
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    execl(KDX_HOST_BINARY, "kdx-host", "shell", "--no-times", static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string output;
  bool typed = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd fd{master, POLLIN, 0};
    if (poll(&fd, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;  // the shell is gone
      output.append(buffer, static_cast<std::size_t>(n));
    }
    if (!typed && output.find("kdx> ") != std::string::npos) {
      typed = write(master, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    }
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  return output;
}

TEST(Shell, CompletesNamesListsTheInterfaceAndRunsCommands) {
  const std::string output = Drive("help\ncall GetConnectS\t\nexpect GetOrderCount == 2\nquit\n");
  for (const char* seen : {"  4\tlong ProcessOrder()", "  7\tvoid Log(long nLogType, BSTR strLog)",
                           "  GetConnectStatus = 0", "GetOrderCount gave \"0\", expected \"2\""})
    EXPECT_NE(output.find(seen), std::string::npos) << seen << "\n" << output;
}

}  // namespace

namespace {

TEST(Interface, TheReadmeShowsTheDispatchTablesAsTheyAre) {
  std::ifstream file(KDX_SOURCE_DIR "/README.md");
  std::stringstream readme;
  readme << file.rdbuf();
  const std::string text = readme.str();
  const auto begin = text.find("<!-- interface -->\n"), end = text.find("<!-- /interface -->");
  ASSERT_TRUE(begin != std::string::npos && end != std::string::npos);
  const std::size_t from = begin + std::string("<!-- interface -->\n").size();
  EXPECT_EQ(text.substr(from, end - from), kdx::host::InterfaceMarkdown())
      << "regenerate with: kdx-host interface";
}

}  // namespace
