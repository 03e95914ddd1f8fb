#include "platform/registry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

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

void WriteFile(const fs::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

class RegistryTest : public testing::Test {
 protected:
  test::TempFolder dir_;
  fs::path file_ = dir_.path() / "registry";
};

struct Entry {
  std::u16string key, name, data;
};

TEST_F(RegistryTest, AwkwardValuesRoundTripThroughTheFileAndOtherProcesses) {
  const Entry entries[] = {
      {u"CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}", u"", u"ORV_Velmar_KDX Control"},
      {u"CLSID\\{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\\MiscStatus\\1", u"", u"131473"},
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

TEST_F(RegistryTest, KeysAndValueNamesIgnoreCaseAndKeepFirstSpelling) {
  Registry r(file_);
  ASSERT_EQ(r.SetValue(u"CLSID\\{ab}\\InprocServer32", u"ThreadingModel", u"Apartment"), S_OK);
  ASSERT_EQ(r.SetValue(u"clsid\\{AB}\\Control", u"", u""), S_OK);
  ASSERT_EQ(r.SetValue(u"CLSID\\{AB}\\INPROCSERVER32", u"THREADINGMODEL", u"Both"), S_OK);
  ASSERT_EQ(r.CreateKey(u"Clsid\\{Ab}\\Programmable"), S_OK);
  ASSERT_EQ(r.CreateKey(u"CLSID\\{AB}\\programmable"), S_OK);

  Registry reread(file_);
  for (Registry* reg : {&r, &reread}) {
    EXPECT_EQ(reg->GetValue(u"clsid\\{aB}\\inprocserver32", u"threadingmodel"), u"Both");
    EXPECT_TRUE(reg->KeyExists(u"CLSID\\{AB}\\CONTROL"));
    EXPECT_EQ(reg->SubKeys(u""), std::vector<std::u16string>{u"CLSID"});
    EXPECT_EQ(reg->SubKeys(u"CLSID"), std::vector<std::u16string>{u"{ab}"});
    EXPECT_EQ(reg->SubKeys(u"CLSID\\{AB}"),
              (std::vector<std::u16string>{u"Control", u"InprocServer32", u"Programmable"}));
    EXPECT_TRUE(reg->SubKeys(u"CLSID\\{AB}\\Control").empty());
  }
  EXPECT_NE(ReadFile(file_).find("\"ThreadingModel\"=\"Both\""), std::string::npos);
}

TEST_F(RegistryTest, DeleteTreeRemovesOnlyThatSubtree) {
  Registry r(file_);
  for (const char16_t* key : {u"A\\B\\C", u"A\\B", u"A\\BC", u"A\\B C", u"AB", u"A\\Other\\B"})
    ASSERT_EQ(r.SetValue(key, u"", key), S_OK);
  ASSERT_EQ(r.DeleteTree(u"a\\b"), S_OK);
  EXPECT_EQ(r.DeleteTree(u"A\\B"), S_FALSE);
  EXPECT_EQ(r.DeleteTree(u"Nowhere"), S_FALSE);

  Registry reread(file_);
  for (Registry* reg : {&r, &reread}) {
    EXPECT_FALSE(reg->KeyExists(u"A\\B"));
    EXPECT_FALSE(reg->KeyExists(u"A\\B\\C"));
    EXPECT_EQ(reg->SubKeys(u"A"), (std::vector<std::u16string>{u"B C", u"BC", u"Other"}));
    EXPECT_EQ(reg->GetValue(u"A\\Other\\B", u""), u"A\\Other\\B");
    EXPECT_EQ(reg->GetValue(u"AB", u""), u"AB");
  }
}

TEST_F(RegistryTest, MalformedKeyPathsAreRefusedWithoutWriting) {
  Registry r(file_);
  for (std::u16string_view key : {u"", u"\\A", u"A\\", u"A\\\\B", u"\\"}) {
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
       fs::path temp = file;
       temp += ".tmp";
       fs::create_directory(temp);
       return [temp] { fs::remove(temp); };
     }},
    {"DiskFull",
     [](const fs::path&) -> std::function<void()> {
       rlimit old;
       getrlimit(RLIMIT_FSIZE, &old);
       rlimit tiny = old;
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

TEST_F(RegistryTest, FolderThatCannotExistFailsTheWrite) {
  WriteFile(dir_.path() / "plain-file", "x");
  Registry r(dir_.path() / "plain-file" / "registry");
  EXPECT_EQ(r.SetValue(u"K", u"", u"v"), REGDB_E_WRITEREGDB);
  EXPECT_FALSE(r.KeyExists(u"K"));
  EXPECT_EQ(r.ReadResult(), S_OK);  // no file is an empty registry, not an error
}

struct FileCase {
  const char* name;
  std::string bytes;
  bool valid;
  friend void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }
};

const FileCase kFiles[] = {
    {"Empty", "", true},
    {"CommentsBlankLinesAndCrLf", "kdx-registry 1\r\n# hand edit\r\n\r\n[\"K\"]\r\n@=\"v\"\r\nend\r\n", true},
    {"MissingHeader", "[\"K\"]\n@=\"v\"\nend\n", false},
    {"OtherVersion", "kdx-registry 2\n[\"K\"]\nend\n", false},
    {"NoEndLine", "kdx-registry 1\n[\"K\"]\n@=\"v\"\n", false},
    {"CutMidLine", "kdx-registry 1\n[\"K\"]\n@=\"v\"\nen", false},
    {"LinesAfterEnd", "kdx-registry 1\n[\"K\"]\nend\n@=\"v\"\n", false},
    {"ValueBeforeAnyKey", "kdx-registry 1\n@=\"v\"\n[\"K\"]\nend\n", false},
    {"UnknownEscape", "kdx-registry 1\n[\"K\"]\n@=\"\\q\"\nend\n", false},
    {"ShortUnicodeEscape", "kdx-registry 1\n[\"K\"]\n@=\"\\u12\"\nend\n", false},
    {"UnterminatedQuote", "kdx-registry 1\n[\"K\"]\n@=\"v\nend\n", false},
    {"TextAfterValue", "kdx-registry 1\n[\"K\"]\n@=\"v\" x\nend\n", false},
    {"RawControlCharacter", "kdx-registry 1\n[\"K\"]\n@=\"a\x01\"\nend\n", false},
    {"MalformedUtf8", "kdx-registry 1\n[\"K\"]\n@=\"\xE5\xA7\"\nend\n", false},
    {"EmptyKeyComponent", "kdx-registry 1\n[\"K\\\\\\\\L\"]\nend\n", false},
    {"UnquotedKey", "kdx-registry 1\n[K]\nend\n", false},
    {"BinaryGarbage", std::string("\0\xff\xfe\x01kdx", 7), false},
};

class RegistryFile : public RegistryTest, public testing::WithParamInterface<FileCase> {};

TEST_P(RegistryFile, CorruptReadsAsEmptyAndIsKeptAsideOnNextWrite) {
  const auto& c = GetParam();
  WriteFile(file_, c.bytes);
  Registry r(file_);
  EXPECT_EQ(r.ReadResult(), c.valid ? S_OK : REGDB_E_READREGDB);
  EXPECT_EQ(r.GetValue(u"K", u""), c.valid && !c.bytes.empty() ? std::optional<std::u16string>(u"v") : std::nullopt);
  if (!c.valid) {
    EXPECT_TRUE(r.SubKeys(u"").empty());
  }

  ASSERT_EQ(r.SetValue(u"New", u"", u"x"), S_OK);
  EXPECT_EQ(r.ReadResult(), S_OK);
  EXPECT_EQ(Registry(file_).GetValue(u"New", u""), u"x");
  fs::path aside = file_;
  aside += ".corrupt";
  EXPECT_EQ(fs::exists(aside), !c.valid);
  if (!c.valid) {
    EXPECT_EQ(ReadFile(aside), c.bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryFile, testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RegistryTest, FolderInPlaceOfTheFileIsAnErrorNotACrash) {
  fs::create_directory(file_);
  Registry r(file_);
  EXPECT_EQ(r.ReadResult(), REGDB_E_READREGDB);
  EXPECT_FALSE(r.KeyExists(u"K"));
  EXPECT_EQ(r.SetValue(u"K", u"", u"v"), REGDB_E_WRITEREGDB);
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

  struct {
    std::u16string_view progId;
    HRESULT hr;
  } const cases[] = {
      {u"Good.Prog.1", S_OK},          {u"GOOD.PROG.1", S_OK},
      {u"Bad.Prog.1", CO_E_CLASSSTRING}, {u"NoClsid.Prog.1", CO_E_CLASSSTRING},
      {u"Missing.1", CO_E_CLASSSTRING},  {u"", CO_E_CLASSSTRING},
      {u"Good.Prog.1\\CLSID", CO_E_CLASSSTRING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.progId.begin(), c.progId.end()));
    CLSID out = *GUID::Parse(u"{11111111-1111-1111-1111-111111111111}");
    EXPECT_EQ(CLSIDFromProgID(c.progId, &out), c.hr);
    EXPECT_EQ(out, c.hr == S_OK ? clsid : CLSID{});
  }
  EXPECT_EQ(CLSIDFromProgID(u"Good.Prog.1", nullptr), E_POINTER);

  WriteFile(file_, "not a registry\n");
  CLSID out;
  EXPECT_EQ(CLSIDFromProgID(u"Good.Prog.1", &out), REGDB_E_READREGDB);
}

TEST(RegistryDefaultFile, FollowsTheEnvironment) {
  struct {
    const char *kdx, *xdg, *home;
    const char* expected;
  } const cases[] = {
      {"/etc/kdx/reg", "/xdg", "/home/u", "/etc/kdx/reg"},
      {"", "/xdg", "/home/u", "/xdg/kdx-bridge/registry"},
      {nullptr, "/xdg", "/home/u", "/xdg/kdx-bridge/registry"},
      {nullptr, "relative", "/home/u", "/home/u/.local/share/kdx-bridge/registry"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/kdx-bridge/registry"},
  };
  const char* names[] = {"KDX_REGISTRY", "XDG_DATA_HOME", "HOME"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i)
    if (const char* v = getenv(names[i])) saved[i] = v;
  for (const auto& c : cases) {
    const char* values[] = {c.kdx, c.xdg, c.home};
    for (int i = 0; i < 3; ++i) values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
    EXPECT_EQ(DefaultRegistryFile(), fs::path(c.expected));
  }
  for (int i = 0; i < 3; ++i) saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
}

}  // namespace
}  // namespace kdx
