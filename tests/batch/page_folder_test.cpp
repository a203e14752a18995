// Page folders: private, and removed by a later run only when their lock tells that the run
// that made them has ended.

#include "batch/page_folder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// Points TMPDIR at a test's folder for the test's length.
class TemporaryFolderAt {
 public:
  explicit TemporaryFolderAt(const fs::path& folder) {
    const char* old = std::getenv("TMPDIR");
    if (old != nullptr) old_ = old;
    hadOld_ = old != nullptr;
    ::setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TemporaryFolderAt() {
    if (hadOld_)
      ::setenv("TMPDIR", old_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

// A child process that holds the lock of `lockPath` until it is killed.
pid_t HoldLockInChild(const std::string& lockPath) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ::close(ready[1]);
  const bool held = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  return held ? child : -1;
}

// Makes a page folder in a child that ends without cleaning up, as a killed run does.
std::string FolderOfEndedRun() {
  int path[2];
  if (::pipe(path) != 0) return "";
  const pid_t child = ::fork();
  if (child == 0) {
    std::string error;
    std::unique_ptr<PageFolder> folder = PageFolder::Create(&error);
    if (folder) {
      std::ofstream(folder->Path() + "p_001.bmp") << "page";
      (void)!::write(path[1], folder->Path().data(), folder->Path().size());
    }
    ::_exit(0);  // no destructor runs
  }
  ::close(path[1]);
  char buffer[4096];
  const ssize_t got = ::read(path[0], buffer, sizeof buffer);
  ::close(path[0]);
  ::waitpid(child, nullptr, 0);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

TEST(PageFolders, AreMadePrivateAndGoWithTheirLock) {
  test::TempDir dir;
  TemporaryFolderAt tmp(dir.Path());
  std::string error;
  std::unique_ptr<PageFolder> folder = PageFolder::Create(&error);
  ASSERT_NE(folder, nullptr) << error;
  const fs::path path = fs::path(folder->Path()).parent_path();
  EXPECT_EQ(path.parent_path(), dir.Path());
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(fs::is_regular_file(path.string() + ".lock"));
  std::ofstream(folder->Path() + "p_001.bmp") << "page";

  folder.reset();
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

// Only this user's real folders whose lock nobody holds are removed. A held lock keeps a folder
// whatever process id its name shows: one that does not exist here may run in another process
// id space sharing this temporary folder.
TEST(PageFolders, OnlyThoseWhoseLockIsFreeAreRemoved) {
  test::TempDir dir;
  TemporaryFolderAt tmp(dir.Path());
  std::string error;
  const std::unique_ptr<PageFolder> mine = PageFolder::Create(&error);
  ASSERT_NE(mine, nullptr) << error;

  const std::string ended = FolderOfEndedRun();
  ASSERT_FALSE(ended.empty());

  // A live run elsewhere, its process id unknown here.
  const std::string elsewhere = dir.File("mtmp_999999999_aaaaaa");
  fs::create_directories(fs::path(elsewhere) / "sub");
  const pid_t holder = HoldLockInChild(elsewhere + ".lock");
  ASSERT_GT(holder, 0);

  // Free locks beside what is no page folder of ours.
  fs::create_directories(dir.File("target"));
  fs::create_directory_symlink(dir.File("target"), dir.Path() / "mtmp_1_bbbbbb");
  std::ofstream(dir.File("mtmp_1_bbbbbb.lock")) << "";
  std::ofstream(dir.File("mtmp_1_cccccc")) << "a file, not a folder";
  std::ofstream(dir.File("mtmp_1_cccccc.lock")) << "";
  // A folder without a lock file (who made it cannot be told), and a named pipe as a lock file,
  // which must not block the clean-up.
  fs::create_directories(dir.File("mtmp_1_dddddd"));
  fs::create_directories(dir.File("mtmp_1_eeeeee"));
  ASSERT_EQ(::mkfifo(dir.File("mtmp_1_eeeeee.lock").c_str(), 0600), 0);
  // Folders without a lock file that have not changed for two hours: one of our naming is
  // abandoned; one named otherwise, or (as root) another user's, is not ours to remove.
  const auto aged = [&](const char* name) {
    fs::create_directories(dir.Path() / name / ".tavrinx_x");
    fs::last_write_time(dir.Path() / name,
                        fs::file_time_type::clock::now() - std::chrono::hours(2));
  };
  aged("mtmp_2_ffffff");
  aged("mtmp_2_gg");
  aged("mtmp_x_hhhhhh");
  aged("mtmp_3_iiiiii");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir.File("mtmp_3_iiiiii").c_str(), 65534, 65534), 0);
  }

  const std::vector<std::string> removed = RemoveAbandonedPageFolders();
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);

  std::vector<std::string> expected = {fs::path(ended).parent_path().string(),
                                       dir.File("mtmp_2_ffffff")};
  if (::geteuid() != 0) expected.push_back(dir.File("mtmp_3_iiiiii"));
  std::vector<std::string> sorted = removed;
  std::sort(sorted.begin(), sorted.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(sorted, expected);
  EXPECT_FALSE(fs::exists(fs::path(ended).parent_path()));
  EXPECT_FALSE(fs::exists(fs::path(ended).parent_path().string() + ".lock"));
  EXPECT_TRUE(fs::is_directory(mine->Path()));
  EXPECT_TRUE(fs::is_directory(fs::path(elsewhere) / "sub"));
  for (const char* name : {"target", "mtmp_1_bbbbbb", "mtmp_1_cccccc", "mtmp_1_dddddd",
                           "mtmp_1_eeeeee", "mtmp_1_eeeeee.lock", "mtmp_2_gg", "mtmp_x_hhhhhh"})
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir.Path() / name))) << name;
  if (::geteuid() == 0) {
    EXPECT_TRUE(fs::exists(dir.File("mtmp_3_iiiiii")));
  }
}

// A run that cannot remove its folder (out of descriptors) keeps the folder's lock file, so
// that the next run's clean-up finds it.
TEST(PageFolders, OneThatCannotBeRemovedKeepsItsLockFile) {
  test::TempDir dir;
  TemporaryFolderAt tmp(dir.Path());
  std::string error;
  std::unique_ptr<PageFolder> folder = PageFolder::Create(&error);
  ASSERT_NE(folder, nullptr) << error;
  fs::create_directories(folder->Path() + "second/deeper");
  std::ofstream(folder->Path() + "second/deeper/p_001.bmp") << "page";
  const std::string path = fs::path(folder->Path()).parent_path().string();

  // No descriptor left: the folder cannot be opened to be emptied.
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  size_t open = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) (void)entry, ++open;
  rlimit tight = old;
  tight.rlim_cur = open - 1;  // the listing's own descriptor is closed again
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  folder.reset();
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
  ASSERT_TRUE(fs::exists(path)) << "the folder was removed: nothing was shown";
  EXPECT_TRUE(fs::exists(path + ".lock"));

  // Its lock was let go: the next run removes it.
  EXPECT_EQ(RemoveAbandonedPageFolders(), std::vector<std::string>{path});
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
}  // namespace orvalis
