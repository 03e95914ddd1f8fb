// The overseas product list: blocks of encoded records carried in reply lines, read into the
// entries that map the host's product keys to the broker's codes.
#pragma once

#include <string_view>
#include <vector>

#include "platform/cstring.h"

namespace kdx {

struct ObProductEntry {
  CString key;            // record string field 1
  CString displaySymbol;  // field 2, may be empty
  CString exchange;       // field 12
  CString productCode;    // field 13
};

// Profile keys of the log-in section naming the list's host ("host" or "host:port"; default:
// the QueryAddress value) and the broker code after "ARG=*," (default: the Broker value).
inline constexpr const char16_t* kObProductHostKey = u"ObProductHost";
inline constexpr const char16_t* kObBrokerCodeKey = u"ObBrokerCode";

// The usable entries of a product-list body, in order: those with a key, a product code and
// an exchange. Malformed lines, pieces that overflow their block, entries that overrun it
// or fail their check character are skipped.
std::vector<ObProductEntry> ParseObProductList(std::string_view body);

}  // namespace kdx
