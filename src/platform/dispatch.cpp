#include "platform/dispatch.h"

#include <algorithm>
#include <array>
#include <new>
#include <utility>

#include "platform/thread_object.h"

namespace kdx {
namespace {

constexpr VARTYPE kVariantRef = VT_BYREF | VT_VARIANT;

// Member names are ASCII identifiers; other characters compare exactly.
bool SameName(std::u16string_view a, std::u16string_view b) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) {
           return lower(x) == lower(y);
         });
}

bool IsDeclarableParam(VARTYPE vt) {
  return vt == kVariantRef || vt == VT_VARIANT || ((vt & VT_BYREF) == 0 && vt != VT_EMPTY && IsValidVarType(vt));
}

bool IsDeclarableResult(VARTYPE vt) { return vt == VT_VARIANT || ((vt & VT_BYREF) == 0 && IsValidVarType(vt)); }

bool IsProperty(MemberKind k) { return k != MemberKind::Method; }

// Brings one argument to its declared type. A VARIANT* parameter gets the caller's own
// VARIANT (wrapped when the caller passed it by value), so the callee can write to it.
HRESULT CoerceArgument(VARIANT& arg, VARTYPE declared, VARIANT* out) {
  if (declared == kVariantRef) {
    if (arg.vt == kVariantRef) {
      if (arg.pvarVal == nullptr) return DISP_E_TYPEMISMATCH;
      *out = arg;
    } else if (arg.vt & VT_BYREF) {
      return DISP_E_TYPEMISMATCH;  // would nest one reference in another
    } else {
      *out = VARIANT::ByRef(&arg);
    }
    return S_OK;
  }
  if (declared == VT_VARIANT) return VariantCopyInd(out, &arg);
  // Automation clients expect True/False when a BOOL goes into a text parameter.
  return VariantChangeType(out, &arg, VARIANT_ALPHABOOL, declared);
}

std::u16string& ErrorInfo() {
  return ThreadObject<std::u16string>([] { return std::u16string(); });
}

}  // namespace

void SetErrorInfo(std::u16string description) { ErrorInfo() = std::move(description); }

std::u16string GetErrorInfo() {
  auto& info = ErrorInfo();
  if (info.empty()) return {};
  return std::exchange(info, std::u16string());
}

HRESULT InvokeByName(IDispatch& target, std::u16string_view name, WORD flags, std::span<VARIANT> args,
                     VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  const HRESULT hr = target.GetIDsOfNames(name, &id);
  if (FAILED(hr)) return hr;
  return target.Invoke(id, flags, args, result);
}

DispatchTable::DispatchTable(std::initializer_list<DispatchMember> rows) {
  for (const DispatchMember& row : rows) Add(row);
}

HRESULT DispatchTable::Add(DispatchMember row) {
  if (row.name.empty() || !IsDeclarableResult(row.result)) return E_INVALIDARG;
  if (row.kind == MemberKind::PropertyPut && (row.params.empty() || row.result != VT_EMPTY)) return E_INVALIDARG;
  for (const DispatchParam& p : row.params)
    if (!IsDeclarableParam(p.vt)) return E_INVALIDARG;
  for (const DispatchMember& other : rows_) {
    const bool sameId = other.id == row.id;
    if (sameId && other.kind == row.kind) return E_INVALIDARG;
    if (sameId != SameName(other.name, row.name)) return E_INVALIDARG;
    if (sameId && IsProperty(other.kind) != IsProperty(row.kind)) return E_INVALIDARG;
  }
  try {
    rows_.push_back(std::move(row));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT DispatchTable::Bind(DISPID id, MemberKind kind, DispatchHandler handler) {
  for (DispatchMember& row : rows_) {
    if (row.id == id && row.kind == kind) {
      row.handler = std::move(handler);
      return S_OK;
    }
  }
  return DISP_E_MEMBERNOTFOUND;
}

const DispatchMember* DispatchTable::Find(DISPID id, MemberKind kind) const {
  for (const DispatchMember& row : rows_)
    if (row.id == id && row.kind == kind) return &row;
  return nullptr;
}

HRESULT DispatchTable::GetIDsOfNames(std::u16string_view name, DISPID* id) const {
  if (id == nullptr) return E_INVALIDARG;
  for (const DispatchMember& row : rows_) {
    if (SameName(row.name, name)) {
      *id = row.id;
      return S_OK;
    }
  }
  *id = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchTable::Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) const {
  const DispatchMember* member = nullptr;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    member = Find(id, MemberKind::PropertyPut);
  } else {
    if (flags & DISPATCH_METHOD) member = Find(id, MemberKind::Method);
    if (member == nullptr && (flags & DISPATCH_PROPERTYGET)) member = Find(id, MemberKind::PropertyGet);
  }
  if (member == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (args.size() != member->params.size()) return DISP_E_BADPARAMCOUNT;
  if (!member->handler) return E_NOTIMPL;

  try {
    // Most members take a few arguments: those need no allocation.
    std::array<VARIANT, 4> few;
    std::vector<VARIANT> many(args.size() > few.size() ? args.size() : 0);
    const std::span<VARIANT> coerced = many.empty() ? std::span<VARIANT>(few.data(), args.size()) : many;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const HRESULT hr = CoerceArgument(args[i], member->params[i].vt, &coerced[i]);
      if (FAILED(hr)) return hr;
    }
    // The handler may change this table (Add, Bind); hold on to what the call still needs.
    const DispatchHandler handler = member->handler;
    const VARTYPE declared = member->result;

    VARIANT value;
    HRESULT hr = E_FAIL;
    try {
      hr = handler(coerced, &value);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (COleDispatchException& e) {
      SetErrorInfo(std::move(e.m_strDescription));
      return DISP_E_EXCEPTION;
    } catch (...) {
      return DISP_E_EXCEPTION;
    }
    if (FAILED(hr)) return hr;
    if (result == nullptr) return hr;

    VARIANT typed;
    if (declared == value.vt) {
      typed = std::move(value);
    } else if (declared != VT_EMPTY) {
      const HRESULT converted = declared == VT_VARIANT ? VariantCopy(&typed, &value)
                                                       : VariantChangeType(&typed, &value, VARIANT_ALPHABOOL, declared);
      if (FAILED(converted)) return converted;
    }
    const HRESULT cleared = VariantClear(result);
    if (FAILED(cleared)) return cleared;
    *result = std::move(typed);
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT DispatchObject::GetIDsOfNames(std::u16string_view name, DISPID* id) { return table_.GetIDsOfNames(name, id); }

HRESULT DispatchObject::Invoke(DISPID id, WORD flags, std::span<VARIANT> args, VARIANT* result) {
  return table_.Invoke(id, flags, args, result);
}

ConnectionPoint::~ConnectionPoint() { *alive_ = false; }

DWORD ConnectionPoint::Advise(std::shared_ptr<IDispatch> sink) {
  if (!sink) return 0;
  DWORD cookie = nextCookie_;
  // Skip 0 and any cookie still in use once the counter has wrapped.
  while (cookie == 0 || std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; }))
    ++cookie;
  nextCookie_ = cookie + 1;
  sinks_.emplace_back(cookie, std::move(sink));
  return cookie;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
  const auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; });
  if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
  sinks_.erase(it);
  return S_OK;
}

void ConnectionPoint::Fire(DISPID id, std::span<VARIANT> args) {
  try {
    // The snapshot's shared_ptrs keep each sink alive through its own call, even if it
    // unadvises itself; alive tells whether a sink destroyed this source meanwhile.
    const auto snapshot = sinks_;
    const std::shared_ptr<bool> alive = alive_;
    for (const auto& entry : snapshot) {
      const DWORD cookie = entry.first;
      const std::shared_ptr<IDispatch>& sink = entry.second;
      if (!*alive) return;
      const bool advised =
          std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie && s.second == sink; });
      if (!advised) continue;
      std::vector<VARIANT> copy(args.begin(), args.end());
      try {
        sink->Invoke(id, DISPATCH_METHOD, copy, nullptr);
      } catch (...) {
        // A sink's fault stays with that sink.
      }
    }
  } catch (const std::bad_alloc&) {
    // Out of memory while firing: the event is dropped rather than crossing into the caller.
  }
}

}  // namespace kdx
