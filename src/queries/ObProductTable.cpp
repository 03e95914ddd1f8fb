// The overseas product mapping table, loaded once per log-in.
#include "queries/ObProductTable.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/message_box.h"
#include "queries/HttpQuery.h"
#include "record/field_record.h"

namespace kdx {
namespace {

// The block being gathered: its declared size and the bytes filled so far.
struct Block {
  bool open = false;
  int64_t size = 0;
  std::string bytes;
};

// Entries: a 2-byte big-endian length, then that many bytes of one encoded record.
void ProcessBlock(const std::string& block, std::vector<ObProductEntry>& entries) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  std::size_t pos = 0;
  while (pos + 2 <= block.size()) {
    const std::size_t length = std::size_t{bytes[pos]} << 8 | bytes[pos + 1];
    if (pos + 2 + length > block.size()) return;
    FieldRecord record;
    if (record.Decode(bytes, static_cast<int>(pos + 2), static_cast<int>(length)) >= 0) {
      ObProductEntry entry{CString(record.GetStringView(1)), CString(record.GetStringView(2)),
                           CString(record.GetStringView(12)), CString(record.GetStringView(13))};
      if (!entry.key.IsEmpty() && !entry.productCode.IsEmpty() && !entry.exchange.IsEmpty())
        entries.push_back(std::move(entry));
    }
    pos += 2 + length;
  }
}

// The decimal size after an 'H' prefix, up to the first space; as atoi reads it, but
// saturating instead of overflowing.
int64_t DeclaredSize(std::string_view text) {
  std::size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value > (INT32_MAX - 9) / 10 ? INT32_MAX : value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

}  // namespace

std::vector<ObProductEntry> ParseObProductList(std::string_view body) {
  std::vector<ObProductEntry> entries;
  Block block;
  std::vector<unsigned char> piece;
  auto flush = [&] {
    ProcessBlock(block.bytes, entries);
    block = Block{};
  };
  ForEachReplyLine(body, [&](std::string_view line) {
    if (line.size() < 4 || line[0] != 'd' || line[3] != ' ') return true;
    const std::string_view rest = line.substr(4);
    switch (line[2]) {
      case 'H': {
        if (block.open) flush();  // a new header ends the block before it
        const int64_t size = DeclaredSize(rest);
        if (size > 0) block = Block{true, size, {}};
        break;
      }
      case 'D': {
        // Sized from the line: a piece is as long as its block allows.
        if (piece.size() < rest.size() + 1) piece.resize(rest.size() + 1);
        const int n = DecodeRecordText(piece.data(), static_cast<int>(piece.size()), rest.data(),
                                       static_cast<int>(rest.size()));
        if (n < 1 || !block.open) break;
        if (static_cast<int64_t>(block.bytes.size()) + n <= block.size) {
          block.bytes.append(reinterpret_cast<const char*>(piece.data()), static_cast<std::size_t>(n));
        } else {
          // Pieces after a lost one would be read from the middle of an entry: the block ends
          // with what it holds, and its later pieces find no block.
          flush();
        }
        break;
      }
      case 'E':
        if (block.open && !block.bytes.empty()) flush();
        break;
      default:
        break;
    }
    return true;
  });
  return entries;  // a block left open has no end and is not used
}

// A value of the log-in section; the exact key first, then any case, as INI keys are read.
CString CORV_Velmar_KDXCtrl::ProfileValue(const char16_t* key, const CString& defaultValue) const {
  auto it = m_mapProfile.find(CString(key));
  if (it == m_mapProfile.end()) {
    it = std::find_if(m_mapProfile.begin(), m_mapProfile.end(),
                      [key](const auto& entry) { return entry.first.CompareNoCase(key) == 0; });
  }
  return it == m_mapProfile.end() || it->second.IsEmpty() ? defaultValue : it->second;
}

void CORV_Velmar_KDXCtrl::LoadObProductTable() {
  const CString url =
      FormatString(u"http://%s/ob-bin/obstkid.cgi?ARG=*,%s", ProfileValue(kObProductHostKey, m_strQueryAddress),
                   ProfileValue(kObBrokerCodeKey, m_strBroker));
  long result = 0;
  const std::unique_ptr<char[]> body = FetchUrlSync(url, CString(), CString(), result);
  if (!body) {
    if (result == kFetchTooLarge) {
      const CFireGuard guard(*this);
      FireLog(0, FormatString(u"Product list over the limit of %s bytes,URL=%s",
                              CString::FromUtf8(std::to_string(GetReplyLimits().maxBodyBytes)), url));
      if (!guard.ControlAlive()) return;
    }
    MessageBoxW(m_wnd.Handle(), u"無法取得國外商品代表對應表，\r\n請重新嘗試登入，否則將無法正確下單!", u"錯誤",
                MB_OK | MB_ICONERROR | MB_TOPMOST);
    return;
  }
  for (const ObProductEntry& entry :
       ParseObProductList(std::string_view(body.get(), static_cast<std::size_t>(result)))) {
    m_mapObProductCode[entry.key] = entry.productCode;
    m_mapObExchange[entry.key] = entry.exchange;
    m_mapObDisplaySymbol[entry.key] = entry.displaySymbol;
    m_mapObCodeToKey[entry.productCode] = entry.key;
  }
}

}  // namespace kdx
