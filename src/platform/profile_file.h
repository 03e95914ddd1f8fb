// The file-system side of profile reading, one per platform; the parsing in profile.cpp is
// the same everywhere.
#pragma once

#include <string>

#include "platform/profile.h"

namespace kdx::detail {

// The running executable's directory; "." when it cannot be found.
std::u16string ExecutableDirectory();

// Reads the whole file into bytes. Only a regular file of at most PrivateProfile::kMaxBytes
// is read; a FIFO or a device is refused without waiting for it. An empty path is Missing.
PrivateProfile::Status ReadProfileFile(const std::u16string& path, std::string& bytes);

}  // namespace kdx::detail
