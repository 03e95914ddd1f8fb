// kdx-host decode: shows the record lines of a reply body as the control reads them.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kdx::host {

struct DecodeSummary {
  int records = 0;    // record lines decoded and printed
  int bad = 0;        // record lines the control would skip: too long, empty, bad check
  int malformed = 0;  // decoded, but a malformed field stopped decoding early
  int other = 0;      // lines that are not record lines
  bool ended = false; // a kind-'1' line ended the reply
};

// Reads a reply body (bytes, one per character) from in; prints each record to out, each problem to err.
DecodeSummary DecodeReply(std::istream& in, std::ostream& out, std::ostream& err);

// decode [--strict] [FILE]: exit code 0 when the input was read, 1 with --strict when some
// record line was bad or malformed, 2 for a usage error or an unreadable file.
int DecodeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kdx::host
