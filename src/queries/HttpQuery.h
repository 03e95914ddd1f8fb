// HTTP requests of statements and queries: the job a worker thread runs, the reply modes, the
// synchronous fetch of the product list, and the reply-line walker they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/cstring.h"
#include "platform/message_window.h"
#include "platform/types.h"

namespace kdx {

class InternetFile;

inline constexpr int kMaxUrlLength = 1023;
inline constexpr int kMaxProxyHostLength = 30;
inline constexpr int kMaxRequestNameLength = 64;
inline constexpr DWORD kHttpChunkSize = 4096;
inline constexpr const char16_t* kHttpUserAgent = u"Microsoft Internet Explorer";

// Request kinds.
inline constexpr int32_t kInfoRights = 2;
inline constexpr int32_t kInfoPerformance = 6;
inline constexpr int32_t kInfoQuery = 100;

// DispatchReply modes.
inline constexpr int ReplyRow = 1;
inline constexpr int ReplyDone = 2;
inline constexpr int ReplyFailed = -1;

// One request, built on the user-interface thread and handed to its worker.
struct HttpJob {
  CString url;  // at most kMaxUrlLength characters
  int32_t infoType = 0;
  int32_t sequence = 0;
  WindowHandle window;  // the reply goes there
  CString proxyHost;    // at most kMaxProxyHostLength characters
  int32_t proxyPort = 0;
  CString name;  // at most kMaxRequestNameLength characters
  // The URL as the Log lines show it: secrets masked, control characters escaped.
  CString logUrl;
  // Set by the worker on its own copy: the body's length, since a body may hold NUL bytes,
  // and whether the body was cut at the reply limit (its last line may then be partial).
  std::size_t bodyLength = 0;
  bool truncated = false;
  // The control's log-in when the request started: a reply for an earlier one adds no rows.
  uint32_t loginEpoch = 0;
};

// How much one reply may bring: its body bytes (the worker stops reading there) and its data
// rows (the handler stops storing there). Past either the request ends as cut, with a Log line;
// what was stored stays. Process-wide, for requests started afterwards; generous by default.
struct ReplyLimits {
  std::size_t maxBodyBytes = std::size_t{128} << 20;
  std::size_t maxRows = 1'000'000;
};
void SetReplyLimits(const ReplyLimits& limits);
ReplyLimits GetReplyLimits();

// The worker's thread procedure: owns and frees the heap job at once. Fetches the URL and
// sends WM_HTTPREPLY, exactly once whatever happens (exceptions included), to the job's
// window with its own job copy (wParam) and the body (lParam, NUL-terminated; 0 when there
// is none). A body past GetReplyLimits().maxBodyBytes (read once per request) is sent cut
// at the limit with job.truncated set. Returns 1 after a finished transfer was reported, 0
// when it had no job or window, or could not open the session or the URL.
DWORD HttpQueryThread(HttpJob* job);

// Reads a body in chunks of at most kHttpChunkSize bytes. True when the transfer completed
// (a successful read of 0 bytes) within maxBytes. Once the body passes maxBytes it stops,
// holding maxBytes + 1 bytes, and returns false. body receives the bytes gathered, also on
// false (a failure to grow it included); callers discard an incomplete body.
bool ReadHttpBody(InternetFile* file, std::string& body, std::size_t maxBytes = SIZE_MAX);

// FetchUrlSync result codes.
inline constexpr long kFetchNoSession = 2;
inline constexpr long kFetchUrlNotOpened = 3;
inline constexpr long kFetchNoData = 6;
inline constexpr long kFetchIncomplete = 7;
inline constexpr long kFetchCookieRefused = 8;
inline constexpr long kFetchTooLarge = 9;  // the body passed ReplyLimits::maxBodyBytes

// Blocks until the transfer ends. On success returns the NUL-terminated body and sets result
// to its length; on failure returns null with one of the codes above. The proxy host (port
// 80) and the cookie may be empty. An HTTP error status (400 and above) counts as a URL not
// opened: its error page is no product list. Throws nothing.
std::unique_ptr<char[]> FetchUrlSync(const CString& strUrl, const CString& strProxyHost, const CString& strCookie,
                                     long& nResult);

// The next request sequence of a statement or query; wraps instead of overflowing.
int32_t NextSequence(int32_t sequence);

// A value the control puts into a URL: '&', '#', '%', '+', blank and control characters
// percent-encoded, so that it cannot end or alter a parameter. Other text stays as it is.
CString EncodeUrlValue(const CString& value);

// A query's key: its name up to the first ','; the whole name when it has none or starts
// with one. The row tag: the text after that ','; empty when the key is the whole name.
CString QueryKeyOf(const CString& strName);
CString QueryRowTagOf(const CString& strName);

// Calls onLine with each line of a body split at CR and LF; runs of them are one separator,
// so no line is empty. Stops early when onLine returns false.
template <class OnLine>
void ForEachReplyLine(std::string_view body, OnLine onLine) {
  std::size_t i = 0;
  while (i < body.size()) {
    while (i < body.size() && (body[i] == '\r' || body[i] == '\n')) ++i;
    std::size_t end = i;
    while (end < body.size() && body[end] != '\r' && body[end] != '\n') ++end;
    if (end > i && !onLine(body.substr(i, end - i))) return;
    i = end;
  }
}

}  // namespace kdx
