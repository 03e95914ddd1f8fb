// 24-bit PNG files written from 32-bit pixels, for platforms whose drawing library has no PNG
// writer. The image data goes in zlib's stored (uncompressed) blocks: larger files, but no
// compressor to carry, and every decoder reads them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kdx {

// `pixels` holds rows of `stride` bytes, each pixel a native 32-bit word 0xXXRRGGBB.
inline std::string EncodePng24(int width, int height, const unsigned char* pixels, int stride) {
  auto be32 = [](std::string& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
  };
  auto chunk = [&be32](std::string& out, const char* type, const std::string& data) {
    be32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.append(type, 4).append(data);
    std::uint32_t crc = 0xFFFFFFFFu;  // CRC-32 of the type and data
    for (std::size_t i = start; i < out.size(); ++i) {
      crc ^= static_cast<unsigned char>(out[i]);
      for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    be32(out, ~crc);
  };
  // The raw image: each row a filter byte (0, none) and red, green, blue per pixel.
  std::string raw;
  raw.reserve(static_cast<std::size_t>(height) * (1 + 3 * static_cast<std::size_t>(width)));
  for (int y = 0; y < height; ++y) {
    raw += '\0';
    const auto* row = reinterpret_cast<const std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < width; ++x) {
      for (int shift = 16; shift >= 0; shift -= 8) raw += static_cast<char>((row[x] >> shift) & 0xFF);
    }
  }
  std::string zlib("\x78\x01", 2);
  std::uint32_t a = 1, b = 0;  // Adler-32 of the raw image
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
    zlib += static_cast<char>(at + n == raw.size() ? 1 : 0);
    for (std::uint32_t v : {static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(~n & 0xFFFF)}) {
      zlib += static_cast<char>(v & 0xFF), zlib += static_cast<char>((v >> 8) & 0xFF);
    }
    zlib.append(raw, at, n);
    for (std::size_t i = at; i < at + n; ++i) {
      a = (a + static_cast<unsigned char>(raw[i])) % 65521;
      b = (b + a) % 65521;
    }
    at += n;
  } while (at < raw.size());
  be32(zlib, (b << 16) | a);
  std::string header;
  be32(header, static_cast<std::uint32_t>(width));
  be32(header, static_cast<std::uint32_t>(height));
  header.append("\x08\x02\x00\x00\x00", 5);  // 8 bits a sample, RGB, deflate, no filtering, no interlace
  std::string png("\x89PNG\r\n\x1a\n", 8);
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", zlib);
  chunk(png, "IEND", std::string());
  return png;
}

}  // namespace kdx
