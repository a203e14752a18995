// AppPaths: program folder, home folder, folder chains, file existence and sizes.

#include "settings/app_paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void MakeFileOfSize(const std::string& path, uint64_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);  // sparse: no disk space used
  close(fd);
}

TEST(AppPaths, FileSizeKBTruncatesLengthOver1024PlusNineTenths) {
  TempDir dir;
  const struct {
    uint64_t bytes;
    uint32_t kb;
  } cases[] = {{0, 0},
               {102, 0},
               {103, 1},
               {1024, 1},
               {1126, 1},
               {1127, 2},
               {2150, 2},
               {2151, 3},
               {1048576, 1024},
               // A file past 4 GiB keeps its whole length.
               {(uint64_t{1} << 32) + 103, 4194305}};
  for (const auto& c : cases) {
    const std::string path = dir.File(std::string("f").append(std::to_string(c.bytes)));
    MakeFileOfSize(path, c.bytes);
    EXPECT_EQ(AppPaths::FileSizeKB(path), c.kb) << c.bytes << " bytes";
  }
  EXPECT_EQ(AppPaths::FileSizeKB(""), 0u);
  EXPECT_EQ(AppPaths::FileSizeKB(dir.File("missing")), 0u);
  EXPECT_EQ(AppPaths::FileSizeKB(dir.Path().string()), 0u);
}

TEST(AppPaths, CreateFolderChainCreatesTheLastPartOnlyWithATrailingSlash) {
  TempDir dir;
  const std::string root = dir.Path().string();
  EXPECT_TRUE(AppPaths::CreateFolderChain(root + "/a/b/"));
  EXPECT_TRUE(fs::is_directory(root + "/a/b"));
  EXPECT_TRUE(AppPaths::CreateFolderChain(root + "/a/b/"));  // existing folders are fine

  EXPECT_TRUE(AppPaths::CreateFolderChain(root + "/c/d"));
  EXPECT_TRUE(fs::is_directory(root + "/c"));
  EXPECT_FALSE(fs::exists(root + "/c/d"));

  EXPECT_TRUE(AppPaths::CreateFolderChain(""));
  EXPECT_TRUE(AppPaths::CreateFolderChain(root + "/spaces and 100% ü/x/"));
  EXPECT_TRUE(fs::is_directory(root + "/spaces and 100% ü/x"));

  // A file in the way: the chain cannot be made, and the reason names it.
  std::ofstream(root + "/file").put('x');
  std::string error;
  EXPECT_FALSE(AppPaths::CreateFolderChain(root + "/file/sub/", &error));
  EXPECT_NE(error.find(root + "/file"), std::string::npos) << error;
}

TEST(AppPaths, FileExistsOnlyForReadableNonFolders) {
  TempDir dir;
  std::ofstream(dir.File("file.ps")).put('x');
  EXPECT_TRUE(AppPaths::FileExists(dir.File("file.ps")));
  EXPECT_FALSE(AppPaths::FileExists(dir.File("missing.ps")));
  EXPECT_FALSE(AppPaths::FileExists(dir.Path().string()));
  EXPECT_FALSE(AppPaths::FileExists(""));
  // A named pipe without a writer must not block the caller.
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_TRUE(AppPaths::FileExists(dir.File("pipe")));
}

TEST(AppPaths, ModuleFilePathIsBesideTheProgram) {
  const std::string self = AppPaths::ModuleFilePath("test_settings");
  EXPECT_EQ(self, fs::read_symlink("/proc/self/exe").string());
  const std::string profile = AppPaths::ModuleFilePath("Profile.ini");
  EXPECT_EQ(profile, fs::path(self).parent_path().string() + "/Profile.ini");
}

TEST(AppPaths, DocumentsFolderIsTheHomeFolderWithASlash) {
  const char* saved = std::getenv("HOME");
  const std::optional<std::string> home = saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(AppPaths::DocumentsFolder(), "/home/someone/");
  setenv("HOME", "/", 1);
  EXPECT_EQ(AppPaths::DocumentsFolder(), "/");
  unsetenv("HOME");  // then the password database names it
  const std::string fromDatabase = AppPaths::DocumentsFolder();
  EXPECT_EQ(fromDatabase.front(), '/');
  EXPECT_EQ(fromDatabase.back(), '/');
  if (home) setenv("HOME", home->c_str(), 1);
}

}  // namespace
}  // namespace orvalis
