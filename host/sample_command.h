// kdx-host encode-sample (not listed in --help): remakes host/samples/reply.txt and the fuzz
// seed corpora from the record encoder.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kdx::host {

// The sample reply body: statement rows, one line that is not a record line, one bad line.
std::string SampleReply();

// encode-sample                  writes the sample reply body to standard output
// encode-sample --fuzz-seeds DIR writes seed inputs to DIR/fuzz_decode and DIR/fuzz_record_text
int EncodeSampleCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kdx::host
