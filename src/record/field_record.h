// FieldRecord: numbered UTF-16 text fields and signed 64-bit number fields, and the decoders
// of its compact wire form and of RecordText, the printable form carried in reply lines.
#pragma once

#include <cstdint>
#include <string_view>

namespace kdx {

// Marks an absent number; GetNumber returns it for fields never set.
inline constexpr int64_t kAbsent = INT64_MIN;

class FieldRecord {
 public:
  static constexpr int kDefaultStringCapacity = 16;
  static constexpr int kDefaultNumberCapacity = 96;
  // Local callers may address fields up to this number; the wire addresses at most 3583.
  // Anything higher is refused rather than growing the arrays to match.
  static constexpr int kMaxFieldNumber = 65535;

  FieldRecord();
  // A capacity that is negative or above kMaxFieldNumber + 1 becomes 0, as a failed
  // allocation does.
  FieldRecord(int stringCapacity, int numberCapacity);
  FieldRecord(const FieldRecord& other);
  FieldRecord(FieldRecord&& other) noexcept;
  // Deep copy with the copy constructor's rules; a moved-from record is empty with no slots.
  FieldRecord& operator=(const FieldRecord& other);
  FieldRecord& operator=(FieldRecord&& other) noexcept;
  virtual ~FieldRecord();

  // Both grow the capacity to exactly id + 1 when needed. False for a negative id, an id
  // above kMaxFieldNumber, or a failed allocation (the record is then unchanged).
  bool SetNumber(int id, int64_t value);
  // Copies length units and a terminator. A null text with length 0 stores an empty string.
  bool SetString(int id, const char16_t* text, int length);
  bool SetString(int id, std::u16string_view text);

  int64_t GetNumber(int id) const;        // kAbsent when unset or outside the capacity
  const char16_t* GetString(int id) const;  // null when unset or outside the capacity
  int GetStringLength(int id) const;      // 0 when unset
  std::u16string_view GetStringView(int id) const;

  // Grows to at least the other's capacities, then copies the other's present strings and
  // non-absent numbers; fields only this record has stay. The record type is not copied.
  // False when growing or a string copy failed (the other fields are still copied).
  bool CopyFrom(const FieldRecord& other);

  // Decodes the encoded record in bytes[start, start + length). Returns the record type
  // (0-255), or -1 when the check character does not match or the range is unusable
  // (null bytes, negative start, length below 2, start + length overflowing); then only
  // the record type changes, to -1.
  // A malformed field (tag below 32, a field number or length that comes out negative,
  // or a field that would reach the check character) stops decoding there: earlier fields
  // stay set and the record type is returned. GetDecodePosition tells where it stopped.
  // Records of type 128 and above carry their string data unconverted: each byte becomes
  // one UTF-16 unit (so the raw bytes stay recoverable), within the field's own bytes.
  int Decode(const unsigned char* bytes, int start, int length);

  int GetRecordType() const { return m_nRecordType; }
  int GetStringCapacity() const { return m_nStringCapacity; }
  int GetNumberCapacity() const { return m_nNumberCapacity; }
  // Where the last Decode that passed its check stopped reading fields, as an index into
  // its bytes: start + length - 1 (the check character) when every field was read.
  int GetDecodePosition() const { return m_nDecodePosition; }

  friend void swap(FieldRecord& a, FieldRecord& b) noexcept;

 private:
  bool GrowNumbers(int capacity);
  bool GrowStrings(int capacity);
  bool ReserveString(int id);
  void StoreString(int id, char16_t* buffer, uint32_t length);
  bool DecodeField(int end);
  void ReleaseAll();

  int32_t m_nStringCapacity = 0;
  int32_t m_nNumberCapacity = 0;
  int64_t* m_pNumbers = nullptr;
  uint32_t* m_pStringLengths = nullptr;
  char16_t** m_ppStrings = nullptr;
  const unsigned char* m_pDecodeBuffer = nullptr;
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
