#include "platform/profile.h"

#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>

#include "common/host_util.h"

namespace kdx {
namespace {

using namespace std::string_literals;

// The [Login] lines are what each lookup below is about; the other sections group their cases.
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
    "[ Spaced Section ] trailing text\nk=v\n[NoClose\n"
    "[a]b]\nx=1\n"
    "[login]\nLoginURL=second section\nExtra=x\n"
    "[Ärger Раздел ｗｉｄｅ]\nКлюч=folded\n"
    "[Small]\na = 1\nbb=22\n;c=3\nbare\n"
    "[Ints]\nneg=-1\nlead=\" 42\"\nhex=0x1F\nupperHex=0X1F\nnegHex=-0x10\nbin=0b102\nabc=abc\nempty=\n"
    "mixed=12abc\nwrap=4294967297\nlong=00000000000000000042\n"
    "[Empty]\n";

// Each test gets a fresh directory that also serves as the profile directory.
class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProfileDirectory(dir16_);
    Write("main.ini", kMain);
  }
  void Write(const std::string& name, const std::string& bytes) { folder_.Write(name, bytes); }

  test::TempFolder folder_;
  std::string dir_ = folder_.path().string();
  std::u16string dir16_ = MultiByteToWide(CP_UTF8, dir_);
};

std::u16string Read(const char16_t* section, const char16_t* key, const char16_t* def, uint32_t size = 1024,
                    const char16_t* file = u"main.ini", uint32_t* ret = nullptr) {
  std::u16string buf(size + 1, u'#');
  uint32_t n = GetPrivateProfileStringW(section, key, def, buf.data(), size, file);
  if (ret) *ret = n;
  return buf.substr(0, buf.find(u'\0'));
}

TEST_F(Profile, StringLookups) {
  const struct {
    const char16_t *section, *key, *def;
    std::u16string expected;
    uint32_t size = 1024;
  } cases[] = {
      {u"Login", u"LoginURL", u"d", u"https://example.test/login?a=b"},
      {u"LOGIN", u"loginurl", u"d", u"https://example.test/login?a=b"},
      {u"Login", u"DUP", u"d", u"first"},                    {u"Login", u"Extra", u"none", u"none"},  // not merged
      {u"Login", u"Password", u"none", u"none"},             {u"Login", u"; Password", u"none", u"none"},
      {u"Login", u"Company", u"d", u"Quoted Value"},         {u"Login", u"Product", u"d", u"single"},
      {u"Login", u"Mixed", u"d", u"\"mismatched'"},          {u"Login", u"Lone", u"d", u"\""},
      {u"Login", u"EmptyQuoted", u"d", u""},                 {u"Login", u"BareLine", u"none", u"none"},
      {u"Login", u"", u"none", u"none"},                     {u"Login", u"Two", u"d", u"a=b"},
      {u"Login", u"Spaces", u"d", u""},                      {u"Login", u"Tabs", u"d", u"tabbed"},
      {u"Spaced Section", u"k", u"d", u"v"},                 {u" Spaced Section ", u"k", u"none", u"none"},
      {u"a]b", u"x", u"d", u"1"},                            {u"äRGER раздел ＷＩＤＥ", u"КЛЮЧ", u"d", u"folded"},
      {u"", u"orphan", u"none", u"none"},                    {u"Nope", u"k", u"def  ", u"def"},
      {u"Nope", u"k", u"  x \t ", u"  x \t"},                {u"Nope", u"k", nullptr, u""},
      {u"Login", u"Company", u"d", u"Quo", 4},               {u"Login", u"Company", u"d", u"", 1},
      {u"Nope", u"k", u"default", u"de", 3},
  };
  for (const auto& c : cases) {
    uint32_t ret = 99;
    EXPECT_EQ(Read(c.section, c.key, c.def, c.size, u"main.ini", &ret), c.expected)
        << Utf16ToUtf8(c.section) << " / " << Utf16ToUtf8(c.key);
    EXPECT_EQ(ret, c.expected.size()) << Utf16ToUtf8(c.section) << " / " << Utf16ToUtf8(c.key);
  }
}

TEST_F(Profile, SectionListsEveryLineTrimmedWithoutComments) {
  char16_t buf[4096];
  uint32_t n = GetPrivateProfileSectionW(u"login", buf, 4096, u"main.ini");
  const std::u16string expected =
      u"LoginURL=https://example.test/login?a=b\0Dup=first\0dup=second\0Company=\"Quoted Value\"\0"
      u"Product='single'\0Mixed=\"mismatched'\0Lone=\"\0EmptyQuoted=\"\"\0BareLine\0=starts with equals\0"
      u"Two=a=b\0Spaces=\0Tabs=tabbed\0\0"s;
  EXPECT_EQ(n, expected.size() - 1);
  EXPECT_EQ(std::u16string(buf, expected.size()), expected);
  n = GetPrivateProfileSectionW(u"SPACED SECTION", buf, 4096, u"main.ini");
  EXPECT_EQ(std::u16string(buf, n + 1), u"k=v\0[NoClose\0\0"s);  // a header needs its ']'
}

// "a=1\0bb=22\0bare\0\0" is 16 characters; smaller buffers truncate and end with two NULs.
TEST_F(Profile, SectionTruncationAtEverySize) {
  const std::tuple<uint32_t, std::u16string, uint32_t> cases[] = {  // size, what is written, result
      {20, u"a=1\0bb=22\0bare\0\0"s, 15}, {16, u"a=1\0bb=22\0bare\0\0"s, 15}, {15, u"a=1\0bb=22\0bar\0\0"s, 13},
      {6, u"a=1\0\0\0"s, 4},  {3, u"a\0\0"s, 1},  {2, u"\0\0"s, 0},  {1, u"\0"s, 0},  {0, u""s, 0}};
  for (const auto& [size, written, ret] : cases) {
    std::u16string buf(24, u'#');
    EXPECT_EQ(GetPrivateProfileSectionW(u"Small", buf.data(), size, u"main.ini"), ret) << size;
    EXPECT_EQ(buf.substr(0, written.size()), written) << size;
    EXPECT_EQ(buf.find_first_not_of(u'#', written.size()), std::u16string::npos) << size;
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
    uint32_t expected;
  } cases[] = {
      {u"neg", 0xFFFFFFFFu}, {u"lead", 42}, {u"hex", 31},  {u"upperHex", 0}, {u"negHex", 0xFFFFFFF0u}, {u"bin", 2},
      {u"abc", 0},           {u"empty", 5}, {u"mixed", 12}, {u"wrap", 1},     {u"long", 4},  // 19 characters are read
      {u"missing", 5},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetPrivateProfileIntW(u"Ints", c.key, 5, u"main.ini"), c.expected) << Utf16ToUtf8(c.key);
  EXPECT_EQ(static_cast<int32_t>(GetPrivateProfileIntW(u"Ints", u"missing", -3, u"main.ini")), -3);
  EXPECT_EQ(GetPrivateProfileIntW(u"Ints", u"hex", 9, u"missing.ini"), 9u);
}

TEST_F(Profile, Encodings) {
  const std::u16string text = u"[節]\r\n鍵 = 委託\r\nascii=ok\r\n";
  auto utf16 = [&](bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
      const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
      out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
  };
  const std::string ansi = WideToMultiByte(CP_ACP, text);
  ASSERT_NE(ansi, Utf16ToUtf8(text));  // the ANSI case is really Big5
  const std::pair<const char16_t*, std::string> files[] = {
      {u"utf8.ini", Utf16ToUtf8(text)}, {u"utf8bom.ini", "\xEF\xBB\xBF" + Utf16ToUtf8(text)},
      {u"utf16le.ini", utf16(false)},   {u"utf16be.ini", utf16(true)}, {u"ansi.ini", ansi}};
  for (const auto& [name, bytes] : files) {
    Write(Utf16ToUtf8(name), bytes);
    EXPECT_EQ(Read(u"節", u"鍵", u"d", 1024, name), u"委託") << Utf16ToUtf8(name);
    EXPECT_EQ(Read(u"節", u"ASCII", u"d", 1024, name), u"ok") << Utf16ToUtf8(name);
  }
}

TEST_F(Profile, FileResolutionAndNoStaleReads) {
  Write("win.ini", "[W]\nk=win\n");
  ASSERT_EQ(mkdir((dir_ + "/Configs").c_str(), 0700), 0);
  Write("Configs/System.ini", "[TEMPLATE]\nLanguage=zh-TW\n");
  EXPECT_EQ(Read(u"TEMPLATE", u"Language", u"Default", 256, (dir16_ + u"\\Configs\\System.ini").c_str()), u"zh-TW");
  EXPECT_EQ(Read(u"Login", u"Dup", u"d", 64, (dir16_ + u"/main.ini").c_str()), u"first");
  EXPECT_EQ(Read(u"W", u"k", u"d", 64, nullptr), u"win");
  Write("tiny.ini", "[a]\nb=c");  // short enough to live inside the string object
  EXPECT_EQ(Read(u"a", u"b", u"d", 64, u"tiny.ini"), u"c");
  // Anything that is not a readable regular file behaves as missing.
  for (const char16_t* missing : {u"missing.ini", u"", u"Configs", dir16_.c_str(), u"System.ini"}) {
    EXPECT_EQ(Read(u"Login", u"Dup", u"fallback", 64, missing), u"fallback") << Utf16ToUtf8(missing);
    char16_t buf[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(GetPrivateProfileSectionW(u"Login", buf, 4, missing), 0u);
    EXPECT_EQ(std::u16string(buf, 4), u"\0\0##"s);
  }
  // Every read sees the file as it is now.
  Write("main.ini", "[Login]\nDup=changed\n");
  EXPECT_EQ(Read(u"Login", u"Dup", u"d"), u"changed");
  unlink((dir_ + "/main.ini").c_str());
  EXPECT_EQ(Read(u"Login", u"Dup", u"d"), u"d");

  SetProfileDirectory(dir16_ + u"\\Configs\\");
  EXPECT_EQ(ProfileDirectory(), dir16_ + u"/Configs/");
  EXPECT_EQ(Read(u"TEMPLATE", u"Language", u"Default", 256, u"System.ini"), u"zh-TW");
}

}  // namespace
}  // namespace kdx
