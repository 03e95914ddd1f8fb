#include "sim/record_encoder.h"

#include <algorithm>

#include "platform/codepage.h"

namespace kdx::sim {
namespace {

constexpr int kDigitBase = 224;

// Value classes, smallest first: the first one whose largest magnitude fits is used.
struct ValueClass {
  uint64_t largest;
  int base;
  int bytes;
};
constexpr ValueClass kPositive[] = {
    {63, 32, 1}, {3583, 96, 2}, {802815, 112, 3}, {40282095615ULL, 128, 5}, {9223372036854775807ULL, 144, 9}};
constexpr ValueClass kNegative[] = {
    {31, 160, 1}, {3583, 192, 2}, {802815, 208, 3}, {40282095615ULL, 224, 5}, {9223372036854775807ULL, 240, 9}};

constexpr char kAbsentValueTag = 0;

void AppendDigits(std::string& out, uint64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    uint64_t d = value;
    for (int k = 0; k < i; ++k) d /= kDigitBase;
    out += static_cast<char>(d % kDigitBase + 32);
  }
}

void AppendValue(std::string& out, int64_t value) {
  if (value == kAbsent) {
    out += kAbsentValueTag;
    return;
  }
  const bool negative = value < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  for (const auto& c : negative ? kNegative : kPositive) {
    if (magnitude > c.largest) continue;
    uint64_t rest = 1;
    for (int i = 1; i < c.bytes; ++i) rest *= kDigitBase;
    out += static_cast<char>(c.base + magnitude / rest);
    AppendDigits(out, magnitude % rest, c.bytes - 1);
    return;
  }
}

// RecordText character of a 7-bit value; DecodeRecordText maps it back.
char16_t TextChar(unsigned value) { return static_cast<char16_t>(value < 95 ? value + 32 : value + 96); }

}  // namespace

bool AppendNumberField(std::string& out, int id, int64_t value) {
  if (id < 0 || id > kMaxWireFieldNumber) return false;
  if (id < 96) {
    out += static_cast<char>(32 + id);
  } else {
    out += static_cast<char>(128 + id / kDigitBase);
    out += static_cast<char>(32 + id % kDigitBase);
  }
  AppendValue(out, value);
  return true;
}

bool AppendStringField(std::string& out, int id, std::string_view data) {
  if (id < 0 || id > kMaxWireFieldNumber || data.size() > static_cast<std::size_t>(kMaxWireStringBytes)) return false;
  const int length = static_cast<int>(data.size());
  if (id < 4 && length < 16) {
    out += static_cast<char>(192 + id * 16 + length);
  } else if (id < 32 && length < 224) {
    out += static_cast<char>(160 + id);
    out += static_cast<char>(32 + length);
  } else {
    out += static_cast<char>(144 + id / kDigitBase);
    out += static_cast<char>(32 + id % kDigitBase);
    out += static_cast<char>(32 + length / kDigitBase);
    out += static_cast<char>(32 + length % kDigitBase);
  }
  out += data;
  return true;
}

unsigned char CheckCharacter(std::string_view fields) {
  unsigned sum = 0;
  for (unsigned char b : fields) sum += b;
  const unsigned v = sum & 127u;
  return static_cast<unsigned char>(v < 64 ? v + 48 : v + 112);
}

std::string FrameRecord(int recordType, std::string_view fields) {
  std::string out;
  out.reserve(fields.size() + 2);
  out += static_cast<char>(recordType);
  out += fields;
  out += static_cast<char>(CheckCharacter(fields));
  return out;
}

std::string EncodeRecord(const FieldRecord& record, const EncodeOptions& options) {
  int type = options.recordType;
  if (type < 0) type = std::max(record.GetRecordType(), 0);
  if (type > 255) return {};

  std::string fields;
  for (int id = 0; id < record.GetNumberCapacity(); ++id) {
    const int64_t value = record.GetNumber(id);
    if (value != kAbsent && !AppendNumberField(fields, id, value)) return {};
  }
  for (int id : options.absentNumbers)
    if (!AppendNumberField(fields, id, kAbsent)) return {};
  for (int id = 0; id < record.GetStringCapacity(); ++id) {
    const std::u16string_view text = record.GetStringView(id);
    if (text.empty()) continue;
    std::string data;
    if (type < 128) {
      data = Utf16ToUtf8(text);
    } else {
      for (char16_t unit : text) {
        if (unit > 255) return {};
        data += static_cast<char>(unit);
      }
    }
    if (!AppendStringField(fields, id, data)) return {};
  }
  return FrameRecord(type, fields);
}

std::u16string EncodeRecordText(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 7 * 8 + 8);
  for (std::size_t i = 0; i < bytes.size(); i += 7) {
    const std::size_t n = std::min<std::size_t>(7, bytes.size() - i);
    unsigned carrier = 0;
    for (std::size_t k = 0; k < n; ++k) {
      const auto b = static_cast<unsigned char>(bytes[i + k]);
      text += TextChar(b & 127u);
      carrier |= static_cast<unsigned>(b >> 7) << k;
    }
    text += TextChar(carrier);
  }
  return text;
}

std::string ReplyLine(char kind, std::string_view recordBytes) {
  std::string line = "d";
  line += kind;
  line += "D ";
  // Reply bodies carry one byte per character; RecordText characters stay below 256.
  for (char16_t c : EncodeRecordText(recordBytes)) line += static_cast<char>(c);
  return line;
}

}  // namespace kdx::sim
