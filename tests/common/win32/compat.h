// The POSIX calls the test programs use, for their Windows build, which force-includes this
// file. What has no Windows meaning (FIFOs, symbolic links, poll) fails with ENOSYS; the
// tests that need it are filtered out there.
#pragma once

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <locale.h>
#include <stdlib.h>
#include <time.h>

#include <cerrno>
#include <cstring>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name)) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

inline void tzset() { _tzset(); }

#ifndef localtime_r
inline tm* localtime_r(const time_t* seconds, tm* out) { return localtime_s(out, seconds) == 0 ? out : nullptr; }
#endif

inline char* mkdtemp(char* pattern) {
  if (_mktemp_s(pattern, std::strlen(pattern) + 1) != 0 || _mkdir(pattern) != 0) return nullptr;
  return pattern;
}

inline int mkdir(const char* path, int) { return _mkdir(path); }

inline int pipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY); }

inline int mkfifo(const char*, int) {
  errno = ENOSYS;
  return -1;
}

inline int symlink(const char*, const char*) {
  errno = ENOSYS;
  return -1;
}

// No C.UTF-8 locale on Windows: the tests that compare with the C library's case data skip.
using locale_t = _locale_t;
inline constexpr int LC_CTYPE_MASK = 1;
inline locale_t newlocale(int, const char*, locale_t) { return nullptr; }
inline void freelocale(locale_t) {}
inline wint_t towupper_l(wint_t c, locale_t) { return c; }
inline wint_t towlower_l(wint_t c, locale_t) { return c; }
