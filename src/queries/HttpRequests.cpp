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
    job->logUrl = job->url;
  } catch (const std::bad_alloc&) {
    delete job;
    return 0;
  }
  FireLog(3, FormatString(u"HTTP Query = %s", strUrl));
  // Never joined: the worker reports through the window and ends by itself.
  if (!StartWorker([job] { HttpQueryThread(job); })) {
    delete job;
    return 0;
  }
  return 1;
}

}  // namespace kdx
