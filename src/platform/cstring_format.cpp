// The printf engine behind CString::Format. Arguments carry their own C++ type, so a
// conversion that does not fit its argument, or has none left, writes nothing (no padding
// either) instead of reading garbage; it still uses up the argument. Length modifiers
// (h hh l ll L I I32 I64 j z t w) are accepted and ignored. A directive that is not
// understood (including %n and %*) is copied as it stands and takes no argument.
// Text and characters are padded with spaces even under the 0 flag.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/cstring.h"

namespace kdx::detail {
namespace {

using Kind = FormatArg::Kind;

// Bounds width and precision so that "%999999999d" cannot allocate gigabytes.
constexpr int kMaxField = 4096;

struct Spec {
  bool left = false, plus = false, space = false, zero = false, alt = false;
  int width = 0;
  int precision = -1;
  char16_t conv = 0;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int ReadNumber(std::u16string_view fmt, std::size_t& i) {
  int n = 0;
  for (; i < fmt.size() && IsDigit(fmt[i]); ++i) n = std::min(n * 10 + (fmt[i] - u'0'), kMaxField);
  return n;
}

void SkipLengthModifiers(std::u16string_view fmt, std::size_t& i) {
  while (i < fmt.size()) {
    const std::u16string_view rest = fmt.substr(i);
    if (rest.starts_with(u"I64") || rest.starts_with(u"I32")) {
      i += 3;
    } else if (std::u16string_view(u"hlLIjztw").find(rest[0]) != std::u16string_view::npos) {
      ++i;
    } else {
      break;
    }
  }
}

std::uint64_t TypeMask(unsigned bits) { return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1; }

void Pad(std::u16string& out, int n, char16_t fill) {
  if (n > 0) out.append(static_cast<std::size_t>(n), fill);
}

void AppendField(std::u16string& out, std::u16string_view body, const Spec& spec) {
  const int gap = spec.width - static_cast<int>(std::min<std::size_t>(body.size(), kMaxField));
  if (!spec.left) Pad(out, gap, u' ');
  out.append(body);
  if (spec.left) Pad(out, gap, u' ');
}

// Sign and magnitude of an integer argument; false when the argument is not a number
// or a double that no 64-bit integer holds.
bool IntegerValue(const FormatArg& a, bool asUnsigned, bool& negative, std::uint64_t& magnitude) {
  negative = false;
  switch (a.kind) {
    case Kind::Unsigned:
      magnitude = a.u;
      return true;
    case Kind::Signed:
      if (asUnsigned) {
        magnitude = static_cast<std::uint64_t>(a.i) & TypeMask(a.bits);
      } else {
        negative = a.i < 0;
        magnitude = negative ? ~static_cast<std::uint64_t>(a.i) + 1 : static_cast<std::uint64_t>(a.i);
      }
      return true;
    case Kind::Real: {
      const double d = std::trunc(a.d);
      if (!(d > -9223372036854775809.0 && d < 18446744073709551616.0)) return false;  // NaN too
      if (d >= 0) {
        magnitude = static_cast<std::uint64_t>(d);
        return true;
      }
      FormatArg s;
      s.kind = Kind::Signed;
      s.bits = 64;
      s.i = static_cast<std::int64_t>(d);
      return IntegerValue(s, asUnsigned, negative, magnitude);
    }
    case Kind::Text:
      break;
  }
  return false;
}

void AppendInteger(std::u16string& out, const FormatArg& a, const Spec& spec) {
  const char16_t c = spec.conv;
  const bool isSigned = c == u'd' || c == u'i';
  bool negative;
  std::uint64_t magnitude;
  if (!IntegerValue(a, !isSigned, negative, magnitude)) return;
  const unsigned base = (c == u'x' || c == u'X') ? 16 : c == u'o' ? 8 : 10;
  const char* digitSet = c == u'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char16_t digits[24];
  int n = 0;
  for (std::uint64_t m = magnitude; m != 0; m /= base) digits[n++] = static_cast<char16_t>(digitSet[m % base]);
  if (n == 0 && spec.precision != 0) digits[n++] = u'0';
  int zeros = std::max(spec.precision - n, 0);
  if (spec.alt && base == 8 && zeros == 0 && (n == 0 || digits[n - 1] != u'0')) zeros = 1;
  char16_t prefix[2];
  int prefixLen = 0;
  if (isSigned && (negative || spec.plus || spec.space)) prefix[prefixLen++] = negative ? u'-' : spec.plus ? u'+' : u' ';
  if (spec.alt && base == 16 && magnitude != 0) {
    prefix[prefixLen++] = u'0';
    prefix[prefixLen++] = c;
  }
  int gap = spec.width - (prefixLen + zeros + n);
  if (gap > 0 && spec.zero && !spec.left && spec.precision < 0) {
    zeros += gap;
    gap = 0;
  }
  if (!spec.left) Pad(out, gap, u' ');
  out.append(prefix, static_cast<std::size_t>(prefixLen));
  Pad(out, zeros, u'0');
  while (n > 0) out += digits[--n];
  if (spec.left) Pad(out, gap, u' ');
}

// Floating conversions go through snprintf, so rounding is printf's own.
void AppendReal(std::u16string& out, const FormatArg& a, const Spec& spec) {
  double value;
  switch (a.kind) {
    case Kind::Real: value = a.d; break;
    case Kind::Signed: value = static_cast<double>(a.i); break;
    case Kind::Unsigned: value = static_cast<double>(a.u); break;
    default: return;
  }
  char narrow[32];
  int k = 0;
  narrow[k++] = '%';
  if (spec.left) narrow[k++] = '-';
  if (spec.plus) narrow[k++] = '+';
  if (spec.space) narrow[k++] = ' ';
  if (spec.zero) narrow[k++] = '0';
  if (spec.alt) narrow[k++] = '#';
  k += std::snprintf(narrow + k, sizeof narrow - static_cast<std::size_t>(k), "%d", spec.width);
  if (spec.precision >= 0)
    k += std::snprintf(narrow + k, sizeof narrow - static_cast<std::size_t>(k), ".%d", spec.precision);
  narrow[k++] = static_cast<char>(spec.conv);
  narrow[k] = '\0';

  char small[128];
  std::string large;
  const char* text = small;
  int n = std::snprintf(small, sizeof small, narrow, value);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) >= sizeof small) {
    large.resize(static_cast<std::size_t>(n) + 1);
    n = std::snprintf(large.data(), large.size(), narrow, value);
    if (n < 0) return;
    text = large.data();
  }
  for (int i = 0; i < n; ++i) out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
}

void AppendText(std::u16string& out, const FormatArg& a, const Spec& spec) {
  if (a.kind != Kind::Text) return;
  std::u16string_view body(a.text.data, a.text.size);
  if (spec.precision >= 0) body = body.substr(0, static_cast<std::size_t>(spec.precision));
  AppendField(out, body, spec);
}

void AppendChar(std::u16string& out, const FormatArg& a, const Spec& spec) {
  bool negative;
  std::uint64_t value;
  if (a.kind == Kind::Real || !IntegerValue(a, true, negative, value)) return;
  const char16_t ch = static_cast<char16_t>(value & 0xFFFF);
  AppendField(out, {&ch, 1}, spec);
}

}  // namespace

void FormatInto(std::u16string& out, std::u16string_view fmt, const FormatArg* args, std::size_t count) {
  std::size_t next = 0;  // next unused argument
  std::size_t i = 0;
  while (i < fmt.size()) {
    const std::size_t pct = fmt.find(u'%', i);
    out.append(fmt.substr(i, pct - i));
    if (pct == std::u16string_view::npos) break;
    i = pct + 1;
    if (i < fmt.size() && fmt[i] == u'%') {
      out += u'%';
      ++i;
      continue;
    }
    Spec spec;
    for (bool more = true; more && i < fmt.size(); ) {
      switch (fmt[i]) {
        case u'-': spec.left = true; break;
        case u'+': spec.plus = true; break;
        case u' ': spec.space = true; break;
        case u'0': spec.zero = true; break;
        case u'#': spec.alt = true; break;
        default: more = false; continue;
      }
      ++i;
    }
    spec.width = ReadNumber(fmt, i);
    if (i < fmt.size() && fmt[i] == u'.') spec.precision = ReadNumber(fmt, ++i);
    SkipLengthModifiers(fmt, i);
    if (i >= fmt.size()) {
      out.append(fmt.substr(pct));  // a directive cut short by the end of the text
      break;
    }
    spec.conv = fmt[i++];
    void (*append)(std::u16string&, const FormatArg&, const Spec&) = nullptr;
    switch (spec.conv) {
      case u'd': case u'i': case u'u': case u'o': case u'x': case u'X': append = AppendInteger; break;
      case u'f': case u'F': case u'e': case u'E': case u'g': case u'G': append = AppendReal; break;
      case u's': case u'S': append = AppendText; break;
      case u'c': case u'C': append = AppendChar; break;
      default: break;
    }
    if (!append) {
      out.append(fmt.substr(pct, i - pct));
      continue;
    }
    if (next < count) append(out, args[next], spec);
    ++next;
  }
}

}  // namespace kdx::detail
