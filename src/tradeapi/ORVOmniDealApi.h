// CORVOMNIDEALAPI: the wrapper of the hosted trade-API component. One member per property and
// method the control uses, each an invocation of the component's DISPID; the component's
// events reach the control through the sink handed to CreateControl.
#pragma once

#include <memory>

#include "platform/cstring.h"
#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/message_window.h"
#include "platform/variant.h"

namespace kdx {

// The component's class; a real broker's component or the simulated one registers under it.
inline constexpr CLSID CLSID_ORVOMNIDEALAPI{0xDE6D3E3F, 0x9EAB, 0x43E2, {0xBD, 0x61, 0x7C, 0x5E, 0x85, 0xFD, 0xF2, 0x72}};

// The component's DISPIDs.
namespace omnideal {
inline constexpr DISPID TWOrderPrefix = 1, UseCA = 5, CAPath = 6, CAPassword = 7, OBOrderPrefix = 8, CAType = 9,
                        GetStatus = 10, Connect = 11, GetLoginDataCount = 15, GetLoginDataString = 16,
                        SetTradeAccount = 17, GetDataString = 18, GetDataValue = 19, FutOrder = 21, OptOrder = 22,
                        StkOrder = 24, ReduceFutOrder = 25, ReduceOptOrder = 26, ReduceStkOrder = 28, OBFutOrder = 29,
                        ReduceOBFutOrder = 30, GetOBDataString = 31, GetOBDataValue = 32;
// Events.
inline constexpr DISPID EvStatus = 1, EvMessage = 2, EvStatement = 3, EvOrderNew = 4, EvOrderChanged = 5,
                        EvFillNew = 6, EvFillChanged = 7, EvOrderRemoved = 8, EvIgnored10 = 10, EvMarketDate = 11,
                        EvIgnored12 = 12, EvStatement13 = 13, EvOBOrderNew = 14, EvOBOrderChanged = 15,
                        EvOBFillNew = 16, EvOBFillChanged = 17, EvOBOrderRemoved = 18;
}  // namespace omnideal

// The name of a component member or event, for messages; "?" for an unknown DISPID.
const char16_t* TradeApiMemberName(DISPID id);

// Calls into the component and its events into the control, counted while they run: a wrapper
// deleted meanwhile hands its component over here, and the component is released from a posted
// message once the last of them has returned, never inside one of its own calls.
struct TradeApiCallState {
  int depth = 0;
  std::shared_ptr<IDispatch> parked;
};

// Every member raises COleDispatchException when the call fails (a failed HRESULT, or a result
// that does not convert to the declared type), as InvokeHelper does; the description names the
// member and the error, never an argument.
class CORVOMNIDEALAPI {
 public:
  class CallScope {
   public:
    explicit CallScope(std::shared_ptr<TradeApiCallState> state);
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

   private:
    std::shared_ptr<TradeApiCallState> state_;
  };

  CORVOMNIDEALAPI() = default;
  ~CORVOMNIDEALAPI();
  CORVOMNIDEALAPI(const CORVOMNIDEALAPI&) = delete;
  CORVOMNIDEALAPI& operator=(const CORVOMNIDEALAPI&) = delete;

  // Creates the component by CLSID as an invisible child `id` of `parent` and advises `eventSink`
  // to its events. False when no component is registered for the CLSID or it offers no events.
  bool CreateControl(const CLSID& clsid, WindowHandle parent, UINT id, std::shared_ptr<IDispatch> eventSink);
  UINT GetDlgCtrlID() const { return m_nID; }
  // For the event sink's handlers, which count as calls of this component while they run.
  const std::shared_ptr<TradeApiCallState>& CallState() const { return m_state; }
  bool InCall() const { return m_state->depth > 0; }
  // Stops the component's events reaching the sink; the component itself stays until deleted.
  void DisconnectEvents();
  IDispatch* GetDispatch() const { return m_pDispatch.get(); }

  void SetTWOrderPrefix(const CString& value);
  void SetUseCA(BOOL value);
  void SetCAPath(const CString& value);
  void SetCAPassword(const CString& value);
  void SetOBOrderPrefix(const CString& value);
  void SetCAType(long value);

  long GetStatus();
  long Connect(long loginType, const CString& loginURL, const CString& serverAddress, long serverPort,
               const CString& proxyAddress, long proxyPort, const CString& company, const CString& product,
               const CString& rocID, const CString& branchID, const CString& custID, const CString& password,
               long encodeType);
  long GetLoginDataCount(long kind);
  CString GetLoginDataString(long kind, long row, long field);
  void SetTradeAccount(long marketKind, const CString& branch, const CString& account);
  CString GetDataString(long kind, long row, long field);
  long GetDataValue(long kind, long row, long field);
  long FutOrder(VARIANT* order);
  long OptOrder(VARIANT* order);
  long StkOrder(VARIANT* order);
  long ReduceFutOrder(long quantity, VARIANT* order);
  long ReduceOptOrder(long quantity, VARIANT* order);
  long ReduceStkOrder(long quantity, VARIANT* order);
  long OBFutOrder(VARIANT* order);
  long ReduceOBFutOrder(long quantity, VARIANT* order);
  CString GetOBDataString(long kind, long row, long field);
  double GetOBDataValue(long kind, long row, long field);

 private:
  VARIANT Invoke(DISPID id, WORD flags, VARTYPE resultType, std::span<VARIANT> args);
  void SetProperty(DISPID id, VARIANT value);
  // The (kind, row, field) readers of login data and report tables.
  VARIANT ReadField(DISPID id, VARTYPE type, long kind, long row, long field);
  long CallOrder(DISPID id, VARIANT* order);
  long CallReduce(DISPID id, long quantity, VARIANT* order);

  std::shared_ptr<IDispatch> m_pDispatch;
  std::shared_ptr<TradeApiCallState> m_state = std::make_shared<TradeApiCallState>();
  ConnectionPoint* m_pEvents = nullptr;
  DWORD m_dwCookie = 0;
  WindowHandle m_parent;
  UINT m_nID = 0;
};

}  // namespace kdx
