// UTF-16 text with the members and clamping rules of MFC's CString (Unicode build), so
// code written against MFC keeps its meaning. Indexes and counts out of range are clamped
// or ignored, never undefined; a null text pointer is empty text everywhere.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

namespace kdx {

class CString;

// Any text argument a caller may hold; a null pointer is empty text.
class TextView {
 public:
  TextView() = default;
  TextView(const char16_t* text) : view_(text ? std::u16string_view(text) : std::u16string_view()) {}
  TextView(std::u16string_view text) : view_(text) {}
  TextView(const std::u16string& text) : view_(text) {}
  TextView(const CString& text);
  std::u16string_view view() const { return view_; }
  operator std::u16string_view() const { return view_; }

 private:
  std::u16string_view view_;
};

// Text forms other than CString itself that operators accept on either side.
template <class T>
concept TextLike = !std::is_same_v<std::remove_cvref_t<T>, CString> &&
                   (std::is_convertible_v<const T&, const char16_t*> ||
                    std::is_convertible_v<const T&, std::u16string_view>);

// Simple case mapping, exact for ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic
// (with its supplement) and full-width Latin; other characters are returned unchanged.
char16_t ToUpperChar(char16_t ch);
char16_t ToLowerChar(char16_t ch);
// The white space that Trim removes: the Unicode White_Space characters of the BMP.
bool IsSpaceChar(char16_t ch);

namespace detail {

template <class T>
std::u16string_view AsText(const T& text) {
  if constexpr (std::is_convertible_v<const T&, const char16_t*>) {
    const char16_t* p = text;
    return p ? std::u16string_view(p) : std::u16string_view();
  } else {
    return std::u16string_view(text);
  }
}

// One Format argument, type-erased; the conversion checks the kind at run time.
struct FormatArg {
  enum class Kind : std::uint8_t { Signed, Unsigned, Real, Text };
  struct TextRef {
    const char16_t* data;
    std::size_t size;
  };
  Kind kind = Kind::Signed;
  std::uint8_t bits = 0;  // width of an integer's type: %u/%x of negatives, %c
  union {
    std::int64_t i = 0;
    std::uint64_t u;
    double d;
    TextRef text;
  };
};

template <class>
inline constexpr bool kUnsupportedFormatArg = false;

template <class T>
FormatArg MakeFormatArg(const T& value) {
  using U = std::remove_cv_t<T>;
  FormatArg a;
  if constexpr (std::is_enum_v<U>) {
    return MakeFormatArg(static_cast<std::underlying_type_t<U>>(value));
  } else if constexpr (std::is_same_v<U, bool>) {
    a.kind = FormatArg::Kind::Unsigned;
    a.bits = 8;
    a.u = value ? 1 : 0;
  } else if constexpr (std::is_integral_v<U>) {
    a.bits = static_cast<std::uint8_t>(sizeof(U) * 8);
    if constexpr (std::is_signed_v<U>) {
      a.kind = FormatArg::Kind::Signed;
      a.i = static_cast<std::int64_t>(value);
    } else {
      a.kind = FormatArg::Kind::Unsigned;
      a.u = static_cast<std::uint64_t>(value);
    }
  } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
    a.kind = FormatArg::Kind::Real;
    a.d = static_cast<double>(value);
  } else if constexpr (std::is_convertible_v<const T&, const char16_t*> ||
                       std::is_convertible_v<const T&, std::u16string_view>) {
    std::u16string_view v = AsText(value);
    a.kind = FormatArg::Kind::Text;
    a.text = {v.data(), v.size()};
  } else {
    static_assert(kUnsupportedFormatArg<T>,
                  "Format takes integers, enums, float/double and UTF-16 text only");
  }
  return a;
}

// Appends fmt expanded with args[0..count) to out; out must not be a source of any arg.
void FormatInto(std::u16string& out, std::u16string_view fmt, const FormatArg* args, std::size_t count);

template <class... Args>
std::u16string FormatText(std::u16string_view fmt, const Args&... args) {
  const FormatArg list[] = {MakeFormatArg(args)..., FormatArg{}};  // never a zero-size array
  std::u16string out;
  FormatInto(out, fmt, list, sizeof...(Args));
  return out;
}

}  // namespace detail

class CString {
 public:
  CString() = default;
  CString(const char16_t* text);
  // Copies exactly `length` units (none when length <= 0 or text is null).
  CString(const char16_t* text, int length);
  CString(std::u16string_view text) : str_(text) {}
  CString(const std::u16string& text) : str_(text) {}
  CString(std::u16string&& text) noexcept : str_(std::move(text)) {}
  explicit CString(char16_t ch, int repeat = 1);

  static CString FromUtf8(std::string_view bytes);
  static CString FromAnsi(std::string_view bytes);  // bytes in the ANSI code page
  std::string ToUtf8() const;
  std::string ToAnsi() const;

  CString& operator=(const char16_t* text);
  CString& operator=(std::u16string_view text);
  CString& operator=(const std::u16string& text);
  CString& operator=(std::u16string&& text) noexcept;
  CString& operator=(char16_t ch);

  int GetLength() const;
  bool IsEmpty() const { return str_.empty(); }
  void Empty() { str_.clear(); }
  // Overwrites the characters before emptying, for secrets that must not linger in memory.
  void SecureEmpty();
  char16_t GetAt(int index) const;  // 0 when out of range
  char16_t operator[](int index) const { return GetAt(index); }
  void SetAt(int index, char16_t ch);  // ignored when out of range
  const char16_t* GetString() const { return str_.c_str(); }
  const std::u16string& str() const& { return str_; }
  std::u16string str() && { return std::move(str_); }
  operator std::u16string_view() const { return str_; }

  // -1 when absent or when start is out of range (start may equal the length for text).
  int Find(char16_t ch, int start = 0) const;
  int Find(TextView sub, int start = 0) const;  // empty sub: start itself
  int ReverseFind(char16_t ch) const;
  int FindOneOf(TextView set) const;

  CString Left(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Right(int count) const;
  CString SpanIncluding(TextView set) const;
  CString SpanExcluding(TextView set) const;
  // Next token at or after start, skipping leading delimiters; start becomes -1 at the end.
  CString Tokenize(TextView delimiters, int& start) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  CString& Trim();
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim(char16_t ch);
  CString& TrimLeft(char16_t ch);
  CString& TrimRight(char16_t ch);
  CString& Trim(TextView set);
  CString& TrimLeft(TextView set);
  CString& TrimRight(TextView set);

  int Replace(TextView oldText, TextView newText);  // count replaced, left to right
  int Replace(char16_t oldCh, char16_t newCh);
  int Remove(char16_t ch);
  int Insert(int index, TextView text);  // new length
  int Insert(int index, char16_t ch);
  int Delete(int index, int count = 1);  // new length
  void Truncate(int length);             // ignored unless 0 <= length <= GetLength()
  CString& Append(TextView text);
  CString& AppendChar(char16_t ch);

  int Compare(TextView other) const;        // -1, 0, 1 by UTF-16 code unit
  int CompareNoCase(TextView other) const;  // the same after ToLowerChar on both sides

  // printf-style: %s %c %d %i %u %o %x %X %f %F %e %E %g %G %%, see cstring_format.cpp.
  template <class... Args>
  void Format(TextView fmt, const Args&... args) {
    str_ = detail::FormatText(fmt, args...);
  }
  template <class... Args>
  void AppendFormat(TextView fmt, const Args&... args) {
    str_ += detail::FormatText(fmt, args...);
  }

  CString& operator+=(const CString& text) { str_ += text.str_; return *this; }
  template <TextLike T>
  CString& operator+=(const T& text) { str_ += detail::AsText(text); return *this; }
  CString& operator+=(char16_t ch) { str_ += ch; return *this; }

  friend bool operator==(const CString& a, const CString& b) noexcept { return a.str_ == b.str_; }
  template <TextLike T>
  friend bool operator==(const CString& a, const T& b) {
    return std::u16string_view(a.str_) == detail::AsText(b);
  }
  friend std::strong_ordering operator<=>(const CString& a, const CString& b) noexcept {
    return std::u16string_view(a.str_) <=> std::u16string_view(b.str_);
  }
  template <TextLike T>
  friend std::strong_ordering operator<=>(const CString& a, const T& b) {
    return std::u16string_view(a.str_) <=> detail::AsText(b);
  }

  friend CString operator+(const CString& a, const CString& b) { return Concat(a.str_, b.str_); }
  template <TextLike T>
  friend CString operator+(const CString& a, const T& b) { return Concat(a.str_, detail::AsText(b)); }
  template <TextLike T>
  friend CString operator+(const T& a, const CString& b) { return Concat(detail::AsText(a), b.str_); }
  friend CString operator+(const CString& a, char16_t b) { return Concat(a.str_, {&b, 1}); }
  friend CString operator+(char16_t a, const CString& b) { return Concat({&a, 1}, b.str_); }

 private:
  static CString Concat(std::u16string_view a, std::u16string_view b);

  std::u16string str_;
};

inline TextView::TextView(const CString& text) : view_(text.str()) {}

template <class... Args>
CString FormatString(TextView fmt, const Args&... args) {
  return CString(detail::FormatText(fmt, args...));
}

}  // namespace kdx

template <>
struct std::hash<kdx::CString> {
  std::size_t operator()(const kdx::CString& s) const noexcept {
    return std::hash<std::u16string_view>{}(s.str());
  }
};
