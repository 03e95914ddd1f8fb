// The control driven as a host drives it, against the simulated trade-API component: log-in,
// its outcome events, log-out, re-log-in, and the automation interface's argument checks.
#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "control/control_fixture.h"
#include "common/host_util.h"
#include "platform/codepage.h"
#include "platform/safearray.h"
#include "platform/system.h"
#include "sim/SimTradeApi.h"

namespace kdx {
namespace {

using sim::Market;
using sim::SimConfig;
using sim::SimRow;
using sim::SimTradeApi;
using test::Pump;
using Strings = std::vector<std::string>;

using LoginTest = test::ControlTest;

TEST_F(LoginTest, WithoutARegisteredComponentLoginReturnsMinusOneAndChangesNothing) {
  SimTradeApi::Unregister();
  ctrl->m_strSession = u"Before";
  EXPECT_EQ(Login(Ini("RocID=a1\nPassword=pw\n")), -1);
  EXPECT_EQ(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(ctrl->m_strSession, u"Before");
  EXPECT_TRUE(ctrl->m_mapProfile.empty());
  EXPECT_TRUE(ctrl->m_strRocID.IsEmpty());
  EXPECT_EQ(Status(), 0);
  Pump();
  EXPECT_TRUE(events.Events().empty());
}

TEST_F(LoginTest, SectionLinesFillTheProfileMapLineByLine) {
  const std::u16string path = folder.Write("kdx.ini",
                                           "[Other]\nLeak=1\n"
                                           "[Sim]\n  Key One  =  value one  \n=orphan\nTwo=a=b\nNoEquals\n"
                                           "Orders = https://q/%ROC_ID%?a=1\n"
                                           "[Sim2]\nTwo=c\nNew=1\n");
  EXPECT_EQ(Login(path), 0);
  const std::unordered_map<CString, CString> first{
      {u"Key One", u"value one"}, {u"Two", u"a=b"}, {u"Orders", u"https://q/%ROC_ID%?a=1"}};
  EXPECT_EQ(ctrl->m_mapProfile, first);
  EXPECT_EQ(ctrl->m_strProfilePath, path);
  EXPECT_EQ(ctrl->m_strSession, u"Sim");

  // A later log-in overwrites and adds; it does not empty the map first.
  EXPECT_EQ(ctrl->Login(path, u"Sim2"), 0);
  const std::unordered_map<CString, CString> second{
      {u"Key One", u"value one"}, {u"Two", u"c"}, {u"Orders", u"https://q/%ROC_ID%?a=1"}, {u"New", u"1"}};
  EXPECT_EQ(ctrl->m_mapProfile, second);
}

struct KeysCase {
  const char* label;
  std::string section;
  std::vector<VARIANT> connect;  // the 13 arguments
  CString rocID, rocIDPrefix, passwordMD5, broker, imagePath;
  int32_t caType, orderPrompt, testMode;
  BOOL useCA;
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
  ASSERT_EQ(connect[0].args.size(), 13u);
  for (std::size_t i = 0; i < 13; ++i) {
    const VARIANT& got = connect[0].args[i];
    const VARIANT& want = c.connect[i];
    ASSERT_EQ(got.vt, want.vt) << "argument " << i + 1;
    if (want.vt == VT_BSTR) {
      EXPECT_EQ(Utf16ToUtf8(got.bstrVal), Utf16ToUtf8(want.bstrVal)) << "argument " << i + 1;
    } else {
      EXPECT_EQ(got.lVal, want.lVal) << "argument " << i + 1;
    }
  }
  EXPECT_EQ(ctrl->m_strRocID, c.rocID);
  EXPECT_EQ(ctrl->m_strRocIDPrefix, c.rocIDPrefix);
  if (!c.passwordMD5.IsEmpty()) {
    EXPECT_EQ(ctrl->m_strPasswordMD5, c.passwordMD5);
  }
  EXPECT_EQ(ctrl->m_strPassword, CString(connect[0].args[11].bstrVal));
  EXPECT_EQ(ctrl->m_strProxyAddress, CString(connect[0].args[4].bstrVal));
  EXPECT_EQ(ctrl->m_nProxyPort, connect[0].args[5].lVal);
  EXPECT_EQ(ctrl->m_strBroker, c.broker);
  EXPECT_EQ(ctrl->m_strImagePath, c.imagePath);
  EXPECT_EQ(ctrl->m_nCAType, c.caType);
  EXPECT_EQ(ctrl->m_bOrderPrompt, c.orderPrompt);
  EXPECT_EQ(ctrl->m_bTestMode, c.testMode);
  EXPECT_TRUE(ctrl->m_strLoginID.IsEmpty());
  EXPECT_EQ(api->Properties().caType, c.caType);
  EXPECT_EQ(api->Properties().useCA, c.useCA);

  // The properties go out before Connect, UseCA only for CAType -1.
  std::vector<std::u16string> order;
  for (const auto& call : api->Calls()) order.push_back(call.name);
  std::vector<std::u16string> expected{u"TWOrderPrefix", u"OBOrderPrefix", u"CAPath", u"CAPassword", u"CAType"};
  if (c.caType == -1) expected.push_back(u"UseCA");
  expected.push_back(u"Connect");
  EXPECT_EQ(order, expected);
}

const std::string kAllKeys =
    "LoginType=2\nLoginURL=https://login\nServerAddress=trade.example\nServerPort=8443\n"
    "ProxyAddress=proxy.local\nProxyPort=3128\nCompany=ACME\nProduct=Pro\nRocID=a123_x\nBranchID=9A95\n"
    "CustID=0012345\nBroker=BRK\nBrokerName=Broker Name\nPassword=abc\nEncodeType=1\nTWOrderPrefix=TW\n"
    "OBOrderPrefix=OB\nQueryAddress=https://q\nCAPath=/ca\nCAPassword=capw\nCAType=2\nOrderPrompt=0\n"
    "TestMode=1\nImagePath=/img\n";

std::vector<VARIANT> Connect(int32_t type, const char16_t* url, const char16_t* server, int32_t port,
                             const char16_t* proxy, int32_t proxyPort, const char16_t* company,
                             const char16_t* product, const char16_t* roc, const char16_t* branch,
                             const char16_t* cust, const char16_t* password, int32_t encode) {
  return {type, url, server, port, proxy, proxyPort, company, product, roc, branch, cust, password, encode};
}

INSTANTIATE_TEST_SUITE_P(
    Sections, LoginKeysTest,
    testing::Values(
        KeysCase{"Defaults", "", Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"", u"", u"", u"", 1), u"",
                 u"", u"", u"", u"", 0, 1, 0, TRUE},
        KeysCase{"AllKeys", kAllKeys,
                 Connect(2, u"https://login", u"trade.example", 8443, u"proxy.local", 3128, u"ACME", u"Pro",
                         u"A123_X", u"9A95", u"0012345", u"abc", 1),
                 u"A123_X", u"A123", u"900150983cd24fb0d6963f7d28e17f72", u"BRK", u"/img", 2, 0, 1, TRUE},
        KeysCase{"DigestOfCodePageBytes", "Password=中文密碼\n",
                 Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"", u"", u"", u"中文密碼", 1), u"", u"",
                 u"26a3c1f6edc01b4658dfb8b8bf9c8e11", u"", u"", 0, 1, 0, TRUE},
        KeysCase{"EncodeTypeZeroKeepsThePlainPassword", "Password=中文密碼\nEncodeType=0\n",
                 Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"", u"", u"", u"中文密碼", 0), u"", u"",
                 u"中文密碼", u"", u"", 0, 1, 0, TRUE},
        KeysCase{"RocIDWithoutUnderscore", "RocID=abc\n",
                 Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"ABC", u"", u"", u"", 1), u"ABC", u"", u"",
                 u"", u"", 0, 1, 0, TRUE},
        KeysCase{"RocIDBeginningWithUnderscore", "RocID=_abc_d\n",
                 Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"_ABC_D", u"", u"", u"", 1), u"_ABC_D", u"",
                 u"", u"", u"", 0, 1, 0, TRUE},
        KeysCase{"CATypeMinusOneTurnsUseCAOff", "CAType=-1\n",
                 Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"", u"", u"", u"", 1), u"", u"", u"", u"",
                 u"", -1, 1, 0, FALSE},
        KeysCase{"ModulePathInImagePath", "ImagePath=%ModulePath%\\Images;%ModulePath%\n",
                 Connect(1, u"", u"", 443, u"", 0, u"ORV", u"nPlexII", u"", u"", u"", u"", 1), u"", u"", u"", u"",
                 u"C:\\Host\\bin\\Images;C:\\Host\\bin", 0, 1, 0, TRUE}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(LoginTest, KeysWithoutAConnectArgumentReachTheirMembersAndProperties) {
  EXPECT_EQ(ctrl->Login(Ini(kAllKeys), u"Sim"), 0);
  EXPECT_EQ(ctrl->m_strBrokerName, u"Broker Name");
  EXPECT_EQ(ctrl->m_strQueryAddress, u"https://q");
  EXPECT_EQ(ctrl->m_strCAPath, u"/ca");
  EXPECT_EQ(ctrl->m_strCAPassword, u"capw");
  const sim::SimProperties& p = SimTradeApi::Last()->Properties();
  EXPECT_EQ(p.twOrderPrefix, u"TW");
  EXPECT_EQ(p.obOrderPrefix, u"OB");
  EXPECT_EQ(p.caPath, u"/ca");
  EXPECT_EQ(p.caPassword, u"capw");
}

struct GroupsCase {
  const char* label;
  std::u16string groupList;
  std::vector<std::pair<CString, CString>> pairs;
  std::vector<CString> accounts;
  friend void PrintTo(const GroupsCase& c, std::ostream* os) { *os << c.label; }
};

class LoginGroupsTest : public LoginTest, public testing::WithParamInterface<GroupsCase> {};

TEST_P(LoginGroupsTest, SuccessFiresLoginReadyThenStatementUpdateAndBuildsTheAccounts) {
  SimConfig config;
  config.loginData = {{34, u""}, {35, u""}, {214, GetParam().groupList}};
  config.accounts = {SimConfig::Account(u"9A95", u"0012345", u"A")};
  Register(config);
  EXPECT_EQ(Login(Ini("RocID=a1\nPassword=pw\n")), 0);
  EXPECT_TRUE(events.Events().empty()) << "the outcome arrived inside Login";
  EXPECT_EQ(Status(), 1);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  EXPECT_EQ(Status(), 2);
  EXPECT_EQ(ctrl->m_strDefaultAccount, u"9A95-0012345");
  EXPECT_EQ(ctrl->m_strLoginID, u"A1") << "an empty log-in id falls back to RocID";
  EXPECT_EQ(ctrl->m_strLoginPassword, u"pw");
  EXPECT_EQ(ctrl->m_arrAccountGroups, GetParam().pairs);
  EXPECT_EQ(ctrl->m_mapAccounts.size(), GetParam().accounts.size());
  for (const CString& account : GetParam().accounts) EXPECT_TRUE(ctrl->m_mapAccounts.contains(account));

  const auto trade = SimTradeApi::Last()->CallsNamed(u"SetTradeAccount");
  ASSERT_EQ(trade.size(), 2u);
  for (int32_t market : {0, 1}) {
    EXPECT_EQ(trade[market].args[0].lVal, market);
    EXPECT_EQ(trade[market].args[1].bstrVal, u"9A95");
    EXPECT_EQ(trade[market].args[2].bstrVal, u"0012345");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Groups, LoginGroupsTest,
    testing::Values(GroupsCase{"SingleAccount", u"", {{u"", u"A"}}, {u"A"}},
                    GroupsCase{"GroupList",
                               u"G1=A1:x,A2;G2=A3",
                               {{u"G1", u"A1"}, {u"G1", u"A2"}, {u"G2", u"A3"}},
                               {u"A1", u"A2", u"A3"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(LoginTest, LogInDataFillsTheLogInIdAndPassword) {
  LogIn("RocID=a1\nPassword=pw\n");
  EXPECT_EQ(ctrl->m_strLoginID, u"A123456789");
  EXPECT_EQ(ctrl->m_strLoginPassword, u"pass1234");
  EXPECT_EQ(ctrl->m_arrAccountGroups, (std::vector<std::pair<CString, CString>>{{u"", u"9A950012345"}}));
}

class LoginFailureTest : public LoginTest, public testing::WithParamInterface<long> {};

TEST_P(LoginFailureTest, CodesZeroAndOneFireLoginFailAndDeleteTheComponent) {
  SimConfig config;
  config.loginSucceeds = false;
  config.failCode = GetParam();
  config.failTextA = u"E42";
  config.failTextB = u"密碼錯誤";
  Register(config);
  EXPECT_EQ(Login(Ini("RocID=a1\n")), 0);
  EXPECT_TRUE(events.Events().empty());
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginFail(密碼錯誤(E42))"}));
  EXPECT_EQ(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  EXPECT_EQ(Status(), 0);
}

INSTANTIATE_TEST_SUITE_P(Codes, LoginFailureTest, testing::Values(0L, 1L));

TEST_F(LoginTest, MessageCodeTwoIsLoggedAndOtherCodesIgnored) {
  LogIn();
  auto api = SimTradeApi::Last();
  for (int32_t code : {2, 3, -1}) api->Raise(omnideal::EvMessage, {VARIANT(code), VARIANT(u"A"), VARIANT(u"B")});
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"Log(0,B(A))"}));
  EXPECT_NE(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(Status(), 2);
}

TEST_F(LoginTest, LostConnectionFiresConnectionLostAndDeletesTheComponent) {
  LogIn();
  SimTradeApi::Last()->Disconnect();
  EXPECT_TRUE(events.Events().empty());
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"ConnectionLost"}));
  EXPECT_EQ(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  EXPECT_EQ(Status(), 0);
}

TEST_F(LoginTest, ConnectStatusFollowsTheLogInAndLogoutTakesEffectWhenItsMessageIsHandled) {
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(ctrl->GetConnectStatus(), 0);
  EXPECT_EQ(Login(Ini("RocID=a1\n")), 0);
  EXPECT_EQ(Status(), 1);
  Pump();
  EXPECT_EQ(Status(), 2);
  Call(u"Logout");
  EXPECT_NE(ctrl->m_pTradeApi, nullptr) << "deleted inside Logout";
  EXPECT_EQ(Status(), 2);
  Pump();
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  EXPECT_TRUE(ctrl->m_mapProfile.empty());
  EXPECT_TRUE(ctrl->m_strProfilePath.IsEmpty());
}

TEST_F(LoginTest, LogoutTwiceAndLogoutWhileLoggedOutDoNothingMore) {
  ctrl->Logout();
  LogIn();
  ctrl->Logout();
  ctrl->Logout();
  Pump();
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(SimTradeApi::AliveCount(), 0);
  ctrl->m_nOrderCount = 5;
  ctrl->m_mapProfile[u"Kept"] = u"1";
  Call(u"Logout");
  Pump();
  EXPECT_EQ(ctrl->m_nOrderCount, 5);
  EXPECT_EQ(ctrl->m_mapProfile.size(), 1u);
  EXPECT_TRUE(events.Events().empty());
}

// Teardown messages meant for a replaced component must not reach the one that replaced it:
// the log-out's, a log-in failure's and a lost connection's.
struct StaleTeardownCase {
  const char* name;
  std::function<void(test::ControlTest&)> before;
  friend void PrintTo(const StaleTeardownCase& c, std::ostream* os) { *os << c.name; }
};

class StaleTeardownTest : public LoginTest, public testing::WithParamInterface<StaleTeardownCase> {};

TEST_P(StaleTeardownTest, LeavesTheNewComponentAlone) {
  LogIn();
  GetParam().before(*this);
  EXPECT_EQ(Login(Ini("RocID=a1\n")), 0);
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"LoginReady", "StatementUpdate(0)"}));
  EXPECT_NE(ctrl->m_pTradeApi, nullptr);
  EXPECT_EQ(Status(), 2);
  EXPECT_EQ(SimTradeApi::AliveCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Teardowns, StaleTeardownTest,
    testing::Values(StaleTeardownCase{"logout", [](test::ControlTest& t) { t.Control().Logout(); }},
                    StaleTeardownCase{"failure_and_lost_connection",
                                      [](test::ControlTest&) {
                                        SimTradeApi::Last()->Disconnect(sim::Delivery::Now);
                                        SimTradeApi::Last()->Raise(
                                            2, {VARIANT(int32_t{0}), VARIANT(u"A"), VARIANT(u"B")},
                                            sim::Delivery::Now);
                                      }}),
    [](const auto& info) { return std::string(info.param.name); });

// A host may log in again from inside an event the old component raised; that component is
// detached at once and deleted only after its call has returned.
TEST_F(LoginTest, LoginFromInsideAnEventOfTheOldComponentDefersItsDeletion) {
  LogIn();
  const std::u16string ini = Ini("RocID=a1\n");
  test::EventRecorder again;
  auto relogin = std::make_shared<DispatchObject>(DispatchTable{
      {kdxevent::StatementUpdate, u"StatementUpdate", MemberKind::Method, VT_EMPTY, {{VT_I4, u"n"}}, u"",
       [&](std::span<VARIANT> a, VARIANT*) {
         if (a[0].lVal == 10) {
           EXPECT_EQ(ctrl->Login(ini, u"Sim"), 0);
         }
         return S_OK;
       }}});
  const DWORD cookie = ctrl->FindConnectionPoint()->Advise(relogin);
  SimTradeApi::Last()->StatementChanged();
  Pump();
  ctrl->FindConnectionPoint()->Unadvise(cookie);
  EXPECT_EQ(SimTradeApi::DestroyedInsideOwnCall(), 0);
  EXPECT_EQ(SimTradeApi::AliveCount(), 1);
  EXPECT_EQ(Status(), 2);
  EXPECT_EQ(events.Summary(), (Strings{"StatementUpdate(10)", "LoginReady", "StatementUpdate(0)"}));
}

void AddOrder(Market market, long row, const char16_t* account) {
  const std::u16string orderNo = u"N" + std::u16string(1, static_cast<char16_t>(u'0' + row));
  SimTradeApi::Last()->AddOrder(market, 3, row, SimRow().Text(5, account).Text(147, orderNo));
}

TEST_F(LoginTest, SecondLoginReplacesTheComponentAndKeepsTheCounters) {
  LogIn();
  const std::weak_ptr<SimTradeApi> first = SimTradeApi::Last();
  AddOrder(Market::Domestic, 0, u"9A950012345");
  AddOrder(Market::Overseas, 1, u"9A950012345");
  SimTradeApi::Last()->AddFill(Market::Domestic, 4, 0, SimRow().Text(5, u"9A950012345"));
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "FillOrder(0)"}));
  events.Clear();

  LogIn();
  EXPECT_TRUE(first.expired());
  EXPECT_EQ(SimTradeApi::CreatedCount(), 2);
  EXPECT_EQ(SimTradeApi::AliveCount(), 1);
  EXPECT_EQ(Call(u"GetOrderCount").lVal, 2);
  EXPECT_EQ(Call(u"GetFillOrderCount").lVal, 1);
  AddOrder(Market::Domestic, 2, u"9A950012345");
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(2)"}));
}

TEST_F(LoginTest, AfterLogoutOrdersAreNumberedFromZeroAndOtherAccountsIgnored) {
  LogIn();
  AddOrder(Market::Domestic, 0, u"9A950012345");
  AddOrder(Market::Domestic, 1, u"9A950012345");
  Pump();
  ctrl->Logout();
  Pump();
  EXPECT_EQ(Call(u"GetOrderCount").lVal, 0);
  EXPECT_EQ(Call(u"GetFillOrderCount").lVal, 0);
  events.Clear();

  LogIn();
  AddOrder(Market::Domestic, 5, u"SOMEONE-ELSE");
  AddOrder(Market::Domestic, 6, u"9A950012345");
  AddOrder(Market::Overseas, 7, u"");
  AddOrder(Market::Overseas, 8, u"9A950012345");
  SimTradeApi::Last()->AddFill(Market::Overseas, 4, 1, SimRow().Text(5, u"9A950012345"));
  Pump();
  EXPECT_EQ(events.Summary(), (Strings{"OrderStatus(0)", "OrderStatus(1)", "FillOrder(0)"}));
  EXPECT_EQ(ctrl->GetOrderCount(), 2);
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.at(0), CORV_Velmar_KDXCtrl::DomesticRecordKey(3, 6));
  EXPECT_EQ(ctrl->m_mapOrderIndexToKey.at(1), CORV_Velmar_KDXCtrl::OverseasRecordKey(3, 8));
}

struct SecuritiesCase {
  int32_t type, value;
  Strings log;
  int32_t testMode, orderPrompt;
};

TEST_F(LoginTest, SetSecuritiesChangesTestModeAndPromptAndLogsIt) {
  const SecuritiesCase cases[] = {
      {0, 1, {"Log(1,Test Mode = ON)"}, 1, 1},  {0, 0, {"Log(1,Test Mode = OFF)"}, 0, 1},
      {1, 0, {"Log(1,Show Prompt = OFF)"}, 0, 0}, {1, 7, {"Log(1,Show Prompt = ON)"}, 0, 7},
      {2, 1, {}, 0, 7},                           {-1, 0, {}, 0, 7},
  };
  bool typed = false;
  for (const SecuritiesCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << "/" << c.value);
    events.Clear();
    if (typed) {
      ctrl->SetSecurities(c.type, u"ignored", c.value);
    } else {
      Call(u"SetSecurities", {VARIANT(c.type), VARIANT(u"ignored"), VARIANT(c.value)});
    }
    typed = !typed;
    EXPECT_EQ(events.Summary(), c.log);
    EXPECT_EQ(ctrl->m_bTestMode, c.testMode);
    EXPECT_EQ(ctrl->m_bOrderPrompt, c.orderPrompt);
  }
}

TEST_F(LoginTest, EveryMemberRefusesWrongArgumentCountsAndTypes) {
  LogIn();
  auto badValueFor = [](VARTYPE vt) -> VARIANT {
    if (vt == VT_BSTR) return VARIANT::Array(SafeArrayCreateVector(VT_I4, 0, 2));
    return VARIANT(u"not a number");
  };
  std::size_t members = 0;
  for (const DispatchMember& m : KdxMethodTable()) {
    SCOPED_TRACE(Utf16ToUtf8(m.name));
    ++members;
    std::vector<VARIANT> good;
    for (const DispatchParam& p : m.params) good.push_back(p.vt == VT_BSTR ? VARIANT(u"x") : VARIANT(1));
    std::vector<VARIANT> tooMany = good;
    tooMany.emplace_back(1);
    VARIANT result;
    EXPECT_EQ(ctrl->Invoke(m.id, DISPATCH_METHOD, tooMany, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(InvokeByName(*ctrl, m.name, DISPATCH_METHOD, tooMany, &result), DISP_E_BADPARAMCOUNT);
    if (!good.empty()) {
      std::vector<VARIANT> tooFew(good.begin(), good.end() - 1);
      EXPECT_EQ(ctrl->Invoke(m.id, DISPATCH_METHOD, tooFew, &result), DISP_E_BADPARAMCOUNT);
    }
    for (std::size_t i = 0; i < good.size(); ++i) {
      std::vector<VARIANT> bad = good;
      bad[i] = badValueFor(m.params[i].vt);
      EXPECT_EQ(ctrl->Invoke(m.id, DISPATCH_METHOD, bad, &result), DISP_E_TYPEMISMATCH) << "parameter " << i;
    }
    EXPECT_EQ(ctrl->Invoke(m.id, DISPATCH_PROPERTYPUT, good, &result), DISP_E_MEMBERNOTFOUND);
  }
  EXPECT_EQ(members, 23u);
  VARIANT result;
  EXPECT_EQ(ctrl->Invoke(23, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
  Pump();
  EXPECT_TRUE(events.Events().empty());
  EXPECT_EQ(Status(), 2);
}

}  // namespace
}  // namespace kdx
