#include "platform/cstring.h"

#include <algorithm>
#include <climits>

#include "platform/codepage.h"
#include "platform/system.h"

namespace kdx {
namespace {

using View = std::u16string_view;
constexpr auto npos = View::npos;

int ToIndex(std::size_t pos) { return pos == npos ? -1 : static_cast<int>(std::min<std::size_t>(pos, INT_MAX)); }

}  // namespace

CString::CString(const char16_t* text) : str_(TextView(text).view()) {}

void CString::SecureEmpty() {
  // The whole buffer, spare capacity included: an earlier, longer value may still sit there.
  str_.resize(str_.capacity());
  SecureZero(str_.data(), str_.size() * sizeof(char16_t));
  str_.clear();
}

CString::CString(const char16_t* text, int length) {
  if (text && length > 0) str_.assign(text, static_cast<std::size_t>(length));
}

CString::CString(char16_t ch, int repeat) : str_(static_cast<std::size_t>(std::max(repeat, 0)), ch) {}

CString CString::FromUtf8(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');
  out.resize(Utf8ToUtf16(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data()));
  return CString(std::move(out));
}

CString CString::FromAnsi(std::string_view bytes) { return CString(MultiByteToWide(CP_ACP, bytes)); }
std::string CString::ToUtf8() const { return Utf16ToUtf8(str_); }
std::string CString::ToAnsi() const { return WideToMultiByte(CP_ACP, str_); }

CString& CString::operator=(const char16_t* text) {
  str_.assign(TextView(text).view());
  return *this;
}
CString& CString::operator=(std::u16string_view text) {
  str_.assign(text);
  return *this;
}
CString& CString::operator=(const std::u16string& text) {
  str_ = text;
  return *this;
}
CString& CString::operator=(std::u16string&& text) noexcept {
  str_ = std::move(text);
  return *this;
}
CString& CString::operator=(char16_t ch) {
  str_.assign(1, ch);
  return *this;
}

int CString::GetLength() const { return static_cast<int>(std::min<std::size_t>(str_.size(), INT_MAX)); }

char16_t CString::GetAt(int index) const {
  return index >= 0 && index < GetLength() ? str_[static_cast<std::size_t>(index)] : u'\0';
}

void CString::SetAt(int index, char16_t ch) {
  if (index >= 0 && index < GetLength()) str_[static_cast<std::size_t>(index)] = ch;
}

// A NUL is never found: the terminator MFC would report is not part of the text.
int CString::Find(char16_t ch, int start) const {
  if (start < 0 || start >= GetLength() || ch == 0) return -1;
  return ToIndex(str_.find(ch, static_cast<std::size_t>(start)));
}

int CString::Find(TextView sub, int start) const {
  if (start < 0 || start > GetLength()) return -1;
  return ToIndex(str_.find(sub.view(), static_cast<std::size_t>(start)));
}

int CString::ReverseFind(char16_t ch) const { return ch == 0 ? -1 : ToIndex(str_.rfind(ch)); }

int CString::FindOneOf(TextView set) const { return ToIndex(str_.find_first_of(set.view())); }

CString CString::Left(int count) const {
  if (count >= GetLength()) return *this;
  return CString(View(str_).substr(0, static_cast<std::size_t>(std::max(count, 0))));
}

CString CString::Mid(int first) const {
  return Mid(first, static_cast<int>(std::clamp<long long>(static_cast<long long>(GetLength()) - first, 0, INT_MAX)));
}

CString CString::Mid(int first, int count) const {
  const long long length = GetLength();
  long long from = std::max(first, 0);
  long long n = std::max(count, 0);
  if (from + n > length) n = length - from;
  if (from > length) n = 0;
  if (n <= 0) return CString();
  return CString(View(str_).substr(static_cast<std::size_t>(from), static_cast<std::size_t>(n)));
}

CString CString::Right(int count) const {
  const int length = GetLength();
  if (count >= length) return *this;
  const int n = std::max(count, 0);
  return CString(View(str_).substr(static_cast<std::size_t>(length - n)));
}

CString CString::SpanIncluding(TextView set) const {
  const std::size_t n = str_.find_first_not_of(set.view());
  return CString(View(str_).substr(0, n));
}

CString CString::SpanExcluding(TextView set) const {
  const std::size_t n = str_.find_first_of(set.view());
  return CString(View(str_).substr(0, n));
}

CString CString::Tokenize(TextView delimiters, int& start) const {
  const int length = GetLength();
  if (start < 0 || start >= length) {
    start = -1;
    return CString();
  }
  const View text(str_);
  const View delims = delimiters.view();
  if (delims.empty()) {
    // MFC leaves start where it was here, so a caller's loop would never end.
    CString rest(text.substr(static_cast<std::size_t>(start)));
    start = length + 1;
    return rest;
  }
  const std::size_t from = text.find_first_not_of(delims, static_cast<std::size_t>(start));
  if (from == npos) {
    start = -1;
    return CString();
  }
  std::size_t to = text.find_first_of(delims, from);
  if (to == npos) to = text.size();
  start = static_cast<int>(to) + 1;
  return CString(text.substr(from, to - from));
}

CString& CString::MakeUpper() {
  for (auto& ch : str_) ch = ToUpperChar(ch);
  return *this;
}

CString& CString::MakeLower() {
  for (auto& ch : str_) ch = ToLowerChar(ch);
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(str_.begin(), str_.end());
  return *this;
}

namespace {

// Both bounds are found before any edit, so `strip` may read a set inside s.
template <class Pred>
void TrimBy(std::u16string& s, bool left, bool right, Pred strip) {
  std::size_t end = s.size();
  if (right)
    while (end > 0 && strip(s[end - 1])) --end;
  std::size_t begin = 0;
  if (left)
    while (begin < end && strip(s[begin])) ++begin;
  s.erase(end);
  s.erase(0, begin);
}

bool InSet(View set, char16_t ch) { return set.find(ch) != npos; }

}  // namespace

CString& CString::Trim() { TrimBy(str_, true, true, IsSpaceChar); return *this; }
CString& CString::TrimLeft() { TrimBy(str_, true, false, IsSpaceChar); return *this; }
CString& CString::TrimRight() { TrimBy(str_, false, true, IsSpaceChar); return *this; }

CString& CString::Trim(char16_t ch) { TrimBy(str_, true, true, [ch](char16_t c) { return c == ch; }); return *this; }
CString& CString::TrimLeft(char16_t ch) { TrimBy(str_, true, false, [ch](char16_t c) { return c == ch; }); return *this; }
CString& CString::TrimRight(char16_t ch) { TrimBy(str_, false, true, [ch](char16_t c) { return c == ch; }); return *this; }

CString& CString::Trim(TextView set) {
  TrimBy(str_, true, true, [s = set.view()](char16_t c) { return InSet(s, c); });
  return *this;
}
CString& CString::TrimLeft(TextView set) {
  TrimBy(str_, true, false, [s = set.view()](char16_t c) { return InSet(s, c); });
  return *this;
}
CString& CString::TrimRight(TextView set) {
  TrimBy(str_, false, true, [s = set.view()](char16_t c) { return InSet(s, c); });
  return *this;
}

int CString::Replace(TextView oldText, TextView newText) {
  const View from = oldText.view();
  if (from.empty()) return 0;
  const View text(str_);
  std::size_t pos = text.find(from);
  if (pos == npos) return 0;
  // Built aside: oldText and newText may point into this very string.
  std::u16string out;
  out.reserve(text.size());
  std::size_t done = 0;
  int count = 0;
  for (; pos != npos; pos = text.find(from, done)) {
    out.append(text.substr(done, pos - done)).append(newText.view());
    done = pos + from.size();
    ++count;
  }
  out.append(text.substr(done));
  str_ = std::move(out);
  return count;
}

int CString::Replace(char16_t oldCh, char16_t newCh) {
  if (oldCh == newCh) return 0;
  int count = 0;
  for (auto& ch : str_) {
    if (ch == oldCh) {
      ch = newCh;
      ++count;
    }
  }
  return count;
}

int CString::Remove(char16_t ch) {
  const auto end = std::remove(str_.begin(), str_.end(), ch);
  const int count = static_cast<int>(str_.end() - end);
  str_.erase(end, str_.end());
  return count;
}

int CString::Insert(int index, TextView text) {
  str_.insert(static_cast<std::size_t>(std::clamp(index, 0, GetLength())), text.view());
  return GetLength();
}

int CString::Insert(int index, char16_t ch) {
  str_.insert(static_cast<std::size_t>(std::clamp(index, 0, GetLength())), 1, ch);
  return GetLength();
}

int CString::Delete(int index, int count) {
  const long long length = GetLength();
  const long long from = std::max(index, 0);
  long long n = std::max(count, 0);
  if (from + n > length) n = length - from;
  if (n > 0) str_.erase(static_cast<std::size_t>(from), static_cast<std::size_t>(n));
  return GetLength();
}

void CString::Truncate(int length) {
  if (length >= 0 && length <= GetLength()) str_.resize(static_cast<std::size_t>(length));
}

CString& CString::Append(TextView text) {
  str_.append(text.view());
  return *this;
}

CString& CString::AppendChar(char16_t ch) {
  str_ += ch;
  return *this;
}

int CString::Compare(TextView other) const {
  const int c = View(str_).compare(other.view());
  return (c > 0) - (c < 0);
}

int CString::CompareNoCase(TextView other) const {
  const View a(str_), b = other.view();
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = ToLowerChar(a[i]), y = ToLowerChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return (a.size() > b.size()) - (a.size() < b.size());
}

CString CString::Concat(std::u16string_view a, std::u16string_view b) {
  std::u16string out;
  out.reserve(a.size() + b.size());
  out.append(a).append(b);
  return CString(std::move(out));
}

}  // namespace kdx
