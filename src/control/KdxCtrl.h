// CORV_Velmar_KDXCtrl: the control a host places on its window. It owns all state of a log-in;
// the units of the control read and write its m_ members directly.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/cstring.h"
#include "platform/dispatch.h"
#include "platform/message_window.h"
#include "orders/OrderTicket.h"
#include "record/field_record.h"
#include "tradeapi/ORVOmniDealApi.h"

namespace kdx {

inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_HTTPREPLY = WM_USER + 0x457;       // 0x857: an HTTP worker's reply
inline constexpr UINT WM_LOGOUT_TEARDOWN = WM_USER + 0x458; // 0x858: delete the component after Logout
inline constexpr UINT WM_LOGIN_FAILED = WM_USER + 0x459;    // 0x859: wParam owns a heap CString
inline constexpr UINT WM_CONNECTION_LOST = WM_USER + 0x45A; // 0x85A
// The standard Properties verb, delivered to the control's window by its container.
inline constexpr UINT WM_PROPERTIES_VERB = WM_USER + 0x7F0;

inline constexpr UINT IDC_TRADEAPI = 500;  // child id of the hosted component

// The control's classes and interfaces.
inline constexpr GUID LIBID_ORV_VELMAR_KDXLib{0x2D0F66C4, 0x5920, 0x46A0, {0xAA, 0x11, 0x9A, 0xFC, 0xB3, 0xDD, 0xC9, 0x0B}};
inline constexpr IID DIID__DORV_Velmar_KDX{0xC3187AB4, 0x3361, 0x4CDF, {0x9B, 0x97, 0x2D, 0xD3, 0xF9, 0xC1, 0xD6, 0x39}};
inline constexpr IID DIID__DORV_Velmar_KDXEvents{0x20FF8F24, 0xB279, 0x4B76, {0xAB, 0xFE, 0x65, 0x25, 0x02, 0x8E, 0x1A, 0x83}};
inline constexpr CLSID CLSID_ORV_Velmar_KDX{0x4B9E9F5A, 0x36DF, 0x4463, {0x9F, 0x46, 0xA5, 0x24, 0x9E, 0x61, 0xFC, 0x7B}};
inline constexpr CLSID CLSID_ORV_Velmar_KDXPropPage{0xCC4EB9D7, 0xD607, 0x413C, {0xB0, 0x6E, 0xF4, 0xF7, 0x55, 0xD0, 0xCA, 0x43}};

// The control's event DISPIDs.
namespace kdxevent {
inline constexpr DISPID LoginReady = 1, LoginFail = 2, ConnectionLost = 3, OrderStatus = 4, FillOrder = 5,
                        StatementUpdate = 6, Log = 7, QueryUpdate = 8;
}

// The automation interface's members and the event interface, without handlers: the one
// description the dispatch table, the type library and the checks share.
const DispatchTable& KdxMethodTable();
const DispatchTable& KdxEventTable();

class CORV_Velmar_KDXCtrl : public DispatchObject, public IConnectionPointContainer {
 public:
  CORV_Velmar_KDXCtrl();
  ~CORV_Velmar_KDXCtrl() override;
  CORV_Velmar_KDXCtrl(const CORV_Velmar_KDXCtrl&) = delete;
  CORV_Velmar_KDXCtrl& operator=(const CORV_Velmar_KDXCtrl&) = delete;

  // Automation interface (DISPIDs 1-22 and AboutBox).
  long Login(const CString& strProfilePath, const CString& strSession);
  void Logout();
  long GetConnectStatus();
  long ProcessOrder();
  long GetOrderCount();
  CString GetOrderString(long nIndex, long nField);
  double GetOrderValue(long nIndex, long nField);
  long GetFillOrderCount();
  CString GetFillOrderString(long nIndex, long nField);
  double GetFillOrderValue(long nIndex, long nField);
  long QueryStatement(long nInfoType);
  long GetStatementCount(long nInfoType);
  CString GetStatementString(long nInfoType, long nIndex, long nField);
  double GetStatementValue(long nInfoType, long nIndex, long nField);
  void ClearOrder();
  void SetOrderInfoString(long nField, CString strData);
  void SetOrderInfoValue(long nField, double dbData);
  void SetSecurities(long nSecurityType, const CString& strSecurityName, long nSecurityValue);
  long GeneralQuery(const CString& strQueryName, const CString& strParam);
  long GetQueryCount(const CString& strQueryName);
  CString GetQueryString(const CString& strQueryName, long nIndex, long nFieldIndex);
  double GetQueryValue(const CString& strQueryName, long nIndex, long nFieldIndex);
  void AboutBox();

  // The report readers and the ticket calls, which hosts make for every field, skip the
  // table's generic path when their arguments already have the declared types; everything
  // else, and the results, are as the table gives them.
  HRESULT Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) override;

  // The default source interface: hosts advise their event sinks here.
  ConnectionPoint* FindConnectionPoint() override { return &m_events; }
  WindowHandle GetSafeHwnd() const { return m_wnd.Handle(); }

  // Events, fired on the control's thread.
  void FireLoginReady();
  void FireLoginFail(const CString& strErrorMsg);
  void FireConnectionLost();
  void FireOrderStatus(long nIndex);
  void FireFillOrder(long nIndex);
  void FireStatementUpdate(long nInfoType);
  void FireLog(long nLogType, const CString& strLog);
  void FireQueryUpdate(const CString& strQueryName);

  static int32_t DomesticRecordKey(long nKind, long nRow);
  static int32_t OverseasRecordKey(long nKind, long nRow);
  // Rows whose key the record-key formula can hold without colliding with another's: row
  // 0-99999, domestic kind 0-99, overseas kind 0-21373.
  static bool IsDomesticRow(long nKind, long nRow);
  static bool IsOverseasRow(long nKind, long nRow);

  // Trade-API event handlers (sink map of child IDC_TRADEAPI).
  void OnTradeApiStatus(long nStatus);
  void OnTradeApiMessage(long nCode, const CString& strA, const CString& strB);
  void OnTradeApiStatementChanged();
  void OnTradeApiMarketDate(const CString& strText);
  void OnTradeApiOrderNew(long nKind, long nRow);
  void OnTradeApiOrderChanged(long nKind, long nRow);
  void OnTradeApiFillNew(long nKind, long nRow);
  void OnTradeApiFillChanged(long nKind, long nRow);
  void OnTradeApiOrderRemoved(long nKind, long nRow);
  void OnTradeApiOBOrderNew(long nKind, long nRow);
  void OnTradeApiOBOrderChanged(long nKind, long nRow);
  void OnTradeApiOBFillNew(long nKind, long nRow);
  void OnTradeApiOBFillChanged(long nKind, long nRow);
  void OnTradeApiOBOrderRemoved(long nKind, long nRow);

  // HTTP requests and their replies (queries/).
  long StartHttpQuery(long nInfoType, long nSequence, const CString& strUrl, const CString& strName = CString());
  void DispatchReply(long nInfoType, long nSequence, const FieldRecord& record, int nMode, const CString& strName);
  void ParseRightsRow(const FieldRecord& reply, const CString& strName);
  void ParsePerformanceRow(const FieldRecord& reply);
  void StoreQueryRow(long nSequence, const FieldRecord& reply, const CString& strName);
  // Downloads the overseas product list into the m_mapOb* tables; a message box on failure.
  void LoadObProductTable();

  // The order conversions. Ticket fields read empty or 0.0 when unset.
  const CString& OrderInfoString(long nField) const;
  double OrderInfoValue(long nField) const;
  // Rewrites ticket fields 2, 12, 13, 16 and 17 from a uniform symbol of the kind; 1 when
  // recognised, 0 (ticket untouched) when not. strDisplaySymbol gets an overseas symbol's display form.
  long ConvertSymbol(const CString& strSymbol, long nKind, CString& strDisplaySymbol);
  // Ticket texts 11 and 40 to 48 packed as ORDER_KEY.
  CString BuildOrderKey() const;

  // Members, in declaration order; the units of the control use them directly.
  std::unique_ptr<CORVOMNIDEALAPI> m_pTradeApi;
  int32_t m_bTestMode = 0;
  int32_t m_bOrderPrompt = 1;
  CString m_strProfilePath;
  CString m_strSession;
  CString m_strImagePath;
  int32_t m_nOrderCount = 0;
  int32_t m_nFillCount = 0;
  CString m_strRocID;
  CString m_strPassword;
  CString m_strLoginID;
  CString m_strLoginPassword;
  CString m_strGroupList;
  CString m_strPasswordMD5;
  CString m_strProxyAddress;
  int32_t m_nProxyPort = 0;
  CString m_strQueryAddress;
  CString m_strCAPath;
  CString m_strCAPassword;
  int32_t m_nCAType = 0;
  CString m_strBroker = u"ZAZUZO";
  CString m_strBrokerName;
  CString m_strRocIDPrefix;
  CString m_strDefaultAccount;
  std::array<int32_t, 6> m_nStatementSeq{};  // [1..5]
  CString m_strMarketDateNML;
  CString m_strMarketDateFIX;
  CString m_strMarketDateODD;
  CString m_strMarketDateFUT;
  std::unordered_map<int32_t, int32_t> m_mapOrderIndexToKey;
  std::unordered_map<int32_t, int32_t> m_mapFillIndexToKey;
  std::unordered_map<int32_t, int32_t> m_mapKeyToOrderIndex;
  std::unordered_map<int32_t, int32_t> m_mapKeyToFillIndex;
  std::unordered_map<CString, int32_t> m_mapOrderNoToKey;
  std::unordered_map<CString, CString> m_mapOrderRef;
  std::unordered_map<CString, int32_t> m_mapAccounts;
  std::unordered_map<CString, CString> m_mapObProductCode;
  std::unordered_map<CString, CString> m_mapObExchange;
  std::unordered_map<CString, CString> m_mapObDisplaySymbol;
  std::unordered_map<CString, CString> m_mapObCodeToKey;
  std::unordered_map<CString, CString> m_mapProfile;
  std::unordered_map<CString, std::vector<std::unique_ptr<FieldRecord>>> m_mapQueryTables;
  std::unordered_map<CString, int32_t> m_mapQuerySeq;
  COrderInfoTable<double> m_arrOrderInfoValue;
  COrderInfoTable<CString> m_arrOrderInfoString;
  std::array<std::vector<std::unique_ptr<FieldRecord>>, 6> m_arrStatementRows;  // [1..5]
  std::vector<std::pair<CString, CString>> m_arrAccountGroups;
  std::unordered_map<int32_t, FieldRecord*> m_mapOBKeyToOrder;
  std::unordered_map<const FieldRecord*, int32_t> m_mapOBOrderToKey;
  std::unordered_map<CString, FieldRecord*> m_mapOBOrderNoToOrder;
  // Owns every overseas order object for the control's lifetime: the maps above only point, and
  // a key or order number met again must not free an object another map still names.
  std::vector<std::unique_ptr<FieldRecord>> m_arrOBOrders;

  // The URL as Log lines show it: the password and its digest masked, control characters escaped.
  CString LogUrl(const CString& strUrl) const;

 private:
  friend long RunSubmitter(class COrderContext& order);
  // Taken before firing an event; afterwards tells whether the control still exists and still
  // holds the same log-in (the host may log in, log out or destroy the control in its handler).
  class CFireGuard {
   public:
    explicit CFireGuard(const CORV_Velmar_KDXCtrl& ctrl)
        : alive_(ctrl.m_pAlive), ctrl_(ctrl), epoch_(ctrl.m_nLoginEpoch) {}
    bool ControlAlive() const { return *alive_; }
    bool SameLogin() const { return *alive_ && ctrl_.m_pTradeApi && ctrl_.m_nLoginEpoch == epoch_; }

   private:
    std::shared_ptr<const bool> alive_;
    const CORV_Velmar_KDXCtrl& ctrl_;
    uint32_t epoch_;
  };

  int OnCreate();
  LRESULT OnLogoutTeardown(WPARAM, LPARAM);
  LRESULT OnLoginFailed(WPARAM, LPARAM);
  LRESULT OnConnectionLost(WPARAM, LPARAM);
  LRESULT OnHttpReply(WPARAM, LPARAM);
  void OnProperties();
  void BindDispatch();
  void AddAccountGroups(const CString& firstAccount);
  void RememberOrderRefs(int32_t key, const CString& f201, const CString& f147, const CString& ref);
  void NumberFill(int32_t key);
  void RemoveOrder(int32_t key);
  bool RowInRange(DISPID event, long nKind, long nRow, bool overseas);
  void FillOBOrder(FieldRecord& order, long nKind, long nRow);
  void ApplyOBFillToOrder(long nKind, long nRow);
  void ApplyOBFill(FieldRecord& order, long nKind, long nRow);
  void FireReplyUpdate(long nInfoType, const CString& strName);
  CString ProfileValue(const char16_t* key, const CString& defaultValue) const;
  std::shared_ptr<IDispatch> MakeTradeApiSink(std::shared_ptr<TradeApiCallState> calls);
  // Runs one automation method or event handler; a failed call into the component becomes a
  // Log(0) line and, for methods, a failed automation call (DISP_E_EXCEPTION).
  template <class Body>
  HRESULT Guarded(Body&& body, bool method) {
    const CFireGuard guard(*this);
    try {
      body();
      return S_OK;
    } catch (COleDispatchException& e) {
      return OnCallFailed(e, guard, method);
    }
  }
  // Inside Guarded's handler: logs the failure, and rethrows it for a method.
  HRESULT OnCallFailed(COleDispatchException& e, const CFireGuard& guard, bool method);
  void ReleaseTables();
  void ClearSecrets();
  void DeleteTradeApi();
  bool IsCurrentTradeApi(LPARAM generation) const;

  MessageWindow m_wnd;
  ConnectionPoint m_events;
  bool m_bContainerEnabled = false;
  // Counts the components Login created; a log-out teardown carries the one it was posted for,
  // so a Login made before it is handled keeps its new component.
  uint32_t m_nTradeApiGeneration = 0;
  // Raised by every Login and Logout: what an event handler was doing belongs to an older log-in.
  uint32_t m_nLoginEpoch = 0;
  // Cleared by the destructor, so code running when a host destroys the control in an event stops.
  std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
};

}  // namespace kdx
