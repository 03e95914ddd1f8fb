// The class registry, standing in for the Windows registry under HKEY_CLASSES_ROOT: where
// DllRegisterServer writes the type library, interfaces, classes and ProgIDs, and where a
// host's create-by-ProgID looks them up.
//
// Keys are backslash-separated paths, compared without regard to ASCII case; a key keeps
// the spelling it was first written with. Each key holds named text values; the empty
// name is the key's default value. Numbers (such as the misc status) are stored as their
// decimal text.
//
// Store: a small UTF-8 text file, one item per line:
//
//     kdx-registry 1                      header, always the first line
//     # text                              comment; blank lines are ignored too
//     ["CLSID\\{0A1B...}\\InprocServer32"]  a key: its full path, quoted
//     @="libkdxbridge.so"                 the key's default value
//     "ThreadingModel"="Apartment"        a named value of that key
//     end                                 always the last line; without it the file is truncated
//
// Quoted text escapes \\ and \" and writes line feed, carriage return and tab as \n, \r
// and \t, any other control character and any unpaired surrogate as \uXXXX (four hex
// digits); everything else is literal UTF-8. In a key path an escaped backslash is the
// separator (key names cannot contain one).
//
// Every change is written through at once: the whole file goes to a temporary file of a
// fresh name beside it (created exclusively, never through a link), is flushed to disk and
// renamed over the file, under an exclusive lock on "<file>.lock", so readers never see half
// a file and writers in other processes never lose each other's changes. A change that
// cannot be written fails with REGDB_E_WRITEREGDB and leaves the registry as it was. The
// file is read again whenever it changed on disk, so processes see each other's
// registrations. A corrupt or truncated file reads as empty and ReadResult() says so; the
// next successful change first copies it to "<file>.corrupt" (the same way).
//
// The registry names the libraries a create-by-ProgID loads, so only what the user alone
// controls is used: the folder must be a real folder (not a link) and the file a regular
// file (not a link), each owned by the effective user or root and writable by neither group
// nor others. Anything else reads as unreadable (REGDB_E_READREGDB, nothing from it used)
// and is never written over (REGDB_E_WRITEREGDB). Folders the registry creates are 0700.
//
// On Windows the registry is the system's own HKEY_CLASSES_ROOT, and everything above about
// the file applies to Linux only: a Registry remembers the file it is given but does not use
// it, and DefaultRegistryFile() is empty. There, too, keys, value names and data are text
// (REG_DWORD values read as decimal text, binary ones as missing); names holding a NUL are
// E_INVALIDARG, since the system would cut them short; DeleteTrees deletes key by key, so a
// failure part-way leaves the keys before it deleted; and ReadResult() tells whether the
// latest read was refused (REGDB_E_READREGDB) rather than the key or value simply missing.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/guid.h"
#include "platform/types.h"

namespace kdx {

class Registry {
 public:
  explicit Registry(std::filesystem::path file);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Points the registry at another file; its contents are read on next use.
  void SetFile(std::filesystem::path file);
  std::filesystem::path File() const;

  // Keys with an empty path component (including the empty path) are E_INVALIDARG.
  // Both create any missing keys on the way.
  HRESULT CreateKey(std::u16string_view key);
  HRESULT SetValue(std::u16string_view key, std::u16string_view valueName, std::u16string_view data);
  std::optional<std::u16string> GetValue(std::u16string_view key, std::u16string_view valueName);
  bool KeyExists(std::u16string_view key);
  // Deletes the key with all its subkeys and values; S_FALSE when there was no such key.
  HRESULT DeleteTree(std::u16string_view key);
  // The same for several keys in one change: all go, or (on failure) none; S_FALSE when none
  // of them was there.
  HRESULT DeleteTrees(const std::vector<std::u16string>& keys);
  // Names of the direct subkeys, in case-insensitive order; the empty key lists the top level.
  std::vector<std::u16string> SubKeys(std::u16string_view key);

  // S_OK, or REGDB_E_READREGDB when the file or its folder could not be read, is corrupt
  // or could be changed by others (the registry then reads as empty).
  HRESULT ReadResult();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// On Linux: $KDX_REGISTRY if set, else $XDG_DATA_HOME/kdx-bridge/registry (when absolute), else
// $HOME/.local/share/kdx-bridge/registry, else kdx-bridge-<euid>/registry in the temporary
// folder. Empty on Windows.
std::filesystem::path DefaultRegistryFile();

// The process-wide registry, on DefaultRegistryFile() unless SetRegistryFile chose another.
Registry& ClassesRoot();

// The platform key under a registered type library's locale: "win64" for a 64-bit Windows
// module, as RegisterTypeLib writes it; "win32" otherwise.
std::u16string_view TypeLibPlatformKey();
void SetRegistryFile(std::filesystem::path file);

// Reads the default value of "<progId>\CLSID" in ClassesRoot(). CO_E_CLASSSTRING when
// that is missing or not a GUID, or progId is not a plain key name; REGDB_E_READREGDB when
// the registry file is unreadable. *out is the null GUID on failure.
HRESULT CLSIDFromProgID(std::u16string_view progId, CLSID* out);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::u16string StringFromCLSID(const CLSID& clsid);

}  // namespace kdx
