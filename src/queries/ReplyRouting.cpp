// Replies of HTTP requests on the user-interface thread: lines into records, records into the
// statement and query tables, and the update events.
#include <array>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/system.h"
#include "queries/HttpQuery.h"

namespace kdx {
namespace {

constexpr int kStatusField = 0;
constexpr int kCodeField = 68;
constexpr int kMessageField = 69;
constexpr int kRowTagField = 100;

constexpr int64_t kStatusComplete = 1;
constexpr int64_t kStatusFailed = 2;

FieldRecord StatusRecord(int64_t status, const char16_t* code, const CString& message) {
  FieldRecord record;
  record.SetNumber(kStatusField, status);
  record.SetString(kCodeField, code);
  record.SetString(kMessageField, message);
  return record;
}

// Row field sources: a reply string field number, or one of these.
constexpr int kEmpty = -1;
constexpr int kBroker = -2;
constexpr int kRequestName = -3;
constexpr int kSide = -4;      // reply field 4, "1" -> "B", "-1" -> "S"
constexpr int kCurrency = -5;  // "RMB"
constexpr int kMadeAt = -6;    // local time of the row
constexpr int kObSymbol = -7;  // "ORV.G_" f1 "." f2 "." f3

// clang-format off
constexpr std::array<int, 19> kRightsRow = {
    11, kBroker, kRequestName, 2, 3, kEmpty, 4, 5, kEmpty, kEmpty,  // row fields 0-9
    6, 7, 8, kEmpty, 9, kEmpty, kEmpty, kEmpty, 10,                 // row fields 10-18
};
constexpr std::array<int, 12> kPerformanceRow = {
    kBroker, 0, 2, 2, 3, kSide,                  // row fields 0-5
    6, 5, 1, kCurrency, kMadeAt, kObSymbol,      // row fields 6-11
};
// clang-format on

constexpr int64_t kPerformanceRecordKind = 4;

CString LocalTimeText() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  return FormatString(u"%d/%02d/%02d %02d:%02d:%02d", int{t.wYear}, int{t.wMonth}, int{t.wDay}, int{t.wHour},
                      int{t.wMinute}, int{t.wSecond});
}

// Fills one row from a table of sources; the special sources need the reply and the request.
CString RowFieldText(int source, const FieldRecord& reply, const CString& broker, const CString& name) {
  auto field = [&reply](int id) { return CString(reply.GetStringView(id)); };
  switch (source) {
    case kEmpty:
      return {};
    case kBroker:
      return broker;
    case kRequestName:
      return name;
    case kSide: {
      CString side = field(4);
      return side == u"1" ? CString(u"B") : side == u"-1" ? CString(u"S") : side;
    }
    case kCurrency:
      return u"RMB";
    case kMadeAt:
      return LocalTimeText();
    case kObSymbol:
      return u"ORV.G_" + field(1) + u"." + field(2) + u"." + field(3);
    default:
      return field(source);
  }
}

template <std::size_t N>
std::unique_ptr<FieldRecord> MakeRow(const std::array<int, N>& sources, const FieldRecord& reply, const CString& broker,
                                     const CString& name) {
  auto row = std::make_unique<FieldRecord>();
  for (std::size_t i = 0; i < N; ++i)
    row->SetString(static_cast<int>(i), RowFieldText(sources[i], reply, broker, name));
  return row;
}

}  // namespace

LRESULT CORV_Velmar_KDXCtrl::OnHttpReply(WPARAM wParam, LPARAM lParam) {
  const auto* job = reinterpret_cast<const HttpJob*>(wParam);
  if (!job) return 0;
  const long infoType = job->infoType;
  const long sequence = job->sequence;
  const CString& name = job->name;
  const CString url = job->logUrl.IsEmpty() ? LogUrl(job->url) : job->logUrl;
  const char* body = reinterpret_cast<const char*>(lParam);
  if (!body) {
    DispatchReply(infoType, sequence, StatusRecord(kStatusFailed, u"1001", u"伺服器沒有回應,URL=" + url), ReplyFailed,
                  name);
    return 0;
  }

  std::string_view text(body, job->bodyLength);
  // A body cut at the limit may end inside a line: that piece is not a record.
  if (job->truncated) text = text.substr(0, text.find_last_of("\r\n") + 1);
  const ReplyLimits limits = GetReplyLimits();
  std::size_t rows = 0;
  bool sawData = false, ended = false, overRows = false;
  // Rows of a request made for an earlier log-in belong to no table now; its end still reports.
  const bool current = job->loginEpoch == m_nLoginEpoch;
  std::vector<unsigned char> bytes;
  const CFireGuard guard(*this);
  ForEachReplyLine(text, [&](std::string_view line) {
    if (line.size() < 4 || line[0] != 'd' || line[2] != 'D' || line[3] != ' ') return true;
    if (line[1] != '0' && line[1] != '1') return true;
    if (line[1] == '0' && rows == limits.maxRows) {
      overRows = true;  // the rest is dropped
      return false;
    }
    // The buffer grows to the longest line: no record is too long to decode.
    if (bytes.size() < line.size()) bytes.resize(line.size());
    const int n = DecodeRecordText(bytes.data(), static_cast<int>(bytes.size()), line.data() + 4,
                                   static_cast<int>(line.size() - 4));
    if (n <= 0) return true;
    FieldRecord record;
    if (record.Decode(bytes.data(), 0, n) < 0) return true;
    if (line[1] == '0') {
      sawData = true;
      ++rows;
      if (current) DispatchReply(infoType, sequence, record, ReplyRow, name);
      return guard.ControlAlive();
    }
    // The server's own end or error: it speaks for the whole reply.
    record.SetNumber(kStatusField, kStatusFailed);
    DispatchReply(infoType, sequence, record, ReplyFailed, name);
    ended = true;
    return false;
  });
  if (ended || !guard.ControlAlive()) return 0;
  if (overRows || job->truncated) {
    // What was stored stays; the host learns the reply was cut, and where.
    const CString limit = overRows ? CString::FromUtf8(std::to_string(limits.maxRows) + " rows")
                                   : CString::FromUtf8(std::to_string(limits.maxBodyBytes) + " bytes");
    DispatchReply(infoType, sequence, StatusRecord(kStatusFailed, u"1003", u"Reply cut at the limit of " + limit + u",URL=" + url),
                  ReplyFailed, name);
  } else if (sawData) {
    DispatchReply(infoType, sequence, StatusRecord(kStatusComplete, u"1000", u"資料接收完成"), ReplyDone, name);
  } else {
    DispatchReply(infoType, sequence, StatusRecord(kStatusFailed, u"1002", u"Query資料不完整,URL=" + url), ReplyFailed,
                  name);
  }
  return 0;
}

void CORV_Velmar_KDXCtrl::DispatchReply(long nInfoType, long nSequence, const FieldRecord& record, int nMode,
                                        const CString& strName) {
  switch (nMode) {
    case ReplyRow:
      if (nInfoType == kInfoRights) {
        if (nSequence == m_nStatementSeq[2]) ParseRightsRow(record, strName);
      } else if (nInfoType == kInfoPerformance) {
        if (nSequence == m_nStatementSeq[4]) ParsePerformanceRow(record);
      } else if (nInfoType == kInfoQuery) {
        StoreQueryRow(nSequence, record, strName);
      }
      break;
    case ReplyDone:
      FireReplyUpdate(nInfoType, strName);
      break;
    case ReplyFailed: {
      // The name is the job's, which outlives the control; the host may destroy it in Log.
      const CFireGuard guard(*this);
      FireLog(0, CString(record.GetStringView(kMessageField)));
      if (guard.ControlAlive()) FireReplyUpdate(nInfoType, strName);
      break;
    }
    default:
      break;
  }
}

void CORV_Velmar_KDXCtrl::FireReplyUpdate(long nInfoType, const CString& strName) {
  if (nInfoType == kInfoQuery)
    FireQueryUpdate(QueryKeyOf(strName));
  else if (nInfoType == kInfoPerformance)
    FireStatementUpdate(4);  // the performance statement's number
  else
    FireStatementUpdate(nInfoType);
}

void CORV_Velmar_KDXCtrl::ParseRightsRow(const FieldRecord& reply, const CString& strName) {
  m_arrStatementRows[2].push_back(MakeRow(kRightsRow, reply, m_strBroker, strName));
}

void CORV_Velmar_KDXCtrl::ParsePerformanceRow(const FieldRecord& reply) {
  if (reply.GetNumber(0) != kPerformanceRecordKind) return;
  m_arrStatementRows[4].push_back(MakeRow(kPerformanceRow, reply, m_strBroker, CString()));
}

void CORV_Velmar_KDXCtrl::StoreQueryRow(long nSequence, const FieldRecord& reply, const CString& strName) {
  const CString key = QueryKeyOf(strName);
  auto seq = m_mapQuerySeq.find(key);
  if ((seq == m_mapQuerySeq.end() ? 0 : seq->second) != nSequence) return;
  auto row = std::make_unique<FieldRecord>();
  row->CopyFrom(reply);
  const CString tag = QueryRowTagOf(strName);
  if (!tag.IsEmpty()) row->SetString(kRowTagField, tag);
  m_mapQueryTables[key].push_back(std::move(row));
}

}  // namespace kdx
