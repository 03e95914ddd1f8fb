// Table rows for the CString tests: a result computed in the table and the text it must be.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>

#include "platform/cstring.h"

namespace kdx {

inline void PrintTo(const CString& s, std::ostream* os) { *os << '"' << s.ToUtf8() << '"'; }

namespace test {

struct Row {
  const char* name;
  CString got;
  const char16_t* expected;
};

inline void Check(std::initializer_list<Row> rows) {
  for (const auto& r : rows) EXPECT_EQ(r.got, CString(r.expected)) << r.name;
}

}  // namespace test
}  // namespace kdx
