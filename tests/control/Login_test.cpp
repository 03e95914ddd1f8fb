// The control driven as a host drives it, against the simulated trade-API component: log-in,
// each way it ends, failed component calls, log-out and what it clears, re-log-in, and the
// automation interface's bindings.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "platform/system.h"

namespace kdx {
namespace {

using sim::SimConfig;
using sim::SimTradeApi;
using test::Pump;
using test::Strings;

using LoginTest = test::ControlTest;

// Arguments joined with ','.
std::string Joined(const std::vector<VARIANT>& args) {
  std::string text;
  for (const VARIANT& v : args)
    text += (text.empty() ? "" : ",") + (v.vt == VT_BSTR ? Utf16ToUtf8(v.bstrVal) : std::to_string(v.lVal));
  return text;
}

// What the keys set: texts as "name=value" when not empty, numbers always.
std::string Members(const CORV_Velmar_KDXCtrl& c, const sim::SimProperties& p) {
  std::string text;
  const std::pair<const char*, CString> texts[] = {
      {"roc", c.m_strRocID},         {"prefix", c.m_strRocIDPrefix},    {"md5", c.m_strPasswordMD5},
      {"pw", c.m_strPassword},       {"broker", c.m_strBroker},         {"brokerName", c.m_strBrokerName},
      {"query", c.m_strQueryAddress}, {"proxy", c.m_strProxyAddress},   {"caPath", c.m_strCAPath},
      {"caPw", c.m_strCAPassword},   {"tw", CString(p.twOrderPrefix)},  {"ob", CString(p.obOrderPrefix)},
      {"image", c.m_strImagePath},   {"loginID", c.m_strLoginID}};
  for (const auto& [name, value] : texts)
    if (!value.IsEmpty()) text += std::string(name) + "=" + test::Utf8(value) + " ";
  return text + "port=" + std::to_string(c.m_nProxyPort) + " ca=" + std::to_string(c.m_nCAType) + "/" +
         std::to_string(p.caType) + " useCA=" + std::to_string(p.useCA) + " prompt=" +
         std::to_string(c.m_bOrderPrompt) + " test=" + std::to_string(c.m_bTestMode);
}

// Each section: Connect's 13 arguments and the members and properties it leaves.
TEST_F(LoginTest, KeysAndDefaultsReachMembersPropertiesAndConnect) {
  const struct {
    std::string section, connect, members;
  } cases[] = {
      {"", "1,,,443,,0,ORV,nPlexII,,,,,1",
       "md5=d41d8cd98f00b204e9800998ecf8427e port=0 ca=0/0 useCA=1 prompt=1 test=0"},
      {"LoginType=2\nLoginURL=https://login\nServerAddress=trade.example\nServerPort=8443\n"
       "ProxyAddress=proxy.local\nProxyPort=3128\nCompany=ACME\nProduct=Pro\nRocID=a123_x_y\nBranchID=9A95\n"
       "CustID=0012345\nBroker=BRK\nBrokerName=Broker Name\nPassword=abc\nEncodeType=1\nTWOrderPrefix=TW\n"
       "OBOrderPrefix=OB\nQueryAddress=https://q\nCAPath=/ca\nCAPassword=capw\nCAType=2\nOrderPrompt=0\n"
       "TestMode=1\nImagePath=/img\n",
       "2,https://login,trade.example,8443,proxy.local,3128,ACME,Pro,A123_X_Y,9A95,0012345,abc,1",
       "roc=A123_X_Y prefix=A123 md5=900150983cd24fb0d6963f7d28e17f72 pw=abc broker=BRK brokerName=Broker Name "
       "query=https://q proxy=proxy.local caPath=/ca caPw=capw tw=TW ob=OB image=/img port=3128 ca=2/2 useCA=1 "
       "prompt=0 test=1"},
      // The digest is of the password's bytes in the ANSI code page (950 here); UseCA goes off
      // for CAType -1 only.
      {"Password=中文密碼\nCAType=-2\nImagePath=%ModulePath%\\Images;%ModulePath%\n",
       "1,,,443,,0,ORV,nPlexII,,,,中文密碼,1",
       "md5=26a3c1f6edc01b4658dfb8b8bf9c8e11 pw=中文密碼 image=C:\\Host\\bin\\Images;C:\\Host\\bin "
       "port=0 ca=-2/-2 useCA=1 prompt=1 test=0"},
      {"Password=中文密碼\nEncodeType=0\nCAType=-1\n", "1,,,443,,0,ORV,nPlexII,,,,中文密碼,0",
       "md5=中文密碼 pw=中文密碼 port=0 ca=-1/-1 useCA=0 prompt=1 test=0"}};
  const unsigned codePage = AnsiCodePage();
  SetAnsiCodePage(950);
  SetModuleFileNameOverride(u"C:\\Host\\bin\\kdx-host.exe");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section);
    ctrl->m_strLoginID = u"stale";
    EXPECT_EQ(Login(Ini(c.section)), 0);
    EXPECT_EQ(Joined(Api().CallsNamed(u"Connect").at(0).args), c.connect);
    EXPECT_EQ(Members(*ctrl, Api().Properties()), c.members);
    // The properties go out before Connect, UseCA only for CAType -1.
    std::string order;
    for (const auto& call : Api().Calls()) order += Utf16ToUtf8(call.name) + " ";
    EXPECT_EQ(order, std::string("TWOrderPrefix OBOrderPrefix CAPath CAPassword CAType ") +
                         (ctrl->m_nCAType == -1 ? "UseCA " : "") + "Connect ");
  }
  SetAnsiCodePage(codePage);
}

// The log-in data's id and password (RocID and Password when they are empty) and its group
// list: one group of the first account unless "=" follows a name, else GROUP=ACCOUNT[:x],...;...
TEST_F(LoginTest, LoginReadyBuildsTheAccountsFromTheLogInData) {
  const struct {
    sim::SimFields loginData;
    CString loginID, loginPassword;
    std::vector<std::pair<CString, CString>> groups;
  } cases[] = {
      {SimConfig{}.loginData, u"A123456789", u"pass1234", {{u"", u"A"}}},
      {{{214, u"=X"}}, u"A1", u"pw", {{u"=X", u"A"}}},
      {{{214, u"G1=A1:x,A2;G2=:B,C:,,D:e ;;=Z;  ;H=;I"}}, u"A1", u"pw",
       {{u"G1", u"A1"}, {u"G1", u"A2"}, {u"G2", u"B"}, {u"G2", u"C"}, {u"G2", u"D"}}}};
  for (const auto& c : cases) {
    SimConfig config;
    config.loginData = c.loginData;
    config.accounts = {SimConfig::Account(u"9A95", u"0012345", u"A")};
    Register(config);
    LogIn("RocID=a1\nPassword=pw\n");
    EXPECT_EQ(ctrl->m_strDefaultAccount, u"9A95-0012345");
    EXPECT_EQ(ctrl->m_strLoginID, c.loginID);
    EXPECT_EQ(ctrl->m_strLoginPassword, c.loginPassword);
    EXPECT_EQ(ctrl->m_arrAccountGroups, c.groups);
    std::unordered_map<CString, int32_t> accounts;
    for (const auto& [group, account] : c.groups) accounts[account] = 1;
    EXPECT_EQ(ctrl->m_mapAccounts, accounts);
    const auto trade = Api().CallsNamed(u"SetTradeAccount");
    ASSERT_EQ(trade.size(), 2u);
    for (int32_t market : {0, 1}) EXPECT_EQ(Joined(trade[market].args), std::to_string(market) + ",9A95,0012345");
    ctrl->Logout();
    Pump();
  }
}

// The outcome arrives after Login returned; a failure (message code 0 or 1) and a lost
// connection each delete the component. Code 2 is logged, other codes ignored.
TEST_F(LoginTest, EachEndOfALogInDeletesTheComponentAndTellsTheHost) {
  const struct {
    long failCode;  // -1: the log-in succeeds, then the connection is lost
    Strings expected;
  } cases[] = {{0, {"LoginFail(Login refused(E0001))"}},
               {1, {"LoginFail(Login refused(E0001))"}},
               {-1, {"LoginReady", "StatementUpdate(0)", "Log(0,B(A))", "ConnectionLost"}}};
  for (const auto& c : cases) {
    SimConfig config;
    config.loginSucceeds = c.failCode < 0;
    config.failCode = c.failCode;
    Register(config);
    events.Clear();
    EXPECT_EQ(Login(Ini("RocID=a1\n")), 0);
    EXPECT_TRUE(events.Events().empty()) << "the outcome arrived inside Login";
    Pump();
    if (c.failCode < 0) {
      EXPECT_EQ(Status(), 2);
      for (int32_t code : {2, 3, -1}) Api().Raise(omnideal::EvMessage, {VARIANT(code), VARIANT(u"A"), VARIANT(u"B")});
      Api().Disconnect();
      Pump();
    }
    EXPECT_EQ(events.Summary(), c.expected);
    EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  }
}

// A profile that is not a file (a FIFO would hang; a folder where there are none) is not read:
// defaults and a Log line. The section's key=value lines fill the profile map; a later log-in
// overwrites and adds, it does not empty the map first. Connect's result comes back unchanged.
// A log-in that cannot start returns -1 before anything changed: no component, or a password
// the ANSI code page cannot take (its digest would be that of nothing).
TEST_F(LoginTest, WhatLoginReadsAndReturns) {
  const std::string fifo = (folder.path() / "fifo.ini").string();
  if (mkfifo(fifo.c_str(), 0600) != 0) {
    ASSERT_TRUE(errno == ENOSYS && std::filesystem::create_directory(fifo));
  }
  const std::u16string path = folder.Write("kdx.ini",
                                           "[Other]\nLeak=1\n"
                                           "[Sim]\n  Key One  =  value one  \n=orphan\nTwo=a=b\nNoEquals\nRocID=a1\n"
                                           "[Sim2]\nTwo=c\nNew=1\nRocID=a1\n");
  SimConfig config;
  config.connectResult = -5;
  Register(config);
  EXPECT_EQ(Login(CString::FromUtf8(fifo).str()), -5);
  EXPECT_EQ(Joined(Api().CallsNamed(u"Connect").at(0).args), "1,,,443,,0,ORV,nPlexII,,,,,1");
  config.connectResult = 7;
  Register(config);
  EXPECT_EQ(Login(path), 7);
  std::unordered_map<CString, CString> expected{{u"Key One", u"value one"}, {u"Two", u"a=b"}, {u"RocID", u"a1"}};
  EXPECT_EQ(ctrl->m_mapProfile, expected);
  EXPECT_EQ(Login(path, u"Sim2"), 7);
  expected[u"Two"] = u"c";
  expected[u"New"] = u"1";
  EXPECT_EQ(ctrl->m_mapProfile, expected);
  EXPECT_EQ(ctrl->m_strProfilePath + ctrl->m_strSession, path + u"Sim2");

  const unsigned codePage = AnsiCodePage();
  SetAnsiCodePage(59999);  // no such code page
  EXPECT_EQ(Login(Ini("RocID=b2\nPassword=pw\n")), -1);
  EXPECT_EQ(SimTradeApi::AliveCount() * 10 + SimTradeApi::CreatedCount(), 13);
  SimTradeApi::Unregister();
  EXPECT_EQ(Login(Ini("RocID=b2\nPassword=pw\nEncodeType=0\n")), -1);  // nothing to convert
  SetAnsiCodePage(codePage);
  EXPECT_EQ(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(ctrl->m_mapProfile, expected);
  EXPECT_EQ(ctrl->m_strSession + ctrl->m_strRocID, u"Sim2A1");
  Pump();
  EXPECT_EQ(events.Summary(),
            (Strings{"Log(0,Login: profile " + fifo + " not read, defaults used: it is not a regular file)",
                     "Log(0,Login: the password cannot be converted to code page 59999)"}));
}

// A failed call into the component fails the automation call with its description, and logs
// it; one inside an event handler is logged and ends the handler.
TEST_F(LoginTest, FailedComponentCallsFailTheCallAndAreLogged) {
  auto call = [&](std::u16string_view name, std::vector<VARIANT> args) {
    VARIANT result;
    const HRESULT hr = InvokeByName(*ctrl, name, DISPATCH_METHOD, args, &result);
    return hr == S_OK ? "ok" : hr == DISP_E_EXCEPTION ? Utf16ToUtf8(GetErrorInfo()) : std::to_string(hr);
  };
  const struct {
    DISPID failing;
    const char* name;
    int call;  // which call fails: 0 Login, 1 GetConnectStatus, -1 none (the log-in event)
  } cases[] = {{omnideal::Connect, "Connect", 0},
               {omnideal::GetLoginDataCount, "GetLoginDataCount", -1},
               {omnideal::GetStatus, "GetStatus", 1}};
  for (const auto& c : cases) {
    SimConfig config;
    config.failingCalls[c.failing] = E_FAIL;
    Register(config);
    events.Clear();
    const std::string text = std::string("Trade-API call ") + c.name + " failed (0x80004005): simulated failure";
    EXPECT_EQ(call(u"Login", {VARIANT(Ini("RocID=a1\n")), VARIANT(u"Sim")}), c.call == 0 ? text : "ok");
    Pump();
    EXPECT_EQ(call(u"GetConnectStatus", {}), c.call == 1 ? text : "ok");
    Strings expected{"Log(0," + text + ")"};
    if (c.call == 1) expected.insert(expected.begin(), {"LoginReady", "StatementUpdate(0)"});
    EXPECT_EQ(events.Summary(), expected);
  }
}

// Logout empties the tables of the log-in and forgets its secrets, and the component's later
// rows belong to no log-in; the component goes when Logout's message is handled.
TEST_F(LoginTest, LogoutClearsWhatBelongsToTheLogIn) {
  LogIn("RocID=a1\nPassword=pw\nCAPassword=ca\n");
  CORV_Velmar_KDXCtrl& c = *ctrl;
  c.m_mapOrderIndexToKey[0] = c.m_mapFillIndexToKey[0] = c.m_mapKeyToOrderIndex[1] = c.m_mapKeyToFillIndex[1] = 1;
  c.m_mapOrderNoToKey[u"N"] = 1;
  c.m_mapOrderRef[u"R"] = u"r";
  for (int i = 1; i <= 5; ++i) c.m_arrStatementRows[i].push_back(std::make_unique<FieldRecord>());
  c.m_mapQuerySeq[u"Q"] = 3;
  c.m_mapQueryTables[u"Q"].push_back(std::make_unique<FieldRecord>());
  c.m_nOrderCount = c.m_nFillCount = 4;
  ASSERT_FALSE(c.m_mapProfile.empty() || c.m_arrAccountGroups.empty());
  Call(u"Logout");
  Api().AddOrder(sim::Market::Domestic, 1, 0, sim::SimRow().Text(5, test::kAccount), sim::Delivery::Now);
  Api().AddFill(sim::Market::Domestic, 2, 0, sim::SimRow().Text(5, test::kAccount), sim::Delivery::Now);
  EXPECT_TRUE(c.m_mapOrderIndexToKey.empty() && c.m_mapFillIndexToKey.empty() && c.m_mapKeyToOrderIndex.empty() &&
              c.m_mapKeyToFillIndex.empty() && c.m_mapOrderNoToKey.empty() && c.m_mapOrderRef.empty());
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(c.m_arrStatementRows[i].empty()) << i;
  EXPECT_TRUE(c.m_arrAccountGroups.empty() && c.m_mapProfile.empty() && c.m_mapQuerySeq.empty() &&
              c.m_mapQueryTables.empty() && c.m_strProfilePath.IsEmpty());
  EXPECT_EQ(c.m_nOrderCount + c.m_nFillCount, 0);
  for (const CString* secret : {&c.m_strPassword, &c.m_strPasswordMD5, &c.m_strLoginPassword, &c.m_strCAPassword})
    EXPECT_TRUE(secret->IsEmpty());
  EXPECT_EQ(Status(), 2) << "deleted inside Logout";
  Pump();
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  c.m_nOrderCount = 5;  // Logout while logged out does nothing
  Call(u"Logout");
  EXPECT_EQ(c.m_nOrderCount, 5);
  EXPECT_TRUE(events.Events().empty());
}

// Replacing the component: an idle old one goes before the new one connects (the broker must
// not see two sessions), one whose event is running goes once the event returns, and teardown
// messages meant for an old one (log-out, log-in failure, lost connection) spare the new one.
TEST_F(LoginTest, LoginReplacesTheComponentFirstOrRightAfterItsOwnEvent) {
  LogIn();
  LogIn();
  EXPECT_EQ(SimTradeApi::AliveAtLastConnect(), 1);
  const std::u16string ini = Ini("RocID=a1\n");
  for (int way = 0; way < 3; ++way) {  // 2: logs in again itself
    events.Clear();
    if (way == 0) ctrl->Logout();
    if (way == 1) {
      Api().Disconnect(sim::Delivery::Now);
      Api().Raise(2, {VARIANT(int32_t{0}), VARIANT(u"A"), VARIANT(u"B")}, sim::Delivery::Now);
    }
    if (way == 2) {
      ctrl->FindConnectionPoint()->Advise(test::OnEvent(kdxevent::StatementUpdate, [&](auto a) {
        EXPECT_EQ(a[0].lVal == 10 ? ctrl->Login(ini, u"Sim") : 0, 0);
      }));
      Api().StatementChanged();  // still queued when the component is replaced: not heard
      Api().StatementChanged(omnideal::EvStatement, sim::Delivery::Now);
    } else {
      EXPECT_EQ(Login(ini), 0);
    }
    Pump();
    Strings expected{"LoginReady", "StatementUpdate(0)"};
    if (way == 2) expected.insert(expected.begin(), "StatementUpdate(10)");
    EXPECT_EQ(events.Summary(), expected);
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(SimTradeApi::AliveCount(), 1);
  }
}

TEST_F(LoginTest, SetSecuritiesChangesTestModeAndPromptAndLogsIt) {
  const struct {
    int32_t type, value;
    Strings log;
    int32_t testMode, orderPrompt;
  } cases[] = {{0, 7, {"Log(1,Test Mode = ON)"}, 7, 1},
               {0, 0, {"Log(1,Test Mode = OFF)"}, 0, 1},
               {1, 0, {"Log(1,Show Prompt = OFF)"}, 0, 0},
               {1, 7, {"Log(1,Show Prompt = ON)"}, 0, 7},
               {2, 1, {}, 0, 7}};
  for (const auto& c : cases) {
    events.Clear();
    Call(u"SetSecurities", {VARIANT(c.type), VARIANT(u"ignored"), VARIANT(c.value)});
    EXPECT_EQ(events.Summary(), c.log);
    EXPECT_EQ(ctrl->m_bTestMode * 10 + ctrl->m_bOrderPrompt, c.testMode * 10 + c.orderPrompt) << c.type << c.value;
  }
}

// Every member is bound (Login, Logout and AboutBox are called elsewhere).
TEST_F(LoginTest, EveryMemberIsBound) {
  for (const DispatchMember& m : KdxMethodTable()) {
    if (m.id == 1 || m.id == 2 || m.id == DISPID_ABOUTBOX) continue;
    std::vector<VARIANT> args;
    for (const DispatchParam& p : m.params) args.push_back(p.vt == VT_BSTR ? VARIANT(u"x") : VARIANT(1));
    test::CallByName(*ctrl, m.name, args);  // expects S_OK
  }
}

}  // namespace
}  // namespace kdx
