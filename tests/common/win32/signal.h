// The POSIX signal names the tests mention, for their Windows build; there is no SIGPIPE to
// raise there, and the tests that raise one are filtered out.
#pragma once

#include_next <signal.h>

#ifndef SIGPIPE
#define SIGPIPE 13
#endif

using sigset_t = _sigset_t;
inline int sigismember(const sigset_t* set, int signal) { return (*set >> signal) & 1 ? 1 : 0; }
