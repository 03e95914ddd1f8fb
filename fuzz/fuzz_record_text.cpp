// DecodeRecordText over arbitrary UTF-16 text and capacities, held to a character-by-character
// reading of the rules, then Decode of what it wrote. Input: one mode byte, two capacity bytes,
// then the text as UTF-16LE. The output buffer is exactly `capacity` bytes on the heap, so a
// write past the capacity is caught.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "record/field_record.h"

namespace {

// The bytes the text stands for, kept independent of the decoder as an oracle: groups of up
// to 7 data characters and a carrier, a lone last character being both.
std::string Expected(const char16_t* text, int n) {
  if (n > 0 && text[n - 1] == u'\n') --n;
  if (n > 0 && text[n - 1] == u'\r') --n;
  auto value = [](char16_t c) { return c < 129 ? c - 32 : c - 96; };
  std::string bytes;
  for (int group = 0; group < n; group += 8) {
    const int carrier = std::min(group + 7, n - 1);
    for (int k = group; k < carrier || k == group; ++k)
      bytes += static_cast<char>((value(text[k]) + 128 * ((value(text[carrier]) >> (k - group)) & 1)) % 256);
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int n = static_cast<int>((size - 3) / 2);
  auto text = std::make_unique<char16_t[]>(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    text[i] = static_cast<char16_t>(data[3 + 2 * i] | (data[4 + 2 * i] << 8));

  const std::string bytes = Expected(text.get(), n);
  const int expected = static_cast<int>(bytes.size());
  const int raw = data[1] | (data[2] << 8);
  // Mostly capacities around the exact fit, where an off-by-one would show.
  const int capacity = data[0] & 1 ? raw : expected + 1 + (raw % 5) - 2;
  if (capacity <= 0) {
    unsigned char none;
    if (kdx::DecodeRecordText(&none, capacity, text.get(), n) != -1) std::abort();
    return 0;
  }
  auto out = std::make_unique<unsigned char[]>(static_cast<size_t>(capacity));
  const int result = kdx::DecodeRecordText(out.get(), capacity, text.get(), n);
  if (result != (expected + 1 <= capacity ? expected : -1)) std::abort();
  if (result < 0) return 0;
  if (out[result] != 0 || bytes.compare(0, bytes.size(), reinterpret_cast<const char*>(out.get()), bytes.size())) std::abort();

  kdx::FieldRecord record;
  const int type = record.Decode(out.get(), 0, result);
  if (type < -1 || type > 255) std::abort();
  for (int id = 0; id < record.GetStringCapacity(); ++id) {
    const char16_t* s = record.GetString(id);
    if (s && s[record.GetStringLength(id)] != u'\0') std::abort();
  }
  return 0;
}
