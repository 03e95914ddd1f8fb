// Starting HTTP requests on the user-interface thread, and the limits every reply is held to.
#include <atomic>
#include <new>

#include "control/KdxCtrl.h"
#include "platform/worker.h"
#include "queries/HttpQuery.h"

namespace kdx {
namespace {

std::atomic<std::size_t> g_maxBodyBytes{ReplyLimits{}.maxBodyBytes};
std::atomic<std::size_t> g_maxRows{ReplyLimits{}.maxRows};

}  // namespace

void SetReplyLimits(const ReplyLimits& limits) {
  g_maxBodyBytes = limits.maxBodyBytes;
  g_maxRows = limits.maxRows;
}

ReplyLimits GetReplyLimits() { return {g_maxBodyBytes.load(), g_maxRows.load()}; }

// A query template may carry the password (EncodeType 0) or its digest: neither goes to Log.
CString CORV_Velmar_KDXCtrl::LogUrl(const CString& strUrl) const {
  CString text = strUrl;
  for (const CString* secret : {&m_strPasswordMD5, &m_strPassword})
    if (!secret->IsEmpty()) text.Replace(*secret, u"****");
  CString out;
  for (int i = 0; i < text.GetLength(); ++i) {
    const char16_t c = text[i];
    if (c < 0x20 || c == 0x7F)
      out += FormatString(u"%%%02X", static_cast<unsigned>(c));
    else
      out += c;
  }
  return out;
}

long CORV_Velmar_KDXCtrl::StartHttpQuery(long nInfoType, long nSequence, const CString& strUrl,
                                         const CString& strName) {
  auto* job = new (std::nothrow) HttpJob;
  if (!job) return 0;
  try {
    job->url = strUrl.Left(kMaxUrlLength);
    job->infoType = static_cast<int32_t>(nInfoType);
    job->sequence = static_cast<int32_t>(nSequence);
    job->window = m_wnd.Handle();
    job->name = strName.Left(kMaxRequestNameLength);
    job->proxyHost = m_strProxyAddress.Left(kMaxProxyHostLength);
    job->proxyPort = m_nProxyPort;
    job->logUrl = LogUrl(job->url);
    job->loginEpoch = m_nLoginEpoch;
  } catch (const std::bad_alloc&) {
    delete job;
    return 0;
  }
  FireLog(3, FormatString(u"HTTP Query = %s", LogUrl(strUrl)));
  // Never joined: the worker reports through the window and ends by itself.
  if (!StartWorker([job] { HttpQueryThread(job); })) {
    delete job;
    return 0;
  }
  return 1;
}

}  // namespace kdx
