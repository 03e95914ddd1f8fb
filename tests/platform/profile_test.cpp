#include "platform/profile.h"

#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kdx {
namespace {

using namespace std::string_literals;

const std::string kMain =
    "orphan=before any section\n"
    "[Login]\r\n"
    "  LoginURL  =  https://example.test/login?a=b  \r\n"
    "Dup=first\r\n"
    "dup=second\r\n"
    "; Password=secret\r\n"
    "\r\n"
    "Company=\"Quoted Value\"\r\n"
    "Product='single'\r\n"
    "Mixed=\"mismatched'\r\n"
    "Lone=\"\r\n"
    "EmptyQuoted=\"\"\r\n"
    "  BareLine  \r\n"
    "=starts with equals\r\n"
    "Two = a=b\r\n"
    "Spaces   =   \r\n"
    "\tTabs\t=\ttabbed\t\r\n"
    "Chinese=委託成功\r\n"
    "[ Spaced Section ] trailing text\n"
    "k=v\n"
    "[NoClose\n"
    "[a]b]\n"
    "x=1\n"
    "[login]\n"
    "LoginURL=second section\n"
    "Extra=x\n"
    "[Ärger Раздел ｗｉｄｅ]\n"
    "Ключ=folded\n"
    "[Small]\n"
    "a = 1\n"
    "bb=22\n"
    ";c=3\n"
    "bare\n"
    "[Ints]\n"
    "neg=-1\n"
    "lead=\" 42\"\n"
    "hex=0x1F\n"
    "upperHex=0X1F\n"
    "negHex=-0x10\n"
    "oct=0o17\n"
    "bin=0b102\n"
    "abc=abc\n"
    "empty=\n"
    "mixed=12abc\n"
    "plus=+7\n"
    "wrap=4294967297\n"
    "long=00000000000000000042\n"
    "[Empty]\n";

// Each test gets a fresh directory that also serves as the profile directory.
class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kdx-profile-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    SetProfileDirectory(MultiByteToWide(CP_UTF8, dir_));
    Write("main.ini", kMain);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
  }
  std::u16string Path(const std::string& name) { return MultiByteToWide(CP_UTF8, dir_ + "/" + name); }

  std::string dir_;
};

std::u16string Read(const char16_t* section, const char16_t* key, const char16_t* def, uint32_t size = 1024,
                    const char16_t* file = u"main.ini", uint32_t* ret = nullptr) {
  std::u16string buf(size + 1, u'#');
  uint32_t n = GetPrivateProfileStringW(section, key, def, buf.data(), size, file);
  if (ret) *ret = n;
  return buf.substr(0, buf.find(u'\0'));
}

struct StringCase {
  const char16_t* section;
  const char16_t* key;
  const char16_t* def;
  uint32_t size;
  std::u16string expected;
};

TEST_F(Profile, StringLookups) {
  const StringCase cases[] = {
      {u"Login", u"LoginURL", u"d", 1024, u"https://example.test/login?a=b"},
      {u"LOGIN", u"loginurl", u"d", 1024, u"https://example.test/login?a=b"},
      {u"Login", u"DUP", u"d", 1024, u"first"},
      {u"Login", u"Extra", u"none", 1024, u"none"},        // later [login] is not merged
      {u"Login", u"Password", u"none", 1024, u"none"},     // commented out
      {u"Login", u"; Password", u"none", 1024, u"none"},
      {u"Login", u"Company", u"d", 1024, u"Quoted Value"},
      {u"Login", u"Product", u"d", 1024, u"single"},
      {u"Login", u"Mixed", u"d", 1024, u"\"mismatched'"},
      {u"Login", u"Lone", u"d", 1024, u"\""},
      {u"Login", u"EmptyQuoted", u"d", 1024, u""},
      {u"Login", u"BareLine", u"none", 1024, u"none"},
      {u"Login", u"", u"none", 1024, u"none"},
      {u"Login", u"Two", u"d", 1024, u"a=b"},
      {u"Login", u"Spaces", u"d", 1024, u""},
      {u"Login", u"Tabs", u"d", 1024, u"tabbed"},
      {u"Login", u"Chinese", u"d", 1024, u"委託成功"},
      {u"Spaced Section", u"k", u"d", 1024, u"v"},
      {u" Spaced Section ", u"k", u"none", 1024, u"none"},
      {u"a]b", u"x", u"d", 1024, u"1"},
      {u"äRGER раздел ＷＩＤＥ", u"КЛЮЧ", u"d", 1024, u"folded"},
      {u"", u"orphan", u"none", 1024, u"none"},
      {u"Nope", u"k", u"def  ", 1024, u"def"},
      {u"Nope", u"k", u"  x \t ", 1024, u"  x \t"},
      {u"Nope", u"k", nullptr, 1024, u""},
      {u"Login", u"Company", u"d", 4, u"Quo"},
      {u"Login", u"Company", u"d", 1, u""},
      {u"Nope", u"k", u"default", 3, u"de"},
  };
  for (const auto& c : cases) {
    uint32_t ret = 99;
    std::u16string got = Read(c.section, c.key, c.def, c.size, u"main.ini", &ret);
    EXPECT_EQ(got, c.expected) << Utf16ToUtf8(c.section) << " / " << Utf16ToUtf8(c.key);
    EXPECT_EQ(ret, c.expected.size()) << Utf16ToUtf8(c.section) << " / " << Utf16ToUtf8(c.key);
  }
}

TEST_F(Profile, SectionListsEveryLineTrimmedWithoutComments) {
  char16_t buf[4096];
  uint32_t n = GetPrivateProfileSectionW(u"login", buf, 4096, u"main.ini");
  const std::u16string expected =
      u"LoginURL=https://example.test/login?a=b\0Dup=first\0dup=second\0Company=\"Quoted Value\"\0"
      u"Product='single'\0Mixed=\"mismatched'\0Lone=\"\0EmptyQuoted=\"\"\0BareLine\0=starts with equals\0"
      u"Two=a=b\0Spaces=\0Tabs=tabbed\0Chinese=委託成功\0\0"s;
  EXPECT_EQ(n, expected.size() - 1);
  EXPECT_EQ(std::u16string(buf, expected.size()), expected);
  n = GetPrivateProfileSectionW(u"SPACED SECTION", buf, 4096, u"main.ini");
  EXPECT_EQ(std::u16string(buf, n + 1), u"k=v\0[NoClose\0\0"s);  // a header needs its ']'
}

// "a=1\0bb=22\0bare\0\0" is 16 characters; smaller buffers truncate and end with two NULs.
TEST_F(Profile, SectionTruncationAtEverySize) {
  const struct {
    uint32_t size;
    std::u16string written;
    uint32_t ret;
  } cases[] = {
      {20, u"a=1\0bb=22\0bare\0\0"s, 15}, {16, u"a=1\0bb=22\0bare\0\0"s, 15},
      {15, u"a=1\0bb=22\0bar\0\0"s, 13},  {6, u"a=1\0\0\0"s, 4},
      {3, u"a\0\0"s, 1},                  {2, u"\0\0"s, 0},
      {1, u"\0"s, 0},                     {0, u""s, 0},
  };
  for (const auto& c : cases) {
    std::u16string buf(24, u'#');
    EXPECT_EQ(GetPrivateProfileSectionW(u"Small", buf.data(), c.size, u"main.ini"), c.ret) << c.size;
    EXPECT_EQ(buf.substr(0, c.written.size()), c.written) << c.size;
    EXPECT_EQ(buf.find_first_not_of(u'#', c.written.size()), std::u16string::npos) << c.size;
  }
  std::u16string buf(4, u'#');
  EXPECT_EQ(GetPrivateProfileSectionW(u"Empty", buf.data(), 4, u"main.ini"), 0u);
  EXPECT_EQ(buf, u"\0\0##"s);
  EXPECT_EQ(GetPrivateProfileSectionW(u"Login", nullptr, 100, u"main.ini"), 0u);
  EXPECT_EQ(GetPrivateProfileStringW(u"Login", u"Dup", u"d", nullptr, 100, u"main.ini"), 0u);
}

TEST_F(Profile, LoginSizedBuffersTruncateExactly) {
  std::string body = "[Big]\nLong=" + std::string(1500, 'v') + "\n";
  std::u16string listing;
  for (int i = 0; i < 400; ++i) {
    std::string line = "key" + std::to_string(i) + "=value" + std::to_string(i);
    body += line + "\n";
    listing += MultiByteToWide(CP_UTF8, line) + u'\0';
  }
  Write("big.ini", body);
  listing.insert(0, u"Long=" + std::u16string(1500, u'v') + u'\0');

  std::u16string value(1024, u'#');
  EXPECT_EQ(GetPrivateProfileStringW(u"Big", u"Long", u"", value.data(), 1024, u"big.ini"), 1023u);
  EXPECT_EQ(value, std::u16string(1023, u'v') + u'\0');

  std::u16string section(4096, u'#');
  ASSERT_GT(listing.size(), 4096u);
  EXPECT_EQ(GetPrivateProfileSectionW(u"Big", section.data(), 4096, u"big.ini"), 4094u);
  EXPECT_EQ(section, listing.substr(0, 4094) + u"\0\0"s);
}

TEST_F(Profile, NameListings) {
  uint32_t ret = 0;
  char16_t buf[64];
  ret = GetPrivateProfileStringW(u"Small", nullptr, u"d", buf, 64, u"main.ini");
  EXPECT_EQ(std::u16string(buf, ret + 1), u"a\0bb\0\0"s);  // "bare" is not a key
  ret = GetPrivateProfileStringW(u"Login", nullptr, u"d", buf, 12, u"main.ini");
  EXPECT_EQ(std::u16string(buf, ret + 2), u"LoginURL\0D\0\0"s);
  EXPECT_EQ(ret, 10u);
  EXPECT_EQ(Read(u"Nope", nullptr, u"none  "), u"none");
  EXPECT_EQ(Read(u"Empty", nullptr, u"none"), u"none");

  Write("names.ini", "x=1\n[One]\n[ Two ]\n[]\n[one]\n");
  ret = GetPrivateProfileStringW(nullptr, u"ignored", u"d", buf, 64, u"names.ini");
  EXPECT_EQ(std::u16string(buf, ret + 1), u"One\0Two\0one\0\0"s);
  ret = GetPrivateProfileStringW(nullptr, nullptr, u"d", buf, 7, u"names.ini");
  EXPECT_EQ(std::u16string(buf, ret + 2), u"One\0T\0\0"s);
  ret = GetPrivateProfileStringW(nullptr, nullptr, u"d", buf, 64, u"missing.ini");
  EXPECT_EQ(std::u16string(buf, 2), u"\0\0"s);
  EXPECT_EQ(ret, 0u);
}

TEST_F(Profile, IntParsing) {
  const struct {
    const char16_t* key;
    int32_t def;
    uint32_t expected;
  } cases[] = {
      {u"neg", 5, 0xFFFFFFFFu},   {u"lead", 5, 42},   {u"hex", 5, 31},  {u"upperHex", 5, 0},
      {u"negHex", 5, 0xFFFFFFF0u}, {u"oct", 5, 15},    {u"bin", 5, 2},   {u"abc", 5, 0},
      {u"empty", 5, 5},           {u"mixed", 5, 12},  {u"plus", 5, 7},  {u"wrap", 5, 1},
      {u"long", 5, 4},            {u"missing", -3, static_cast<uint32_t>(-3)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetPrivateProfileIntW(u"Ints", c.key, c.def, u"main.ini"), c.expected) << Utf16ToUtf8(c.key);
  EXPECT_EQ(static_cast<int32_t>(GetPrivateProfileIntW(u"Ints", u"neg", 0, u"main.ini")), -1);
  EXPECT_EQ(GetPrivateProfileIntW(u"Ints", u"hex", 9, u"missing.ini"), 9u);
}

std::string Utf16Bytes(const std::u16string& text, bool bigEndian) {
  std::string out;
  for (char16_t c : text) {
    char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

TEST_F(Profile, Encodings) {
  const std::u16string text = u"[節]\r\n鍵 = 委託\r\nascii=ok\r\n";
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"utf8.ini", Utf16ToUtf8(text)},
      {"utf8bom.ini", "\xEF\xBB\xBF" + Utf16ToUtf8(text)},
      {"utf16le.ini", "\xFF\xFE" + Utf16Bytes(text, false)},
      {"utf16be.ini", "\xFE\xFF" + Utf16Bytes(text, true)},
      {"ansi.ini", WideToMultiByte(CP_ACP, text)},
  };
  for (const auto& f : files) {
    Write(f.name, f.bytes);
    std::u16string file = MultiByteToWide(CP_UTF8, f.name);
    EXPECT_EQ(Read(u"節", u"鍵", u"d", 1024, file.c_str()), u"委託") << f.name;
    EXPECT_EQ(Read(u"節", u"ASCII", u"d", 1024, file.c_str()), u"ok") << f.name;
  }
  EXPECT_NE(WideToMultiByte(CP_ACP, text), Utf16ToUtf8(text));  // the ANSI case is really Big5
}

TEST_F(Profile, FileResolution) {
  Write("win.ini", "[W]\nk=win\n");
  ASSERT_EQ(mkdir((dir_ + "/Configs").c_str(), 0700), 0);
  Write("Configs/System.ini", "[TEMPLATE]\nLanguage=zh-TW\n");
  const std::u16string backslashed = MultiByteToWide(CP_UTF8, dir_) + u"\\Configs\\System.ini";
  const std::u16string absolute = Path("main.ini");
  const std::u16string directory = MultiByteToWide(CP_UTF8, dir_);

  EXPECT_EQ(Read(u"TEMPLATE", u"Language", u"Default", 256, backslashed.c_str()), u"zh-TW");
  EXPECT_EQ(Read(u"Login", u"Dup", u"d", 64, absolute.c_str()), u"first");
  EXPECT_EQ(Read(u"W", u"k", u"d", 64, nullptr), u"win");
  Write("tiny.ini", "[a]\nb=c");  // short enough to live inside the string object
  EXPECT_EQ(Read(u"a", u"b", u"d", 64, u"tiny.ini"), u"c");
  // Anything that is not a readable regular file behaves as missing.
  for (const char16_t* missing : {u"missing.ini", u"", u"Configs", directory.c_str(), u"System.ini"}) {
    EXPECT_EQ(Read(u"Login", u"Dup", u"fallback", 64, missing), u"fallback") << Utf16ToUtf8(missing);
    char16_t buf[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(GetPrivateProfileSectionW(u"Login", buf, 4, missing), 0u);
    EXPECT_EQ(std::u16string(buf, 4), u"\0\0##"s);
  }

  SetProfileDirectory(directory + u"\\Configs\\");
  EXPECT_EQ(ProfileDirectory(), directory + u"/Configs/");
  EXPECT_EQ(Read(u"TEMPLATE", u"Language", u"Default", 256, u"System.ini"), u"zh-TW");
  EXPECT_EQ(Read(u"Login", u"Dup", u"gone", 64, u"main.ini"), u"gone");
}

TEST_F(Profile, ReadsAreNeverStale) {
  EXPECT_EQ(Read(u"Login", u"Dup", u"d"), u"first");
  Write("main.ini", "[Login]\nDup=changed\n");
  EXPECT_EQ(Read(u"Login", u"Dup", u"d"), u"changed");
  unlink((dir_ + "/main.ini").c_str());
  EXPECT_EQ(Read(u"Login", u"Dup", u"d"), u"d");
}

}  // namespace
}  // namespace kdx
