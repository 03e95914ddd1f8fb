// HTTP requests: starting a worker per request, the worker itself, and the synchronous fetch.
#include "queries/HttpQuery.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "control/KdxCtrl.h"
#include "platform/http_client.h"

namespace kdx {
namespace {

// Reload from the origin server, write no cache, accept certificates with bad dates.
constexpr DWORD kOpenUrlFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;

std::unique_ptr<InternetSession> OpenSession(const CString& proxyList) {
  if (proxyList.IsEmpty()) return InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, u"", u"", 0);
  return InternetOpenW(kHttpUserAgent, INTERNET_OPEN_TYPE_PROXY, proxyList, u"", 0);
}

}  // namespace

CString QueryKeyOf(const CString& strName) {
  const int comma = strName.Find(u',');
  return comma >= 1 ? strName.Left(comma) : strName;
}

CString QueryRowTagOf(const CString& strName) {
  const int comma = strName.Find(u',');
  return comma >= 1 ? strName.Mid(comma + 1) : CString();
}

bool ReadHttpBody(InternetFile* file, std::string& body, std::size_t maxBytes) {
  char chunk[kHttpChunkSize];
  for (;;) {
    if (body.size() > maxBytes) return false;
    // Up to one byte past the limit: it tells an over-long body from one that fills it exactly.
    const auto ask = static_cast<DWORD>(std::min<std::size_t>(maxBytes - body.size(), kHttpChunkSize - 1) + 1);
    DWORD n = 0;
    if (!InternetReadFile(file, chunk, ask, &n)) return false;
    if (n == 0) return true;
    try {
      body.append(chunk, n);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
}

namespace {

// The fetch of one job, reporting nothing. Returns the worker's exit code; hasBody and the
// job's bodyLength and truncated are set only when there is a body to send.
DWORD FetchJob(HttpJob& job, std::string& body, bool& hasBody) {
  const std::size_t limit = GetReplyLimits().maxBodyBytes;
  const bool namedProxy = !job.proxyHost.IsEmpty() && job.proxyPort != 0;
  auto session = OpenSession(namedProxy ? FormatString(u"http=http://%s:%d", job.proxyHost, job.proxyPort) : CString());
  if (!session) return 0;
  auto file = InternetOpenUrlW(session.get(), job.url, u"", kOpenUrlFlags);
  if (!file) return 0;
  const bool complete = ReadHttpBody(file.get(), body, limit);
  // Over the limit: what fits is sent, marked cut, so the rows it holds are kept.
  const bool truncated = body.size() > limit;
  if (truncated) body.resize(limit);
  if (truncated || (complete && !body.empty())) {
    job.truncated = truncated;
    job.bodyLength = body.size();
    hasBody = true;
  }
  return 1;
}

}  // namespace

DWORD HttpQueryThread(HttpJob* pJob) {
  if (!pJob) return 0;
  HttpJob job = std::move(*pJob);
  delete pJob;
  if (job.window.IsNull()) return 0;

  std::string body;
  bool hasBody = false;
  DWORD exitCode = 0;
  try {
    exitCode = FetchJob(job, body, hasBody);
  } catch (...) {
    // Reported below as no reply: every request gets its one answer.
  }
  // Sent, not posted: the body lives only until the handler returns. A window that is gone
  // simply drops it; the buffers are freed here either way.
  job.window.SendMessage(WM_HTTPREPLY, reinterpret_cast<WPARAM>(&job),
                         reinterpret_cast<LPARAM>(hasBody ? body.data() : nullptr));
  return exitCode;
}

std::unique_ptr<char[]> FetchUrlSync(const CString& strUrl, const CString& strProxyHost, const CString& strCookie,
                                     long& nResult) {
  try {
    if (!strCookie.IsEmpty() && !InternetSetCookieW(strUrl, nullptr, strCookie)) {
      nResult = kFetchCookieRefused;
      return nullptr;
    }
    auto session = OpenSession(strProxyHost.IsEmpty() ? CString() : FormatString(u"http=http://%s", strProxyHost));
    if (!session) {
      nResult = kFetchNoSession;
      return nullptr;
    }
    auto file = InternetOpenUrlW(session.get(), strUrl, u"", kOpenUrlFlags);
    if (!file || file->StatusCode() >= 400) {
      nResult = kFetchUrlNotOpened;
      return nullptr;
    }
    const std::size_t limit = GetReplyLimits().maxBodyBytes;
    std::string body;
    const bool complete = ReadHttpBody(file.get(), body, limit);
    if (body.size() > limit) {
      nResult = kFetchTooLarge;
      return nullptr;
    }
    if (body.empty()) {
      nResult = kFetchNoData;
      return nullptr;
    }
    std::unique_ptr<char[]> out(complete ? new (std::nothrow) char[body.size() + 1] : nullptr);
    if (!out) {
      nResult = kFetchIncomplete;
      return nullptr;
    }
    std::memcpy(out.get(), body.data(), body.size());
    out[body.size()] = '\0';
    nResult = static_cast<long>(body.size());
    return out;
  } catch (...) {
    // Only memory running out gets here; the log-in goes on without the list.
    nResult = kFetchIncomplete;
    return nullptr;
  }
}

}  // namespace kdx
