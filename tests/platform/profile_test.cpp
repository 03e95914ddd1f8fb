#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <tuple>
#include <vector>

#include "common/host_util.h"
#include "platform/codepage.h"

namespace kdx {
namespace {

using namespace std::string_literals;

// UTF-8 with BOM; a NUL ends a line too. The [Login] lines are what each lookup below is
// about; the other sections group their cases.
const std::string kMain =
    "\xEF\xBB\xBForphan=before any section\n[Login]\r\n  LoginURL  =  http://h/?a=b  \r\n"
    "Dup=1st\r\ndup=2\r\n; Password=secret\r\n\r\nCompany=\"Quoted Value\"\r\nProduct='single'\r\n"
    "Mixed=\"mis'\r\nLone=\"\r\nEmptyQuoted=\"\"\r\n  BareLine  \0=eq\r\nTwo = a=b\r\n"
    "Sp   =   \r\n\v\tTabs\t=\f\ttabbed\t\r\n[ Spaced Section ] trailing text\nk=v\n[NoClose\n[a]b]\nx=1\n[]\n"
    "[login]\nLoginURL=second section\nExtra=x\n[Ärger Раздел ｗｉｄｅ]\nКлюч az éùÿ ăĵļōż βςτ ёѣҍ=folded\n"
    "[Small]\na = 1\nbb=22\n;c=3\nbare\n[Ints]\nneg=-1\nlead=\" 42\"\nhex=0xAaFf\nupHex=0X1F\nnegHex=-0x10\nbin=0b102\n"
    "oct=0o17\nabc=abc\nblank=\" \"\nempty=\nmixed=12abc\nwrap=4294967297\nlong=00000000000000000042\n[Empty]"s;

// Each test gets a fresh directory that also serves as the profile directory.
class Profile : public ::testing::Test {
 protected:
  void SetUp() override { SetProfileDirectory(dir16_); folder_.Write("main.ini", kMain); }
  test::TempFolder folder_;
  std::string dir_ = folder_.path().generic_string();
  std::u16string dir16_ = MultiByteToWide(CP_UTF8, dir_);
};

// The string read, checked against the count returned.
std::u16string Read(const char16_t* section, const char16_t* key, const char16_t* def, uint32_t size = 1024,
                    const char16_t* file = u"main.ini") {
  std::u16string buf(size + 1, u'#');
  const uint32_t n = GetPrivateProfileStringW(section, key, def, buf.data(), size, file);
  EXPECT_EQ(n, buf.find(u'\0'));
  return buf.substr(0, buf.find(u'\0'));
}

// The folded key holds a letter of each case range.
TEST_F(Profile, StringLookups) {
  const std::tuple<const char16_t*, const char16_t*, std::u16string> cases[] = {  // with the default "none"
      {u"LOGIN", u"loginurl", u"http://h/?a=b"}, {u"Login", u"DUP", u"1st"}, {u"Login", u"Extra", u"none"},  // 1st wins
      {u"Login", u"Company", u"Quoted Value"}, {u"Login", u"Product", u"single"}, {u"Login", u"Mixed", u"\"mis'"},
      {u"Login", u"Lone", u"\""}, {u"Login", u"EmptyQuoted", u""}, {u"Login", u"BareLine", u"none"},
      {u"Login", u"", u"none"}, {u"Login", u"Two", u"a=b"}, {u"Login", u"; Password", u"none"}, {u"a]b", u"x", u"1"},
      {u"Login", u"Tabs", u"tabbed"}, {u"Spaced Section", u"k", u"v"}, {u" Spaced Section ", u"k", u"none"},
      {u"", u"orphan", u"none"}, {u"äRGER раздел ＷＩＤＥ", u"КЛЮЧ AZ ÉÙŸ ĂĴĻŌŻ ΒΣΤ ЁѢҌ", u"folded"}};
  for (const auto& [section, key, expected] : cases)
    EXPECT_EQ(Read(section, key, u"none"), expected) << Utf16ToUtf8(section) << " / " << Utf16ToUtf8(key);
  EXPECT_EQ(Read(u"Nope", u"k", u"  x\t  ") + Read(u"Nope", u"k", nullptr), u"  x\t");  // only trailing spaces go
  EXPECT_EQ(Read(u"Login", u"Company", u"d", 4) + Read(u"Login", u"Company", u"d", 1), u"Quo");
}

// Section lines, key names (null key) and section names (null section): NUL-separated lists
// that end with an extra NUL and, when they do not fit, are cut to size-2 and two NULs.
TEST_F(Profile, Lists) {
  const char16_t* const kSection = u"(section)";  // asks GetPrivateProfileSectionW for the section
  const std::tuple<const char16_t*, const char16_t*, uint32_t, std::u16string, uint32_t> cases[] = {
      {kSection, u"login", 512, u"LoginURL=http://h/?a=b\0Dup=1st\0dup=2\0Company=\"Quoted Value\"\0Product='single'\0"
       u"Mixed=\"mis'\0Lone=\"\0EmptyQuoted=\"\"\0BareLine\0=eq\0Two=a=b\0Sp=\0Tabs=tabbed\0\0"s, 148},
      {kSection, u"SPACED SECTION", 64, u"k=v\0[NoClose\0\0"s, 13},  // a header needs its ']'
      {kSection, u"Small", 16, u"a=1\0bb=22\0bare\0\0"s, 15}, {kSection, u"Small", 15, u"a=1\0bb=22\0bar\0\0"s, 13},
      {kSection, u"Small", 3, u"a\0\0"s, 1},  {kSection, u"Small", 2, u"\0\0"s, 0}, {kSection, u"Small", 1, u"\0"s, 0},
      {kSection, u"Small", 0, u""s, 0},      {kSection, u"Empty", 4, u"\0\0"s, 0}, {kSection, nullptr, 4, u"\0\0"s, 0},
      {u"Small", nullptr, 64, u"a\0bb\0\0"s, 5}, {u"Login", nullptr, 12, u"LoginURL\0D\0\0"s, 10},  // "bare" is no key
      {u"Nope", nullptr, 64, u"none\0"s, 4},    {u"Empty", nullptr, 64, u"none\0"s, 4},
      {nullptr, u"ignored", 128, u"Login\0Spaced Section\0a]b\0login\0Ärger Раздел ｗｉｄｅ\0Small\0Ints\0Empty\0\0"s, 66},
      {nullptr, nullptr, 14, u"Login\0Spaced\0\0"s, 12},
  };
  for (const auto& [section, key, size, written, ret] : cases) {
    std::u16string buf(size + 4, u'#');
    EXPECT_EQ(section == kSection ? GetPrivateProfileSectionW(key, buf.data(), size, u"main.ini")
                                  : GetPrivateProfileStringW(section, key, u"none  ", buf.data(), size, u"main.ini"),
              ret) << size;
    EXPECT_EQ(buf, written + std::u16string(buf.size() - written.size(), u'#')) << size;
  }
  EXPECT_EQ(GetPrivateProfileSectionW(u"Login", nullptr, 100, u"main.ini") +
                GetPrivateProfileStringW(u"Login", u"Dup", u"d", nullptr, 100, u"main.ini"), 0u);
}

TEST_F(Profile, IntParsing) {
  const std::pair<const char16_t*, uint32_t> cases[] = {
      {u"neg", 0xFFFFFFFFu}, {u"lead", 42}, {u"hex", 0xAAFF}, {u"upHex", 0}, {u"negHex", 0xFFFFFFF0u}, {u"bin", 2},
      {u"oct", 15}, {u"abc", 0}, {u"blank", 0}, {u"mixed", 12}, {u"wrap", 1}, {u"long", 4},  // 19 characters are read
      {u"empty", 0xFFFFFFFDu}, {u"missing", 0xFFFFFFFDu}};  // the default, -3
  for (const auto& [key, expected] : cases) EXPECT_EQ(GetPrivateProfileIntW(u"Ints", key, -3, u"main.ini"), expected);
}

TEST_F(Profile, FilesResolveAndLoadOnce) {
  folder_.Write("win.ini", "[W]\nk=win");
  ASSERT_EQ(mkdir((dir_ + "/Configs").c_str(), 0700), 0);
  folder_.Write("Configs/System.ini", "[TEMPLATE]\nLanguage=zh-TW\n");
  EXPECT_EQ(Read(u"TEMPLATE", u"Language", u"D", 64, (dir16_ + u"\\Configs\\System.ini").c_str()) +
                Read(u"W", u"k", u"d", 64, nullptr), u"zh-TWwin");
  // A PrivateProfile answers from what it loaded; the functions load the file as it is now.
  PrivateProfile loaded = PrivateProfile::Load(u"main.ini");
  folder_.Write("main.ini", "[Ints]\nhex=2\n");
  const PrivateProfile moved = std::move(loaded);
  EXPECT_EQ(std::pair(moved.GetInt(u"Ints", u"hex", 0), GetPrivateProfileIntW(u"Ints", u"hex", 0, u"main.ini")),
            std::pair(0xAAFFu, 2u));
  SetProfileDirectory(dir16_ + u"\\Configs\\");
  EXPECT_EQ(ProfileDirectory(), dir16_ + u"/Configs/");
  EXPECT_EQ(Read(u"TEMPLATE", u"Language", u"D", 64, u"System.ini"), u"zh-TW");
}

// Without a BOM a file is read in the ANSI code page, as Windows does (蘇 in Big5 is C4 AC,
// which is also UTF-8 for U+012C). A file that is not read at all behaves as a missing file.
TEST_F(Profile, EncodingsAndFilesNotRead) {
  using enum PrivateProfile::Status;
  const std::u16string text = u"[s]\r\nk = 委託\r\n";
  std::string le = "\xFF\xFE", be = "\xFE\xFF", utf8 = Utf16ToUtf8(text), bom = "\xEF\xBB\xBF" + utf8 + ";";
  for (auto c : text) { le += {char(c & 0xFF), char(c >> 8)}; be += {char(c >> 8), char(c & 0xFF)}; }
  const std::string max = bom + std::string(PrivateProfile::kMaxBytes - bom.size(), 'x');  // a comment up to the limit
  for (const auto& [name, bytes] : {std::pair{"bom", bom}, {"le", le}, {"be", be}, {"utf8", utf8}, {"big", le},
                                    {"su", "[s]\nk=\xC4\xAC"s}, {"max", max}})
    folder_.Write(name, bytes);
  std::filesystem::resize_file(dir_ + "/big", PrivateProfile::kMaxBytes + 1);  // sparse
  struct Case { std::u16string name, value; PrivateProfile::Status status; unsigned codePage = 950; };
  std::vector<Case> cases = {
      {u"bom", u"委託", Ok},        {u"le", u"委託", Ok},        {u"be", u"委託", Ok},
      {u"su", u"蘇", Ok},           {u"su", u"\u012C", Ok, 65001}, {u"utf8", u"委託", Ok, 65001},
      {u"bom", u"委託", Ok, 12345}, {u"utf8", u"d", NoCodePage, 12345}, {u"max", u"委託", Ok},
      {u"big", u"d", TooLarge},     {u"nope", u"d", Missing},    {u"", u"d", Missing},
      {dir16_, u"d", NotRegularFile}, {dir16_ + u"/le/x", u"d", Missing}};
  // FIFOs (no writer: a blocking open would hang), devices and symbolic links where there are any.
  if (mkfifo((dir_ + "/fifo").c_str(), 0600) == 0 && symlink("loop", (dir_ + "/loop").c_str()) == 0)
    cases.insert(cases.end(), {{u"/dev/null", u"d", NotRegularFile}, {u"fifo", u"d", NotRegularFile},
                               {u"loop", u"d", Unreadable}});
  else
    ASSERT_EQ(errno, ENOSYS);
  const auto openFiles = [] {  // no /proc: nothing to count
    std::error_code none;
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd", none), {});
  };
  const auto filesBefore = openFiles();
  for (const auto& [name, value, status, codePage] : cases) {
    SetAnsiCodePage(codePage);
    const PrivateProfile profile = PrivateProfile::Load(name.c_str());
    char16_t buf[8];
    EXPECT_EQ(profile.GetStatus(), status) << Utf16ToUtf8(name) << " in " << codePage;
    EXPECT_EQ(std::u16string(buf, profile.GetString(u"s", u"K", u"d", buf, 8)), value) << Utf16ToUtf8(name);
    EXPECT_EQ(profile.GetSection(u"s", buf, 8) + profile.GetString(nullptr, nullptr, u"", buf, 8) > 0, status == Ok);
  }
  SetAnsiCodePage(CP_ACP);
  EXPECT_EQ(openFiles(), filesBefore);
}

}  // namespace
}  // namespace kdx
