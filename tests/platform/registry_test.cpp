#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <functional>
#include <sstream>

#include "common/host_util.h"

namespace kdx {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class RegistryTest : public testing::Test {
 protected:
  void WriteFile(std::string_view bytes) { dir_.Write("registry", bytes); }
  test::TempFolder dir_;
  fs::path file_ = dir_.path() / "registry";
};

TEST_F(RegistryTest, AwkwardValuesRoundTripThroughTheFileAndOtherProcesses) {
  const struct {
    std::u16string key, name, data;
  } entries[] = {
      {u"CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", u"", u"ORV_Velmar_KDX Control"},
      {u"Quotes", u"say \"hi\"", u"\"quoted\" and \\back\\slashed\\"},
      {u"Lines", u"multi", u"one\ntwo\r\nthree\tend"},
      {u"Lines", u"controls", std::u16string(u"nul\0soh\x01del\x7f", 11)},
      {u"Odd ] [key] = \"name\"", u"=", u"@=\"x\""},
      {u"Unicode", u"委託", u"成交 😀"},
      {u"Unicode", u"lone surrogates", u"\xD800 then \xDC00 and \xDBFF"},
      {u"Empty", u"", u""},
      {u"Spaces", u" padded ", u"  two leading, one trailing "},
  };
  {
    Registry writer(file_);
    for (const auto& e : entries) ASSERT_EQ(writer.SetValue(e.key, e.name, e.data), S_OK);
  }
  const std::string text = ReadFile(file_);
  EXPECT_TRUE(text.starts_with("kdx-registry 1\n")) << text;
  EXPECT_TRUE(text.ends_with("\nend\n")) << text;

  Registry reader(file_);
  EXPECT_EQ(reader.ReadResult(), S_OK);
  for (const auto& e : entries) {
    SCOPED_TRACE(std::string(e.key.begin(), e.key.end()));
    EXPECT_EQ(reader.GetValue(e.key, e.name), e.data);
  }
  EXPECT_EQ(reader.GetValue(u"Unicode", u"missing"), std::nullopt);
  EXPECT_EQ(reader.GetValue(u"Missing", u""), std::nullopt);

  // Same-sized rewrites in quick succession, two between reads: size, time and even the
  // inode (freed by one rename, reused by the next) can all match the version last read.
  Registry writer(file_);
  for (std::u16string value : {u"1", u"2", u"3"}) {
    ASSERT_EQ(writer.SetValue(u"K", u"v", u"x"), S_OK);
    ASSERT_EQ(writer.SetValue(u"K", u"v", value), S_OK);
    EXPECT_EQ(reader.GetValue(u"K", u"v"), value);
  }
  ASSERT_EQ(reader.DeleteTree(u"K"), S_OK);
  EXPECT_FALSE(writer.KeyExists(u"K"));
}

TEST_F(RegistryTest, NamesIgnoreCaseKeepTheFirstSpellingAndDeleteTreeTakesOnlyItsSubtree) {
  Registry r(file_);
  ASSERT_EQ(r.SetValue(u"CLSID\\{ab}\\InprocServer32", u"ThreadingModel", u"Apartment"), S_OK);
  ASSERT_EQ(r.SetValue(u"clsid\\{AB}\\Control", u"", u""), S_OK);
  ASSERT_EQ(r.SetValue(u"CLSID\\{AB}\\INPROCSERVER32", u"THREADINGMODEL", u"Both"), S_OK);
  ASSERT_EQ(r.CreateKey(u"Clsid\\{Ab}\\Programmable"), S_OK);
  ASSERT_EQ(r.CreateKey(u"CLSID\\{AB}\\programmable"), S_OK);
  for (const char16_t* key : {u"A\\B\\C", u"A\\B", u"A\\BC", u"A\\B C", u"AB", u"A\\Other\\B"})
    ASSERT_EQ(r.SetValue(key, u"", key), S_OK);
  ASSERT_EQ(r.DeleteTree(u"a\\b"), S_OK);
  EXPECT_EQ(r.DeleteTree(u"A\\B"), S_FALSE);
  EXPECT_EQ(r.DeleteTree(u"Nowhere"), S_FALSE);

  Registry reread(file_);
  using Keys = std::vector<std::u16string>;
  for (Registry* reg : {&r, &reread}) {
    EXPECT_EQ(reg->GetValue(u"clsid\\{aB}\\inprocserver32", u"threadingmodel"), u"Both");
    EXPECT_TRUE(reg->KeyExists(u"CLSID\\{AB}\\CONTROL"));
    EXPECT_EQ(reg->SubKeys(u""), (Keys{u"A", u"AB", u"CLSID"}));
    EXPECT_EQ(reg->SubKeys(u"CLSID"), Keys{u"{ab}"});
    EXPECT_EQ(reg->SubKeys(u"CLSID\\{AB}"), (Keys{u"Control", u"InprocServer32", u"Programmable"}));
    EXPECT_TRUE(reg->SubKeys(u"CLSID\\{AB}\\Control").empty());
    EXPECT_FALSE(reg->KeyExists(u"A\\B") || reg->KeyExists(u"A\\B\\C"));
    EXPECT_EQ(reg->SubKeys(u"A"), (Keys{u"B C", u"BC", u"Other"}));
    EXPECT_EQ(reg->GetValue(u"A\\Other\\B", u""), u"A\\Other\\B");
    EXPECT_EQ(reg->GetValue(u"AB", u""), u"AB");
  }
  EXPECT_NE(ReadFile(file_).find("\"ThreadingModel\"=\"Both\""), std::string::npos);
}

TEST_F(RegistryTest, MalformedKeyPathsAreRefusedWithoutWriting) {
  Registry r(file_);
  for (std::u16string_view key : {u"", u"\\A", u"A\\", u"A\\\\B"}) {
    SCOPED_TRACE(std::string(key.begin(), key.end()));
    EXPECT_EQ(r.SetValue(key, u"", u"x"), E_INVALIDARG);
    EXPECT_EQ(r.CreateKey(key), E_INVALIDARG);
    EXPECT_EQ(r.DeleteTree(key), E_INVALIDARG);
    EXPECT_EQ(r.GetValue(key, u""), std::nullopt);
    EXPECT_FALSE(r.KeyExists(key));
  }
  EXPECT_FALSE(fs::exists(file_));
}

// Each case makes the next write impossible and returns how to undo that.
struct WriteFailure {
  const char* name;
  std::function<std::function<void()>(const fs::path& file)> arrange;
  friend void PrintTo(const WriteFailure& c, std::ostream* os) { *os << c.name; }
};

const WriteFailure kWriteFailures[] = {
    {"TempNameTaken",
     [](const fs::path& file) -> std::function<void()> {
       const fs::path temp = fs::path(file) += ".tmp";
       fs::create_directory(temp);
       return [temp] { fs::remove(temp); };
     }},
    {"DiskFull",
     [](const fs::path&) -> std::function<void()> {
       rlimit old, tiny;
       getrlimit(RLIMIT_FSIZE, &old);
       tiny = old;
       tiny.rlim_cur = 16;
       signal(SIGXFSZ, SIG_IGN);
       setrlimit(RLIMIT_FSIZE, &tiny);
       return [old] {
         setrlimit(RLIMIT_FSIZE, &old);
         signal(SIGXFSZ, SIG_DFL);
       };
     }},
    {"ReadOnlyFolder",
     [](const fs::path& file) -> std::function<void()> {
       fs::permissions(file.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
       return [dir = file.parent_path()] { fs::permissions(dir, fs::perms::owner_all); };
     }},
};

class RegistryWriteFailure : public RegistryTest, public testing::WithParamInterface<WriteFailure> {};

TEST_P(RegistryWriteFailure, FailsAndLeavesEverythingAsItWas) {
  if (GetParam().name == std::string("ReadOnlyFolder") && geteuid() == 0)
    GTEST_SKIP() << "folder permissions do not bind root";
  Registry r(file_);
  ASSERT_EQ(r.SetValue(u"Keep\\Sub", u"v", u"old"), S_OK);
  const std::string before = ReadFile(file_);

  auto undo = GetParam().arrange(file_);
  const HRESULT results[] = {r.SetValue(u"Keep\\Sub", u"v", u"new"), r.SetValue(u"New", u"", u"x"),
                             r.CreateKey(u"Keep\\Other"), r.DeleteTree(u"Keep")};
  undo();

  for (HRESULT hr : results) EXPECT_EQ(hr, REGDB_E_WRITEREGDB);
  EXPECT_EQ(r.GetValue(u"Keep\\Sub", u"v"), u"old");
  EXPECT_FALSE(r.KeyExists(u"New"));
  EXPECT_FALSE(r.KeyExists(u"Keep\\Other"));
  EXPECT_EQ(ReadFile(file_), before);
  EXPECT_TRUE(fs::is_directory(fs::path(file_) += ".tmp") || !fs::exists(fs::path(file_) += ".tmp"));
  // Once the obstacle is gone, writing works again.
  EXPECT_EQ(r.SetValue(u"Keep\\Sub", u"v", u"new"), S_OK);
  EXPECT_EQ(Registry(file_).GetValue(u"Keep\\Sub", u"v"), u"new");
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryWriteFailure, testing::ValuesIn(kWriteFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, PathsThatCannotHoldAFileAreErrorsNotCrashes) {
  // No file is an empty registry; a folder that cannot exist fails only the write.
  dir_.Write("plain-file", "x");
  Registry r(dir_.path() / "plain-file" / "registry");
  EXPECT_EQ(r.ReadResult(), S_OK);
  EXPECT_EQ(r.SetValue(u"K", u"", u"v"), REGDB_E_WRITEREGDB);
  EXPECT_FALSE(r.KeyExists(u"K"));
  // A folder in place of the file fails both.
  fs::create_directory(file_);
  Registry folder(file_);
  EXPECT_EQ(folder.ReadResult(), REGDB_E_READREGDB);
  EXPECT_EQ(folder.SetValue(u"K", u"", u"v"), REGDB_E_WRITEREGDB);
}

// Each corrupt file reads as empty and is kept aside by the next write.
TEST_F(RegistryTest, CorruptFilesReadAsEmptyAndAreKeptAside) {
  const std::string k = "kdx-registry 1\n[\"K\"]\n";
  const std::pair<std::string, bool> files[] = {  // bytes, and whether they are a valid registry
      {"", true},
      {"kdx-registry 1\r\n# hand edit\r\n\r\n[\"K\"]\r\n@=\"v\"\r\nend\r\n", true},
      {"[\"K\"]\n@=\"v\"\nend\n", false},                    // no header
      {k + "@=\"v\"\n", false},     {k + "@=\"v\"\nen", false},  // no end line; cut mid-line
      {k + "end\n@=\"v\"\n", false},                         // lines after the end
      {"kdx-registry 1\n@=\"v\"\n[\"K\"]\nend\n", false},     // a value before any key
      {k + "@=\"\\q\"\nend\n", false},  {k + "@=\"\\u12\"\nend\n", false},  // unknown and short escapes
      {k + "@=\"v\nend\n", false},      {k + "@=\"v\" x\nend\n", false},    // unterminated; text after
      {k + "@=\"a\x01\"\nend\n", false}, {k + "@=\"\xE5\xA7\"\nend\n", false},  // raw control; bad UTF-8
      {"kdx-registry 1\n[\"K\\\\\\\\L\"]\nend\n", false},      // an empty key component
      {"kdx-registry 1\n[K]\nend\n", false},                   // an unquoted key
  };
  const fs::path aside = fs::path(file_) += ".corrupt";
  for (const auto& [bytes, valid] : files) {
    SCOPED_TRACE(bytes);
    fs::remove(aside);
    WriteFile(bytes);
    Registry r(file_);
    EXPECT_EQ(r.ReadResult(), valid ? S_OK : REGDB_E_READREGDB);
    EXPECT_EQ(r.GetValue(u"K", u""), valid && !bytes.empty() ? std::optional<std::u16string>(u"v") : std::nullopt);
    EXPECT_EQ(r.SubKeys(u"").empty(), !valid || bytes.empty());
    ASSERT_EQ(r.SetValue(u"New", u"", u"x"), S_OK);
    EXPECT_EQ(r.ReadResult(), S_OK);
    EXPECT_EQ(Registry(file_).GetValue(u"New", u""), u"x");
    EXPECT_EQ(fs::exists(aside) ? ReadFile(aside) : "(none)", valid ? "(none)" : bytes);
  }
}

// Points the process-wide registry at a scratch file for one test.
class ClassesRootTest : public RegistryTest {
 protected:
  void SetUp() override {
    saved_ = ClassesRoot().File();
    SetRegistryFile(file_);
  }
  void TearDown() override { SetRegistryFile(saved_); }
  fs::path saved_;
};

TEST_F(ClassesRootTest, CLSIDFromProgID) {
  const std::u16string clsidText = u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
  const CLSID clsid = *GUID::Parse(clsidText);
  ASSERT_EQ(ClassesRoot().SetValue(u"Good.Prog.1\\CLSID", u"", clsidText), S_OK);
  ASSERT_EQ(ClassesRoot().SetValue(u"Bad.Prog.1\\CLSID", u"", u"{0A1B2C3D-4E5F-6071-8293}"), S_OK);
  ASSERT_EQ(ClassesRoot().CreateKey(u"NoClsid.Prog.1"), S_OK);
  EXPECT_EQ(StringFromCLSID(clsid), clsidText);

  // Only a key holding a well-formed CLSID names a class.
  for (std::u16string_view progId : {u"GOOD.PROG.1", u"Bad.Prog.1", u"NoClsid.Prog.1", u"Missing.1", u"",
                                     u"Good.Prog.1\\CLSID"}) {
    SCOPED_TRACE(std::string(progId.begin(), progId.end()));
    const bool good = progId == u"GOOD.PROG.1";
    CLSID out = *GUID::Parse(u"{11111111-1111-1111-1111-111111111111}");
    EXPECT_EQ(CLSIDFromProgID(progId, &out), good ? S_OK : CO_E_CLASSSTRING);
    EXPECT_EQ(out, good ? clsid : CLSID{});
  }
  EXPECT_EQ(CLSIDFromProgID(u"Good.Prog.1", nullptr), E_POINTER);

  WriteFile("not a registry\n");
  CLSID out;
  EXPECT_EQ(CLSIDFromProgID(u"Good.Prog.1", &out), REGDB_E_READREGDB);
}

TEST(RegistryDefaultFile, FollowsTheEnvironment) {
  const char* const names[] = {"KDX_REGISTRY", "XDG_DATA_HOME", "HOME"};
  using Env = std::array<const char*, 3>;  // the values of those, null when unset
  const std::pair<Env, const char*> cases[] = {
      {{"/etc/kdx/reg", "/xdg", "/home/u"}, "/etc/kdx/reg"},
      {{"", "/xdg", "/home/u"}, "/xdg/kdx-bridge/registry"},
      {{nullptr, "relative", "/home/u"}, "/home/u/.local/share/kdx-bridge/registry"},
      {{nullptr, nullptr, "/home/u"}, "/home/u/.local/share/kdx-bridge/registry"},
  };
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i)
    if (const char* v = getenv(names[i])) saved[i] = v;
  for (const auto& [env, expected] : cases) {
    for (int i = 0; i < 3; ++i) env[i] ? setenv(names[i], env[i], 1) : unsetenv(names[i]);
    EXPECT_EQ(DefaultRegistryFile(), fs::path(expected));
  }
  for (int i = 0; i < 3; ++i) saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
}  // namespace kdx
