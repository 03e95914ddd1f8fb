#include "platform/scratch_dir_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

namespace kdx::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::path(testing::TempDir()) / "kdx-XXXXXX").string();
  if (!mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp " << pattern;
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace kdx::test
