#include "resources/type_library.h"

#include <charconv>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "platform/codepage.h"

namespace kdx {
namespace {

enum class Tok { Word, String, Punct, End };

struct Token {
  Tok kind = Tok::End;
  std::u16string_view text;
  int line = 1;
};

bool IsNameStart(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_'; }

bool IsWordChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
         c == u'.' || c == u'-';
}

// Words include '-' and '.', so a GUID, a version and a negative DISPID are one token each.
class Lexer {
 public:
  explicit Lexer(std::u16string_view src) : src_(src) {}

  // Tok::Punct with empty text on a character that has no place in the language.
  Token Next() {
    SkipBlanks();
    Token t{Tok::End, {}, line_};
    if (pos_ >= src_.size()) return t;
    const char16_t c = src_[pos_];
    if (IsWordChar(c)) {
      std::size_t start = pos_;
      while (pos_ < src_.size() && IsWordChar(src_[pos_])) ++pos_;
      t.kind = Tok::Word;
      t.text = src_.substr(start, pos_ - start);
    } else if (c == u'"') {
      std::size_t start = ++pos_;
      while (pos_ < src_.size() && src_[pos_] != u'"' && src_[pos_] != u'\n') ++pos_;
      t.kind = Tok::String;
      if (pos_ >= src_.size() || src_[pos_] != u'"') return {Tok::Punct, {}, line_};
      t.text = src_.substr(start, pos_ - start);
      ++pos_;
    } else if (std::u16string_view(u"[](){};,:*").find(c) != std::u16string_view::npos) {
      t.kind = Tok::Punct;
      t.text = src_.substr(pos_++, 1);
    } else {
      t.kind = Tok::Punct;
    }
    return t;
  }

 private:
  void SkipBlanks() {
    bool lineStart = pos_ == 0 || src_[pos_ - 1] == u'\n';
    while (pos_ < src_.size()) {
      const char16_t c = src_[pos_];
      if (c == u'\n') {
        ++line_;
        ++pos_;
        lineStart = true;
      } else if (c == u' ' || c == u'\t' || c == u'\r') {
        ++pos_;
      } else if (c == u'#' && lineStart) {  // preprocessor lines carry no declarations
        SkipToLineEnd();
      } else if (src_.substr(pos_, 2) == u"//") {
        SkipToLineEnd();
      } else if (src_.substr(pos_, 2) == u"/*") {
        std::size_t end = src_.find(u"*/", pos_ + 2);
        end = end == std::u16string_view::npos ? src_.size() : end + 2;
        for (std::size_t i = pos_; i < end; ++i) line_ += src_[i] == u'\n';
        pos_ = end;
      } else {
        return;
      }
    }
  }
  void SkipToLineEnd() {
    while (pos_ < src_.size() && src_[pos_] != u'\n') ++pos_;
  }

  std::u16string_view src_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

struct Attribute {
  std::u16string_view name;
  std::vector<std::u16string_view> args;
};
using Attributes = std::vector<Attribute>;

// Automation types a dispinterface may use, by their IDL spelling.
struct TypeName {
  std::u16string_view name;
  VARTYPE vt;
};
constexpr TypeName kTypes[] = {
    {u"void", VT_EMPTY},         {u"long", VT_I4},     {u"short", VT_I2},         {u"double", VT_R8},
    {u"float", VT_R4},           {u"BSTR", VT_BSTR},   {u"VARIANT_BOOL", VT_BOOL}, {u"VARIANT", VT_VARIANT},
    {u"SCODE", VT_ERROR},        {u"IDispatch*", VT_DISPATCH}, {u"VARIANT*", VT_VARIANT | VT_BYREF},
};

struct NamedDispid {
  std::u16string_view name;
  DISPID id;
};
constexpr NamedDispid kDispids[] = {
    {u"DISPID_VALUE", DISPID_VALUE}, {u"DISPID_UNKNOWN", DISPID_UNKNOWN}, {u"DISPID_ABOUTBOX", DISPID_ABOUTBOX}};

std::optional<long long> ParseNumber(std::u16string_view text) {
  std::string narrow = Utf16ToUtf8(text);
  bool negative = !narrow.empty() && narrow[0] == '-';
  std::string_view digits(narrow);
  if (negative) digits.remove_prefix(1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  long long value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return negative ? -value : value;
}

class Parser {
 public:
  explicit Parser(std::u16string_view src) : lexer_(src) { Advance(); }

  bool Library(TypeLibrary& lib) {
    Attributes attrs;
    if (!AttributeList(attrs) || !Keyword(u"library") || !Name(lib.name) || !Expect(u"{")) return false;
    for (const Attribute& a : attrs) {
      if (a.name == u"uuid") {
        if (!Guid(a, lib.libid)) return false;
      } else if (a.name == u"version") {
        if (!Version(a, lib)) return false;
      } else if (a.name == u"lcid") {
        auto n = a.args.size() == 1 ? ParseNumber(a.args[0]) : std::nullopt;
        if (!n || *n < 0 || *n > 0xFFFFFFFF) return Fail(u"bad lcid");
        lib.lcid = static_cast<DWORD>(*n);
      } else if (!Text(a, u"helpstring", lib.help) && !Text(a, u"helpfile", lib.helpFile) &&
                 !Flag(a, u"control", lib.flags, LIBFLAG_FCONTROL) && !Flag(a, u"hidden", lib.flags, LIBFLAG_FHIDDEN) &&
                 !Flag(a, u"restricted", lib.flags, LIBFLAG_FRESTRICTED)) {
        return Unknown(a);
      }
    }
    if (!HasUuid(attrs)) return Fail(u"library without uuid");
    while (!Is(u"}")) {
      if (cur_.kind == Tok::End) return Fail(u"library not closed");
      if (Is(u"importlib")) {
        Advance();
        if (!Expect(u"(")) return false;
        if (cur_.kind != Tok::Word && cur_.kind != Tok::String) return Fail(u"importlib needs a library");
        Advance();
        if (!Expect(u")") || !Expect(u";")) return false;
        continue;
      }
      Attributes itemAttrs;
      if (!AttributeList(itemAttrs)) return false;
      if (Is(u"dispinterface")) {
        if (!Dispinterface(itemAttrs, lib)) return false;
      } else if (Is(u"coclass")) {
        if (!Coclass(itemAttrs, lib)) return false;
      } else {
        return Fail(u"expected dispinterface or coclass");
      }
    }
    Advance();
    Optional(u";");
    if (cur_.kind != Tok::End) return Fail(u"text after the library");
    return true;
  }

  std::u16string error;

 private:
  bool Dispinterface(const Attributes& attrs, TypeLibrary& lib) {
    TypeLibInterface itf;
    Advance();
    if (!Name(itf.name) || !Expect(u"{")) return false;
    if (lib.FindInterface(itf.name)) return Fail(u"dispinterface declared twice");
    for (const Attribute& a : attrs) {
      if (a.name == u"uuid") {
        if (!Guid(a, itf.iid)) return false;
      } else if (!Text(a, u"helpstring", itf.help) && !Bool(a, u"hidden", itf.hidden)) {
        return Unknown(a);
      }
    }
    if (!HasUuid(attrs)) return Fail(u"dispinterface without uuid");
    if (!Keyword(u"properties") || !Expect(u":")) return false;
    if (!Is(u"methods")) return Fail(u"dispinterface properties are not supported");
    Advance();
    if (!Expect(u":")) return false;
    while (Is(u"[")) {
      if (!Method(itf.methods)) return false;
    }
    if (!Expect(u"}")) return false;
    Optional(u";");
    lib.dispinterfaces.push_back(std::move(itf));
    return true;
  }

  bool Method(DispatchTable& table) {
    Attributes attrs;
    if (!AttributeList(attrs)) return false;
    DispatchMember m;
    m.kind = MemberKind::Method;
    bool haveId = false;
    for (const Attribute& a : attrs) {
      if (a.name == u"id") {
        if (!Dispid(a, m.id)) return false;
        haveId = true;
      } else if (!Text(a, u"helpstring", m.help)) {
        return Unknown(a);
      }
    }
    if (!haveId) return Fail(u"method without id");
    if (!Type(m.result) || !Name(m.name) || !Expect(u"(")) return false;
    if (Is(u"void") && Peeks(u")")) Advance();
    while (!Is(u")")) {
      if (!m.params.empty() && !Expect(u",")) return false;
      if (Is(u"[")) {
        Attributes paramAttrs;
        if (!AttributeList(paramAttrs)) return false;
        for (const Attribute& a : paramAttrs)
          if (a.name != u"in" || !a.args.empty()) return Unknown(a);
      }
      DispatchParam p;
      if (!Type(p.vt) || !Name(p.name)) return false;
      if (p.vt == VT_EMPTY) return Fail(u"void parameter");
      m.params.push_back(std::move(p));
    }
    Advance();
    if (!Expect(u";")) return false;
    if (FAILED(table.Add(std::move(m)))) return Fail(u"duplicate method name or DISPID");
    return true;
  }

  bool Coclass(const Attributes& attrs, TypeLibrary& lib) {
    TypeLibClass cls;
    Advance();
    if (!Name(cls.name) || !Expect(u"{")) return false;
    for (const Attribute& a : attrs) {
      if (a.name == u"uuid") {
        if (!Guid(a, cls.clsid)) return false;
      } else if (!Text(a, u"helpstring", cls.help) && !Bool(a, u"control", cls.control)) {
        return Unknown(a);
      }
    }
    if (!HasUuid(attrs)) return Fail(u"coclass without uuid");
    while (!Is(u"}")) {
      Attributes itemAttrs;
      bool isDefault = false, isSource = false;
      if (Is(u"[") && !AttributeList(itemAttrs)) return false;
      for (const Attribute& a : itemAttrs)
        if (!Bool(a, u"default", isDefault) && !Bool(a, u"source", isSource)) return Unknown(a);
      std::u16string name;
      if (!Keyword(u"dispinterface") || !Name(name) || !Expect(u";")) return false;
      if (!lib.FindInterface(name)) return Fail(u"coclass names an undeclared dispinterface");
      std::u16string& slot = isSource ? cls.defaultSource : cls.defaultInterface;
      if (isDefault) {
        if (!slot.empty()) return Fail(u"two default interfaces");
        slot = std::move(name);
      }
    }
    Advance();
    Optional(u";");
    lib.coclasses.push_back(std::move(cls));
    return true;
  }

  // "[" attribute ("," attribute)* "]"; an attribute is a word with an optional argument list.
  bool AttributeList(Attributes& attrs) {
    if (!Expect(u"[")) return false;
    do {
      if (cur_.kind != Tok::Word) return Fail(u"expected an attribute");
      Attribute a{cur_.text, {}};
      Advance();
      if (Is(u"(")) {
        Advance();
        do {
          if (cur_.kind != Tok::Word && cur_.kind != Tok::String) return Fail(u"expected an attribute value");
          a.args.push_back(cur_.text);
          Advance();
        } while (Optional(u","));
        if (!Expect(u")")) return false;
      }
      for (const Attribute& seen : attrs)
        if (seen.name == a.name) return Fail(u"attribute given twice");
      attrs.push_back(std::move(a));
    } while (Optional(u","));
    return Expect(u"]");
  }

  bool Type(VARTYPE& vt) {
    if (cur_.kind != Tok::Word) return Fail(u"expected a type");
    std::u16string spelled(cur_.text);
    Advance();
    if (Optional(u"*")) spelled += u'*';
    for (const TypeName& t : kTypes) {
      if (t.name == spelled) {
        vt = t.vt;
        return true;
      }
    }
    return Fail(u"unsupported type " + spelled);
  }

  bool Dispid(const Attribute& a, DISPID& id) {
    if (a.args.size() != 1) return Fail(u"id takes one value");
    for (const NamedDispid& n : kDispids) {
      if (n.name == a.args[0]) {
        id = n.id;
        return true;
      }
    }
    auto n = ParseNumber(a.args[0]);
    if (!n || *n < INT32_MIN || *n > INT32_MAX) return Fail(u"bad id");
    id = static_cast<DISPID>(*n);
    return true;
  }

  bool Guid(const Attribute& a, GUID& guid) {
    std::optional<GUID> g = a.args.size() == 1 ? GUID::Parse(a.args[0]) : std::nullopt;
    if (!g) return Fail(u"bad uuid");
    guid = *g;
    return true;
  }

  bool Version(const Attribute& a, TypeLibrary& lib) {
    if (a.args.size() != 1) return Fail(u"bad version");
    std::u16string_view v = a.args[0];
    std::size_t dot = v.find(u'.');
    auto major = ParseNumber(v.substr(0, dot));
    auto minor = dot == std::u16string_view::npos ? std::optional<long long>(0) : ParseNumber(v.substr(dot + 1));
    if (!major || !minor || *major < 0 || *major > 0xFFFF || *minor < 0 || *minor > 0xFFFF)
      return Fail(u"bad version");
    lib.majorVersion = static_cast<WORD>(*major);
    lib.minorVersion = static_cast<WORD>(*minor);
    return true;
  }

  // True when `a` is the attribute `name` in its right form (and stores it); otherwise false,
  // and the caller reports it as unsupported.
  bool Text(const Attribute& a, std::u16string_view name, std::u16string& out) {
    if (a.name != name || a.args.size() != 1) return false;
    out = a.args[0];
    return true;
  }
  bool Bool(const Attribute& a, std::u16string_view name, bool& out) {
    if (a.name != name || !a.args.empty()) return false;
    out = true;
    return true;
  }
  bool Flag(const Attribute& a, std::u16string_view name, WORD& flags, WORD bit) {
    if (a.name != name || !a.args.empty()) return false;
    flags |= bit;
    return true;
  }
  static bool HasUuid(const Attributes& attrs) {
    for (const Attribute& a : attrs)
      if (a.name == u"uuid") return true;
    return false;
  }
  bool Unknown(const Attribute& a) { return Fail(u"unsupported attribute " + std::u16string(a.name)); }

  void Advance() { cur_ = lexer_.Next(); }
  bool Is(std::u16string_view text) const {
    return (cur_.kind == Tok::Word || cur_.kind == Tok::Punct) && !cur_.text.empty() && cur_.text == text;
  }
  // Looks one token past the current one.
  bool Peeks(std::u16string_view text) const {
    Lexer ahead = lexer_;
    Token t = ahead.Next();
    return t.kind == Tok::Punct && t.text == text;
  }
  bool Optional(std::u16string_view text) {
    if (!Is(text)) return false;
    Advance();
    return true;
  }
  bool Expect(std::u16string_view text) {
    if (Optional(text)) return true;
    return Fail(u"expected '" + std::u16string(text) + u"'");
  }
  bool Keyword(std::u16string_view word) { return Expect(word); }
  bool Name(std::u16string& out) {
    if (cur_.kind != Tok::Word || !IsNameStart(cur_.text[0])) return Fail(u"expected a name");
    for (char16_t c : cur_.text)
      if (c == u'-' || c == u'.') return Fail(u"expected a name");
    out = cur_.text;
    Advance();
    return true;
  }
  bool Fail(const std::u16string& what) {
    if (error.empty()) {
      std::string line = std::to_string(cur_.line);
      error = u"line " + std::u16string(line.begin(), line.end()) + u": " + what;
    }
    return false;
  }

  Lexer lexer_;
  Token cur_;
};

}  // namespace

const TypeLibInterface* TypeLibrary::FindInterface(std::u16string_view wanted) const {
  for (const TypeLibInterface& itf : dispinterfaces)
    if (itf.name == wanted) return &itf;
  return nullptr;
}

HRESULT ParseTypeLibrary(std::u16string_view idl, TypeLibrary* out, std::u16string* error) {
  if (out == nullptr) return E_POINTER;
  *out = TypeLibrary{};
  TypeLibrary lib;
  Parser parser(idl);
  bool ok = false;
  try {
    ok = parser.Library(lib);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (!ok) {
    if (error) *error = parser.error;
    return TYPE_E_INVDATAREAD;
  }
  *out = std::move(lib);
  return S_OK;
}

HRESULT LoadTypeLibrary(TypeLibrary* out) {
  if (out == nullptr) return E_POINTER;
  std::u16string_view text = LoadTypeLibResource();
  if (text.empty()) {
    *out = TypeLibrary{};
    return TYPE_E_CANTLOADLIBRARY;
  }
  return ParseTypeLibrary(text, out);
}

}  // namespace kdx
