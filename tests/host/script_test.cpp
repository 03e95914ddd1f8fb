// The host's script language against a real session: the simulated broker in this process.
#include "host/script.h"

#include "host/session_commands.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kdx::host {
namespace {

class ScriptTest : public testing::Test {
 protected:
  void SetUp() override {
    HostSession::Options options;
    options.dialogs = HostSession::Dialogs::Yes;
    options.timestamps = false;
    session = std::make_unique<HostSession>(out, options);
    std::string error;
    ASSERT_TRUE(session->Start(error)) << error;
  }
  int Run(const std::string& script) {
    std::istringstream in(script);
    return RunScript(*session, in, "t.kdx", err);
  }
  std::ostringstream out, err;
  std::unique_ptr<HostSession> session;
};

TEST_F(ScriptTest, FailuresNameTheLineAndWhatWasSeen) {
  const struct {
    const char* script;
    const char* message;
  } cases[] = {
      {"call NoSuchMethod", "t.kdx:1: call NoSuchMethod\n  the control has no method NoSuchMethod\n"},
      {"# c\n\ncall GetOrderString 0", "t.kdx:3: call GetOrderString 0\n  GetOrderString: wrong number of arguments\n"},
      {"wait LoginReady within 30", "t.kdx:1: wait LoginReady within 30\n  no LoginReady within 30 ms\n"},
      {"expect GetOrderCount == 3", "t.kdx:1: expect GetOrderCount == 3\n  GetOrderCount gave \"0\", expected \"3\"\n"},
      {"expect GetOrderCount 3", "  expect takes METHOD [ARG...] == VALUE\n"},
      {"echo \"open", "  a quote is not closed\n"},
      {"frobnicate", "  unknown command or wrong arguments: frobnicate"},
      {"fill X0001 1 600", "  the simulated broker has no open order X0001 to fill with that\n"},
      {"sleep -1", "  sleep takes milliseconds\n"},
      {"show nothing", "  show takes orders, fills, tables or statement N\n"},
      {"answer MAYBE", "  unknown command or wrong arguments: answer"},
  };
  for (const auto& c : cases) {
    err.str("");
    EXPECT_EQ(Run(std::string(c.script) + "\necho never\n"), 1) << c.script;
    EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    EXPECT_EQ(out.str().find("never"), std::string::npos);
  }
}

TEST_F(ScriptTest, ASessionPlaysAsWritten) {
  EXPECT_EQ(Run("echo \"a  \\\"b\\\"\" c\n"
                "login\n"
                "answer CANCEL\n"
                "call SetOrderInfoString 0 S\n"
                "call SetOrderInfoString 1 9A95-9A950012345\n"
                "call SetOrderInfoString 2 ORV.TWS.2330\n"
                "call SetOrderInfoValue 7 2\n"
                "expect ProcessOrder == -100\n"
                "call SetOrderInfoString 0 S\n"
                "call SetOrderInfoString 1 9A95-9A950012345\n"
                "call SetOrderInfoString 2 ORV.TWS.2330\n"
                "call SetOrderInfoString 4 B\n"
                "call SetOrderInfoValue 6 600.5\n"
                "call SetOrderInfoValue 7 2\n"
                "call ProcessOrder\n"
                "sleep 50\n"
                "expect GetOrderCount == 1\n"
                "wait Log 2 within 10\n"
                "wait OrderStatus 0\n"
                "expect GetOrderValue 0 7 == 600.5\n"
                "fill S0001 2 600.5\n"
                "wait FillOrder 0\n"
                "sleep 10\n"
                "show tables\n"
                "show statement 0\n"),
            0)
      << err.str();
  const std::string text = out.str();
  for (const char* seen : {"a  \"b\" c\n", "LoginReady\n", "  -> CANCEL\n", "Log(1,StkOrder CANCELED !)\n",
                           "  -> ORDER\n", "  ProcessOrder = 0\n", "OrderStatus(0)\n", "fills (1)\n",
                           "  0  S0001     ORV.TWS.2330  買進  600.5  2\n", "完全成交", "statement 0 (1)\n",
                           "  0  KG-9A950012345  9A950012345 ()"})
    EXPECT_NE(text.find(seen), std::string::npos) << seen << "\n" << text;
}

// A profile of the user's own replaces the generated one.
TEST(ScriptProfile, LogsInWithTheUsersOwnProfile) {
  const auto ini = std::filesystem::temp_directory_path() / ("kdx-script-" + std::to_string(getpid()) + ".ini");
  std::ofstream(ini) << "[Mine]\nRocID=ME_1\nOrderPrompt=0\n";
  std::ostringstream out, err;
  HostSession::Options options;
  options.timestamps = false;
  options.profile = ini.string();
  options.session = "Mine";
  HostSession session(out, options);
  std::string error;
  ASSERT_TRUE(session.Start(error)) << error;
  std::istringstream script("login\nexpect GetStatementString 0 0 0 == ME-9A950012345\n");
  EXPECT_EQ(RunScript(session, script, "p.kdx", err), 0) << err.str();
  std::filesystem::remove(ini);
}

TEST(SessionOptions, GuiNeedsADisplayAndDialogImagesAreSaved) {
  const auto dir = std::filesystem::temp_directory_path() / ("kdx-images-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "s.kdx") << "login\n";
  const char* display = getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  std::ostringstream out, err;
  EXPECT_EQ(RunCommand({(dir / "s.kdx").string(), "--gui"}, out, err), 1);
  EXPECT_NE(err.str().find("--gui needs an X display"), std::string::npos) << err.str();
  if (display) setenv("DISPLAY", saved.c_str(), 1);

  HostSession::Options options;
  std::vector<std::string> rest;
  ASSERT_TRUE(ParseSessionOptions({"--yes", "--dialog-images", dir.string(), "--no-times"}, options, rest, err));
  HostSession session(out, options);
  std::string error;
  ASSERT_TRUE(session.Start(error)) << error;
  std::istringstream script(
      "login\ncall SetOrderInfoString 0 S\ncall SetOrderInfoString 1 9A95-9A950012345\n"
      "call SetOrderInfoString 2 ORV.TWS.2330\ncall SetOrderInfoString 3 N\ncall SetOrderInfoString 4 B\n"
      "call SetOrderInfoString 5 L\ncall SetOrderInfoValue 6 600.5\ncall SetOrderInfoValue 7 2.0\n"
      "expect ProcessOrder == 0\n");
  EXPECT_EQ(RunScript(session, script, "o.kdx", err), 0) << err.str();
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "confirm-1.png"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kdx::host
