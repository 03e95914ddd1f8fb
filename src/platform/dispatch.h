// An IDispatch-like interface, a table-driven implementation of it, and connection-point
// style event sources. The control's automation interface, the trade-API component and
// every event sink are described by one DispatchTable each.
#pragma once

#include <cstddef>
#include <functional>
#include <type_traits>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/types.h"
#include "platform/variant.h"

namespace kdx {

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 8;

inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_ABOUTBOX = -552;

inline constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200);

// What a failed dispatch call raises in the caller, as MFC's InvokeHelper does. A handler that
// lets one escape fails its call with DISP_E_EXCEPTION, and the description becomes the
// thread's error info (the EXCEPINFO of a real dispatch call).
class COleDispatchException {
 public:
  COleDispatchException(HRESULT error, std::u16string description)
      : m_scError(error), m_strDescription(std::move(description)) {}
  HRESULT m_scError;
  std::u16string m_strDescription;
};

// The description of the last call on this thread that failed with DISP_E_EXCEPTION; taking
// it clears it, as GetErrorInfo does. Empty when there is none.
void SetErrorInfo(std::u16string description);
std::u16string GetErrorInfo();

class IDispatch {
 public:
  virtual ~IDispatch() = default;
  // Case-insensitive; DISP_E_UNKNOWNNAME when there is no such member.
  virtual HRESULT GetIDsOfNames(std::u16string_view name, DISPID* id) = 0;
  // args are in natural order, first parameter first (COM's DISPPARAMS holds them
  // reversed); a property put's new value is the last argument. result may be null.
  virtual HRESULT Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) = 0;
};

HRESULT InvokeByName(IDispatch& target, std::u16string_view name, WORD flags, std::span<VARIANT> args,
                     VARIANT* result);

enum class MemberKind { Method, PropertyGet, PropertyPut };

struct DispatchParam {
  VARTYPE vt;  // VT_VARIANT | VT_BYREF: the caller's VARIANT, handed over uncoerced
  std::u16string name;
};

// Arguments arrive coerced to the declared types; result is never null and starts empty.
// Shared, so that a call holds on to its handler with a reference count instead of a copy.
class DispatchHandler {
 public:
  using Function = std::function<HRESULT(std::span<VARIANT> args, VARIANT* result)>;
  DispatchHandler() = default;
  DispatchHandler(std::nullptr_t) {}
  template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, DispatchHandler> &&
             std::is_invocable_r_v<HRESULT, F&, std::span<VARIANT>, VARIANT*>)
  DispatchHandler(F&& f) : fn_(std::make_shared<const Function>(std::forward<F>(f))) {}
  HRESULT operator()(std::span<VARIANT> args, VARIANT* result) const { return (*fn_)(args, result); }
  explicit operator bool() const { return fn_ && *fn_; }

 private:
  std::shared_ptr<const Function> fn_;
};

struct DispatchMember {
  DISPID id = DISPID_UNKNOWN;
  std::u16string name;
  MemberKind kind = MemberKind::Method;
  VARTYPE result = VT_EMPTY;  // VT_EMPTY: returns nothing
  std::vector<DispatchParam> params;
  std::u16string help;
  DispatchHandler handler;  // may be bound later; an unbound member answers E_NOTIMPL
};

class DispatchTable {
 public:
  DispatchTable() = default;
  // Rows that Add would refuse are left out (see Add).
  DispatchTable(std::initializer_list<DispatchMember> rows);

  // E_INVALIDARG when (id, kind) is already present, the name is empty, the same name is
  // given to another DISPID or this DISPID already has another name, a property get takes
  // a VARIANT* parameter, or a property put declares no value parameter.
  HRESULT Add(DispatchMember row);
  // Sets the handler of an existing row; DISP_E_MEMBERNOTFOUND when there is none.
  HRESULT Bind(DISPID id, MemberKind kind, DispatchHandler handler);

  const DispatchMember* Find(DISPID id, MemberKind kind) const;
  HRESULT GetIDsOfNames(std::u16string_view name, DISPID* id) const;
  // Methods answer DISPATCH_METHOD, alone or with DISPATCH_PROPERTYGET (as VB sends them);
  // results: DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH,
  // DISP_E_OVERFLOW, DISP_E_EXCEPTION for a handler that throws (with the error info set
  // from a COleDispatchException), or the handler's own.
  HRESULT Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) const;

  const std::vector<DispatchMember>& Rows() const { return rows_; }
  std::vector<DispatchMember>::const_iterator begin() const { return rows_.begin(); }
  std::vector<DispatchMember>::const_iterator end() const { return rows_.end(); }
  std::size_t size() const { return rows_.size(); }

 private:
  std::vector<DispatchMember> rows_;
};

// An automation object whose members are the rows of its table.
class DispatchObject : public IDispatch {
 public:
  explicit DispatchObject(DispatchTable table) : table_(std::move(table)) {}

  HRESULT GetIDsOfNames(std::u16string_view name, DISPID* id) override;
  HRESULT Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) override;
  const DispatchTable& Table() const { return table_; }

 protected:
  // For objects that bind handlers to themselves after construction.
  DispatchObject() = default;
  DispatchTable& MutableTable() { return table_; }

 private:
  DispatchTable table_;
};

// An event source: the sinks advised to one outgoing interface. Used from one thread.
class ConnectionPoint {
 public:
  ConnectionPoint() = default;
  ~ConnectionPoint();
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // Cookie, never 0; 0 for a null sink.
  DWORD Advise(std::shared_ptr<IDispatch> sink);
  // CONNECT_E_NOCONNECTION for an unknown cookie.
  HRESULT Unadvise(DWORD cookie);
  // Calls DISPATCH_METHOD on every sink advised when the call starts, in advise order,
  // each with its own copy of args (BYREF arguments still point at the caller's). Sinks may advise and unadvise during the call: one
  // unadvised meanwhile is skipped if not yet called; one advised meanwhile waits for the
  // next event. A sink's failure or exception does not stop the others.
  void Fire(DISPID id, std::span<VARIANT> args);
  std::size_t SinkCount() const { return sinks_.size(); }

 private:
  std::vector<std::pair<DWORD, std::shared_ptr<IDispatch>>> sinks_;
  DWORD nextCookie_ = 1;
  // Cleared by the destructor, so a Fire in progress stops if a sink destroys the source.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// How an object offers its events: the connection point of its default source interface.
class IConnectionPointContainer {
 public:
  virtual ~IConnectionPointContainer() = default;
  virtual ConnectionPoint* FindConnectionPoint() = 0;
};

}  // namespace kdx
