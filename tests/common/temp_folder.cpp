// TempFolder apart from the rest of host_util.cpp: it needs only the platform layer, so test
// programs built without the control (the Windows build's) can use it.
#include "common/host_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/codepage.h"

namespace kdx::test {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::path(testing::TempDir()) / "kdx-XXXXXX").string();
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp " << pattern;
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::u16string TempFolder::Write(const std::string& name, std::string_view text) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << text;
  return MultiByteToWide(CP_UTF8, file.string());
}

}  // namespace kdx::test
