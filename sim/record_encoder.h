// The record encoder: the inverse of FieldRecord::Decode and DecodeRecordText, used by the
// simulated web services and by tests. Every field is written in its shortest form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "record/field_record.h"

namespace kdx::sim {

// Highest field number and longest string (in encoded bytes) the wire form can carry.
inline constexpr int kMaxWireFieldNumber = 15 * 224 + 223;
inline constexpr int kMaxWireStringBytes = 15 * 224 + 223;

// Append one field. A value of kAbsent writes an explicit "set absent". False, appending
// nothing, for a field number or string length the wire form cannot carry.
bool AppendNumberField(std::string& out, int id, int64_t value);
bool AppendStringField(std::string& out, int id, std::string_view data);

// The check character over the field bytes, and a whole record: type byte, fields, check.
unsigned char CheckCharacter(std::string_view fields);
std::string FrameRecord(int recordType, std::string_view fields);

struct EncodeOptions {
  int recordType = -1;             // -1: the record's own type, or 0 when it has none
  std::vector<int> absentNumbers;  // numeric fields to write as explicitly absent
};

// Numbers in ascending field order, then strings (UTF-8; for record types of 128 and above
// one byte per UTF-16 unit, which must then be below 256). Empty strings are not written,
// as they would decode to absent. Returns an empty string when something cannot be encoded.
std::string EncodeRecord(const FieldRecord& record, const EncodeOptions& options = {});

// RecordText of the bytes: 7-bit values 0-94 become ' '..'~', 95-127 become U+00BF..U+00DF.
std::u16string EncodeRecordText(std::string_view bytes);

// One reply line without its line end, as the bytes of a reply body: "d", kind, "D ", the
// RecordText, one byte per character.
std::string ReplyLine(char kind, std::string_view recordBytes);

}  // namespace kdx::sim
