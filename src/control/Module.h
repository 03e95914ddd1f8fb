// The control module: its exports (registration, class objects, unloading), the property
// page, and the registration data they share.
#pragma once

#include <string_view>

#include "platform/class_factory.h"
#include "platform/dispatch.h"
#include "platform/guid.h"
#include "platform/types.h"

namespace kdx {

extern "C" {
// Registers the type library (from the module's own "TYPELIB" resource), then both classes
// and their ProgIDs, in ClassesRoot(). S_OK; SELFREG_E_TYPELIB when the type library cannot
// be read or written; SELFREG_E_CLASS when a class cannot be written.
HRESULT DllRegisterServer();
// Removes what DllRegisterServer writes (the shared top-level keys CLSID, Interface and
// TypeLib stay, as they do on Windows); removing what is already gone succeeds. Same results.
HRESULT DllUnregisterServer();
}
// DllGetClassObject and DllCanUnloadNow are declared in platform/class_factory.h.

inline constexpr std::u16string_view kControlProgID = u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodeCtrl.1";
inline constexpr std::u16string_view kPropPageProgID = u"ORV_VELMAR.QNZP_ZAZUZO_BridgeUnicodePropPage.1";
// The automation proxy every dispinterface is marshalled by.
inline constexpr CLSID CLSID_PSDispatch{0x00020420, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr UINT IDS_ORV_VELMAR_KDX = 1;           // the control's type name
inline constexpr UINT IDS_ORV_VELMAR_KDX_PPG = 2;       // the property page's caption
inline constexpr UINT IDB_ORV_VELMAR_KDX = 1;           // toolbox bitmap
inline constexpr UINT IDD_PROPPAGE_ORV_VELMAR_KDX = 200;

// OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
// OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE
inline constexpr DWORD kControlMiscStatus = 0x20191;

// A dialog resource, as data: there is no window behind it.
struct DialogTemplate {
  UINT id;
  int width;   // dialog units
  int height;
  bool child;  // child style: shown inside the property frame's page area
  std::u16string_view staticText;
};

// The control's one property page: a placeholder with no properties and no members.
class CORV_Velmar_KDXPropPage : public DispatchObject {
 public:
  CORV_Velmar_KDXPropPage();
  static const DialogTemplate& Dialog();
};

}  // namespace kdx
