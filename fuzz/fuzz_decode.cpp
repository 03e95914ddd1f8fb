// FieldRecord::Decode over arbitrary bytes, with a start and length taken from the input.
// Ranges the decoder must reject (negative, too short, overflowing) are passed as they are;
// others are folded into the buffer, which is an exact-size heap copy so that any read
// outside it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "record/field_record.h"

namespace {

int32_t ReadInt(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<int32_t>(v);
}

void CheckInvariants(const kdx::FieldRecord& r, int result, int start, int length) {
  if (result < -1 || result > 255 || result != r.GetRecordType()) std::abort();
  if (r.GetNumberCapacity() > 15 * 224 + 224 || r.GetStringCapacity() > 15 * 224 + 224) std::abort();
  if (result >= 0 && (r.GetDecodePosition() <= start || r.GetDecodePosition() > start + length - 1)) std::abort();
  for (int id = 0; id < r.GetStringCapacity(); ++id) {
    const char16_t* s = r.GetString(id);
    if (s && s[r.GetStringLength(id)] != u'\0') std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  int32_t start = ReadInt(data), length = ReadInt(data + 4);
  const int n = static_cast<int>(size - 8);
  auto bytes = std::make_unique<unsigned char[]>(static_cast<size_t>(n));
  std::memcpy(bytes.get(), data + 8, static_cast<size_t>(n));

  const bool rejectable = start < 0 || length < 2 || start > INT32_MAX - length;
  if (!rejectable) {
    start %= n + 1;
    if (n - start < 2) {  // no room for a record there: the whole buffer instead
      start = 0;
      length = n;
    } else {
      length = 2 + (length - 2) % (n - start - 1);
    }
  }
  kdx::FieldRecord record;
  const int result = record.Decode(bytes.get(), start, length);
  if (rejectable && result != -1) std::abort();
  CheckInvariants(record, result, start, length);
  return 0;
}
