// HTTP GET in the shape of the WinINet calls the control makes (InternetOpenW, InternetOpenUrlW,
// InternetReadFile, InternetSetCookieW, InternetCloseHandle): on libcurl (http_client.cpp), and
// on WinINet itself in the Windows build (win32/http_client.cpp). Handles are owned
// objects, so closing is a reset and an early return cannot leak one.
//
// What matches WinINet: the user agent; a named proxy list ("http=http://host:port", entries
// separated by ';' or blanks, "scheme=" optional, port 80 when none is given) or the system's
// settings, which are libcurl's environment variables (http_proxy, https_proxy, no_proxy);
// redirects followed; no cache (there is none; INTERNET_FLAG_RELOAD sends "Cache-Control:
// no-cache" and "Pragma: no-cache"); any HTTP status opens, so an error page is a body; reads
// of up to the caller's size, ending with a successful read of 0 bytes.
//
// Where it differs (the libcurl backend, unless said otherwise):
// - On WinINet: the URL, proxy list and cookie are checked as below before WinINet sees them;
//   the system's settings are the system's proxy settings; the flags go through as WinINet's
//   own (certificate dates ignored included); a 300 response is not followed; cookies live in
//   WinINet's jar, scoped by host and path rather than by the exact URL. Time-outs: connect
//   and stall are WinINet's connect and receive time-outs (Wine ignores the receive one), the
//   deadline is checked between reads. A body shorter than its Content-Length fails the read.
// - Time-outs: a connect time-out, a stall time-out (no byte for that long) and an overall
//   deadline (open plus the whole body) end a request, so a server that never answers, or
//   trickles, cannot hold a thread forever. Process-wide, settable.
// - INTERNET_FLAG_IGNORE_CERT_DATE_INVALID has no libcurl counterpart: libcurl can only turn
//   certificate checking off as a whole, which would accept any certificate. Certificates
//   stay fully checked, so an expired one fails InternetOpenUrlW.
// - A read fails when the transfer did not end cleanly: the connection cut before a chunked
//   body's end or before Content-Length bytes, a stall, the deadline, or memory running out.
//   A body delimited only by the connection's close cannot be told from a cut one and reads
//   as complete, as on WinINet.
// - Only http and https URLs open. Non-ASCII characters go out as their ANSI code page bytes,
//   percent-encoded, as WinINet converts a URL (a character the code page lacks becomes
//   "%3F"); a URL does not open when the code page has no converter. Blanks, control
//   characters, DEL and '#' are percent-encoded too: '#' would end the request there.
// - Cookies live in one process-wide jar keyed by the URL as it is sent.
// - Nothing here throws into libcurl: a callback that cannot store what arrived fails the
//   transfer instead.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cstring.h"
#include "platform/types.h"

namespace kdx {

inline constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
inline constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
inline constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

inline constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
inline constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
inline constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;

struct HttpTimeouts {
  std::chrono::milliseconds connect{30000};
  std::chrono::milliseconds stall{120000};
  std::chrono::milliseconds total{300000};  // open plus the whole body
};

// For every request opened afterwards, on any thread. Values below 1 ms become 1 ms. The
// two-value form leaves the overall deadline as it is.
void SetHttpTimeouts(const HttpTimeouts& timeouts);
void SetHttpTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds stall);
HttpTimeouts GetHttpTimeouts();

// The proxy a WinINet proxy list names for URLs of one scheme ("http", "https"), as
// "http://host:port"; an empty text when no entry applies (the request goes direct);
// nullopt when the list is malformed (an entry without a host or with a bad port).
std::optional<std::string> ProxyForScheme(std::u16string_view proxyList, std::string_view scheme);

class InternetSession {
 public:
  InternetSession(std::string agent, DWORD accessType, std::u16string proxyList);

  const std::string& Agent() const { return agent_; }
  DWORD AccessType() const { return accessType_; }
  const std::u16string& ProxyList() const { return proxyList_; }

 private:
  std::string agent_;
  DWORD accessType_;
  std::u16string proxyList_;
};

// One opened URL: the response headers have arrived; the body is read with InternetReadFile.
class InternetFile {
 public:
  ~InternetFile();
  InternetFile(const InternetFile&) = delete;
  InternetFile& operator=(const InternetFile&) = delete;

  // The response's status code (HttpQueryInfo with HTTP_QUERY_STATUS_CODE).
  long StatusCode() const;

  struct Transfer;

 private:
  explicit InternetFile(std::unique_ptr<Transfer> transfer);
  friend std::unique_ptr<InternetFile> InternetOpenUrlW(const InternetSession*, TextView, TextView, DWORD);
  friend BOOL InternetReadFile(InternetFile*, void*, DWORD, DWORD*);
  std::unique_ptr<Transfer> transfer_;
};

// Null when the HTTP library cannot start, or for INTERNET_OPEN_TYPE_PROXY with an empty or
// malformed proxy list. A named proxy serves every host: bypass lists are not supported (the
// control names none), so a session with one does not open.
std::unique_ptr<InternetSession> InternetOpenW(TextView agent, DWORD accessType, TextView proxyList,
                                               TextView proxyBypass, DWORD flags);

// Sends the GET and waits for the response headers. Null when the URL is not http/https,
// malformed or not convertible, or the server cannot be reached, answers nothing, stalls or
// passes the deadline. headers: extra request header lines separated by "\r\n" (may be empty).
std::unique_ptr<InternetFile> InternetOpenUrlW(const InternetSession* session, TextView url, TextView headers,
                                               DWORD flags);

// Copies up to bytesToRead body bytes, waiting for them. TRUE with *bytesRead 0 means the
// body is complete; FALSE means the transfer failed (cut, short, stalled, past the deadline).
BOOL InternetReadFile(InternetFile* file, void* buffer, DWORD bytesToRead, DWORD* bytesRead);

template <class Handle>
BOOL InternetCloseHandle(std::unique_ptr<Handle>& handle) {
  if (!handle) return FALSE;
  handle.reset();
  return TRUE;
}

// Remembers a cookie for requests to exactly this URL, thread-safely. cookieName null or
// empty: cookieData is "name=value", attributes after ';' dropped. FALSE for a URL that would
// not open (not http/https with a host, not convertible), or a cookie that is empty or holds
// a control character or DEL.
BOOL InternetSetCookieW(TextView url, const char16_t* cookieName, TextView cookieData);

}  // namespace kdx
