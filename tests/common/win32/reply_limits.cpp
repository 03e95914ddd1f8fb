// The reply limits for the Windows build of the HTTP worker tests. Their own file also holds
// the control's request methods, which need painting, windows and the class factory, not yet
// built for Windows; with these defined here the linker leaves that file out.
#include <atomic>

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

}  // namespace kdx
