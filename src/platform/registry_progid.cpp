// The lookups over ClassesRoot() that every registry backend shares.
#include "platform/registry.h"

namespace kdx {

HRESULT CLSIDFromProgID(std::u16string_view progId, CLSID* out) {
  if (!out) return E_POINTER;
  *out = CLSID{};
  // A ProgID is one key name, not a path to some other key.
  if (progId.empty() || progId.find(u'\\') != std::u16string_view::npos) return CO_E_CLASSSTRING;
  Registry& root = ClassesRoot();
  auto text = root.GetValue(std::u16string(progId) + u"\\CLSID", u"");
  if (!text) return FAILED(root.ReadResult()) ? REGDB_E_READREGDB : CO_E_CLASSSTRING;
  auto clsid = GUID::Parse(*text);
  if (!clsid) return CO_E_CLASSSTRING;
  *out = *clsid;
  return S_OK;
}

std::u16string StringFromCLSID(const CLSID& clsid) { return clsid.ToString(); }

}  // namespace kdx
