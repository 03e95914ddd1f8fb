// Case mapping and white space for CString, from the Unicode character database
// (simple mappings only: one UTF-16 unit in, one out).
#include "platform/cstring.h"

#include <algorithm>
#include <iterator>

namespace kdx {
namespace {

// Characters first..last, taking every `step`-th one from first, map to ch + delta.
struct CaseRange {
  char16_t first;
  char16_t last;
  char16_t step;
  int delta;
};

constexpr CaseRange kToLower[] = {
    {0x0041, 0x005A, 1, 32},  {0x00C0, 0x00D6, 1, 32},  {0x00D8, 0x00DE, 1, 32},
    {0x0100, 0x012E, 2, 1},   {0x0130, 0x0130, 1, -199}, {0x0132, 0x0136, 2, 1},
    {0x0139, 0x0147, 2, 1},   {0x014A, 0x0176, 2, 1},   {0x0178, 0x0178, 1, -121},
    {0x0179, 0x017D, 2, 1},   {0x0370, 0x0372, 2, 1},   {0x0376, 0x0376, 1, 1},
    {0x037F, 0x037F, 1, 116}, {0x0386, 0x0386, 1, 38},  {0x0388, 0x038A, 1, 37},
    {0x038C, 0x038C, 1, 64},  {0x038E, 0x038F, 1, 63},  {0x0391, 0x03A1, 1, 32},
    {0x03A3, 0x03AB, 1, 32},  {0x03CF, 0x03CF, 1, 8},   {0x03D8, 0x03EE, 2, 1},
    {0x03F4, 0x03F4, 1, -60}, {0x03F7, 0x03F7, 1, 1},   {0x03F9, 0x03F9, 1, -7},
    {0x03FA, 0x03FA, 1, 1},   {0x03FD, 0x03FF, 1, -130}, {0x0400, 0x040F, 1, 80},
    {0x0410, 0x042F, 1, 32},  {0x0460, 0x0480, 2, 1},   {0x048A, 0x04BE, 2, 1},
    {0x04C0, 0x04C0, 1, 15},  {0x04C1, 0x04CD, 2, 1},   {0x04D0, 0x052E, 2, 1},
    {0xFF21, 0xFF3A, 1, 32},
};

constexpr CaseRange kToUpper[] = {
    {0x0061, 0x007A, 1, -32},  {0x00B5, 0x00B5, 1, 743},  {0x00E0, 0x00F6, 1, -32},
    {0x00F8, 0x00FE, 1, -32},  {0x00FF, 0x00FF, 1, 121},  {0x0101, 0x012F, 2, -1},
    {0x0131, 0x0131, 1, -232}, {0x0133, 0x0137, 2, -1},   {0x013A, 0x0148, 2, -1},
    {0x014B, 0x0177, 2, -1},   {0x017A, 0x017E, 2, -1},   {0x017F, 0x017F, 1, -300},
    {0x0371, 0x0373, 2, -1},   {0x0377, 0x0377, 1, -1},   {0x037B, 0x037D, 1, 130},
    {0x03AC, 0x03AC, 1, -38},  {0x03AD, 0x03AF, 1, -37},  {0x03B1, 0x03C1, 1, -32},
    {0x03C2, 0x03C2, 1, -31},  {0x03C3, 0x03CB, 1, -32},  {0x03CC, 0x03CC, 1, -64},
    {0x03CD, 0x03CE, 1, -63},  {0x03D0, 0x03D0, 1, -62},  {0x03D1, 0x03D1, 1, -57},
    {0x03D5, 0x03D5, 1, -47},  {0x03D6, 0x03D6, 1, -54},  {0x03D7, 0x03D7, 1, -8},
    {0x03D9, 0x03EF, 2, -1},   {0x03F0, 0x03F0, 1, -86},  {0x03F1, 0x03F1, 1, -80},
    {0x03F2, 0x03F2, 1, 7},    {0x03F3, 0x03F3, 1, -116}, {0x03F5, 0x03F5, 1, -96},
    {0x03F8, 0x03F8, 1, -1},   {0x03FB, 0x03FB, 1, -1},   {0x0430, 0x044F, 1, -32},
    {0x0450, 0x045F, 1, -80},  {0x0461, 0x0481, 2, -1},   {0x048B, 0x04BF, 2, -1},
    {0x04C2, 0x04CE, 2, -1},   {0x04CF, 0x04CF, 1, -15},  {0x04D1, 0x052F, 2, -1},
    {0xFF41, 0xFF5A, 1, -32},
};

template <std::size_t N>
char16_t MapCase(const CaseRange (&table)[N], char16_t ch) {
  // Ranges are sorted and disjoint: the candidate is the last one starting at or before ch.
  auto it = std::upper_bound(std::begin(table), std::end(table), ch,
                             [](char16_t c, const CaseRange& r) { return c < r.first; });
  if (it == std::begin(table)) return ch;
  const CaseRange& r = *std::prev(it);
  if (ch > r.last || (ch - r.first) % r.step != 0) return ch;
  return static_cast<char16_t>(ch + r.delta);
}

// Unicode White_Space within the BMP; iswspace, which MFC's Trim uses in a Unicode
// build, reports these on Windows.
struct SpaceRange {
  char16_t first;
  char16_t last;
};

constexpr SpaceRange kSpaces[] = {
    {0x0009, 0x000D}, {0x0020, 0x0020}, {0x0085, 0x0085}, {0x00A0, 0x00A0},
    {0x1680, 0x1680}, {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F},
    {0x205F, 0x205F}, {0x3000, 0x3000},
};

}  // namespace

char16_t ToUpperChar(char16_t ch) {
  if (ch < 0x80) return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
  return MapCase(kToUpper, ch);
}

char16_t ToLowerChar(char16_t ch) {
  if (ch < 0x80) return ch >= u'A' && ch <= u'Z' ? static_cast<char16_t>(ch + 32) : ch;
  return MapCase(kToLower, ch);
}

bool IsSpaceChar(char16_t ch) {
  if (ch == u' ') return true;
  if (ch < 0x09) return false;
  for (const auto& r : kSpaces)
    if (ch >= r.first && ch <= r.last) return true;
  return false;
}

}  // namespace kdx
