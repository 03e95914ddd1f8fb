// 24-bit Windows BMP files written from 32-bit pixels. Written by hand: gdk-pixbuf's writer
// leaves the row padding uninitialised, so its files differ from run to run. Header-only, so
// the skin generator shares it without linking the control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kdx {

// Layout, all little-endian:
//   file header (14 bytes): "BM", file size u32, reserved u32 = 0, pixel data offset u32 = 54;
//   BITMAPINFOHEADER (40 bytes): size u32 = 40, width i32, height i32 (positive: bottom-up rows),
//     planes u16 = 1, bits per pixel u16 = 24, compression u32 = 0 (BI_RGB), image size u32,
//     x and y pixels per metre i32 = 2835 (72 dpi), colours used u32 = 0, important u32 = 0;
//   rows from the bottom up, pixels as blue, green, red, each row zero-padded to 4 bytes.
// `pixels` holds rows of `stride` bytes, each pixel a native 32-bit word 0xXXRRGGBB.
inline std::string EncodeBmp24(int width, int height, const unsigned char* pixels, int stride) {
  const std::uint32_t row = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
  const std::uint32_t image = row * static_cast<std::uint32_t>(height);
  std::string bytes;
  bytes.reserve(54 + image);
  auto put = [&bytes](std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  bytes += "BM";
  put(54 + image, 4), put(0, 4), put(54, 4);
  put(40, 4), put(static_cast<std::uint32_t>(width), 4), put(static_cast<std::uint32_t>(height), 4);
  put(1, 2), put(24, 2), put(0, 4), put(image, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  for (int y = height - 1; y >= 0; --y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < width; ++x) put(in[x] & 0xFFFFFF, 3);
    bytes.append(row - static_cast<std::uint32_t>(width) * 3, '\0');
  }
  return bytes;
}

}  // namespace kdx
