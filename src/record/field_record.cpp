#include "record/field_record.h"

#include <algorithm>
#include <array>
#include <climits>
#include <new>
#include <utility>

#include "platform/codepage.h"

namespace kdx {
namespace {

constexpr int kDigitBase = 224;  // multi-byte numbers: base 224, each digit carried as digit + 32
constexpr int kDigitOffset = 32;

// Value classes by their first byte: the class is the row with the largest base not above it.
struct ValueClass {
  uint8_t base;
  uint8_t bytes;  // with the value tag; 0 marks "set absent"
  bool negative;
};
constexpr ValueClass kValueClasses[] = {
    {0, 0, false},     // 0-31: the field is set absent
    {32, 1, false},    {96, 2, false},   {112, 3, false}, {128, 5, false}, {144, 9, false},
    {160, 1, true},    {192, 2, true},   {208, 3, true},  {224, 5, true},  {240, 9, true},
};

constexpr std::array<ValueClass, 256> BuildValueClassIndex() {
  std::array<ValueClass, 256> index{};
  for (int v = 0; v < 256; ++v)
    for (const auto& c : kValueClasses)
      if (c.base <= v) index[v] = c;
  return index;
}
constexpr auto kValueClassOf = BuildValueClassIndex();

int64_t* NewNumbers(int capacity) {
  auto* p = new (std::nothrow) int64_t[static_cast<std::size_t>(capacity)];
  if (p) std::fill_n(p, capacity, kAbsent);
  return p;
}

char16_t* CopyText(const char16_t* text, int length) {
  auto* p = new (std::nothrow) char16_t[static_cast<std::size_t>(length) + 1];
  if (!p) return nullptr;
  std::copy_n(text, length, p);
  p[length] = u'\0';
  return p;
}

// Codes, dates and amounts are plain ASCII: those widen in a loop the compiler vectorises.
std::size_t WidenUtf8(const unsigned char* bytes, int length, char16_t* out) {
  unsigned char high = 0;
  for (int i = 0; i < length; ++i) high |= bytes[i];
  if (high >= 0x80) return Utf8ToUtf16(bytes, static_cast<std::size_t>(length), out);
  for (int i = 0; i < length; ++i) out[i] = bytes[i];
  return static_cast<std::size_t>(length);
}

bool ValidCapacity(int capacity) { return capacity >= 0 && capacity <= FieldRecord::kMaxFieldNumber + 1; }

// RecordText: each character stands for a 7-bit value. Unsigned arithmetic keeps characters
// outside the printable range well defined; only the low bits are ever used.
inline unsigned SevenBit(unsigned c) { return c < 129 ? c - 32u : c - 96u; }
inline unsigned CharCode(char16_t c) { return c; }
inline unsigned CharCode(char c) { return static_cast<unsigned char>(c); }

}  // namespace

FieldRecord::FieldRecord() : FieldRecord(kDefaultStringCapacity, kDefaultNumberCapacity) {}

FieldRecord::FieldRecord(int stringCapacity, int numberCapacity) {
  if (ValidCapacity(numberCapacity) && numberCapacity > 0 && (m_pNumbers = NewNumbers(numberCapacity)))
    m_nNumberCapacity = numberCapacity;
  if (ValidCapacity(stringCapacity) && stringCapacity > 0) GrowStrings(stringCapacity);
}

FieldRecord::FieldRecord(const FieldRecord& other) : FieldRecord(other.m_nStringCapacity, other.m_nNumberCapacity) {
  if (m_nNumberCapacity == other.m_nNumberCapacity)
    std::copy_n(other.m_pNumbers, m_nNumberCapacity, m_pNumbers);
  if (m_nStringCapacity == other.m_nStringCapacity)
    for (int i = 0; i < m_nStringCapacity; ++i)
      if (other.m_ppStrings[i]) SetString(i, other.m_ppStrings[i], static_cast<int>(other.m_pStringLengths[i]));
  m_nRecordType = other.m_nRecordType;
}

FieldRecord::FieldRecord(FieldRecord&& other) noexcept { swap(*this, other); }

FieldRecord& FieldRecord::operator=(const FieldRecord& other) {
  if (this != &other) {
    FieldRecord copy(other);
    swap(*this, copy);
  }
  return *this;
}

FieldRecord& FieldRecord::operator=(FieldRecord&& other) noexcept {
  if (this != &other) {
    FieldRecord taken(std::move(other));
    swap(*this, taken);
  }
  return *this;
}

FieldRecord::~FieldRecord() { ReleaseAll(); }

void swap(FieldRecord& a, FieldRecord& b) noexcept {
  using std::swap;
  swap(a.m_nStringCapacity, b.m_nStringCapacity);
  swap(a.m_nNumberCapacity, b.m_nNumberCapacity);
  swap(a.m_pNumbers, b.m_pNumbers);
  swap(a.m_pStringLengths, b.m_pStringLengths);
  swap(a.m_ppStrings, b.m_ppStrings);
  swap(a.m_pDecodeBuffer, b.m_pDecodeBuffer);
  swap(a.m_nDecodePosition, b.m_nDecodePosition);
  swap(a.m_nRecordType, b.m_nRecordType);
}

void FieldRecord::ReleaseAll() {
  for (int i = 0; i < m_nStringCapacity; ++i) delete[] m_ppStrings[i];
  delete[] m_ppStrings;
  delete[] m_pStringLengths;
  delete[] m_pNumbers;
  m_ppStrings = nullptr;
  m_pStringLengths = nullptr;
  m_pNumbers = nullptr;
  m_nStringCapacity = m_nNumberCapacity = 0;
}

bool FieldRecord::GrowNumbers(int capacity) {
  if (capacity <= m_nNumberCapacity) return true;
  int64_t* numbers = NewNumbers(capacity);
  if (!numbers) return false;
  std::copy_n(m_pNumbers, m_nNumberCapacity, numbers);
  delete[] m_pNumbers;
  m_pNumbers = numbers;
  m_nNumberCapacity = capacity;
  return true;
}

bool FieldRecord::GrowStrings(int capacity) {
  if (capacity <= m_nStringCapacity) return true;
  const auto n = static_cast<std::size_t>(capacity);
  auto* lengths = new (std::nothrow) uint32_t[n]();
  auto* strings = new (std::nothrow) char16_t*[n]();
  if (!lengths || !strings) {
    delete[] lengths;
    delete[] strings;
    return false;
  }
  std::copy_n(m_pStringLengths, m_nStringCapacity, lengths);
  std::copy_n(m_ppStrings, m_nStringCapacity, strings);
  delete[] m_pStringLengths;
  delete[] m_ppStrings;
  m_pStringLengths = lengths;
  m_ppStrings = strings;
  m_nStringCapacity = capacity;
  return true;
}

bool FieldRecord::ReserveString(int id) {
  if (id < 0 || id > kMaxFieldNumber) return false;
  return id < m_nStringCapacity || GrowStrings(id + 1);
}

void FieldRecord::StoreString(int id, char16_t* buffer, uint32_t length) {
  delete[] m_ppStrings[id];
  m_ppStrings[id] = buffer;
  m_pStringLengths[id] = length;
}

bool FieldRecord::SetNumber(int id, int64_t value) {
  if (id < 0 || id > kMaxFieldNumber) return false;
  if (id >= m_nNumberCapacity && !GrowNumbers(id + 1)) return false;
  m_pNumbers[id] = value;
  return true;
}

bool FieldRecord::SetString(int id, const char16_t* text, int length) {
  if (length < 0 || (!text && length > 0) || !ReserveString(id)) return false;
  // The new copy is made before the old value goes, so a failed copy keeps the old one.
  char16_t* copy = CopyText(text, length);
  if (!copy) return false;
  StoreString(id, copy, static_cast<uint32_t>(length));
  return true;
}

bool FieldRecord::SetString(int id, std::u16string_view text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  return SetString(id, text.data(), static_cast<int>(text.size()));
}

int64_t FieldRecord::GetNumber(int id) const {
  return id >= 0 && id < m_nNumberCapacity ? m_pNumbers[id] : kAbsent;
}

const char16_t* FieldRecord::GetString(int id) const {
  return id >= 0 && id < m_nStringCapacity ? m_ppStrings[id] : nullptr;
}

int FieldRecord::GetStringLength(int id) const {
  return GetString(id) ? static_cast<int>(m_pStringLengths[id]) : 0;
}

std::u16string_view FieldRecord::GetStringView(int id) const {
  const char16_t* s = GetString(id);
  return s ? std::u16string_view(s, m_pStringLengths[id]) : std::u16string_view();
}

bool FieldRecord::CopyFrom(const FieldRecord& other) {
  if (this == &other) return true;
  if (!GrowNumbers(other.m_nNumberCapacity) || !GrowStrings(other.m_nStringCapacity)) return false;
  for (int i = 0; i < other.m_nNumberCapacity; ++i)
    if (other.m_pNumbers[i] != kAbsent) m_pNumbers[i] = other.m_pNumbers[i];
  bool ok = true;
  for (int i = 0; i < other.m_nStringCapacity; ++i)
    if (other.m_ppStrings[i])
      ok = SetString(i, other.m_ppStrings[i], static_cast<int>(other.m_pStringLengths[i])) && ok;
  return ok;
}

int FieldRecord::Decode(const unsigned char* bytes, int start, int length) {
  m_nRecordType = -1;
  if (!bytes || start < 0 || length < 2 || start > INT_MAX - length) return -1;
  const unsigned char* record = bytes + start;
  const int last = length - 1;
  // Unsigned wrap-around keeps the sum right modulo 128 for any length.
  unsigned sum = 0;
  for (int i = 1; i < last; ++i) sum += record[i];
  const unsigned v = sum & 127u;
  if (record[last] != (v < 64 ? v + 48 : v + 112)) return -1;

  m_nRecordType = record[0];
  m_pDecodeBuffer = bytes;
  m_nDecodePosition = start + 1;
  const int end = start + last;
  while (m_nDecodePosition < end && DecodeField(end)) {
  }
  m_pDecodeBuffer = nullptr;
  return m_nRecordType;
}

// Reads the field at m_nDecodePosition, never at or beyond end (the check character).
// Returns false, leaving the position at the field's tag, when the field is malformed.
bool FieldRecord::DecodeField(int end) {
  const unsigned char* p = m_pDecodeBuffer;
  int pos = m_nDecodePosition;
  const unsigned tag = p[pos++];
  if (tag < 32) return false;

  // Field number in base 224 after the tags that carry a page in their low bits.
  auto paged = [&](unsigned page) { return static_cast<int>(page) * kDigitBase + (p[pos++] - kDigitOffset); };

  if (tag < 144) {
    int id = static_cast<int>(tag) - 32;
    if (tag >= 128) {
      if (pos >= end) return false;
      id = paged(tag - 128);
      if (id < 0) return false;
    }
    if (pos >= end) return false;
    const unsigned valueTag = p[pos];
    const ValueClass c = kValueClassOf[valueTag];
    int64_t value = kAbsent;
    if (c.bytes == 0) {
      pos += 1;
    } else {
      if (end - pos < c.bytes) return false;
      // Unsigned arithmetic: out-of-range digits and the widest class wrap as signed 64-bit
      // two's complement would, without undefined behaviour.
      uint64_t magnitude = valueTag - c.base;
      for (int i = 1; i < c.bytes; ++i)
        magnitude = magnitude * kDigitBase + static_cast<uint64_t>(static_cast<int64_t>(p[pos + i]) - kDigitOffset);
      value = static_cast<int64_t>(c.negative ? 0 - magnitude : magnitude);
      pos += c.bytes;
    }
    SetNumber(id, value);  // a failed growth skips this field only
    m_nDecodePosition = pos;
    return true;
  }

  int id, length;
  if (tag >= 192) {
    id = static_cast<int>(tag - 192) / 16;
    length = static_cast<int>(tag % 16);
  } else if (tag >= 160) {
    if (pos >= end) return false;
    id = static_cast<int>(tag) - 160;
    length = p[pos++] - kDigitOffset;
  } else {
    if (end - pos < 3) return false;
    id = paged(tag - 144);
    const int high = p[pos++] - kDigitOffset;
    length = high * kDigitBase + (p[pos++] - kDigitOffset);
  }
  if (id < 0 || length < 0 || end - pos < length) return false;

  if (length > 0 && ReserveString(id)) {
    auto* buffer = new (std::nothrow) char16_t[static_cast<std::size_t>(length) + 1];
    if (buffer) {
      std::size_t units;
      if (m_nRecordType < 128) {
        units = WidenUtf8(p + pos, length, buffer);
      } else {
        std::copy_n(p + pos, length, buffer);
        units = static_cast<std::size_t>(length);
      }
      buffer[units] = u'\0';
      StoreString(id, buffer, static_cast<uint32_t>(units));
    }
  }
  m_nDecodePosition = pos + length;
  return true;
}

namespace {

template <class Ch>
int DecodeRecordTextOf(unsigned char* out, int capacity, const Ch* text, int textLength) {
  if (!out || capacity <= 0 || textLength < 0 || (!text && textLength > 0)) return -1;
  int n = textLength;
  if (n > 0 && text[n - 1] == Ch('\n')) --n;
  if (n > 0 && text[n - 1] == Ch('\r')) --n;
  const int groups = n / 8, rest = n % 8;
  const int64_t size = int64_t{7} * groups + (rest >= 2 ? rest - 1 : rest);
  if (size + 1 > capacity) return -1;

  // Groups of 7 data characters and a carrier whose bit k is data byte k's top bit.
  unsigned char* o = out;
  const Ch* s = text;
  for (int g = 0; g < groups; ++g, s += 8, o += 7) {
    const unsigned carrier = SevenBit(CharCode(s[7]));
    for (int k = 0; k < 7; ++k)
      o[k] = static_cast<unsigned char>(SevenBit(CharCode(s[k])) + (((carrier >> k) & 1u) << 7));
  }
  if (rest >= 2) {
    const unsigned carrier = SevenBit(CharCode(s[rest - 1]));
    for (int k = 0; k < rest - 1; ++k)
      *o++ = static_cast<unsigned char>(SevenBit(CharCode(s[k])) + (((carrier >> k) & 1u) << 7));
  } else if (rest == 1) {
    // A lone final character is data character and carrier at once.
    const unsigned value = SevenBit(CharCode(s[0]));
    *o++ = static_cast<unsigned char>(value + ((value & 1u) << 7));
  }
  *o = 0;
  return static_cast<int>(size);
}

}  // namespace

int DecodeRecordText(unsigned char* out, int capacity, const char16_t* text, int textLength) {
  return DecodeRecordTextOf(out, capacity, text, textLength);
}

int DecodeRecordText(unsigned char* out, int capacity, const char* text, int textLength) {
  return DecodeRecordTextOf(out, capacity, text, textLength);
}

}  // namespace kdx
