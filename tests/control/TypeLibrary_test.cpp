// The type library the module carries must describe exactly the control's dispatch and event
// tables and identifiers, and must be the .idl source byte for byte.
#include "resources/type_library.h"

#include <gtest/gtest.h>

#include <ostream>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "control/KdxCtrl.h"
#include "platform/codepage.h"

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

using Diffs = std::vector<std::string>;

void CompareMembers(const DispatchTable& idl, const DispatchTable& table, const std::string& itf, Diffs& diffs) {
  for (const DispatchMember& want : table) {
    const DispatchMember* got = idl.Find(want.id, MemberKind::Method);
    const std::string where = itf + " DISPID " + std::to_string(want.id) + " " + N(want.name);
    if (got == nullptr) {
      diffs.push_back(where + ": missing from the type library");
      continue;
    }
    if (got->name != want.name) diffs.push_back(where + ": named " + N(got->name));
    if (got->result != want.result) diffs.push_back(where + ": result type differs");
    if (got->help != want.help) diffs.push_back(where + ": help string differs");
    if (got->params.size() != want.params.size()) {
      diffs.push_back(where + ": parameter count differs");
      continue;
    }
    for (std::size_t i = 0; i < want.params.size(); ++i) {
      if (got->params[i].vt != want.params[i].vt) diffs.push_back(where + ": type of parameter " + std::to_string(i));
      if (got->params[i].name != want.params[i].name)
        diffs.push_back(where + ": parameter " + std::to_string(i) + " named " + N(got->params[i].name));
    }
  }
  for (const DispatchMember& extra : idl)
    if (table.Find(extra.id, MemberKind::Method) == nullptr)
      diffs.push_back(itf + " DISPID " + std::to_string(extra.id) + " " + N(extra.name) + ": not in the control's table");
}

// Everything the type library says that the control also says, both ways.
Diffs CheckAgainstControl(const TypeLibrary& lib) {
  Diffs diffs;
  auto expect = [&diffs](bool ok, const std::string& what) {
    if (!ok) diffs.push_back(what);
  };
  expect(lib.libid == LIBID_ORV_VELMAR_KDXLib, "LIBID");
  expect(lib.name == u"ORV_VELMAR_KDXLib", "library name");
  expect(lib.majorVersion == 1 && lib.minorVersion == 0, "version");
  expect(lib.help == u"ORV_Velmar_KDX ActiveX Control module", "library help string");
  expect(lib.helpFile == u"ORV_Velmar_KDX.hlp", "help file");
  expect(lib.flags == LIBFLAG_FCONTROL, "library flags");

  struct Itf {
    std::u16string_view name;
    const IID& iid;
    std::u16string_view help;
    bool hidden;
    const DispatchTable& table;
  };
  const Itf interfaces[] = {
      {u"_DORV_Velmar_KDX", DIID__DORV_Velmar_KDX, u"Dispatch interface for ORV_Velmar_KDX Control", true,
       KdxMethodTable()},
      {u"_DORV_Velmar_KDXEvents", DIID__DORV_Velmar_KDXEvents, u"Event interface for ORV_Velmar_KDX Control",
       false, KdxEventTable()},
  };
  expect(lib.dispinterfaces.size() == std::size(interfaces), "number of dispinterfaces");
  for (const Itf& want : interfaces) {
    const TypeLibInterface* got = lib.FindInterface(want.name);
    const std::string name = N(want.name);
    if (got == nullptr) {
      diffs.push_back(name + ": missing");
      continue;
    }
    expect(got->iid == want.iid, name + ": IID");
    expect(got->help == want.help, name + ": help string");
    expect(got->hidden == want.hidden, name + ": hidden");
    CompareMembers(got->methods, want.table, name, diffs);
  }

  if (lib.coclasses.size() != 1) {
    diffs.push_back("number of coclasses");
    return diffs;
  }
  const TypeLibClass& cls = lib.coclasses[0];
  expect(cls.clsid == CLSID_ORV_Velmar_KDX, "CLSID");
  expect(cls.name == u"ORV_Velmar_KDX", "coclass name");
  expect(cls.help == u"ORV_Velmar_KDX Control", "coclass help string");
  expect(cls.control, "coclass is a control");
  expect(cls.defaultInterface == u"_DORV_Velmar_KDX", "default interface");
  expect(cls.defaultSource == u"_DORV_Velmar_KDXEvents", "default source interface");
  return diffs;
}

std::string Join(const Diffs& diffs) {
  std::string all;
  for (const std::string& d : diffs) all += d + "\n";
  return all;
}

TEST(TypeLibrary, ResourceIsTheIdlSourceByteForByte) {
  const std::string file = ReadFile(kIdlFile);
  ASSERT_FALSE(file.empty()) << kIdlFile;
  EXPECT_EQ(Utf16ToUtf8(LoadTypeLibResource()), file);
}

TEST(TypeLibrary, DescribesExactlyTheControlsInterfaces) {
  const std::string text = ReadFile(kIdlFile);
  TypeLibrary lib;
  std::u16string error;
  ASSERT_EQ(ParseTypeLibrary(MultiByteToWide(CP_UTF8, text), &lib, &error), S_OK) << N(error);
  const Diffs diffs = CheckAgainstControl(lib);
  EXPECT_TRUE(diffs.empty()) << Join(diffs);
  TypeLibrary loaded;
  ASSERT_EQ(LoadTypeLibrary(&loaded), S_OK);
  EXPECT_TRUE(CheckAgainstControl(loaded).empty());
}

// Each edit of the source is a fault the check above must catch: by a parse error or a difference.
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
    EXPECT_FALSE(CheckAgainstControl(lib).empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edits, TypeLibraryMutation,
    testing::Values(
        Mutation{"dispid", "[id(7)] double GetOrderValue", "[id(70)] double GetOrderValue"},
        Mutation{"aboutbox dispid", "[id(DISPID_ABOUTBOX)]", "[id(-551)]"},
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
        Mutation{"event IID", "20FF8F24-", "20FF8F25-"},
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
