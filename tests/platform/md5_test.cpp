#include "platform/md5.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kdx {
namespace {

// The RFC 1321 suite, lengths around the 56-byte padding boundary and the block size
// (expected digests of n 'a's from coreutils md5sum), and a million 'a's.
TEST(Md5, KnownVectorsWholeAndInUnevenChunks) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"}, {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(1'000'000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"}};
  const std::size_t chunks[] = {1, 63, 64, 65, 7, 0, 1000, 128, 3};
  Md5 md5;
  for (const auto& [input, hex] : vectors) {
    EXPECT_EQ(Md5Hex(input), hex);
    // Final resets, so the same object digests the next message from scratch.
    for (std::size_t done = 0, i = 0; done < input.size(); done += chunks[i++ % std::size(chunks)])
      md5.Update(input.data() + done, std::min(chunks[i % std::size(chunks)], input.size() - done));
    EXPECT_EQ(md5.Final(), Md5Digest(input)) << input.size();
  }
}

}  // namespace
}  // namespace kdx
