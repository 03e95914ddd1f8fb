// A plain HTTP client and strict readers of reply bodies and product lists, for tests of
// the simulated web services.
#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimWebServices.h"

namespace kdx::test {

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
};
// GET without proxy or connection reuse; `timeout` bounds the whole transfer.
Fetched Fetch(const std::string& url, std::chrono::milliseconds timeout = std::chrono::seconds(30));

struct ReplyRecord {
  char kind;
  FieldRecord record;
};
// Record lines ('d', kind '0' or '1', 'D', ' ') whose RecordText fits `capacity` bytes and
// whose check character holds, in order; lines after a kind-'1' line are kept too.
std::vector<ReplyRecord> ReadReply(std::string_view body, int capacity = 8192);

// The product-list reader's rules: 'H' opens a block (flushing an open one), 'D' pieces
// decoded into 4096 bytes are appended when they fit, 'E' processes the block; entries
// with key, product code and exchange are kept, in order.
std::vector<sim::ObProduct> ReadProductList(std::string_view body);

::testing::AssertionResult SameFields(const FieldRecord& expected, const FieldRecord& actual);

}  // namespace kdx::test
