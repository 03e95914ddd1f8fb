// The overseas product-list parser over arbitrary bodies: blocks, pieces and entries must never
// be read or written outside their bytes, and every entry it keeps is a usable one.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "queries/ObProductTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  for (const kdx::ObProductEntry& e : kdx::ParseObProductList(body)) {
    if (e.key.IsEmpty() || e.exchange.IsEmpty() || e.productCode.IsEmpty()) std::abort();
  }
  return 0;
}
