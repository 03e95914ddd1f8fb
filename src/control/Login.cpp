// Log-in: the INI section into the control's members, then the component's Connect.
#include <optional>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/codepage.h"
#include "platform/md5.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace kdx {
namespace {

constexpr uint32_t kSectionBufferSize = 4096;
constexpr uint32_t kStringBufferSize = 1024;

// The file is read once per log-in, however many keys are asked for.
struct ProfileReader {
  const PrivateProfile& file;
  const CString& section;

  CString String(const char16_t* key, const char16_t* defaultValue = u"") const {
    char16_t buffer[kStringBufferSize];
    const uint32_t n = file.GetString(section.GetString(), key, defaultValue, buffer, kStringBufferSize);
    return CString(buffer, static_cast<int>(n));
  }
  int32_t Int(const char16_t* key, int32_t defaultValue) const {
    return static_cast<int32_t>(file.GetInt(section.GetString(), key, defaultValue));
  }
  std::vector<char16_t> Section() const {
    std::vector<char16_t> lines(kSectionBufferSize);
    file.GetSection(section.GetString(), lines.data(), kSectionBufferSize);
    return lines;
  }
};

// Why a profile that exists was not read; a missing one just gives the defaults.
const char16_t* UnreadProfileReason(PrivateProfile::Status status) {
  switch (status) {
    case PrivateProfile::Status::NotRegularFile: return u"it is not a regular file";
    case PrivateProfile::Status::TooLarge: return u"it is larger than 16 MiB";
    case PrivateProfile::Status::Unreadable: return u"it cannot be read";
    case PrivateProfile::Status::NoCodePage: return u"the ANSI code page has no converter";
    default: return nullptr;
  }
}

}  // namespace

// Nothing when the text cannot be converted to the ANSI code page: the digest of nothing would
// pass for a password's.
std::optional<CString> PasswordDigest(const CString& text) {
  std::optional<std::string> bytes = TryWideToMultiByte(CP_ACP, text.str());
  if (!bytes) return std::nullopt;
  CString digest = CString::FromUtf8(Md5Hex(*bytes));
  SecureZero(bytes->data(), bytes->size());
  return digest;
}

long CORV_Velmar_KDXCtrl::Login(const CString& strProfilePath, const CString& strSession) {
  const PrivateProfile profile = PrivateProfile::Load(strProfilePath.GetString());
  const ProfileReader ini{profile, strSession};
  // The password's digest first: a log-in that cannot send it ends before anything changed.
  CString password = ini.String(u"Password");
  const int32_t encodeType = ini.Int(u"EncodeType", 1);
  std::optional<CString> passwordMD5 = encodeType ? PasswordDigest(password) : password;
  if (!passwordMD5) {
    password.SecureEmpty();
    FireLog(0, FormatString(u"Login: the password cannot be converted to code page %u", AnsiCodePage()));
    return -1;
  }

  ++m_nLoginEpoch;
  DeleteTradeApi();
  auto api = std::make_unique<CORVOMNIDEALAPI>();
  if (!m_bContainerEnabled ||
      !api->CreateControl(CLSID_ORVOMNIDEALAPI, m_wnd.Handle(), IDC_TRADEAPI, MakeTradeApiSink(api->CallState())))
    return -1;
  m_pTradeApi = std::move(api);
  ++m_nTradeApiGeneration;

  m_strProfilePath = strProfilePath;
  m_strSession = strSession;

  // Every key=value line of the section, for the query templates.
  const std::vector<char16_t> section = ini.Section();
  for (const char16_t* line = section.data(); *line; line += CString(line).GetLength() + 1) {
    CString text(line);
    int eq = text.Find(u'=');
    if (eq < 1) continue;
    CString key = text.Left(eq), value = text.Mid(eq + 1);
    key.Trim();
    value.Trim();
    m_mapProfile[key] = value;
  }

  const int32_t loginType = ini.Int(u"LoginType", 1);
  const CString loginURL = ini.String(u"LoginURL");
  const CString serverAddress = ini.String(u"ServerAddress");
  const int32_t serverPort = ini.Int(u"ServerPort", 443);
  m_strProxyAddress = ini.String(u"ProxyAddress");
  m_nProxyPort = ini.Int(u"ProxyPort", 0);
  const CString company = ini.String(u"Company", u"ORV");
  const CString product = ini.String(u"Product", u"nPlexII");
  m_strRocID = ini.String(u"RocID");
  m_strRocID.MakeUpper();
  const CString branchID = ini.String(u"BranchID");
  const CString custID = ini.String(u"CustID");
  m_strBroker = ini.String(u"Broker");
  m_strBrokerName = ini.String(u"BrokerName");
  m_strPassword = password;
  password.SecureEmpty();
  m_strPasswordMD5 = *passwordMD5;
  passwordMD5->SecureEmpty();
  m_pTradeApi->SetTWOrderPrefix(ini.String(u"TWOrderPrefix"));
  m_pTradeApi->SetOBOrderPrefix(ini.String(u"OBOrderPrefix"));
  m_strQueryAddress = ini.String(u"QueryAddress");
  m_strCAPath = ini.String(u"CAPath");
  m_strCAPassword = ini.String(u"CAPassword");
  m_nCAType = ini.Int(u"CAType", 0);
  m_bOrderPrompt = ini.Int(u"OrderPrompt", 1);
  m_bTestMode = ini.Int(u"TestMode", 0);
  m_strImagePath = ini.String(u"ImagePath");

  m_strLoginID.Empty();
  m_strLoginPassword.SecureEmpty();
  m_strImagePath.Replace(u"%ModulePath%", ModuleDirectory());

  m_strRocIDPrefix.Empty();
  if (int underscore = m_strRocID.Find(u'_'); underscore >= 0) m_strRocIDPrefix = m_strRocID.Left(underscore);

  m_pTradeApi->SetCAPath(m_strCAPath);
  m_pTradeApi->SetCAPassword(m_strCAPassword);
  m_pTradeApi->SetCAType(m_nCAType);
  if (m_nCAType == -1) m_pTradeApi->SetUseCA(FALSE);

  const long result = m_pTradeApi->Connect(loginType, loginURL, serverAddress, serverPort, m_strProxyAddress,
                                           m_nProxyPort, company, product, m_strRocID, branchID, custID,
                                           m_strPassword, encodeType);
  // Said after Connect, since the host may do anything in its Log handler.
  if (const char16_t* reason = UnreadProfileReason(profile.GetStatus()))
    FireLog(0, FormatString(u"Login: profile %s not read, defaults used: %s", strProfilePath, reason));
  return result;
}

}  // namespace kdx
