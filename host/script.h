// The host's script language: one command per line, run against a session.
//
//   # comment                        echo TEXT
//   login                            log in with the session's profile, wait for LoginReady
//   call METHOD [ARG...]             call a method of the control by name, print the result
//   expect METHOD [ARG...] == VALUE  call it and compare the result as printed
//   wait EVENT [ARG...] [within MS]  wait for that event (its first arguments as given)
//   answer ORDER|CANCEL              how the next confirmation dialog is answered
//   fill ORDERNO QUANTITY PRICE      the simulated broker fills an order
//   advance STEPS                    the simulated market moves (--market)
//   price PRODUCT PRICE              sets a product's last price ("2330", "TXF 202612")
//   show orders|fills|tables|statement N
//   sleep MS                         keep handling the control's messages
//
// Arguments: "quoted text" (\" and \\ inside), whole numbers (32-bit), decimals, or bare words
// (texts).
#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "host/session.h"

namespace kdx::host {

// Runs one line (blank lines and comments do nothing); the reason it failed, or nothing.
std::optional<std::string> RunLine(HostSession& session, const std::string& line);

// 0 when every line ran and held; 1 at the first failure, with the line and what was seen
// written to `err`.
int RunScript(HostSession& session, std::istream& script, const std::string& name, std::ostream& err);

}  // namespace kdx::host
