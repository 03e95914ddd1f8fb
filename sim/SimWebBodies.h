// Reply bodies of the simulated web services, as lines, and the line-level faults.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/SimWebServices.h"

namespace kdx::sim {

// One kind-'0' line per record the encoder accepts.
std::vector<std::string> ReplyLines(const std::vector<FieldRecord>& records);

// The product list as lines. With `garbage`, lines a correct reader drops are mixed in:
// pieces outside any block, an 'H' line without a positive size, a piece too large for the
// reader's buffer, a piece past its block's declared size, other kinds and non-record lines.
std::vector<std::string> ProductListLines(const std::vector<ObProduct>& products, int entriesPerBlock, int pieceBytes,
                                          bool garbage);

// The server's kind-'1' line: numeric field 0 = 2, field 68 the code, field 69 the text.
std::string ServerErrorLine();

// Lines a reply reader skips: non-record lines, other kinds, an empty record, a bad check
// character, a record too long for an 8192-byte buffer. Each of the record-bearing ones
// would add a row if a reader accepted it.
std::vector<std::string> ReplyGarbageLines();

// Garbage before, between and after the lines.
std::vector<std::string> Interleave(const std::vector<std::string>& lines, const std::vector<std::string>& garbage);
// The error line after the first line (alone when there is none).
std::vector<std::string> WithErrorLine(std::vector<std::string> lines);
// The lines repeated whole until there are at least `count`; no lines stay no lines.
std::vector<std::string> RepeatLines(const std::vector<std::string>& lines, std::size_t count);

std::vector<std::string> SplitLines(std::string_view body);
std::string JoinLines(const std::vector<std::string>& lines);

}  // namespace kdx::sim
