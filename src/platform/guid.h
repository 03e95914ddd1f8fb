// GUIDs for class, interface and type-library identifiers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kdx {

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  std::array<uint8_t, 8> Data4{};

  friend bool operator==(const GUID&, const GUID&) = default;

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as the registry writes it.
  std::u16string ToString() const;
  // Accepts the form above, with or without braces, in either case; nothing else.
  static std::optional<GUID> Parse(std::u16string_view text);
};

using CLSID = GUID;
using IID = GUID;

struct GuidHash {
  std::size_t operator()(const GUID& g) const noexcept;
};

}  // namespace kdx
