// The INI layer: integer parsing like GetPrivateProfileIntA, lookups, writes that touch only the
// key they set, and the atomic replacement of the file on disk.

#include "platform/profile_ini.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "platform/file_replace.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Names in `folder` other than the ones given: leftovers such as temporary files.
std::vector<std::string> OtherEntries(const fs::path& folder,
                                      const std::vector<std::string>& known) {
  std::vector<std::string> others;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) others.push_back(name);
  }
  return others;
}

// Runs `body` in a child process and returns its exit code (or 128 + signal).
int RunInChild(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ParseProfileInt, ReadsLikeGetPrivateProfileInt) {
  struct Case {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"", 0},
      {"42", 42},
      {"  42", 42},
      {"\t7", 7},
      {"+5", 5},
      {"-5", -5},
      {"12abc", 12},
      {"abc", 0},
      {"-", 0},
      {"+-3", 0},
      {"- 3", 0},
      {"1 2", 1},
      {"007", 7},
      {"0x10", 0},
      {"3.9", 3},
      {"2147483647", INT32_MAX},
      // The original accumulates in 32 unsigned bits: larger values wrap around.
      {"2147483648", INT32_MIN},
      {"4294967296", 0},
      {"4294967297", 1},
      {"-4294967297", -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseProfileInt(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ProfileDocument, FindsKeysLikeThePrivateProfileFunctions) {
  const ProfileDocument document = ProfileDocument::Parse(
      "\xEF\xBB\xBF"
      "top=outside\r\n"
      "; a comment line\r\n"
      "[Other]\r\n"
      "xdpi=1\r\n"
      "[ set ] trailing text\r\n"
      "  XDPI =  300  \r\n"
      "xdpi=150\r\n"
      ";type=5\r\n"
      "quoted=\"  padded  \"\r\n"
      "single='x'\r\n"
      "half=\"open\r\n"
      "bare\r\n"
      "empty=\r\n"
      "spaced = a = b \r\n"
      "[set]\r\n"
      "late=ignored\r\n");
  EXPECT_EQ(document.Find("Set", "xdpi"), "300");  // first section, first key, case ignored
  EXPECT_EQ(document.Find("SET", "Xdpi"), "300");
  EXPECT_EQ(document.Find("Other", "xdpi"), "1");
  EXPECT_EQ(document.Find("Set", "top"), std::nullopt);   // before any section
  EXPECT_EQ(document.Find("Set", "type"), std::nullopt);  // commented out
  EXPECT_EQ(document.Find("Set", "late"), std::nullopt);  // only the first [Set] counts
  EXPECT_EQ(document.Find("Set", "quoted"), "  padded  ");
  EXPECT_EQ(document.Find("Set", "single"), "x");
  EXPECT_EQ(document.Find("Set", "half"), "\"open");
  EXPECT_EQ(document.Find("Set", "bare"), "");
  EXPECT_EQ(document.Find("Set", "spaced"), "a = b");
  EXPECT_EQ(document.Find("Missing", "xdpi"), std::nullopt);

  EXPECT_EQ(document.GetInt("Set", "xdpi", 72), 300);
  EXPECT_EQ(document.GetInt("Set", "empty", 72), 72);  // an empty value reads as the default
  EXPECT_EQ(document.GetInt("Set", "missing", 72), 72);
  EXPECT_EQ(document.GetInt("Set", "spaced", 72), 0);
  EXPECT_EQ(document.GetString("Set", "empty", "dflt"), "");
  EXPECT_EQ(document.GetString("Set", "missing", "dflt"), "dflt");
}

TEST(ProfileDocument, SetTouchesOnlyTheKeyItSets) {
  const std::string original =
      "; settings\r\n[Set]\r\nType=1\r\nunknown=kept\r\n\r\n; next\r\n[Other]\r\nmode=9\r\n";
  ProfileDocument document = ProfileDocument::Parse(original);
  ASSERT_TRUE(document.Set("Set", "type", "4"));  // keeps the file's spelling of the key
  ASSERT_TRUE(document.Set("set", "mode", "0"));  // new key: after the section's last entry
  EXPECT_EQ(document.Serialize(),
            "; settings\r\n[Set]\r\nType=4\r\nunknown=kept\r\nmode=0\r\n\r\n; next\r\n[Other]\r\n"
            "mode=9\r\n");

  ProfileDocument fresh = ProfileDocument::Parse("");
  ASSERT_TRUE(fresh.Set("Set", "angle", "90"));
  ASSERT_TRUE(fresh.Set("Set", "width", "594"));
  EXPECT_EQ(fresh.Serialize(), "[Set]\nangle=90\nwidth=594\n");
}

TEST(ProfileDocument, ValuesReadBackExactlyOrAreRefused) {
  ProfileDocument document = ProfileDocument::Parse("[Set]\nkeep=1\n");
  for (const std::string value : {" lead", "trail\t", "\"quoted\"", "'single'", "a\"b", "", "x"}) {
    ASSERT_TRUE(document.Set("Set", "v", value)) << value;
    EXPECT_EQ(ProfileDocument::Parse(document.Serialize()).Find("Set", "v"), value) << value;
  }
  const std::string before = document.Serialize();
  // Nothing that would break a line, or be read as another key or section, is stored.
  EXPECT_FALSE(document.Set("Set", "v", "/tmp/a\ntype=5"));
  EXPECT_FALSE(document.Set("Set", "v", "a\rb"));
  EXPECT_FALSE(document.Set("Set", "v", std::string("a\0b", 3)));
  EXPECT_FALSE(document.Set("Set", "a=b", "1"));
  EXPECT_FALSE(document.Set("Set", "[Set]", "1"));
  EXPECT_FALSE(document.Set("Set", " v", "1"));
  EXPECT_FALSE(document.Set("Set", "", "1"));
  EXPECT_FALSE(document.Set("Se]t", "v", "1"));
  EXPECT_EQ(document.Serialize(), before);
}

TEST(WriteProfileStrings, ReplacesTheFileAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.File("Profile.ini");
  const ProfileEntry entries[] = {{"angle", "90"}, {"width", "100"}};
  ASSERT_TRUE(WriteProfileStrings(path, "Set", entries));
  EXPECT_EQ(test::ReadFileText(path), "[Set]\nangle=90\nwidth=100\n");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteProfileString(path, "Set", "angle", "180"));
  EXPECT_EQ(test::ReadFileText(path), "[Set]\nangle=180\nwidth=100\n");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_TRUE(OtherEntries(dir.Path(), {"Profile.ini"}).empty());
  EXPECT_EQ(ReadProfileInt(path, "set", "ANGLE", 0), 180);
  EXPECT_EQ(ReadProfileString(path, "Set", "missing", "d"), "d");
}

TEST(WriteProfileStrings, FollowsASymbolicLink) {
  TempDir dir;
  test::WriteFileText(dir.Path() / "real.ini", "[Set]\ntype=1\n");
  fs::create_symlink("real.ini", dir.Path() / "Profile.ini");
  ASSERT_TRUE(WriteProfileString(dir.File("Profile.ini"), "Set", "type", "2"));
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "Profile.ini"));
  EXPECT_EQ(test::ReadFileText(dir.Path() / "real.ini"), "[Set]\ntype=2\n");
}

TEST(WriteProfileStrings, ReadOnlyFolderFailsAndKeepsTheOldFile) {
  TempDir dir;
  const fs::path folder = dir.Path() / "ro";
  fs::create_directory(folder);
  const std::string path = (folder / "Profile.ini").string();
  test::WriteFileText(path, "[Set]\ntype=1\n");
  chmod(dir.Path().c_str(), 0755);
  chmod(path.c_str(), 0644);
  chmod(folder.c_str(), 0555);
  // root ignores permission bits: the write then runs as an unprivileged user.
  const int code = RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 3;
    std::string error;
    const bool written = WriteProfileString(path, "Set", "type", "2", &error);
    return written ? 1 : (error.empty() ? 2 : 0);
  });
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test::ReadFileText(path), "[Set]\ntype=1\n");
  EXPECT_TRUE(OtherEntries(folder, {"Profile.ini"}).empty());
}

TEST(WriteProfileStrings, FailedWriteKeepsTheOldFileWhole) {
  TempDir dir;
  const std::string path = dir.File("Profile.ini");
  test::WriteFileText(path, "[Set]\ntype=1\n");
  // A file size limit makes the write of the new content fail part-way.
  const int code = RunInChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    return WriteProfileString(path, "Set", "output", std::string(500, 'x')) ? 1 : 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test::ReadFileText(path), "[Set]\ntype=1\n");
  EXPECT_TRUE(OtherEntries(dir.Path(), {"Profile.ini"}).empty());
}

TEST(WriteProfileStrings, RefusesWhatItCannotReadOrStore) {
  TempDir dir;
  // A folder where the file should be: reads give defaults, writes fail.
  fs::create_directory(dir.Path() / "Profile.ini");
  EXPECT_EQ(ReadProfileInt(dir.File("Profile.ini"), "Set", "type", 7), 7);
  EXPECT_FALSE(WriteProfileString(dir.File("Profile.ini"), "Set", "type", "1"));

  // An oversized file is not a settings file: it is neither read nor replaced.
  const std::string big = dir.File("big.ini");
  const std::string content = "[Set]\ntype=3\n" + std::string(ProfileDocument::kMaxFileBytes, ';');
  test::WriteFileText(big, content);
  EXPECT_EQ(ReadProfileInt(big, "Set", "type", 7), 7);
  std::string error;
  EXPECT_FALSE(WriteProfileString(big, "Set", "type", "1", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::ReadFileText(big), content);

  // A value that would break its line is refused and the file stays as it was.
  const std::string path = dir.File("p.ini");
  test::WriteFileText(path, "[Set]\noutput=/a/\n");
  const ProfileEntry entries[] = {{"type", "2"}, {"output", "/x\ntype=9"}};
  EXPECT_FALSE(WriteProfileStrings(path, "Set", entries));
  EXPECT_EQ(test::ReadFileText(path), "[Set]\noutput=/a/\n");
}

TEST(ReplaceFileAtomically, ReportsAMissingFolder) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(ReplaceFileAtomically(dir.File("no/such/file"), "x", &error));
  EXPECT_NE(error.find("no/such"), std::string::npos) << error;
}

}  // namespace
}  // namespace orvalis
