#include "ui/ConfirmLayout.h"

#include "platform/codepage.h"
#include "platform/cstring.h"
#include "platform/profile.h"
#include "platform/system.h"

namespace kdx {

ConfirmLayout::ConfirmLayout(int rows) {
  const int grow = 30 * (rows < 0 ? 0 : rows);
  window = {0, 0, 299, grow + 222};
  client = {0, 0, 293, grow + 197};
  orderButton = {46, grow + 139, 82, 32};
  cancelButton = {166, grow + 139, 82, 32};
  middle = {0, 0, 293, grow + 197};
  top = {0, 0, 293, 95};
  bottom = {0, grow + 115, 293, 82};
  panel = {37, 95, 220, grow + 20};
}

const char* ConfirmTopImage(int kind) {
  switch (kind) {
    case 1: return "ConfirmBackTopCancel.bmp";
    case 2: return "ConfirmBackTopReduce.bmp";
    case 4: return "ConfirmBackTopModify.bmp";
    default: return "ConfirmBackTopOrder.bmp";
  }
}

std::string ConfirmImageDirectory(std::u16string_view imageDirectory) {
  std::string dir = Utf16ToUtf8(imageDirectory);
  // The folder comes from a Windows profile ("%ModulePath%\Images"): "\" separates folders.
  for (char& c : dir) c = c == '\\' ? '/' : c;
  if (dir.ends_with('/')) dir.pop_back();
  if (dir.ends_with('/')) dir.pop_back();
  return dir;
}

std::vector<std::string> ConfirmSkinCandidates(const std::string& name, std::u16string_view imageDirectory) {
  std::string exe = Utf16ToUtf8(ModuleDirectory());
  for (char& c : exe) c = c == '\\' ? '/' : c;
  const std::u16string ini = CString::FromUtf8(exe + "/Configs/System.ini").str();
  char16_t language[257] = {};
  GetPrivateProfileStringW(u"TEMPLATE", u"Language", u"Default", language, 257, ini.c_str());
  return {exe + "/Images/" + Utf16ToUtf8(language) + "/OrderPrompt/" + name,
          exe + "/Images/Default/OrderPrompt/" + name, exe + "/Images/OrderPrompt/" + name,
          ConfirmImageDirectory(imageDirectory) + "/" + name};
}

}  // namespace kdx
