// MD5 message digest (RFC 1321), used for the password digest sent in query URLs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kdx {

class Md5 {
 public:
  Md5() { Reset(); }

  // Feeds bytes; may be called any number of times, with any chunk sizes.
  void Update(const void* data, std::size_t size);
  // Pads, returns the digest and resets the object for a new message.
  std::array<uint8_t, 16> Final();

 private:
  void Reset();
  void Transform(const uint8_t* block);

  std::array<uint32_t, 4> state_;
  uint64_t length_;  // message length in bytes so far
  std::array<uint8_t, 64> buffer_;
  std::size_t buffered_;
};

std::array<uint8_t, 16> Md5Digest(std::string_view bytes);
// 32 lower-case hexadecimal digits, two per digest byte.
std::string Md5Hex(std::string_view bytes);

}  // namespace kdx
