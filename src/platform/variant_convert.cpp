// VariantChangeType: the automation coercions between value types.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "platform/dispatch.h"
#include "platform/variant.h"

namespace kdx {
namespace {

// A number read from a text: exact when it is an integer that fits, else a double.
struct ParsedNumber {
  bool integral = false;
  int64_t i = 0;
  double d = 0;
};

bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Invariant-locale number: [+-] digits [. digits] [(e|E) [+-] digits], white space around.
HRESULT ParseNumber(std::u16string_view text, ParsedNumber* out) {
  text = Trim(text);
  std::string s;
  s.reserve(text.size());
  for (char16_t c : text) {
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    s.push_back(static_cast<char>(c));
  }
  std::size_t pos = 0;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  const std::size_t body = pos;
  int significantIntDigits = 0, fractionLeadingZeros = 0, digits = 0;
  bool seenNonZero = false, fraction = false, exponent = false;
  for (; pos < s.size() && (IsDigit(s[pos]) || (s[pos] == '.' && !fraction)); ++pos) {
    if (s[pos] == '.') {
      fraction = true;
      continue;
    }
    ++digits;
    seenNonZero = seenNonZero || s[pos] != '0';
    if (!fraction && seenNonZero) ++significantIntDigits;
    if (fraction && !seenNonZero) ++fractionLeadingZeros;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  int64_t exp = 0;
  if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
    exponent = true;
    ++pos;
    bool expNegative = false;
    if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) expNegative = s[pos++] == '-';
    if (pos == s.size() || !IsDigit(s[pos])) return DISP_E_TYPEMISMATCH;
    for (; pos < s.size() && IsDigit(s[pos]); ++pos) exp = std::min<int64_t>(exp * 10 + (s[pos] - '0'), 1'000'000);
    if (expNegative) exp = -exp;
  }
  if (pos != s.size()) return DISP_E_TYPEMISMATCH;

  std::string number = s.substr(body);
  if (negative) number.insert(number.begin(), '-');
  const char* first = number.data();
  const char* last = first + number.size();
  if (!fraction && !exponent) {
    auto [end, ec] = std::from_chars(first, last, out->i);
    if (ec == std::errc() && end == last) {
      out->integral = true;
      out->d = static_cast<double>(out->i);
      return S_OK;
    }
  }
  out->integral = false;
  auto [end, ec] = std::from_chars(first, last, out->d);
  if (ec == std::errc::result_out_of_range) {
    // Too small rounds to zero; too large cannot be held.
    const int64_t magnitude = (seenNonZero && significantIntDigits > 0 ? significantIntDigits : -fractionLeadingZeros) + exp;
    if (magnitude > 0) return DISP_E_OVERFLOW;
    out->d = negative ? -0.0 : 0.0;
    return S_OK;
  }
  if (ec != std::errc() || end != last) return DISP_E_TYPEMISMATCH;
  return S_OK;
}

double RoundHalfEven(double x) {
  const double floor = std::floor(x);
  const double diff = x - floor;
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

HRESULT RealToInteger(double d, int64_t lo, int64_t hi, int64_t* out) {
  if (std::isnan(d)) return DISP_E_OVERFLOW;
  const double r = RoundHalfEven(d);
  // hi + 1 is a power of two for every target, so the comparison is exact even for I8.
  const double hiExclusive = static_cast<double>(hi) + 1.0;
  if (r < static_cast<double>(lo) || r >= hiExclusive) return DISP_E_OVERFLOW;
  *out = static_cast<int64_t>(r);
  return S_OK;
}

HRESULT ToInteger(const VARIANT& v, VARTYPE target, int64_t lo, int64_t hi, int64_t* out) {
  int64_t value = 0;
  switch (v.vt) {
    case VT_EMPTY: break;
    case VT_I2: value = v.iVal; break;
    case VT_I4: value = v.lVal; break;
    case VT_I8: value = v.llVal; break;
    case VT_UI1: value = v.bVal; break;
    // True is all bits set: -1, or 255 for a byte.
    case VT_BOOL: value = v.boolVal == VARIANT_FALSE ? 0 : (target == VT_UI1 ? 255 : -1); break;
    case VT_R4: return RealToInteger(v.fltVal, lo, hi, out);
    case VT_R8: return RealToInteger(v.dblVal, lo, hi, out);
    case VT_BSTR: {
      ParsedNumber n;
      const HRESULT hr = ParseNumber(v.bstrVal, &n);
      if (FAILED(hr)) return hr;
      if (!n.integral) return RealToInteger(n.d, lo, hi, out);
      value = n.i;
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  if (value < lo || value > hi) return DISP_E_OVERFLOW;
  *out = value;
  return S_OK;
}

HRESULT ToReal(const VARIANT& v, double* out) {
  switch (v.vt) {
    case VT_EMPTY: *out = 0; return S_OK;
    case VT_I2: *out = v.iVal; return S_OK;
    case VT_I4: *out = v.lVal; return S_OK;
    case VT_I8: *out = static_cast<double>(v.llVal); return S_OK;
    case VT_UI1: *out = v.bVal; return S_OK;
    case VT_BOOL: *out = v.boolVal == VARIANT_FALSE ? 0 : -1; return S_OK;
    case VT_R4: *out = v.fltVal; return S_OK;
    case VT_R8: *out = v.dblVal; return S_OK;
    case VT_BSTR: {
      ParsedNumber n;
      const HRESULT hr = ParseNumber(v.bstrVal, &n);
      *out = n.d;
      return hr;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

HRESULT ToBool(const VARIANT& v, bool* out) {
  if (v.vt == VT_BSTR) {
    const std::u16string_view t = Trim(v.bstrVal);
    if (EqualsNoCase(t, u"True") || EqualsNoCase(t, u"False")) {
      *out = EqualsNoCase(t, u"True");
      return S_OK;
    }
  }
  double d = 0;
  const HRESULT hr = ToReal(v, &d);
  if (FAILED(hr)) return hr;
  *out = d != 0;  // NaN is not zero, hence true
  return S_OK;
}

std::u16string Widen(std::string_view s) { return std::u16string(s.begin(), s.end()); }

// Shortest digits that read back as the same value, laid out as automation shows numbers.
template <typename Real>
std::u16string FormatReal(Real x) {
  if (std::isnan(x)) return u"NaN";
  if (std::isinf(x)) return x > 0 ? u"Infinity" : u"-Infinity";
  if (x == 0) return u"0";
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const bool negative = sci.front() == '-';
  const std::size_t e = sci.find('e');
  std::string digits;
  for (char c : sci.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
    if (c != '.') digits.push_back(c);
  int exp = 0;
  const std::string_view expText = sci.substr(e + 1);
  std::from_chars(expText.data() + (expText.front() == '+' ? 1 : 0), expText.data() + expText.size(), exp);

  std::string out = negative ? "-" : "";
  if (exp >= 15 || exp < -6) {
    out += digits[0];
    if (digits.size() > 1) out.append(".").append(digits, 1);
    const std::string magnitude = std::to_string(exp < 0 ? -exp : exp);
    out += std::string(exp < 0 ? "E-" : "E+") + (magnitude.size() < 2 ? "0" : "") + magnitude;
  } else if (exp >= 0) {
    const std::size_t intDigits = static_cast<std::size_t>(exp) + 1;
    if (digits.size() <= intDigits) {
      out += digits + std::string(intDigits - digits.size(), '0');
    } else {
      out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
  } else {
    out += "0." + std::string(static_cast<std::size_t>(-exp - 1), '0') + digits;
  }
  return Widen(out);
}

HRESULT ToText(const VARIANT& v, WORD flags, std::u16string* out) {
  switch (v.vt) {
    case VT_EMPTY: out->clear(); return S_OK;
    case VT_I2: *out = Widen(std::to_string(v.iVal)); return S_OK;
    case VT_I4: *out = Widen(std::to_string(v.lVal)); return S_OK;
    case VT_I8: *out = Widen(std::to_string(v.llVal)); return S_OK;
    case VT_UI1: *out = Widen(std::to_string(v.bVal)); return S_OK;
    case VT_R4: *out = FormatReal(v.fltVal); return S_OK;
    case VT_R8: *out = FormatReal(v.dblVal); return S_OK;
    case VT_BOOL:
      if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
        *out = v.boolVal == VARIANT_FALSE ? u"False" : u"True";
      else
        *out = v.boolVal == VARIANT_FALSE ? u"0" : u"-1";
      return S_OK;
    case VT_BSTR: *out = v.bstrVal; return S_OK;
    default: return DISP_E_TYPEMISMATCH;
  }
}

struct IntegerRange {
  VARTYPE vt;
  int64_t lo, hi;
};

constexpr IntegerRange kIntegerRanges[] = {
    {VT_UI1, 0, 255},
    {VT_I2, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max()},
    {VT_I4, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()},
    {VT_I8, std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max()},
};

// src is not BYREF; result is written to *out only on success.
HRESULT Convert(const VARIANT& src, WORD flags, VARTYPE vt, VARIANT* out, int depth) {
  if (vt == VT_VARIANT || src.vt == vt) return VariantCopy(out, &src);
  if (src.vt == VT_DISPATCH) {
    // An object converts through its value property, unless the caller forbids it.
    if ((flags & VARIANT_NOVALUEPROP) || !src.pdispVal || depth > 0) return DISP_E_TYPEMISMATCH;
    VARIANT value;
    const HRESULT hr = src.pdispVal->Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, {}, &value);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    const VARIANT* inner = &value;
    if (value.vt == (VT_BYREF | VT_VARIANT)) inner = value.pvarVal;
    if (inner == nullptr || (inner->vt & VT_BYREF)) return DISP_E_TYPEMISMATCH;
    return Convert(*inner, flags, vt, out, depth + 1);
  }
  for (const IntegerRange& range : kIntegerRanges) {
    if (range.vt != vt) continue;
    int64_t i = 0;
    const HRESULT hr = ToInteger(src, vt, range.lo, range.hi, &i);
    if (FAILED(hr)) return hr;
    VARIANT r;
    r.vt = vt;
    switch (vt) {
      case VT_UI1: r.bVal = static_cast<BYTE>(i); break;
      case VT_I2: r.iVal = static_cast<SHORT>(i); break;
      case VT_I4: r.lVal = static_cast<LONG>(i); break;
      default: r.llVal = i; break;
    }
    *out = std::move(r);
    return S_OK;
  }
  switch (vt) {
    case VT_R8:
    case VT_R4: {
      double d = 0;
      const HRESULT hr = ToReal(src, &d);
      if (FAILED(hr)) return hr;
      if (vt == VT_R8) {
        *out = VARIANT(d);
      } else {
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
        *out = VARIANT::R4(static_cast<float>(d));
      }
      return S_OK;
    }
    case VT_BOOL: {
      bool b = false;
      const HRESULT hr = ToBool(src, &b);
      if (FAILED(hr)) return hr;
      *out = VARIANT::Bool(b);
      return S_OK;
    }
    case VT_BSTR: {
      std::u16string text;
      const HRESULT hr = ToText(src, flags, &text);
      if (FAILED(hr)) return hr;
      *out = VARIANT(std::move(text));
      return S_OK;
    }
    default:
      // EMPTY, NULL, ERROR, DISPATCH and arrays come only from the same type.
      return DISP_E_TYPEMISMATCH;
  }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, WORD flags, VARTYPE vt) noexcept {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (!IsValidVarType(src->vt)) return DISP_E_BADVARTYPE;
  if (vt != VT_VARIANT && !IsValidVarType(vt)) return DISP_E_BADVARTYPE;
  if (vt & VT_BYREF) return DISP_E_TYPEMISMATCH;
  try {
    // Dereference into a local first: dst may be src, or what src points to.
    VARIANT value;
    const VARIANT* from = src;
    if (src->vt & VT_BYREF) {
      const HRESULT hr = VariantCopyInd(&value, src);
      if (FAILED(hr)) return hr;
      from = &value;
    }
    VARIANT result;
    const HRESULT hr = Convert(*from, flags, vt, &result, 0);
    if (FAILED(hr)) return hr;
    const HRESULT cleared = VariantClear(dst);
    if (FAILED(cleared)) return cleared;
    *dst = std::move(result);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

}  // namespace kdx
