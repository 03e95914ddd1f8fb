#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "common/host_util.h"
#include "platform/codepage.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Keys = std::vector<std::u16string>;
using Names = std::set<std::string>;
constexpr HRESULT kRead = REGDB_E_READREGDB, kWrite = REGDB_E_WRITEREGDB;

std::string ReadFile(const fs::path& file) {
  std::ostringstream out;
  out << std::ifstream(file, std::ios::binary).rdbuf();
  return out.str();
}

Names Listing(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// A registry file in a folder the registry has yet to make.
class RegistryTest : public testing::Test {
 protected:
  void WriteFile(std::string_view bytes) {
    fs::create_directory(folder_);
    std::ofstream(file_, std::ios::binary) << bytes;
  }
  test::TempFolder dir_;
  const fs::path folder_ = dir_.path() / "reg", file_ = folder_ / "registry";
};

TEST_F(RegistryTest, AwkwardValuesRoundTripThroughTheFileAndOtherProcesses) {
  const std::array<std::u16string, 3> entries[] = {  // key, name, data
      {u"Odd ] [key] = \"name\"\\Sub", u"say \"hi\" =", u"@=\"q\" \\back\\ one\ntwo\r\nthree\tend"},
      {u"Unicode 委託", u"surrogates", u"😀 paired, \xD800 then \xDC00 and \xDBFF"},
      {u"Unicode 委託", u"controls", u"nul\0soh\x01del\x7f"s}, {u"Empty", u"", u""},
      {u"Empty", u" padded ", u"  two leading, one trailing "}};
  for (const auto& [key, name, data] : entries) ASSERT_EQ(Registry(file_).SetValue(key, name, data), S_OK);
  EXPECT_EQ(fs::symlink_status(folder_).permissions(), fs::perms::owner_all);  // made private
  const std::string text = ReadFile(file_);
  EXPECT_TRUE(text.starts_with("kdx-registry 1\n") && text.ends_with("\nend\n")) << text;
  EXPECT_NE(text.find("=\"😀 paired, \\uD800 then \\uDC00 and \\uDBFF\"\n"), std::string::npos) << text;
  Registry reader(file_);
  for (const auto& [key, name, data] : entries) EXPECT_EQ(reader.GetValue(key, name), data) << Utf16ToUtf8(name);
  EXPECT_EQ(reader.ReadResult(), S_OK);
  EXPECT_TRUE(!reader.GetValue(u"Empty", u"missing") && !reader.GetValue(u"Missing", u""));

  // Same-sized rewrites in quick succession, two between reads: size, time and even the
  // inode (freed by one rename, reused by the next) can all match the version last read.
  Registry writer(file_);
  for (std::u16string value : {u"1", u"2", u"3"}) {
    ASSERT_TRUE(writer.SetValue(u"K", u"v", u"x") == S_OK && writer.SetValue(u"K", u"v", value) == S_OK);
    EXPECT_EQ(reader.GetValue(u"K", u"v"), value);
  }
  EXPECT_TRUE(reader.DeleteTree(u"K") == S_OK && !writer.KeyExists(u"K"));
  EXPECT_EQ(Listing(folder_), (Names{"registry", "registry.lock"}));  // no temporary left
}

TEST_F(RegistryTest, NamesIgnoreCaseKeepTheFirstSpellingAndDeleteTreeTakesOnlyItsSubtree) {
  Registry r(file_);
  ASSERT_EQ(r.SetValue(u"CLSID\\{ab}\\InprocServer32", u"ThreadingModel", u"Apartment"), S_OK);
  ASSERT_EQ(r.SetValue(u"CLSID\\{AB}\\INPROCSERVER32", u"THREADINGMODEL", u"Both"), S_OK);
  ASSERT_TRUE(r.CreateKey(u"Clsid\\{Ab}\\Programmable") == S_OK && r.CreateKey(u"CLSID\\{AB}\\programmable") == S_OK);
  for (const char16_t* key : {u"A\\B\\C", u"A\\B", u"A\\BC", u"A\\B C", u"AB", u"A\\Other\\B"})
    ASSERT_EQ(r.SetValue(key, u"", key), S_OK);
  EXPECT_TRUE(r.DeleteTree(u"a\\b") == S_OK && r.DeleteTree(u"A\\B") == S_FALSE);
  for (std::u16string_view key : {u"", u"\\A", u"A\\", u"A\\\\B"}) {  // malformed paths change nothing
    EXPECT_TRUE(r.SetValue(key, u"", u"x") == E_INVALIDARG && r.CreateKey(key) == E_INVALIDARG);
    EXPECT_TRUE(r.DeleteTree(key) == E_INVALIDARG && !r.GetValue(key, u"") && !r.KeyExists(key));
  }
  Registry reread(file_);
  for (Registry* reg : {&r, &reread}) {
    EXPECT_EQ(reg->GetValue(u"clsid\\{aB}\\inprocserver32", u"threadingmodel"), u"Both");
    EXPECT_EQ(reg->SubKeys(u""), (Keys{u"A", u"AB", u"CLSID"}));
    EXPECT_EQ(reg->SubKeys(u"CLSID"), Keys{u"{ab}"});
    EXPECT_EQ(reg->SubKeys(u"CLSID\\{AB}"), (Keys{u"InprocServer32", u"Programmable"}));
    EXPECT_FALSE(reg->KeyExists(u"A\\B") || reg->KeyExists(u"A\\B\\C"));
    EXPECT_EQ(reg->SubKeys(u"A"), (Keys{u"B C", u"BC", u"Other"}));
    EXPECT_EQ(reg->GetValue(u"A\\Other\\B", u""), u"A\\Other\\B");
  }
  EXPECT_NE(ReadFile(file_).find("\"ThreadingModel\"=\"Both\""), std::string::npos);
}

// The write fails (disk full; the folder replaced by a file, which binds root too) and leaves
// everything as it was; once the obstacle is gone, writing works again.
TEST_F(RegistryTest, AFailedWriteLeavesEverythingAsItWas) {
  const fs::path away = fs::path(folder_) += ".away";
  for (bool diskFull : {true, false}) {
    Registry r(file_);
    ASSERT_EQ(r.SetValue(u"Keep\\Sub", u"v", u"old"), S_OK);
    const std::string before = ReadFile(file_);
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit tiny{16, old.rlim_max};
    if (diskFull) signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &tiny);
    else fs::rename(folder_, away), std::ofstream(folder_) << "x";
    const HRESULT results[] = {r.SetValue(u"Keep\\Sub", u"v", u"new"), r.SetValue(u"New", u"", u"x"),
                               r.CreateKey(u"Keep\\Other"), r.DeleteTree(u"Keep")};
    if (diskFull) setrlimit(RLIMIT_FSIZE, &old), signal(SIGXFSZ, SIG_DFL);
    else fs::remove(folder_), fs::rename(away, folder_);
    for (HRESULT hr : results) EXPECT_EQ(hr, kWrite) << diskFull;
    EXPECT_TRUE(r.GetValue(u"Keep\\Sub", u"v") == u"old" && !r.KeyExists(u"New") && !r.KeyExists(u"Keep\\Other"));
    EXPECT_EQ(ReadFile(file_), before);
    EXPECT_EQ(Listing(folder_), (Names{"registry", "registry.lock"}));
    ASSERT_EQ(r.SetValue(u"Keep\\Sub", u"v", u"new"), S_OK);
    EXPECT_EQ(Registry(file_).GetValue(u"Keep\\Sub", u"v"), u"new");
    fs::remove_all(folder_);
  }
}

// What others could have changed, or what is no plain file or folder of ours, may name a library
// of theirs: nothing of it is used and nothing is written over it. A link planted at a name the
// registry writes carries no write to its target; where the link can be passed by, writing goes on.
TEST_F(RegistryTest, RefusesWhatOthersCouldChangeAndWritesThroughNoPlantedLink) {
  const fs::path victim = dir_.path() / "victim";
  const struct {
    const char* what;
    std::string name;  // in the folder; empty: the folder itself
    char change;       // g, w: group- or world-writable; o: someone else's; p, d: a pipe, a folder; l: a link
    HRESULT read, write;
  } cases[] = {
      {"group-writable file", "registry", 'g', kRead, kWrite}, {"world-writable folder", "", 'w', kRead, kWrite},
      {"someone else's file", "registry", 'o', kRead, kWrite}, {"someone else's folder", "", 'o', kRead, kWrite},
      {"file is a pipe", "registry", 'p', kRead, kWrite}, {"file is a folder", "registry", 'd', kRead, kWrite},
      {"file is a link", "registry", 'l', kRead, kWrite}, {"folder is a link", "", 'l', kRead, kWrite},
      {"lock is a link", "registry.lock", 'l', S_OK, kWrite}, {"old temporary", "registry.tmp", 'l', S_OK, S_OK},
      {"next temporary", "registry.tmp-" + std::to_string(getpid()), 'l', S_OK, S_OK},
      {"corrupt file's copy", "registry.corrupt", 'l', kRead, S_OK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(folder_), fs::remove_all(victim);
    ASSERT_EQ(Registry(file_).SetValue(u"Planted\\CLSID", u"", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}"), S_OK);
    fs::last_write_time(file_, fs::last_write_time(file_) - std::chrono::hours(1));  // old enough to be kept
    Registry r(file_);
    ASSERT_EQ(r.ReadResult(), S_OK);  // read, and kept, before the change
    const std::string before = ReadFile(file_);
    const fs::path at = c.name.empty() ? folder_ : folder_ / c.name;
    if (c.change == 'o' && chown(at.c_str(), 4242, -1) != 0) continue;  // only root may give a file away
    if (c.change == 'g' || c.change == 'w') chmod(at.c_str(), c.change == 'g' ? 0664 : 0707);
    if (c.change == 'p' || c.change == 'd')
      fs::remove(at), c.change == 'p' ? mkfifo(at.c_str(), 0600) : mkdir(at.c_str(), 0700);
    if (c.read != S_OK && c.write == S_OK) WriteFile("corrupt\n");
    if (c.change == 'l') {
      fs::exists(at) ? fs::rename(at, victim) : void(std::ofstream(victim) << "victim");
      fs::create_symlink(victim, at);
    }
    const std::string victimBefore = ReadFile(victim);
    EXPECT_TRUE(r.ReadResult() == c.read && r.GetValue(u"Planted\\CLSID", u"").has_value() == (c.read == S_OK));
    EXPECT_TRUE(r.SetValue(u"New", u"", u"x") == c.write && Registry(file_).KeyExists(u"New") == (c.write == S_OK));
    EXPECT_EQ(ReadFile(victim), victimBefore);
    EXPECT_TRUE(c.write == S_OK || !fs::is_regular_file(file_) || ReadFile(file_) == before);
    EXPECT_TRUE(c.change != 'g' || (!chmod(at.c_str(), 0644) && r.ReadResult() == S_OK));  // put right: used again
  }
}

// Each corrupt file reads as empty and is kept aside by the next write.
TEST_F(RegistryTest, CorruptFilesReadAsEmptyAndAreKeptAside) {
  const std::string k = "kdx-registry 1\n[\"K\"]\n", aside = file_.string() + ".corrupt";
  const std::pair<std::string, bool> files[] = {  // bytes, and whether they are a valid registry
      {"", true}, {"kdx-registry 1\r\n# hand edit\r\n\r\n[\"K\"]\r\n@=\"v\"\r\nend\r\n", true},
      {"[\"K\"]\n@=\"v\"\nend\n", false}, {k + "@=\"v\"\n", false}, {k + "@=\"v\"\nen", false},  // no header; no end
      {k + "end\n@=\"v\"\n", false}, {"kdx-registry 1\n@=\"v\"\n[\"K\"]\nend\n", false},  // after the end; no key
      {k + "@=\"\\q\"\nend\n", false}, {k + "@=\"\\u12\"\nend\n", false},  // unknown and short escapes
      {k + "@=\"v\nend\n", false}, {k + "@=\"v\\\nend\n", false}, {k + "@=\"v\" x\nend\n", false},  // cut; text after
      {k + "@=\"a\x01\"\nend\n", false}, {k + "@=\"\xE5\xA7\"\nend\n", false},  // raw control; bad UTF-8
      {"kdx-registry 1\n[\"K\\\\\\\\L\"]\nend\n", false}, {"kdx-registry 1\n[K]\nend\n", false}};  // empty; unquoted
  for (const auto& [bytes, valid] : files) {
    SCOPED_TRACE(bytes);
    fs::remove(aside);
    WriteFile(bytes);
    Registry r(file_);
    EXPECT_EQ(r.ReadResult(), valid ? S_OK : kRead);
    EXPECT_EQ(r.GetValue(u"K", u""), valid && !bytes.empty() ? std::optional<std::u16string>(u"v") : std::nullopt);
    EXPECT_EQ(r.SubKeys(u"").empty(), !valid || bytes.empty());
    ASSERT_EQ(r.SetValue(u"New", u"", u"x"), S_OK);
    EXPECT_TRUE(r.ReadResult() == S_OK && Registry(file_).GetValue(u"New", u"") == u"x");
    EXPECT_EQ(fs::exists(aside) ? ReadFile(aside) : "(none)", valid ? "(none)" : bytes);
  }
  WriteFile("kdx-registry 1\n#" + std::string(16 << 20, '-') + "\n[\"K\"]\n@=\"v\"\nend\n");  // too big to read
  EXPECT_EQ(Registry(file_).ReadResult(), kRead);
}

// CLSIDs are GUID text, braced or not, in either case.
TEST_F(RegistryTest, CLSIDFromProgIDTakesOnlyAWellFormedCLSIDFromAFileOfOurs) {
  const fs::path saved = ClassesRoot().File();
  SetRegistryFile(file_);
  const CLSID clsid{0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
  const std::u16string text = u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
  EXPECT_EQ(StringFromCLSID(clsid), text);
  ASSERT_EQ(ClassesRoot().CreateKey(u"NoClsid.1"), S_OK);
  CLSID out;
  constexpr HRESULT kBad = CO_E_CLASSSTRING;
  // A ProgID, the text written as its CLSID first (if any) and what looking it up answers.
  const std::tuple<std::u16string_view, std::optional<std::u16string_view>, HRESULT> cases[] = {
      {u"Good.1", text, S_OK}, {u"Lower.1", u"0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9", S_OK}, {u"Bad.1", u"", kBad},
      {u"Bad.1", u"{0A1B2C3D-4E5F-6071-8293}", kBad}, {u"Bad.1", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9", kBad},
      {u"Bad.1", u"0A1B2C3D04E5F-6071-8293-A4B5C6D7E8F9", kBad},
      {u"Bad.1", u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", kBad},
      {u"Bad.1", u"[0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9]", kBad}, {u"GOOD.1", {}, S_OK}, {u"NoClsid.1", {}, kBad},
      {u"", {}, kBad}, {u"Good.1\\CLSID", {}, kBad}, {u"Good.1", {}, kRead}};  // the last once anyone could plant it
  for (const auto& [progId, value, hr] : cases) {
    ASSERT_TRUE(!value || ClassesRoot().SetValue(std::u16string(progId) + u"\\CLSID", u"", *value) == S_OK);
    if (hr == kRead) chmod(file_.c_str(), 0666);
    out = *GUID::Parse(u"{11111111-1111-1111-1111-111111111111}");
    EXPECT_EQ(CLSIDFromProgID(progId, &out), hr) << Utf16ToUtf8(progId);
    EXPECT_EQ(out, hr == S_OK ? clsid : CLSID{});
  }
  EXPECT_EQ(CLSIDFromProgID(u"Good.1", nullptr), E_POINTER);
  SetRegistryFile(saved);
}

TEST(RegistryDefaultFile, FollowsTheEnvironment) {
  const std::string names[] = {"KDX_REGISTRY", "XDG_DATA_HOME", "HOME"}, unset = "(unset)";
  std::array<std::string, 3> saved;
  for (int i = 0; i < 3; ++i) saved[i] = getenv(names[i].c_str()) ? getenv(names[i].c_str()) : unset;
  const std::pair<std::array<std::string, 3>, fs::path> cases[] = {
      {{"/etc/kdx/reg", "/xdg", "/home/u"}, "/etc/kdx/reg"}, {{"", "/xdg", "/home/u"}, "/xdg/kdx-bridge/registry"},
      {{unset, "relative", "/home/u"}, "/home/u/.local/share/kdx-bridge/registry"},
      {{unset, unset, ""}, fs::temp_directory_path() / ("kdx-bridge-" + std::to_string(geteuid())) / "registry"},
      {saved, DefaultRegistryFile()}};  // and back
  for (const auto& [env, expected] : cases) {
    for (int i = 0; i < 3; ++i)
      env[i] == unset ? unsetenv(names[i].c_str()) : setenv(names[i].c_str(), env[i].c_str(), 1);
    EXPECT_EQ(DefaultRegistryFile(), expected);
  }
}

}  // namespace
}  // namespace kdx
