// <windows.h> for the Win32 backend, without the macros that would rewrite our own names
// (kdx::S_OK, MessageWindow::PostMessage, kdx::RGB...). Include it before any platform header;
// the Windows functions stay reachable by their W names or through the global namespace.
#pragma once

#include <windows.h>

#undef BI_RGB
#undef CLASS_E_CLASSNOTAVAILABLE
#undef CLASS_E_NOAGGREGATION
#undef CO_E_CLASSSTRING
#undef CO_E_DLLNOTFOUND
#undef CO_E_ERRORINDLL
#undef CO_E_OBJNOTREG
#undef CP_ACP
#undef CP_UTF8
#undef CreateWindow
#undef DISP_E_ARRAYISLOCKED
#undef DISP_E_BADINDEX
#undef DISP_E_BADPARAMCOUNT
#undef DISP_E_BADVARTYPE
#undef DISP_E_EXCEPTION
#undef DISP_E_MEMBERNOTFOUND
#undef DISP_E_OVERFLOW
#undef DISP_E_PARAMNOTFOUND
#undef DISP_E_TYPEMISMATCH
#undef DISP_E_UNKNOWNINTERFACE
#undef DISP_E_UNKNOWNNAME
#undef DT_CALCRECT
#undef DT_CENTER
#undef DT_LEFT
#undef DT_SINGLELINE
#undef DT_VCENTER
#undef DT_WORDBREAK
#undef DrawText
#undef E_ACCESSDENIED
#undef E_FAIL
#undef E_INVALIDARG
#undef E_NOINTERFACE
#undef E_NOTIMPL
#undef E_OUTOFMEMORY
#undef E_POINTER
#undef E_UNEXPECTED
#undef FAILED
#undef FALSE
#undef GetModuleFileName
#undef IDCANCEL
#undef IDNO
#undef IDOK
#undef IDYES
#undef MB_ICONERROR
#undef MB_ICONINFORMATION
#undef MB_ICONQUESTION
#undef MB_ICONWARNING
#undef MB_OK
#undef MB_OKCANCEL
#undef MB_TOPMOST
#undef MB_YESNO
#undef MessageBox
#undef OPAQUE
#undef PS_SOLID
#undef PostMessage
#undef REGDB_E_CLASSNOTREG
#undef REGDB_E_READREGDB
#undef REGDB_E_WRITEREGDB
#undef RGB
#undef SUCCEEDED
#undef S_FALSE
#undef S_OK
#undef SendMessage
#undef TRANSPARENT
#undef TRUE
#undef WM_USER

#include <string>

namespace kdx::win32 {

// The full path of a module's file (the executable's for null), however long; empty when it
// cannot be had.
std::u16string ModuleFileName(HMODULE module);
// The host executable's full path.
std::u16string ExecutablePath();

// Keeps the module holding this code loaded for the life of the process. Called before
// anything outlives a call into the module: per-thread callbacks (fiber-local slots) and
// window procedures would otherwise run in an unloaded DLL at thread exit.
void PinThisModule();

// The module (DLL or program) holding this code, which owns its window classes.
HINSTANCE ThisModule();
// Registers a window class of this module (with the arrow cursor when asked); true when the
// class is registered, now or before.
bool RegisterWindowClass(const wchar_t* name, WNDPROC procedure, bool arrowCursor = false);

}  // namespace kdx::win32
