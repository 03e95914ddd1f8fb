// FieldRecord: numbered UTF-16 text fields and signed 64-bit number fields, and the decoders
// of its compact wire form and of RecordText, the printable form carried in reply lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kdx {

// Marks an absent number; GetNumber returns it for fields never set.
inline constexpr int64_t kAbsent = INT64_MIN;

// Fields are stored sparsely: a record costs memory for the fields it holds, not for its
// capacities or its highest field number. The capacities are logical bounds only: setting a
// field at or beyond one grows it to exactly id + 1, and reading beyond one gives nothing.
class FieldRecord {
 public:
  static constexpr int kDefaultStringCapacity = 16;
  static constexpr int kDefaultNumberCapacity = 96;
  // Local callers may address fields up to this number; the wire addresses at most 3583.
  // Anything higher is refused.
  static constexpr int kMaxFieldNumber = 65535;

  FieldRecord();
  // A capacity that is negative or above kMaxFieldNumber + 1 becomes 0. Costs nothing until
  // fields are set.
  FieldRecord(int stringCapacity, int numberCapacity);
  // Same capacities, fields and record type, in exactly the memory the fields need. When that
  // memory cannot be had the copy is empty with both capacities 0.
  FieldRecord(const FieldRecord& other);
  FieldRecord(FieldRecord&& other) noexcept;
  // Deep copy with the copy constructor's rules; a moved-from record is empty with capacities 0.
  FieldRecord& operator=(const FieldRecord& other);
  FieldRecord& operator=(FieldRecord&& other) noexcept;
  virtual ~FieldRecord();

  // Both grow the capacity to exactly id + 1 when needed. False for a negative id, an id
  // above kMaxFieldNumber, or when memory runs out (the record is then unchanged).
  // Setting kAbsent removes the number.
  bool SetNumber(int id, int64_t value);
  // Copies length units and a terminator. A null text with length 0 stores an empty string.
  // The text may be one of this record's own strings.
  bool SetString(int id, const char16_t* text, int length);
  bool SetString(int id, std::u16string_view text);

  int64_t GetNumber(int id) const;          // kAbsent when unset or outside the capacity
  // Null when unset or outside the capacity. The text is NUL-terminated and stays valid until
  // the record next changes (a Set, CopyFrom, Decode or assignment) or is destroyed.
  const char16_t* GetString(int id) const;
  int GetStringLength(int id) const;        // 0 when unset
  std::u16string_view GetStringView(int id) const;  // valid as long as GetString's pointer

  // Grows to at least the other's capacities, then copies the other's present strings and
  // numbers; fields only this record has stay. The record type is not copied. False, with
  // nothing changed, when memory runs out.
  bool CopyFrom(const FieldRecord& other);

  // Decodes the encoded record in bytes[start, start + length). Returns the record type
  // (0-255), or -1 when the check character does not match or the range is unusable
  // (null bytes, negative start, length below 2, start + length overflowing); then only
  // the record type changes, to -1.
  // A malformed field (tag below 32, a field number or length that comes out negative,
  // or a field that would reach the check character) stops decoding there: earlier fields
  // stay set and the record type is returned. GetDecodePosition tells where it stopped.
  // Fields may come in any order; a field given twice keeps its last value.
  // Records of type 128 and above carry their string data unconverted: each byte becomes
  // one UTF-16 unit (so the raw bytes stay recoverable), within the field's own bytes.
  // When memory runs out the record keeps the fields it had and the type is returned.
  int Decode(const unsigned char* bytes, int start, int length);

  int GetRecordType() const { return m_nRecordType; }
  int GetStringCapacity() const { return m_nStringCapacity; }
  int GetNumberCapacity() const { return m_nNumberCapacity; }
  // Where the last Decode that passed its check stopped reading fields, as an index into
  // its bytes: start + length - 1 (the check character) when every field was read.
  int GetDecodePosition() const { return m_nDecodePosition; }
  // Heap bytes the fields hold (the sizes reserved for them; the object itself not counted).
  std::size_t MemoryUsage() const;

  friend void swap(FieldRecord& a, FieldRecord& b) noexcept;

 private:
  struct NumberField {
    int32_t id;
    int64_t value;
  };
  // A string's text sits at offset in the shared buffer, followed by its NUL.
  struct StringField {
    int32_t id;
    uint32_t offset;
    uint32_t length;
  };
  // Each list sorted by id, one entry per id (the decode scratch in wire order until sorted).
  struct Fields {
    std::vector<NumberField> numbers;
    std::vector<StringField> strings;
    std::vector<char16_t> text;
    std::size_t unused = 0;  // units of text no string refers to any more
  };

  static Fields& DecodeScratch();
  static int ReadFields(const unsigned char* bytes, int pos, int end, bool utf8, Fields& out);
  const StringField* FindString(int id) const;
  bool StoreString(int id, const char16_t* text, uint32_t length);
  void Absorb(const Fields& in);

  int32_t m_nStringCapacity = 0;
  int32_t m_nNumberCapacity = 0;
  Fields m_fields;
  int32_t m_nDecodePosition = 0;
  int32_t m_nRecordType = -1;
};

// Decodes RecordText (text, textLength UTF-16 units; one trailing "\n" and then one "\r"
// are dropped) into out and NUL-terminates it. Returns the number of bytes without the
// terminator, or -1, writing nothing, when they and the terminator exceed capacity or the
// arguments are unusable (null out, negative length, null text with a length).
int DecodeRecordText(unsigned char* out, int capacity, const char16_t* text, int textLength);
// The same over a reply body's bytes, each byte one character (0 to 255).
int DecodeRecordText(unsigned char* out, int capacity, const char* text, int textLength);

}  // namespace kdx
