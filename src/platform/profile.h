// Private-profile (INI) reading with the results the Windows functions of the same names give.
//
// File
//  - PrivateProfile reads and parses a file once, for a batch of look-ups (a log-in); the
//    functions below load it afresh on every call, so a read is never stale. No shared state
//    other than the profile directory, which a mutex guards.
//  - A name containing '/' or '\' is a path as given ('\' taken as '/'); a bare name is looked up
//    in ProfileDirectory(). A null name means "win.ini", as on Windows.
//  - Only a regular file is read, never one larger than PrivateProfile::kMaxBytes; a FIFO or a
//    device is refused without waiting for it. A file that is not read (see Status) behaves as
//    a missing file: defaults everywhere.
//  - Encoding: UTF-16LE or UTF-16BE with BOM, UTF-8 with BOM; without a BOM the ANSI code page
//    (AnsiCodePage()), as Windows reads it, even where the bytes would also be valid UTF-8
//    (short Big5 values often are). When that code page has no converter the file is not read.
//  - Lines end at CR, LF or CRLF. A NUL character also ends a line, so no returned string can
//    contain one (it would split a NUL-separated list).
//
// Lines
//  - Leading and trailing blanks (space, tab, VT and FF) are removed from every line, key and
//    value; other Unicode spaces are kept.
//  - "[name]" starts a section; the name is the text up to the last ']' with blanks around it
//    removed, text after that ']' is ignored. A line starting with '[' but lacking ']' is an
//    ordinary line. Lines before the first header belong to no section and cannot be read.
//  - Blank lines and lines starting with ';' are skipped everywhere.
//  - "key=value" splits at the first '='; the value keeps any later '='.
//  - A line without '=' is listed by GetPrivateProfileSectionW as its bare text, but it is not
//    a key: GetPrivateProfileStringW returns the default for it and the key listing omits it.
//    A line starting with '=' has an empty key: listed by the section, never found as a key.
//
// Look-up
//  - Section and key names compare case-insensitively (ASCII, Latin-1, Latin Extended-A,
//    Greek, Cyrillic, full-width Latin). Query names are used as given, not trimmed.
//  - The first section of a name wins; later sections of the same name are never read.
//    Within it, GetPrivateProfileStringW returns the first of duplicate keys.
//
// Results
//  - GetPrivateProfileStringW strips one pair of matching quotes ("..." or '...') from a value,
//    then copies at most size-1 characters and a NUL; it returns the characters copied.
//  - Missing file, section or key, or an empty key name: the default is copied with its trailing
//    spaces removed (a null default is empty); quotes in the default are kept.
//  - Lists (section names when section is null, key names when key is null, and the lines of
//    GetPrivateProfileSectionW) are NUL-separated strings ending with an extra NUL. The return
//    value counts every character but the final NUL. When the list does not fit, size-2
//    characters are copied, followed by two NULs, and size-2 is returned (0 when size < 3).
//    A key listing that finds no key copies the default instead, as Windows does; the section
//    listings never use a default.
//  - A null buffer or a size of 0 writes nothing and returns 0; sizes 1 and 2 never write past
//    the buffer.
//  - GetPrivateProfileIntW reads the value as GetPrivateProfileStringW does into 20 characters;
//    empty gives the default, anything else is parsed as RtlUnicodeStringToInteger does with
//    base 0: leading characters up to ' ' skipped, one optional sign, a lower-case "0x", "0o"
//    or "0b" prefix, digits up to the first that does not belong to the base, 32-bit wrap-around.
//    Nothing parseable gives 0. A negative value comes back as its unsigned image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kdx {

// One profile file, read and parsed once; answers as the functions below do.
class PrivateProfile {
 public:
  enum class Status {
    Ok,
    Missing,         // no such file, or an empty name
    NotRegularFile,  // a directory, FIFO, device...
    TooLarge,        // more than kMaxBytes
    Unreadable,      // open or read failed otherwise
    NoCodePage,      // no BOM, and the ANSI code page has no converter
  };
  static constexpr std::size_t kMaxBytes = std::size_t{16} << 20;

  // Resolves the name as the functions below do; never blocks on FIFOs or devices.
  static PrivateProfile Load(const char16_t* fileName);

  PrivateProfile(PrivateProfile&&) noexcept;
  PrivateProfile& operator=(PrivateProfile&&) noexcept;
  ~PrivateProfile();

  Status GetStatus() const { return status_; }
  uint32_t GetSection(const char16_t* section, char16_t* buffer, uint32_t size) const;
  uint32_t GetString(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                     char16_t* buffer, uint32_t size) const;
  uint32_t GetInt(const char16_t* section, const char16_t* key, int32_t defaultValue) const;

 private:
  struct Data;
  PrivateProfile(Status status, std::unique_ptr<const Data> data);

  Status status_;
  std::unique_ptr<const Data> data_;  // null unless Ok
};

// PrivateProfile::Load(fileName) and one look-up.
uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, uint32_t size,
                                   const char16_t* fileName);
uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                                  char16_t* buffer, uint32_t size, const char16_t* fileName);
uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t defaultValue,
                               const char16_t* fileName);

// Where a file name without a directory is looked up (Windows uses its own directory).
// Default: the directory of the running executable. Process-wide.
void SetProfileDirectory(std::u16string directory);
std::u16string ProfileDirectory();

}  // namespace kdx
