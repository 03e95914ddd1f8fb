// The registry's in-memory tree and its text form (described in registry.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kdx {

struct RegValue {
  std::u16string name;  // as first written
  std::u16string data;
};

struct RegKey {
  std::u16string path;                        // full path as first written
  std::map<std::u16string, RegValue> values;  // by folded name
};

// Every key, by folded full path; a key's ancestors are always present too.
using RegKeys = std::map<std::u16string, RegKey>;

// ASCII upper case: the comparison key of key paths and value names.
std::u16string FoldName(std::u16string_view name);
// Non-empty, with no empty component between backslashes.
bool IsValidKeyPath(std::u16string_view path);
// Finds or creates the key and its missing ancestors; path must be valid.
RegKey& EnsureKey(RegKeys& keys, std::u16string_view path);

std::string SerializeRegistry(const RegKeys& keys);
// nullopt for anything that is not a complete, well-formed registry file.
std::optional<RegKeys> ParseRegistry(std::string_view bytes);

}  // namespace kdx
