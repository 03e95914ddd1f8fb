#include "platform/guid.h"

namespace kdx {
namespace {

constexpr char16_t kHex[] = u"0123456789ABCDEF";

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void AppendHex(std::u16string& out, uint64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) out += kHex[(value >> (4 * i)) & 0xF];
}

}  // namespace

std::u16string GUID::ToString() const {
  std::u16string s = u"{";
  AppendHex(s, Data1, 8);
  s += u'-';
  AppendHex(s, Data2, 4);
  s += u'-';
  AppendHex(s, Data3, 4);
  s += u'-';
  for (int i = 0; i < 8; ++i) {
    if (i == 2) s += u'-';
    AppendHex(s, Data4[i], 2);
  }
  s += u'}';
  return s;
}

std::optional<GUID> GUID::Parse(std::u16string_view t) {
  if (t.size() == 38) {
    if (t.front() != u'{' || t.back() != u'}') return std::nullopt;
    t = t.substr(1, 36);
  }
  if (t.size() != 36) return std::nullopt;
  uint8_t bytes[16];
  std::size_t n = 0;
  for (std::size_t i = 0; i < t.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (t[i] != u'-') return std::nullopt;
      ++i;
      continue;
    }
    int hi = HexValue(t[i]), lo = HexValue(t[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[n++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  GUID g;
  g.Data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

std::size_t GuidHash::operator()(const GUID& g) const noexcept {
  const uint64_t wide = g.Data1 ^ (uint64_t{g.Data2} << 32) ^ (uint64_t{g.Data3} << 48);
  // A 32-bit size_t keeps both halves rather than dropping Data2 and Data3.
  std::size_t h = static_cast<std::size_t>(sizeof(std::size_t) < sizeof wide ? wide ^ (wide >> 32) : wide);
  for (uint8_t b : g.Data4) h = h * 131 + b;
  return h;
}

}  // namespace kdx
