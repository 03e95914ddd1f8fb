// The type library the module carries must describe exactly the control's dispatch and event
// tables and identifiers, and must be the .idl source byte for byte.
#include "resources/type_library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace kdx {
namespace {

const char kIdlFile[] = KDX_SOURCE_DIR "/src/resources/ORV_Velmar_KDX.idl";

std::string ReadFile(const char* file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string N(std::u16string_view text) { return Utf16ToUtf8(text); }
std::string N(const GUID& guid) { return Utf16ToUtf8(StringFromCLSID(guid)); }
std::string Q(std::u16string_view text) { return " \"" + N(text) + "\""; }

// What a library says, one line each, interfaces by name and members in sorted lines, so
// that libraries saying the same give the same lines.
std::vector<std::string> Describe(TypeLibrary lib) {
  std::vector<std::string> lines{"library " + N(lib.libid) + " " + N(lib.name) + " " +
                                 std::to_string(lib.majorVersion) + "." + std::to_string(lib.minorVersion) +
                                 " flags " + std::to_string(lib.flags) + Q(lib.help) + Q(lib.helpFile)};
  std::sort(lib.dispinterfaces.begin(), lib.dispinterfaces.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  for (const TypeLibInterface& itf : lib.dispinterfaces) {
    lines.push_back(N(itf.name) + " " + N(itf.iid) + (itf.hidden ? " hidden" : "") + Q(itf.help));
    std::vector<std::string> members;
    for (const DispatchMember& m : itf.methods) {
      std::string line = "  [" + std::to_string(m.id) + "] kind " + std::to_string(static_cast<int>(m.kind)) + " " +
                         std::to_string(m.result) + " " + N(m.name) + "(";
      for (const DispatchParam& p : m.params) line += std::to_string(p.vt) + " " + N(p.name) + ", ";
      members.push_back(line + ")" + Q(m.help));
    }
    std::sort(members.begin(), members.end());
    lines.insert(lines.end(), members.begin(), members.end());
  }
  for (const TypeLibClass& c : lib.coclasses)
    lines.push_back("coclass " + N(c.name) + " " + N(c.clsid) + (c.control ? " control" : "") + Q(c.help) +
                    " default " + N(c.defaultInterface) + " source " + N(c.defaultSource));
  return lines;
}

// The same as the control has it: its identifiers, names and dispatch tables.
TypeLibrary ControlsLibrary() {
  TypeLibrary lib;
  lib.libid = LIBID_ORV_VELMAR_KDXLib;
  lib.majorVersion = 1;
  lib.name = u"ORV_VELMAR_KDXLib";
  lib.help = u"ORV_Velmar_KDX ActiveX Control module";
  lib.helpFile = u"ORV_Velmar_KDX.hlp";
  lib.flags = LIBFLAG_FCONTROL;
  lib.dispinterfaces = {{DIID__DORV_Velmar_KDX, u"_DORV_Velmar_KDX", u"Dispatch interface for ORV_Velmar_KDX Control",
                         true, KdxMethodTable()},
                        {DIID__DORV_Velmar_KDXEvents, u"_DORV_Velmar_KDXEvents",
                         u"Event interface for ORV_Velmar_KDX Control", false, KdxEventTable()}};
  lib.coclasses = {{CLSID_ORV_Velmar_KDX, u"ORV_Velmar_KDX", u"ORV_Velmar_KDX Control", true, u"_DORV_Velmar_KDX",
                    u"_DORV_Velmar_KDXEvents"}};
  return lib;
}

TEST(TypeLibrary, IsTheIdlSourceAndDescribesExactlyTheControlsInterfaces) {
  const std::string text = ReadFile(kIdlFile);
  ASSERT_FALSE(text.empty()) << kIdlFile;
  EXPECT_EQ(Utf16ToUtf8(LoadTypeLibResource()), text);
  TypeLibrary lib;
  ASSERT_EQ(LoadTypeLibrary(&lib), S_OK);
  EXPECT_EQ(Describe(lib), Describe(ControlsLibrary()));
}

// Each edit of the source is a fault the check above must catch, by a parse error or a
// difference, and each reaches a different part of the check.
struct Mutation {
  const char* what;
  std::string from, to;
  friend void PrintTo(const Mutation& c, std::ostream* os) { *os << c.what; }
};

class TypeLibraryMutation : public testing::TestWithParam<Mutation> {};

TEST_P(TypeLibraryMutation, IsCaught) {
  const Mutation& m = GetParam();
  std::string text = ReadFile(kIdlFile);
  const std::size_t at = text.find(m.from);
  ASSERT_NE(at, std::string::npos) << m.from;
  text.replace(at, m.from.size(), m.to);
  TypeLibrary lib;
  if (ParseTypeLibrary(MultiByteToWide(CP_UTF8, text), &lib) == S_OK) {
    EXPECT_NE(Describe(lib), Describe(ControlsLibrary()));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edits, TypeLibraryMutation,
    testing::Values(
        Mutation{"method name", "long GetQueryCount(", "long GetQueryCounts("},
        Mutation{"result type", "BSTR GetFillOrderString", "long GetFillOrderString"},
        Mutation{"parameter type", "long nField, double dbData", "long nField, long dbData"},
        Mutation{"parameter name", "BSTR strLog", "BSTR strText"},
        Mutation{"parameter missing", "(long nInfoType, long nIndex, long nField);\n\t\t\t[id(14)]",
                 "(long nInfoType, long nIndex);\n\t\t\t[id(14)]"},
        Mutation{"method missing", "\t\t\t[id(20)] long GetQueryCount(BSTR strQueryName);\n", ""},
        Mutation{"event added", "[id(8)] void QueryUpdate(BSTR strQueryName);",
                 "[id(8)] void QueryUpdate(BSTR strQueryName);\n[id(9)] void Extra();"},
        Mutation{"method help", "[id(3)]", "[id(3), helpstring(\"status\")]"},
        Mutation{"not hidden", "ORV_Velmar_KDX Control\"), hidden ]", "ORV_Velmar_KDX Control\") ]"},
        Mutation{"interface help", "Event interface for", "Events interface for"},
        Mutation{"library help", "ActiveX Control module", "ActiveX control module"},
        Mutation{"help file", "ORV_Velmar_KDX.hlp", "ORV_Velmar.hlp"},
        Mutation{"LIBID", "2D0F66C4-", "2D0F66C5-"},
        Mutation{"dispatch IID", "C3187AB4-", "C3187AB5-"},
        Mutation{"CLSID", "4B9E9F5A-", "4B9E9F5B-"},
        Mutation{"version", "version(1.0)", "version(1.1)"},
        Mutation{"source swapped", "[default, source] dispinterface _DORV_Velmar_KDXEvents;",
                 "[default, source] dispinterface _DORV_Velmar_KDX;"},
        Mutation{"property", "properties:\n\t\tmethods:", "properties:\n\t\t\t[id(30)] long Status;\n\t\tmethods:"}),
    [](const testing::TestParamInfo<Mutation>& info) {
      std::string name;
      for (char c : std::string(info.param.what)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(TypeLibrary, ReadsTheFormsItAccepts) {
  const std::u16string_view text =
      u"/* block\n comment */ [uuid(2D0F66C4-5920-46A0-AA11-9AFCB3DDC90B), version(2.3), lcid(0x409), hidden]\n"
      u"library L { importlib(\"stdole2.tlb\");\n"
      u"  [uuid(C3187AB4-3361-4CDF-9B97-2DD3F9C1D639)] dispinterface D { properties: methods:\n"
      u"    [id(0x10)] VARIANT_BOOL A(void);\n"
      u"    [id(-4), helpstring(\"b\")] void B([in] VARIANT* v, IDispatch* d); } }";
  TypeLibrary lib;
  ASSERT_EQ(ParseTypeLibrary(text, &lib), S_OK);
  EXPECT_TRUE(lib.majorVersion == 2 && lib.minorVersion == 3 && lib.lcid == 0x409 && lib.flags == LIBFLAG_FHIDDEN);
  ASSERT_EQ(lib.dispinterfaces.size(), 1u);
  const DispatchMember* a = lib.dispinterfaces[0].methods.Find(16, MemberKind::Method);
  const DispatchMember* b = lib.dispinterfaces[0].methods.Find(-4, MemberKind::Method);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->result == VT_BOOL && a->params.empty());
  ASSERT_EQ(b->params.size(), 2u);
  EXPECT_TRUE(b->help == u"b" && b->params[0].vt == (VT_VARIANT | VT_BYREF) && b->params[1].vt == VT_DISPATCH);
}

// The reader refuses what it cannot represent instead of registering less than was written.
TEST(TypeLibrary, RefusesMalformedOrUnsupportedText) {
  const std::u16string_view lib = u"[uuid(2D0F66C4-5920-46A0-AA11-9AFCB3DDC90B)] library L {\n";
  const std::u16string_view itf = u"[uuid(C3187AB4-3361-4CDF-9B97-2DD3F9C1D639)] dispinterface D { properties: methods:\n";
  const std::u16string cases[] = {
      u"",
      u"library L { };",
      std::u16string(lib),
      std::u16string(lib) + u"}; }",
      u"[uuid(not-a-guid)] library L { };",
      std::u16string(lib) + u"[uuid(C3187AB4-3361-4CDF-9B97-2DD3F9C1D639), propget] dispinterface D "
                            u"{ properties: methods: }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] currency Price(); }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] long A(); [id(1)] long B(); }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] long A(long); }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] long A(BSTR s, ); }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] long A(BSTR s }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] void A(void x); }; };",
      std::u16string(lib) + std::u16string(itf) + u"[id(1)] long A(); }; " +
          u"[uuid(4B9E9F5A-36DF-4463-9F46-A5249E61FC7B)] coclass C { [default] dispinterface E; }; };",
      std::u16string(lib) + u"[helpstring(\"unterminated)] coclass C { }; };",
      std::u16string(lib) + u"}; trailing",
  };
  for (const std::u16string& text : cases) {
    TypeLibrary out;
    std::u16string error;
    EXPECT_EQ(ParseTypeLibrary(text, &out, &error), TYPE_E_INVDATAREAD) << N(text);
    EXPECT_TRUE(error.starts_with(u"line ")) << N(text) << " -> " << N(error);
    EXPECT_TRUE(out.name.empty() && out.dispinterfaces.empty()) << N(text);
  }
  EXPECT_EQ(ParseTypeLibrary(u"", nullptr), E_POINTER);
}

}  // namespace
}  // namespace kdx
