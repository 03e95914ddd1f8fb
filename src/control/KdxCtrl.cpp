#include "control/KdxCtrl.h"

#include "control/Module.h"
#include "platform/message_box.h"
#include "resources/string_table.h"

namespace kdx {

CORV_Velmar_KDXCtrl::CORV_Velmar_KDXCtrl() {
  BindDispatch();
  m_wnd.OnMessage(WM_LOGOUT_TEARDOWN, [this](WPARAM w, LPARAM l) { return OnLogoutTeardown(w, l); });
  m_wnd.OnMessage(WM_LOGIN_FAILED, [this](WPARAM w, LPARAM l) { return OnLoginFailed(w, l); });
  m_wnd.OnMessage(WM_CONNECTION_LOST, [this](WPARAM w, LPARAM l) { return OnConnectionLost(w, l); });
  m_wnd.OnMessage(WM_HTTPREPLY, [this](WPARAM w, LPARAM l) { return OnHttpReply(w, l); });
  m_wnd.OnMessage(WM_PROPERTIES_VERB, [this](WPARAM, LPARAM) {
    OnProperties();
    return LRESULT{0};
  });
  // The window exists from construction on, so creation runs here.
  m_wnd.OnMessage(WM_CREATE, [this](WPARAM, LPARAM) { return static_cast<LRESULT>(OnCreate()); });
  m_wnd.SendMessage(WM_CREATE, 0, 0);
}

CORV_Velmar_KDXCtrl::~CORV_Velmar_KDXCtrl() {
  *m_pAlive = false;
  m_wnd.Destroy();
  DeleteTradeApi();
  ReleaseTables();
  ClearSecrets();
}

int CORV_Velmar_KDXCtrl::OnCreate() {
  // Containment lets the control's window host the trade-API component.
  m_bContainerEnabled = true;
  return 0;
}

// A component inside one of its own calls is released by its wrapper once that call returns.
void CORV_Velmar_KDXCtrl::DeleteTradeApi() { m_pTradeApi.reset(); }

// Teardown messages carry the generation of the component they were meant for; a Login since
// then has replaced it, and the new one is not theirs to delete.
bool CORV_Velmar_KDXCtrl::IsCurrentTradeApi(LPARAM generation) const {
  return static_cast<uint32_t>(generation) == m_nTradeApiGeneration;
}

// What Logout and the destructor both release.
void CORV_Velmar_KDXCtrl::ReleaseTables() {
  for (auto& rows : m_arrStatementRows) rows.clear();
  m_arrAccountGroups.clear();
  m_mapQueryTables.clear();
}

// Nothing reads these once logged out; the next Login reads them again.
void CORV_Velmar_KDXCtrl::ClearSecrets() {
  for (CString* secret : {&m_strPassword, &m_strPasswordMD5, &m_strLoginPassword, &m_strCAPassword})
    secret->SecureEmpty();
  for (auto& [key, value] : m_mapProfile) value.SecureEmpty();
}

long CORV_Velmar_KDXCtrl::GetConnectStatus() {
  if (!m_pTradeApi) return 0;
  return m_pTradeApi->GetStatus();
}

long CORV_Velmar_KDXCtrl::GetOrderCount() { return m_nOrderCount; }
long CORV_Velmar_KDXCtrl::GetFillOrderCount() { return m_nFillCount; }

void CORV_Velmar_KDXCtrl::Logout() {
  if (!m_pTradeApi) return;
  // Rows the component announces from now on belong to no log-in.
  m_pTradeApi->DisconnectEvents();
  ++m_nLoginEpoch;
  m_mapOrderIndexToKey.clear();
  m_mapFillIndexToKey.clear();
  m_mapKeyToOrderIndex.clear();
  m_mapKeyToFillIndex.clear();
  m_mapOrderNoToKey.clear();
  m_mapOrderRef.clear();
  for (auto& rows : m_arrStatementRows) rows.clear();
  m_arrAccountGroups.clear();
  ClearSecrets();
  m_mapProfile.clear();
  m_mapQuerySeq.clear();
  m_mapQueryTables.clear();
  m_nOrderCount = 0;
  m_nFillCount = 0;
  m_strProfilePath.Empty();
  // The component may be inside one of its own calls: delete it from the message handler.
  m_wnd.PostMessage(WM_LOGOUT_TEARDOWN, 0, static_cast<LPARAM>(m_nTradeApiGeneration));
}

LRESULT CORV_Velmar_KDXCtrl::OnLogoutTeardown(WPARAM, LPARAM lParam) {
  // A Login since this Logout has replaced the component; that one is not ours to delete.
  if (IsCurrentTradeApi(lParam)) DeleteTradeApi();
  return 0;
}

LRESULT CORV_Velmar_KDXCtrl::OnLoginFailed(WPARAM wParam, LPARAM lParam) {
  std::unique_ptr<CString> text(reinterpret_cast<CString*>(wParam));
  if (!IsCurrentTradeApi(lParam)) return 0;  // about a log-in the host has already replaced
  DeleteTradeApi();
  FireLoginFail(text ? *text : CString());
  return 0;
}

LRESULT CORV_Velmar_KDXCtrl::OnConnectionLost(WPARAM, LPARAM lParam) {
  if (!IsCurrentTradeApi(lParam)) return 0;
  DeleteTradeApi();
  FireConnectionLost();
  return 0;
}

void CORV_Velmar_KDXCtrl::AboutBox() {
  MessageBoxW(m_wnd.Handle(), FormatString(u"%s\nVersion 1.0", CString(LoadResourceString(1))),
              u"About ORV_Velmar_KDX", MB_OK | MB_ICONINFORMATION);
}

void CORV_Velmar_KDXCtrl::OnProperties() {
  // The one property page holds only a placeholder text.
  MessageBoxW(m_wnd.Handle(), CString(CORV_Velmar_KDXPropPage::Dialog().staticText),
              CString(LoadResourceString(2)), MB_OK);
}

void CORV_Velmar_KDXCtrl::SetSecurities(long nSecurityType, const CString&, long nSecurityValue) {
  const char16_t* state = nSecurityValue ? u"ON" : u"OFF";
  if (nSecurityType == 0) {
    m_bTestMode = nSecurityValue;
    FireLog(1, CString(u"Test Mode = ") + state);
  } else if (nSecurityType == 1) {
    m_bOrderPrompt = nSecurityValue;
    FireLog(1, CString(u"Show Prompt = ") + state);
  }
}

}  // namespace kdx
