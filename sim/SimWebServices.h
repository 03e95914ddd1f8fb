// The broker's web services, simulated: an HTTP server on 127.0.0.1 (an ephemeral port)
// serving the two statement services, the overseas product list and named queries in the
// reply-line format, with switches to misbehave for fault tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "record/field_record.h"

namespace kdx::sim {

// Misbehaviour of a path. NoAnswer: the request is accepted and held without a reply until
// shutdown (or its delay), then the connection is closed with no byte sent. CutMidBody:
// Content-Length is declared and the connection closes after about half the body.
// EmptyBody: 200 with no body. KindOneLine: a kind-'1' error line after the first line
// (the data lines after it stay). GarbageLines: lines a reader must skip, mixed among the
// valid ones (for the product list, lines its reader must drop). Stall: nothing is sent
// for the delay, then the normal answer; at shutdown, no answer. Huge: the body's lines
// repeated to at least kHugeLines lines (an empty body stays empty). NotFound: 404.
enum class Fault { None, NoAnswer, CutMidBody, EmptyBody, KindOneLine, GarbageLines, Stall, Huge, NotFound };

inline constexpr std::size_t kHugeLines = 50000;

// The service paths.
inline constexpr std::string_view kRightsPath = "/get_rights.jsp";
inline constexpr std::string_view kPerformancePath = "/get_perf.jsp";
inline constexpr std::string_view kProductListPath = "/ob-bin/obstkid.cgi";

// Code and text of the kind-'1' line that KindOneLine inserts.
inline constexpr std::u16string_view kServerErrorCode = u"9999";
inline constexpr std::u16string_view kServerErrorText = u"查詢失敗";

struct ObProduct {
  std::u16string key, displaySymbol, exchange, productCode;
  friend bool operator==(const ObProduct&, const ObProduct&) = default;
};

struct ServedRequest {
  std::string path;
  std::multimap<std::string, std::string> params;  // URL-decoded
  std::string target;                              // path?query as received
};

using RowSource = std::function<std::vector<FieldRecord>(const ServedRequest&)>;

// Each connection is served on a thread of its own and closed after one request. Row
// sources run on those threads, possibly several at once.
class SimWebServices {
 public:
  // Starts listening at once (after one request to itself, not logged, which builds the
  // HTTP library's tables before any concurrency); Port() is 0 when no port could be bound.
  SimWebServices();
  // Wakes held and stalled requests, stops accepting and joins every server thread.
  ~SimWebServices();
  SimWebServices(const SimWebServices&) = delete;
  SimWebServices& operator=(const SimWebServices&) = delete;

  uint16_t Port() const;
  std::string Address() const;                           // "127.0.0.1:<port>"
  std::string Url(std::string_view pathAndQuery) const;  // "http://127.0.0.1:<port>" + pathAndQuery

  // The product list; entries packed into blocks of entriesPerBlock (at least 1), cut into
  // 'D' pieces of at most pieceBytes bytes (1 to 4095, so a piece fits a reader's buffer).
  void SetProducts(std::vector<ObProduct> products, int entriesPerBlock = 50, int pieceBytes = 300);
  // Statement rows as a function of the request (branch_id, cust_id, group_id, broker_id);
  // an empty function restores the default rows.
  void SetRights(RowSource rows);
  void SetPerformance(RowSource rows);
  // A named query served at `path`, rows from the request; an empty function removes it.
  // Paths are absolute; a missing leading "/" is added here and in the calls below.
  void SetQuery(std::string path, RowSource rows);
  // A body for a path, bytes as given; takes precedence over every other source.
  void SetRawBody(std::string path, std::string body);
  // Misbehaviour of a path ("" = every path without a fault of its own; Fault::None for a
  // path exempts it). `delay`: how long Stall waits and NoAnswer holds (0 = until shutdown).
  void SetFault(std::string path, Fault fault, std::chrono::milliseconds delay = std::chrono::milliseconds(0));

  std::vector<ServedRequest> Requests() const;  // in arrival order
  std::size_t RequestCount() const;
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Reply body of records: one kind-'0' line each, joined with "\r\n" (no final line end).
// A record the encoder refuses gives no line.
std::string ReplyBody(const std::vector<FieldRecord>& records);
// Product-list body: per block a 'H' line with its byte count, its 'D' pieces and an 'E'
// line. Entries whose record cannot be encoded, or is longer than 65535 bytes, are left out.
std::string ProductListBody(const std::vector<ObProduct>& products, int entriesPerBlock, int pieceBytes);

// What the services answer when nothing else was set.
std::vector<FieldRecord> DefaultRightsRows(const ServedRequest& request);
std::vector<FieldRecord> DefaultPerformanceRows(const ServedRequest& request);
std::vector<ObProduct> DefaultProducts();

// The first value of a query parameter, or "".
std::string ParamValue(const ServedRequest& request, const std::string& name);

}  // namespace kdx::sim
