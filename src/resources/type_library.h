// The control's type library: the interface description text the module carries as its
// "TYPELIB" resource 1, and a reader for that description. Registration reads the library
// from the module itself, as a type-library registrar does, so what is registered is what
// the module actually carries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/types.h"

namespace kdx {

inline constexpr HRESULT TYPE_E_INVDATAREAD = static_cast<HRESULT>(0x80028018);
inline constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4A);

// Library flags as the registry's FLAGS value holds them.
inline constexpr WORD LIBFLAG_FRESTRICTED = 1;
inline constexpr WORD LIBFLAG_FCONTROL = 2;
inline constexpr WORD LIBFLAG_FHIDDEN = 4;

struct TypeLibInterface {
  IID iid;
  std::u16string name;
  std::u16string help;
  bool hidden = false;
  DispatchTable methods;  // methods only, without handlers
};

struct TypeLibClass {
  CLSID clsid;
  std::u16string name;
  std::u16string help;
  bool control = false;
  std::u16string defaultInterface;  // names of dispinterfaces declared in the same library
  std::u16string defaultSource;
};

struct TypeLibrary {
  GUID libid;
  WORD majorVersion = 0;
  WORD minorVersion = 0;
  DWORD lcid = 0;
  std::u16string name;
  std::u16string help;
  std::u16string helpFile;
  WORD flags = 0;  // LIBFLAG_*
  std::vector<TypeLibInterface> dispinterfaces;
  std::vector<TypeLibClass> coclasses;

  const TypeLibInterface* FindInterface(std::u16string_view name) const;
};

// The library's text, exactly as the interface description source has it.
std::u16string_view LoadTypeLibResource();

// Reads an interface description of one library holding dispinterfaces (methods only) and
// coclasses. Anything it does not model (properties, plain interfaces, unknown attributes
// or types) is refused rather than skipped, so nothing is silently left out of what gets
// registered. TYPE_E_INVDATAREAD on malformed text, with "line N: ..." in *error when given;
// E_POINTER for a null out.
HRESULT ParseTypeLibrary(std::u16string_view idl, TypeLibrary* out, std::u16string* error = nullptr);

// ParseTypeLibrary of the module's own resource; TYPE_E_CANTLOADLIBRARY when it is empty.
HRESULT LoadTypeLibrary(TypeLibrary* out);

}  // namespace kdx
