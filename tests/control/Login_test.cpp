// The control driven as a host drives it, against the simulated trade-API component: log-in,
// its outcome, failed component calls, log-out and what it clears, re-log-in, and the
// automation interface's argument checks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <ostream>

#include "common/control_util.h"
#include "platform/codepage.h"
#include "platform/safearray.h"
#include "platform/system.h"

namespace kdx {
namespace {

using sim::Market;
using sim::SimConfig;
using sim::SimRow;
using sim::SimTradeApi;
using test::Pump;
using test::Strings;
using test::Utf8;

using LoginTest = test::ControlTest;

TEST_F(LoginTest, SectionLinesFillTheProfileMapLineByLine) {
  const std::u16string path = folder.Write("kdx.ini",
                                           "[Other]\nLeak=1\n"
                                           "[Sim]\n  Key One  =  value one  \n=orphan\nTwo=a=b\nNoEquals\n"
                                           "[Sim2]\nTwo=c\nNew=1\n");
  EXPECT_EQ(Login(path), 0);
  std::unordered_map<CString, CString> expected{{u"Key One", u"value one"}, {u"Two", u"a=b"}};
  EXPECT_EQ(ctrl->m_mapProfile, expected);
  EXPECT_EQ(ctrl->m_strProfilePath, path);
  EXPECT_EQ(ctrl->m_strSession, u"Sim");
  // A later log-in overwrites and adds; it does not empty the map first.
  EXPECT_EQ(ctrl->Login(path, u"Sim2"), 0);
  expected[u"Two"] = u"c";
  expected[u"New"] = u"1";
  EXPECT_EQ(ctrl->m_mapProfile, expected);
}

// Connect's arguments joined with ',', and the members and properties the keys set: texts
// as "name=value" when not empty, numbers always.
std::string Joined(const std::vector<VARIANT>& args) {
  std::string text;
  for (const VARIANT& v : args)
    text += (text.empty() ? "" : ",") + (v.vt == VT_BSTR ? Utf16ToUtf8(v.bstrVal) : std::to_string(v.lVal));
  return text;
}

std::string Members(const CORV_Velmar_KDXCtrl& c, const sim::SimProperties& p) {
  std::string text;
  const std::pair<const char*, CString> texts[] = {
      {"roc", c.m_strRocID},         {"prefix", c.m_strRocIDPrefix}, {"md5", c.m_strPasswordMD5},
      {"broker", c.m_strBroker},     {"brokerName", c.m_strBrokerName}, {"query", c.m_strQueryAddress},
      {"caPath", CString(p.caPath)}, {"caPw", CString(p.caPassword)},  {"tw", CString(p.twOrderPrefix)},
      {"ob", CString(p.obOrderPrefix)}, {"image", c.m_strImagePath}};
  for (const auto& [name, value] : texts)
    if (!value.IsEmpty()) text += std::string(name) + "=" + Utf8(value) + " ";
  return text + "ca=" + std::to_string(c.m_nCAType) + "/" + std::to_string(p.caType) + " useCA=" +
         std::to_string(p.useCA) + " prompt=" + std::to_string(c.m_bOrderPrompt) +
         " test=" + std::to_string(c.m_bTestMode);
}

struct KeysCase {
  const char* label;
  std::string section;
  std::string connect;  // the 13 arguments
  std::string members;
  friend void PrintTo(const KeysCase& c, std::ostream* os) { *os << c.label; }
};

class LoginKeysTest : public LoginTest, public testing::WithParamInterface<KeysCase> {};

TEST_P(LoginKeysTest, KeysAndDefaultsReachMembersPropertiesAndConnect) {
  const KeysCase& c = GetParam();
  const unsigned codePage = AnsiCodePage();
  SetAnsiCodePage(950);
  SetModuleFileNameOverride(u"C:\\Host\\bin\\kdx-host.exe");
  EXPECT_EQ(Login(Ini(c.section)), 0);
  SetAnsiCodePage(codePage);

  auto api = SimTradeApi::Last();
  ASSERT_TRUE(api);
  const auto connect = api->CallsNamed(u"Connect");
  ASSERT_EQ(connect.size(), 1u);
  const std::vector<VARIANT>& args = connect[0].args;
  const VARTYPE types[13] = {VT_I4,   VT_BSTR, VT_BSTR, VT_I4,   VT_BSTR, VT_I4,  VT_BSTR,
                             VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_I4};
  ASSERT_EQ(args.size(), 13u);
  for (std::size_t i = 0; i < 13; ++i) EXPECT_EQ(args[i].vt, types[i]) << "argument " << i + 1;
  EXPECT_EQ(Joined(args), c.connect);
  EXPECT_EQ(Members(*ctrl, api->Properties()), c.members);
  EXPECT_EQ(ctrl->m_strPassword, CString(args[11].bstrVal));
  EXPECT_EQ(ctrl->m_strProxyAddress, CString(args[4].bstrVal));
  EXPECT_EQ(ctrl->m_nProxyPort, args[5].lVal);
  EXPECT_EQ(ctrl->m_strCAPath, CString(api->Properties().caPath));
  EXPECT_EQ(ctrl->m_strCAPassword, CString(api->Properties().caPassword));
  EXPECT_TRUE(ctrl->m_strLoginID.IsEmpty());

  // The properties go out before Connect, UseCA only for CAType -1.
  std::vector<std::u16string> order;
  for (const auto& call : api->Calls()) order.push_back(call.name);
  std::vector<std::u16string> expected{u"TWOrderPrefix", u"OBOrderPrefix", u"CAPath", u"CAPassword", u"CAType"};
  if (ctrl->m_nCAType == -1) expected.push_back(u"UseCA");
  expected.push_back(u"Connect");
  EXPECT_EQ(order, expected);
}

const std::string kEmptyDigest = "md5=d41d8cd98f00b204e9800998ecf8427e ";
const std::string kDefaults = "ca=0/0 useCA=1 prompt=1 test=0";
const std::string kNoKeys = "1,,,443,,0,ORV,nPlexII,,,,,1";

INSTANTIATE_TEST_SUITE_P(
    Sections, LoginKeysTest,
    testing::Values(
        KeysCase{"Defaults", "", kNoKeys, kEmptyDigest + kDefaults},
        KeysCase{"AllKeys",
                 "LoginType=2\nLoginURL=https://login\nServerAddress=trade.example\nServerPort=8443\n"
                 "ProxyAddress=proxy.local\nProxyPort=3128\nCompany=ACME\nProduct=Pro\nRocID=a123_x\nBranchID=9A95\n"
                 "CustID=0012345\nBroker=BRK\nBrokerName=Broker Name\nPassword=abc\nEncodeType=1\nTWOrderPrefix=TW\n"
                 "OBOrderPrefix=OB\nQueryAddress=https://q\nCAPath=/ca\nCAPassword=capw\nCAType=2\nOrderPrompt=0\n"
                 "TestMode=1\nImagePath=/img\n",
                 "2,https://login,trade.example,8443,proxy.local,3128,ACME,Pro,A123_X,9A95,0012345,abc,1",
                 "roc=A123_X prefix=A123 md5=900150983cd24fb0d6963f7d28e17f72 broker=BRK brokerName=Broker Name "
                 "query=https://q caPath=/ca caPw=capw tw=TW ob=OB image=/img ca=2/2 useCA=1 prompt=0 test=1"},
        KeysCase{"DigestOfCodePageBytes", "Password=中文密碼\n", "1,,,443,,0,ORV,nPlexII,,,,中文密碼,1",
                 "md5=26a3c1f6edc01b4658dfb8b8bf9c8e11 " + kDefaults},
        KeysCase{"EncodeTypeZeroKeepsThePlainPassword", "Password=中文密碼\nEncodeType=0\n",
                 "1,,,443,,0,ORV,nPlexII,,,,中文密碼,0", "md5=中文密碼 " + kDefaults},
        KeysCase{"RocIDWithoutUnderscore", "RocID=abc\n", "1,,,443,,0,ORV,nPlexII,ABC,,,,1",
                 "roc=ABC " + kEmptyDigest + kDefaults},
        KeysCase{"RocIDBeginningWithUnderscore", "RocID=_abc_d\n", "1,,,443,,0,ORV,nPlexII,_ABC_D,,,,1",
                 "roc=_ABC_D " + kEmptyDigest + kDefaults},
        KeysCase{"CATypeMinusOneTurnsUseCAOff", "CAType=-1\n", kNoKeys,
                 kEmptyDigest + "ca=-1/-1 useCA=0 prompt=1 test=0"},
        KeysCase{"OtherNegativeCATypeLeavesUseCA", "CAType=-2\n", kNoKeys,
                 kEmptyDigest + "ca=-2/-2 useCA=1 prompt=1 test=0"},
        KeysCase{"ModulePathInImagePath", "ImagePath=%ModulePath%\\Images;%ModulePath%\n", kNoKeys,
                 kEmptyDigest + "image=C:\\Host\\bin\\Images;C:\\Host\\bin " + kDefaults}),
    [](const auto& info) { return std::string(info.param.label); });

struct GroupsCase {
  const char* label;
  sim::SimFields loginData;  // 34 log-in id, 35 password, 214 group list
  CString loginID, loginPassword;
  std::vector<std::pair<CString, CString>> groups;
  friend void PrintTo(const GroupsCase& c, std::ostream* os) { *os << c.label; }
};

class LoginGroupsTest : public LoginTest, public testing::WithParamInterface<GroupsCase> {};

TEST_P(LoginGroupsTest, SuccessFiresLoginReadyThenStatementUpdateAndBuildsTheAccounts) {
  const GroupsCase& c = GetParam();
  SimConfig config;
  config.loginData = c.loginData;
  config.accounts = {SimConfig::Account(u"9A95", u"0012345", u"A")};
  Register(config);
  EXPECT_EQ(Login(Ini("RocID=a1\nPassword=pw\n")), 0);
  EXPECT_TRUE(events.Events().empty()) << "the outcome arrived inside Login";
  EXPECT_EQ(Status(), 1);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  EXPECT_EQ(Status(), 2);
  EXPECT_EQ(ctrl->m_strDefaultAccount, u"9A95-0012345");
  EXPECT_EQ(ctrl->m_strLoginID, c.loginID);
  EXPECT_EQ(ctrl->m_strLoginPassword, c.loginPassword);
  EXPECT_EQ(ctrl->m_arrAccountGroups, c.groups);
  std::unordered_map<CString, int32_t> accounts;
  for (const auto& [group, account] : c.groups) accounts[account] = 1;
  EXPECT_EQ(ctrl->m_mapAccounts, accounts);

  const auto trade = SimTradeApi::Last()->CallsNamed(u"SetTradeAccount");
  ASSERT_EQ(trade.size(), 2u);
  for (int32_t market : {0, 1}) EXPECT_EQ(Joined(trade[market].args), std::to_string(market) + ",9A95,0012345");
}

INSTANTIATE_TEST_SUITE_P(
    Groups, LoginGroupsTest,
    testing::Values(GroupsCase{"LogInData", {{34, u"A123456789"}, {35, u"pass1234"}, {214, u""}}, u"A123456789",
                               u"pass1234", {{u"", u"A"}}},
                    // An empty log-in id and password fall back to RocID and Password.
                    GroupsCase{"SingleAccount", {{34, u""}, {35, u""}, {214, u""}}, u"A1", u"pw", {{u"", u"A"}}},
                    GroupsCase{"GroupList", {{214, u"G1=A1:x,A2;G2=A3"}}, u"A1", u"pw",
                               {{u"G1", u"A1"}, {u"G1", u"A2"}, {u"G2", u"A3"}}},
                    GroupsCase{"EqualsFirstIsOneGroup", {{214, u"=X"}}, u"A1", u"pw", {{u"=X", u"A"}}},
                    GroupsCase{"ColonsEmptiesAndBlanks", {{214, u"G=:B,C:,,D:e ;;=Z;  ;H=;I"}}, u"A1", u"pw",
                               {{u"G", u"B"}, {u"G", u"C"}, {u"G", u"D"}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(LoginTest, MessageCodeTwoIsLoggedAndOtherCodesIgnored) {
  LogIn();
  auto api = SimTradeApi::Last();
  for (int32_t code : {2, 3, -1}) api->Raise(omnideal::EvMessage, {VARIANT(code), VARIANT(u"A"), VARIANT(u"B")});
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"Log(0,B(A))"}));
  EXPECT_EQ(Status(), 2);
}

TEST_F(LoginTest, ConnectsResultComesBackUnchangedAndNoComponentMeansMinusOne) {
  for (long result : {-5L, 7L, 0L}) {
    SimConfig config;
    config.connectResult = result;
    Register(config);
    EXPECT_EQ(Login(Ini("RocID=a1\n")), result);
  }
  SimTradeApi::Unregister();
  ctrl->m_strSession = u"Before";
  ctrl->m_mapProfile.clear();
  EXPECT_EQ(Login(Ini("RocID=b2\nPassword=pw\n")), -1);
  EXPECT_EQ(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(ctrl->m_strSession, u"Before");
  EXPECT_TRUE(ctrl->m_mapProfile.empty());
  EXPECT_EQ(ctrl->m_strRocID, u"A1");
  EXPECT_EQ(Status(), 0);
  Pump();
  EXPECT_TRUE(events.Events().empty());
}

// A FIFO must not hang the log-in: it is not read, and the log-in goes on with the defaults.
TEST_F(LoginTest, AProfileThatIsNotAFileGivesTheDefaultsAndALogLine) {
  const std::string fifo = (folder.path() / "fifo.ini").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Login(CString::FromUtf8(fifo).str()), 0);
  EXPECT_EQ(events.Summary(), Strings{"Log(0,Login: profile " + fifo + " not read, defaults used: it is not a regular file)"});
  EXPECT_EQ(Joined(SimTradeApi::Last()->CallsNamed(u"Connect").at(0).args), kNoKeys);
}

// A password that cannot be converted to the ANSI code page would be digested as nothing.
TEST_F(LoginTest, APasswordWithoutItsCodePageEndsTheLogInBeforeAnythingChanged) {
  const unsigned codePage = AnsiCodePage();
  SetAnsiCodePage(59999);  // no such code page
  EXPECT_EQ(Login(Ini("RocID=a1\nPassword=pw\n")), -1);
  EXPECT_EQ(Login(Ini("RocID=a1\nPassword=pw\nEncodeType=0\n")), 0);  // nothing to convert
  SetAnsiCodePage(codePage);
  EXPECT_EQ(events.Summary(), (Strings{"Log(0,Login: the password cannot be converted to code page 59999)"}));
  EXPECT_EQ(SimTradeApi::CreatedCount(), 1);
}

// A failed call into the component fails the automation call with a description, and logs it;
// one inside an event handler is logged and ends the handler.
TEST_F(LoginTest, FailedComponentCallsFailTheCallAndAreLogged) {
  auto failed = [](const char* member) {
    return std::string("Trade-API call ") + member + " failed (0x80004005): simulated failure";
  };
  const struct {
    DISPID failing;
    const char16_t* method;  // fails through the interface; null: inside the log-in event
    Strings events;
  } cases[] = {
      {omnideal::Connect, u"Login", {"Log(0," + failed("Connect") + ")"}},
      {omnideal::CAType, u"Login", {"Log(0," + failed("CAType") + ")"}},
      {omnideal::GetStatus, u"GetConnectStatus", {"LoginReady", "StatementUpdate(0)", "Log(0," + failed("GetStatus") + ")"}},
      {omnideal::GetLoginDataCount, nullptr, {"Log(0," + failed("GetLoginDataCount") + ")"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    SimConfig config;
    if (c.failing != omnideal::GetStatus) config.failingCalls[c.failing] = E_FAIL;
    Register(config);
    events.Clear();
    std::vector<VARIANT> args{VARIANT(Ini("RocID=a1\n")), VARIANT(u"Sim")};
    VARIANT result;
    HRESULT hr = InvokeByName(*ctrl, u"Login", DISPATCH_METHOD, args, &result);
    Pump();
    if (c.failing == omnideal::GetStatus) {
      SimTradeApi::Last()->Config().failingCalls[c.failing] = E_FAIL;
      hr = InvokeByName(*ctrl, c.method, DISPATCH_METHOD, {}, &result);
    }
    EXPECT_EQ(hr, c.method ? DISP_E_EXCEPTION : S_OK);
    if (c.method) {
      EXPECT_EQ("Log(0," + Utf16ToUtf8(GetErrorInfo()) + ")", c.events.back());
    }
    EXPECT_EQ(events.Summary(), c.events);
  }
}

// Logout empties the tables of the log-in and forgets its secrets, and the component's later
// rows belong to no log-in; the component goes when Logout's message is handled; the rest stays.
TEST_F(LoginTest, LogoutClearsWhatBelongsToTheLogInAndKeepsTheRest) {
  EXPECT_EQ(Status(), 0);
  LogIn("RocID=a1\nPassword=pw\nCAPassword=ca\n");
  CORV_Velmar_KDXCtrl& c = *ctrl;
  c.m_mapOrderIndexToKey[0] = c.m_mapFillIndexToKey[0] = c.m_mapKeyToOrderIndex[1] = c.m_mapKeyToFillIndex[1] = 1;
  c.m_mapOrderNoToKey[u"N"] = 1;
  c.m_mapOrderRef[u"R"] = u"r";
  for (int i = 1; i <= 5; ++i) c.m_arrStatementRows[i].push_back(std::make_unique<FieldRecord>());
  c.m_mapQuerySeq[u"Q"] = 3;
  c.m_mapQueryTables[u"Q"].push_back(std::make_unique<FieldRecord>());
  c.m_nOrderCount = c.m_nFillCount = 4;
  c.m_mapObProductCode[u"K"] = c.m_mapObExchange[u"K"] = c.m_mapObDisplaySymbol[u"K"] = c.m_mapObCodeToKey[u"C"] = u"v";
  c.m_nStatementSeq[2] = 9;
  c.m_arrOrderInfoString[1] = u"ticket";
  c.m_arrOrderInfoValue[1] = 2.5;
  c.m_mapOBKeyToOrder[7] = c.m_mapOBOrderNoToOrder[u"OB"] = nullptr;
  c.m_mapOBOrderToKey[nullptr] = 7;
  ASSERT_FALSE(c.m_mapProfile.empty() || c.m_arrAccountGroups.empty());
  Call(u"Logout");
  SimTradeApi::Last()->AddOrder(Market::Domestic, 1, 0, SimRow().Text(5, u"9A950012345"), sim::Delivery::Now);
  SimTradeApi::Last()->AddFill(Market::Domestic, 2, 0, SimRow().Text(5, u"9A950012345"), sim::Delivery::Now);
  EXPECT_TRUE(c.m_mapOrderIndexToKey.empty() && c.m_mapFillIndexToKey.empty() && c.m_mapKeyToOrderIndex.empty() &&
              c.m_mapKeyToFillIndex.empty() && c.m_mapOrderNoToKey.empty() && c.m_mapOrderRef.empty());
  for (int i = 1; i <= 5; ++i) EXPECT_TRUE(c.m_arrStatementRows[i].empty()) << i;
  EXPECT_TRUE(c.m_arrAccountGroups.empty() && c.m_mapProfile.empty() && c.m_mapQuerySeq.empty() &&
              c.m_mapQueryTables.empty() && c.m_strProfilePath.IsEmpty());
  EXPECT_EQ(c.m_nOrderCount + c.m_nFillCount, 0);
  for (const CString* secret : {&c.m_strPassword, &c.m_strPasswordMD5, &c.m_strLoginPassword, &c.m_strCAPassword})
    EXPECT_TRUE(secret->IsEmpty());
  EXPECT_EQ(c.m_mapAccounts.size(), 1u);
  EXPECT_EQ(c.m_mapObProductCode.size() + c.m_mapObExchange.size() + c.m_mapObDisplaySymbol.size() +
                c.m_mapObCodeToKey.size() + c.m_mapOBKeyToOrder.size() + c.m_mapOBOrderNoToOrder.size() +
                c.m_mapOBOrderToKey.size(),
            7u);
  EXPECT_EQ(c.m_nStatementSeq[2], 9);
  EXPECT_EQ(c.m_arrOrderInfoString.at(1), u"ticket");
  EXPECT_EQ(c.m_arrOrderInfoValue.at(1), 2.5);
  EXPECT_EQ(c.m_strRocID, u"A1");
  EXPECT_EQ(Status(), 2) << "deleted inside Logout";
  Pump();
  EXPECT_EQ(Status(), 0);
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
  // Each returns whether it logged in again itself.
  const std::function<bool()> befores[] = {
      [&] {
        ctrl->Logout();
        return false;
      },
      [] {
        SimTradeApi::Last()->Disconnect(sim::Delivery::Now);
        SimTradeApi::Last()->Raise(2, {VARIANT(int32_t{0}), VARIANT(u"A"), VARIANT(u"B")}, sim::Delivery::Now);
        return false;
      },
      [&] {
        ctrl->FindConnectionPoint()->Advise(test::OnEvent(kdxevent::StatementUpdate, [&](auto a) {
          EXPECT_EQ(a[0].lVal == 10 ? ctrl->Login(ini, u"Sim") : 0, 0);
        }));
        SimTradeApi::Last()->StatementChanged(omnideal::EvStatement, sim::Delivery::Now);
        return true;
      }};
  for (const auto& before : befores) {
    events.Clear();
    EXPECT_EQ(before() ? 0 : Login(ini), 0);
    Pump();
    EXPECT_EQ(events.Logs(0), Strings{});
    EXPECT_EQ(events.Summary().back(), "StatementUpdate(0)");
    EXPECT_EQ(Status(), 2);
    EXPECT_EQ(SimTradeApi::AliveCount(), 1);
  }
}

// A second log-in keeps numbering where the first left off; a log-out starts again from zero,
// and rows of other accounts get no number.
TEST_F(LoginTest, SecondLoginKeepsTheCountersAndLogoutResetsThem) {
  auto order = [](Market market, long row, const char16_t* account) {
    SimTradeApi::Last()->AddOrder(market, 3, row, SimRow().Text(5, account));
  };
  LogIn();
  order(Market::Domestic, 0, u"9A950012345");
  SimTradeApi::Last()->AddFill(Market::Domestic, 4, 0, SimRow().Text(5, u"9A950012345"));
  Pump();
  LogIn();
  order(Market::Overseas, 1, u"9A950012345");
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(1)"}));
  EXPECT_EQ(Call(u"GetFillOrderCount").lVal, 1);
  ctrl->Logout();
  Pump();
  EXPECT_EQ(Call(u"GetOrderCount").lVal, 0);
  EXPECT_EQ(Call(u"GetFillOrderCount").lVal, 0);
  LogIn();
  order(Market::Domestic, 5, u"SOMEONE-ELSE");
  order(Market::Overseas, 7, u"");
  order(Market::Domestic, 6, u"9A950012345");
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)"}));
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.at(0), CORV_Velmar_KDXCtrl::DomesticRecordKey(3, 6));
}

TEST_F(LoginTest, SetSecuritiesChangesTestModeAndPromptAndLogsIt) {
  const struct {
    int32_t type, value;
    Strings log;
    int32_t testMode, orderPrompt;
  } cases[] = {
      {0, 1, {"Log(1,Test Mode = ON)"}, 1, 1},  {0, 0, {"Log(1,Test Mode = OFF)"}, 0, 1},
      {1, 0, {"Log(1,Show Prompt = OFF)"}, 0, 0}, {1, 7, {"Log(1,Show Prompt = ON)"}, 0, 7},
      {2, 1, {}, 0, 7},                           {-1, 0, {}, 0, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << "/" << c.value);
    events.Clear();
    Call(u"SetSecurities", {VARIANT(c.type), VARIANT(u"ignored"), VARIANT(c.value)});
    EXPECT_EQ(events.Summary(), c.log);
    EXPECT_EQ(ctrl->m_bTestMode, c.testMode);
    EXPECT_EQ(ctrl->m_bOrderPrompt, c.orderPrompt);
  }
}

// Every member is bound and checks its argument count and types (a text where a number
// belongs, an array where a text belongs).
TEST_F(LoginTest, EveryMemberIsBoundAndRefusesWrongArguments) {
  std::size_t members = 0;
  for (const DispatchMember& m : KdxMethodTable()) {
    SCOPED_TRACE(Utf16ToUtf8(m.name));
    if (m.id == 1 || m.id == 2 || m.id == DISPID_ABOUTBOX) continue;  // tried elsewhere
    ++members;
    std::vector<VARIANT> good, bad;
    for (const DispatchParam& p : m.params) {
      good.push_back(p.vt == VT_BSTR ? VARIANT(u"x") : VARIANT(1));
      bad.push_back(p.vt == VT_BSTR ? VARIANT::Array(SafeArrayCreateVector(VT_I4, 0, 2)) : VARIANT(u"x"));
    }
    VARIANT result;
    EXPECT_EQ(InvokeByName(*ctrl, m.name, DISPATCH_METHOD, good, &result), S_OK);
    good.emplace_back(1);
    EXPECT_EQ(ctrl->Invoke(m.id, DISPATCH_METHOD, good, &result), DISP_E_BADPARAMCOUNT);
    if (!bad.empty()) {
      EXPECT_EQ(ctrl->Invoke(m.id, DISPATCH_METHOD, bad, &result), DISP_E_TYPEMISMATCH);
    }
  }
  EXPECT_EQ(members, 20u);
}

}  // namespace
}  // namespace kdx
