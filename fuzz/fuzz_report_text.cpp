// The report conversions over arbitrary component text: note tags, uniform symbols, times,
// dates and decimal numbers. Input: one selector byte, then the text as UTF-16LE.
#include <cstdint>
#include <cstdlib>

#include "platform/system.h"
#include "reports/ReportText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  kdx::CString text;
  for (size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const int n = text.GetLength();
  const long fields[] = {14, 40, 41, 42, 43, 44, 45, 46, 47, 48};
  // A tag's value is a piece of the note, its "%$&" turned into ",".
  if (kdx::ExtractNoteTag(text, fields[data[0] % 10]).GetLength() > n) std::abort();
  // A fixed clock near a decade's end, so the year roll-over is reached.
  kdx::SetLocalTimeOverride(kdx::SYSTEMTIME{2029, 12, 1, 31, 23, 59, 59, 0});
  const kdx::CString symbol = kdx::ToUniformSymbol(text, data[0] % 5);
  if (data[0] % 5 == 0 && symbol != text) std::abort();
  if (kdx::FormatTime(text).GetLength() != n + 2 || kdx::FormatDate(text).GetLength() != n + 2) std::abort();
  kdx::ParseDecimal(text);
  return 0;
}
