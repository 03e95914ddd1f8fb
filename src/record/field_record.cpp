#include "record/field_record.h"

#include <algorithm>
#include <cstring>
#include <array>
#include <climits>
#include <functional>
#include <new>
#include <string>
#include <utility>

#include "platform/codepage.h"
#include "platform/thread_object.h"

namespace kdx {
namespace {

constexpr int kDigitBase = 224;  // multi-byte numbers: base 224, each digit carried as digit + 32
constexpr int kDigitOffset = 32;
constexpr std::size_t kMaxTextUnits = UINT32_MAX;  // string offsets and lengths are 32-bit
constexpr int kScratchKeptBytes = 1 << 16;         // decode scratch kept for records up to this size

// Value classes by their first byte: the class is the row with the largest base not above it.
struct ValueClass {
  uint8_t base;
  uint8_t bytes;  // with the value tag
  bool negative = false;
  bool absent = false;
};
constexpr ValueClass kValueClasses[] = {
    {.base = 0, .bytes = 1, .absent = true},  // 0-31: the field is set absent
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

// UTF-8 to UTF-16 exactly as Utf8ToUtf16 converts it, in one pass: ASCII and the three-byte
// characters of Chinese text inline (lead bytes E1-EF but ED are never overlong nor surrogates),
// anything else handed with the rest of the bytes to Utf8ToUtf16.
std::size_t WidenUtf8(const unsigned char* s, std::size_t n, char16_t* out) {
  std::size_t i = 0, o = 0;
  while (i < n) {
    // Runs of ASCII, eight bytes at a time.
    for (uint64_t word; n - i >= 8; i += 8, o += 8) {
      std::memcpy(&word, s + i, 8);
      if (word & 0x8080808080808080u) break;
      for (int k = 0; k < 8; ++k) out[o + k] = static_cast<char16_t>(s[i + k]);
    }
    if (i >= n) break;
    const unsigned c = s[i];
    if (c < 0x80) {
      out[o++] = static_cast<char16_t>(c);
      ++i;
    } else if (c > 0xE0 && c != 0xED && c < 0xF0 && n - i > 2 && (s[i + 1] & 0xC0) == 0x80 &&
               (s[i + 2] & 0xC0) == 0x80) {
      out[o++] = static_cast<char16_t>((c & 0x0F) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F));
      i += 3;
    } else {
      return o + Utf8ToUtf16(s + i, n - i, out + o);
    }
  }
  return o;
}

// Negative capacities wrap to values far above the limit.
bool ValidCapacity(int capacity) { return static_cast<unsigned>(capacity) <= FieldRecord::kMaxFieldNumber + 1u; }
bool ValidId(int id) { return id >= 0 && id <= FieldRecord::kMaxFieldNumber; }

// Runs a change that may allocate. False when memory ran out; the change then had no effect.
template <class Change>
bool Guarded(Change&& change) noexcept {
  try {
    change();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Makes room for `more` elements, growing by a quarter at least: rows built field by field are
// kept, so they should carry little spare room, yet appending stays linear.
template <class List>
void Reserve(List& list, std::size_t more) {
  if (list.capacity() - list.size() < more) list.reserve(list.size() + std::max(more, list.size() / 4));
}

template <class List>
auto LowerBound(List& list, int id) {
  return std::lower_bound(list.begin(), list.end(), id, [](const auto& field, int i) { return field.id < i; });
}

// Visits the union of two id-sorted lists in id order, taking theirs where both hold an id.
template <class Field, class Visit>
void ForUnion(const std::vector<Field>& mine, const std::vector<Field>& theirs, Visit&& visit) {
  auto a = mine.begin();
  auto b = theirs.begin();
  while (a != mine.end() || b != theirs.end()) {
    if (b == theirs.end() || (a != mine.end() && a->id < b->id)) {
      visit(*a++, false);
    } else {
      if (a != mine.end() && a->id == b->id) ++a;
      visit(*b++, true);
    }
  }
}

// Puts fields decoded in wire order into id order, keeping the last of each id. The services
// write ids in order, so this is usually one look over the list.
template <class Field>
void SortKeepingLast(std::vector<Field>& list) {
  auto notBefore = [](const Field& a, const Field& b) { return a.id >= b.id; };
  if (std::adjacent_find(list.begin(), list.end(), notBefore) == list.end()) return;
  std::stable_sort(list.begin(), list.end(), [](const Field& a, const Field& b) { return a.id < b.id; });
  // Backwards, the first of each id is the last given; the ones kept end up at the back.
  const auto kept = std::unique(list.rbegin(), list.rend(), [](const Field& a, const Field& b) { return a.id == b.id; });
  list.erase(list.begin(), kept.base());
}

// RecordText: each character stands for a 7-bit value. Unsigned arithmetic keeps characters
// outside the printable range well defined; only the low bits are ever used.
inline unsigned SevenBit(unsigned c) { return c < 129 ? c - 32u : c - 96u; }
inline unsigned CharCode(char16_t c) { return c; }
inline unsigned CharCode(char c) { return static_cast<unsigned char>(c); }

constexpr int kGroupChars = 8;  // a RecordText group: 7 data characters, then their carrier
constexpr int kDataChars = kGroupChars - 1;

// For each carrier value, the top bit it gives each data byte (as 0x80 or 0). Adding 128
// modulo 256 is flipping the top bit, so the bytes are XORed in.
constexpr auto kCarrierBits = [] {
  std::array<std::array<unsigned char, kDataChars>, 128> bits{};
  for (unsigned carrier = 0; carrier < bits.size(); ++carrier)
    for (unsigned k = 0; k < bits[carrier].size(); ++k)
      bits[carrier][k] = static_cast<unsigned char>(((carrier >> k) & 1u) << 7);
  return bits;
}();

}  // namespace

FieldRecord::FieldRecord() : FieldRecord(kDefaultStringCapacity, kDefaultNumberCapacity) {}

FieldRecord::FieldRecord(int stringCapacity, int numberCapacity)
    : m_nStringCapacity(ValidCapacity(stringCapacity) ? stringCapacity : 0),
      m_nNumberCapacity(ValidCapacity(numberCapacity) ? numberCapacity : 0) {}

FieldRecord::FieldRecord(const FieldRecord& other) : m_nRecordType(other.m_nRecordType) {
  if (Guarded([&] { Absorb(other.m_fields); })) {
    m_nStringCapacity = other.m_nStringCapacity;
    m_nNumberCapacity = other.m_nNumberCapacity;
  }
}

FieldRecord::FieldRecord(FieldRecord&& other) noexcept { swap(*this, other); }

FieldRecord& FieldRecord::operator=(const FieldRecord& other) {
  FieldRecord copy(other);
  swap(*this, copy);
  return *this;
}

FieldRecord& FieldRecord::operator=(FieldRecord&& other) noexcept {
  FieldRecord taken(std::move(other));
  swap(*this, taken);
  return *this;
}

FieldRecord::~FieldRecord() = default;

void swap(FieldRecord& a, FieldRecord& b) noexcept {
  using std::swap;
  swap(a.m_nStringCapacity, b.m_nStringCapacity);
  swap(a.m_nNumberCapacity, b.m_nNumberCapacity);
  swap(a.m_fields, b.m_fields);
  swap(a.m_nDecodePosition, b.m_nDecodePosition);
  swap(a.m_nRecordType, b.m_nRecordType);
}

bool FieldRecord::SetNumber(int id, int64_t value) {
  if (!ValidId(id)) return false;
  auto& numbers = m_fields.numbers;
  const auto at = LowerBound(numbers, id);
  if (at != numbers.end() && at->id == id) {
    if (value == kAbsent)
      numbers.erase(at);
    else
      at->value = value;
  } else if (value != kAbsent) {
    if (!Guarded([&] { Reserve(numbers, 1); })) return false;
    numbers.insert(LowerBound(numbers, id), {id, value});
  }
  m_nNumberCapacity = std::max(m_nNumberCapacity, id + 1);
  return true;
}

bool FieldRecord::SetString(int id, const char16_t* text, int length) {
  if (length < 0 || (!text && length > 0) || !ValidId(id)) return false;
  // A text from this record's own buffer would move when the buffer grows: copy it out first.
  std::u16string own;
  const std::vector<char16_t>& buffer = m_fields.text;
  if (std::less_equal<>()(buffer.data(), text) && std::less<>()(text, buffer.data() + buffer.size())) {
    if (!Guarded([&] { own.assign(text, static_cast<std::size_t>(length)); })) return false;
    text = own.data();
  }
  return StoreString(id, text, static_cast<uint32_t>(length));
}

bool FieldRecord::SetString(int id, std::u16string_view text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  return SetString(id, text.data(), static_cast<int>(text.size()));
}

bool FieldRecord::StoreString(int id, const char16_t* text, uint32_t length) {
  Fields& f = m_fields;
  auto at = LowerBound(f.strings, id);
  const bool present = at != f.strings.end() && at->id == id;
  if (present && at->length >= length) {
    // Fits where the old text was.
    char16_t* place = f.text.data() + at->offset;
    std::copy_n(text, length, place);
    place[length] = u'\0';
    f.unused += at->length - length;
    at->length = length;
  } else {
    if (length >= kMaxTextUnits - f.text.size()) return false;
    // Overwritten texts are reclaimed once they outweigh the live ones (or later, if not now).
    if (f.unused > f.text.size() / 2) Guarded([&] { Absorb(Fields()); });
    // Room for a new entry first, so that nothing can fail once the text is in.
    if (!present && !Guarded([&] { Reserve(f.strings, 1); })) return false;
    const auto offset = static_cast<uint32_t>(f.text.size());
    if (!Guarded([&] { Reserve(f.text, length + 1); })) return false;
    f.text.resize(offset + length + 1);
    std::copy_n(text, length, f.text.data() + offset);
    at = LowerBound(f.strings, id);
    if (present) {
      f.unused += at->length + 1;
      *at = {id, offset, length};
    } else {
      f.strings.insert(at, {id, offset, length});
    }
  }
  m_nStringCapacity = std::max(m_nStringCapacity, id + 1);
  return true;
}

int64_t FieldRecord::GetNumber(int id) const {
  const auto at = LowerBound(m_fields.numbers, id);
  return at != m_fields.numbers.end() && at->id == id ? at->value : kAbsent;
}

const FieldRecord::StringField* FieldRecord::FindString(int id) const {
  const auto at = LowerBound(m_fields.strings, id);
  return at != m_fields.strings.end() && at->id == id ? &*at : nullptr;
}

const char16_t* FieldRecord::GetString(int id) const {
  const StringField* s = FindString(id);
  return s ? m_fields.text.data() + s->offset : nullptr;
}

int FieldRecord::GetStringLength(int id) const {
  const StringField* s = FindString(id);
  return s ? static_cast<int>(s->length) : 0;
}

std::u16string_view FieldRecord::GetStringView(int id) const {
  const StringField* s = FindString(id);
  return s ? std::u16string_view(m_fields.text.data() + s->offset, s->length) : std::u16string_view();
}

std::size_t FieldRecord::MemoryUsage() const {
  return m_fields.numbers.capacity() * sizeof(NumberField) + m_fields.strings.capacity() * sizeof(StringField) +
         m_fields.text.capacity() * sizeof(char16_t);
}

bool FieldRecord::CopyFrom(const FieldRecord& other) {
  if (!Guarded([&] { Absorb(other.m_fields); })) return false;
  m_nStringCapacity = std::max(m_nStringCapacity, other.m_nStringCapacity);
  m_nNumberCapacity = std::max(m_nNumberCapacity, other.m_nNumberCapacity);
  return true;
}

// Merges id-sorted fields into this record's, theirs winning; a kAbsent number removes the
// field. The result is built apart, in exactly the memory it needs, and replaces the old
// fields only once complete.
void FieldRecord::Absorb(const Fields& in) {
  const Fields& mine = m_fields;
  std::size_t numbers = 0, strings = 0, units = 0;
  ForUnion(mine.numbers, in.numbers, [&](const NumberField& n, bool) { numbers += n.value != kAbsent; });
  ForUnion(mine.strings, in.strings, [&](const StringField& s, bool) {
    ++strings;
    units += s.length + 1;
  });
  if (units > kMaxTextUnits) throw std::bad_alloc();
  Fields out;
  out.numbers.reserve(numbers);
  out.strings.reserve(strings);
  out.text.resize(units);
  ForUnion(mine.numbers, in.numbers, [&](const NumberField& n, bool) {
    if (n.value != kAbsent) out.numbers.push_back(n);
  });
  uint32_t offset = 0;
  ForUnion(mine.strings, in.strings, [&](const StringField& s, bool theirs) {
    std::copy_n((theirs ? in : mine).text.data() + s.offset, s.length + 1, out.text.data() + offset);
    out.strings.push_back({s.id, offset, s.length});
    offset += s.length + 1;
  });
  m_fields = std::move(out);
}

// Decoding collects the fields here first, so that the record then takes them in exactly
// the memory they need. It keeps its memory for the next record decoded on the thread, up to
// the size of a large record.
FieldRecord::Fields& FieldRecord::DecodeScratch() {
  return ThreadObject<Fields>([] { return Fields(); });
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
  int pos = start + 1;
  const int end = start + last;
  Fields& scratch = DecodeScratch();
  scratch.numbers.clear();
  scratch.strings.clear();
  Guarded([&] {
    // A string never decodes to more units than its field has bytes, terminator included.
    scratch.text.resize(std::max(scratch.text.size(), static_cast<std::size_t>(last)));
    pos = ReadFields(bytes, pos, end, m_nRecordType < 128, scratch);
    SortKeepingLast(scratch.numbers);
    SortKeepingLast(scratch.strings);
    Absorb(scratch);
    if (!scratch.numbers.empty()) m_nNumberCapacity = std::max(m_nNumberCapacity, scratch.numbers.back().id + 1);
    if (!scratch.strings.empty()) m_nStringCapacity = std::max(m_nStringCapacity, scratch.strings.back().id + 1);
  });
  if (length > kScratchKeptBytes) scratch = Fields();
  m_nDecodePosition = pos;
  return m_nRecordType;
}

// Reads fields from pos into out, never at or beyond end (the check character), and returns
// where it stopped: end, or the tag of a malformed field.
int FieldRecord::ReadFields(const unsigned char* p, int pos, int end, bool utf8, Fields& out) {
  uint32_t units = 0;
  for (int at = pos; at < end; at = pos) {
    const unsigned tag = p[pos++];
    if (tag < 32) return at;

    // Field number in base 224 after the tags that carry a page in their low bits.
    auto paged = [&](unsigned page) { return static_cast<int>(page) * kDigitBase + (p[pos++] - kDigitOffset); };

    if (tag < 144) {
      int id = static_cast<int>(tag) - 32;
      if (tag >= 128) {
        if (pos >= end) return at;
        id = paged(tag - 128);
        if (id < 0) return at;
      }
      // At most the check character, which is never a whole value: the length check stops there.
      const unsigned valueTag = p[pos];
      const ValueClass c = kValueClassOf[valueTag];
      if (end - pos < c.bytes) return at;
      // Unsigned arithmetic: out-of-range digits and the widest class wrap as signed 64-bit
      // two's complement would, without undefined behaviour.
      uint64_t magnitude = valueTag - c.base;
      for (int i = 1; i < c.bytes; ++i)
        magnitude = magnitude * kDigitBase + static_cast<uint64_t>(static_cast<int64_t>(p[pos + i]) - kDigitOffset);
      pos += c.bytes;
      out.numbers.push_back({id, c.absent ? kAbsent : static_cast<int64_t>(c.negative ? 0 - magnitude : magnitude)});
      continue;
    }

    int id, length;
    if (tag >= 192) {
      id = static_cast<int>(tag - 192) / 16;
      length = static_cast<int>(tag % 16);
    } else if (tag >= 160) {  // its length byte may be the check character: too long then
      id = static_cast<int>(tag) - 160;
      length = p[pos++] - kDigitOffset;
    } else {
      if (end - pos < 3) return at;
      id = paged(tag - 144);
      const int high = p[pos++] - kDigitOffset;
      length = high * kDigitBase + (p[pos++] - kDigitOffset);
    }
    if (id < 0 || length < 0 || end - pos < length) return at;

    if (length > 0) {
      char16_t* text = out.text.data() + units;
      std::size_t n = static_cast<std::size_t>(length);
      if (utf8)
        n = WidenUtf8(p + pos, n, text);
      else
        std::copy_n(p + pos, length, text);
      text[n] = u'\0';
      out.strings.push_back({id, units, static_cast<uint32_t>(n)});
      units += static_cast<uint32_t>(n) + 1;
    }
    pos += length;
  }
  return pos;
}

namespace {

template <class Ch>
int DecodeRecordTextOf(unsigned char* out, int capacity, const Ch* text, int textLength) {
  if (!out || textLength < 0 || (!text && textLength > 0)) return -1;
  int n = textLength;
  if (n > 0 && text[n - 1] == Ch('\n')) --n;
  if (n > 0 && text[n - 1] == Ch('\r')) --n;
  const int groups = n / kGroupChars, rest = n % kGroupChars;
  const int64_t size = int64_t{kDataChars} * groups + (rest >= 2 ? rest - 1 : rest);
  if (size + 1 > capacity) return -1;

  // Groups of data characters and a carrier whose bit k is data byte k's top bit. Only the
  // low 8 bits of a value matter: bytes are taken modulo 256.
  unsigned char* o = out;
  const Ch* s = text;
  for (int g = 0; g < groups; ++g, s += kGroupChars, o += kDataChars) {
    unsigned char v[kGroupChars];
    std::transform(s, s + kGroupChars, v, [](Ch c) { return static_cast<unsigned char>(SevenBit(CharCode(c))); });
    const auto& bits = kCarrierBits[v[kDataChars] & 127u];
    std::transform(bits.begin(), bits.end(), v, o, std::bit_xor<>());
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
