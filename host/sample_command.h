// kdx-host encode-sample and serve-web (not listed in --help): remaking host/samples/reply.txt
// and the fuzz seed corpora from the record encoder, and serving the simulated web services to
// clients outside this process (the Windows DLL's tests under Wine).
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

// serve-web  serves the simulated web services on 127.0.0.1 (an ephemeral port), prints
//            "serving 127.0.0.1:<port>" and serves until standard input closes
int ServeWebCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kdx::host
