// ReplacementFile: what may stand under the final name, the temporary beside it for names up to
// the longest a file name may be, and what is left when a write fails.

#include "platform/file_replace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

std::string Write(const std::string& finalPath, LinkAtFinalName links, const std::string& text) {
  std::string error;
  std::unique_ptr<ReplacementFile> file = ReplacementFile::Open(finalPath, links, &error);
  if (!file) return error;
  std::fputs(text.c_str(), file->File());
  return file->Commit(&error) ? "" : error;
}

size_t Entries(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

// Only a regular file (unless read-only) or a symbolic link may be replaced; anything else
// fails with what it is, and is left as it was.
TEST(ReplacementFile, WhatStandsUnderTheFinalName) {
  test::TempDir dir;
  struct Row {
    const char* name;
    std::function<bool(const std::string&)> make;  // false: this row cannot run here
    LinkAtFinalName links;
    const char* refusal;  // nullptr: replaced
  };
  auto regular = [&](fs::perms perms) {
    return [perms](const std::string& path) {
      test::WriteFileText(path, "old");
      fs::permissions(path, perms);
      return true;
    };
  };
  auto link = [&](const std::string& path) {
    test::WriteFileText(dir.File("target"), "old");
    fs::create_symlink("target", path);
    return true;
  };
  const Row rows[] = {
      {"nothing", [](const std::string&) { return true; }, LinkAtFinalName::Replace, nullptr},
      {"writable file", regular(fs::perms::owner_read | fs::perms::owner_write),
       LinkAtFinalName::Replace, nullptr},
      {"read-only file", regular(fs::perms::owner_read | fs::perms::group_read),
       LinkAtFinalName::Replace, "read-only"},
      {"named pipe", [](const std::string& path) { return ::mkfifo(path.c_str(), 0644) == 0; },
       LinkAtFinalName::Replace, "is a named pipe"},
      // A device node of our own (the null device's numbers), never the system's.
      {"character device",
       [](const std::string& path) {
         return ::geteuid() == 0 && ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
       },
       LinkAtFinalName::Replace, "is a device"},
      {"folder", [](const std::string& path) { return fs::create_directory(path); },
       LinkAtFinalName::Replace, "is a folder"},
      {"socket",
       [](const std::string& path) {
         const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         if (path.size() >= sizeof address.sun_path) return false;
         path.copy(address.sun_path, path.size());
         const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
         ::close(fd);
         return bound;
       },
       LinkAtFinalName::Replace, "is a socket"},
      {"symbolic link, replaced", link, LinkAtFinalName::Replace, nullptr},
      {"symbolic link, followed", link, LinkAtFinalName::Follow, nullptr},
  };
  for (const Row& row : rows) {
    fs::remove_all(dir.Path());
    fs::create_directory(dir.Path());
    const std::string path = dir.File("out.png");
    if (!row.make(path)) {
      std::printf("skipped: %s (cannot be made here)\n", row.name);
      continue;
    }
    const fs::file_status before = fs::symlink_status(path);
    const size_t entries = Entries(dir.Path());
    const std::string error = Write(path, row.links, "new page");
    if (row.refusal != nullptr) {
      EXPECT_NE(error.find(row.refusal), std::string::npos) << row.name << ": " << error;
      EXPECT_NE(error.find("out.png"), std::string::npos) << row.name << ": " << error;
      EXPECT_EQ(fs::symlink_status(path).type(), before.type()) << row.name;
    } else {
      EXPECT_EQ(error, "") << row.name;
    }
    EXPECT_EQ(Entries(dir.Path()), std::max<size_t>(entries, 1)) << row.name << ": leftovers";
    if (std::string(row.name).find("link") != std::string::npos) {
      const bool replaced = row.links == LinkAtFinalName::Replace;
      // Replaced: the link is now the new file and its target is kept. Followed: the target
      // holds the new content and the link stays.
      EXPECT_EQ(fs::is_symlink(path), !replaced) << row.name;
      EXPECT_EQ(test::ReadFileText(dir.File("target")), replaced ? "old" : "new page");
      EXPECT_EQ(test::ReadFileText(path), "new page") << row.name;
    } else if (row.refusal == nullptr) {
      EXPECT_EQ(test::ReadFileText(path), "new page") << row.name;
    } else if (fs::is_regular_file(path)) {
      EXPECT_EQ(test::ReadFileText(path), "old") << row.name;
    }
  }
}

// A file that replaces another keeps its permission bits.
TEST(ReplacementFile, KeepsThePermissionsOfTheFileItReplaces) {
  test::TempDir dir;
  const std::string path = dir.File("page.png");
  test::WriteFileText(path, "old");
  ::chmod(path.c_str(), 0604);
  ASSERT_EQ(Write(path, LinkAtFinalName::Replace, "new"), "");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0604u);
}

// The temporary name adds a prefix and a suffix to the final one; a final name that fits must
// still get a temporary that fits, multi-byte characters kept whole.
TEST(ReplacementFile, FinalNamesUpToTheLongestFileNameAreWritten) {
  test::TempDir dir;
  const std::string e = "\xC3\xA9";  // two bytes
  const std::string names[] = {
      "a.png", std::string(251, 'a') + ".png",        // 255 bytes
      std::string(240, 'b') + e + "_1000.png",        // 253 bytes with a character across the cut
      std::string(124, 'c') + std::string(131, 'd'),  // 255 bytes, no extension
  };
  for (const std::string& name : names) {
    const std::string finalPath = dir.File(name);
    ASSERT_EQ(Write(finalPath, LinkAtFinalName::Replace, "page"), "") << name.size();
    EXPECT_EQ(test::ReadFileBytes(finalPath).size(), 4u) << name.size();
  }
  // Nothing but the final files is left.
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
  EXPECT_EQ(Entries(dir.Path()), std::size(names));

  // A final name that is itself too long fails with the reason, and leaves nothing.
  const std::string error = Write(dir.File(std::string(256, 'x')), LinkAtFinalName::Replace, "x");
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
  EXPECT_EQ(Entries(dir.Path()), std::size(names));
}

// A temporary dropped without Commit is removed, and the older file stays.
TEST(ReplacementFile, DroppedWithoutCommitLeavesTheOldFile) {
  test::TempDir dir;
  const std::string path = dir.File("page.png");
  test::WriteFileText(path, "old");
  std::string error;
  {
    std::unique_ptr<ReplacementFile> file =
        ReplacementFile::Open(path, LinkAtFinalName::Replace, &error);
    ASSERT_NE(file, nullptr) << error;
    std::fputs("half a page", file->File());
  }
  EXPECT_EQ(test::ReadFileText(path), "old");
  EXPECT_EQ(Entries(dir.Path()), 1u);
}

}  // namespace
}  // namespace orvalis

namespace orvalis {
namespace {

// Makes `path` look as if nobody had written it for two minutes.
void AgeBy2Minutes(const std::string& path) {
  const timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// The temporaries of ReplacementFile in `folder`.
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".part")) names.push_back(name);
  }
  return names;
}

// A temporary whose writer was killed is removed; one whose writer lives, one written a moment
// ago, and everything that merely looks like a temporary stay.
TEST(ReplacementFile, OnlyTemporariesWhoseWriterIsGoneAreRemoved) {
  test::TempDir dir;
  const std::string folder = dir.Path().string();
  // A writer killed in the middle of its file.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    const auto file =
        ReplacementFile::Open(folder + "/killed.png", LinkAtFinalName::Replace, &error);
    if (file) std::fputs("half", file->File()), std::fflush(file->File());
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(Temporaries(folder).size(), 1u);
  const std::string killed = folder + "/" + Temporaries(folder)[0];
  // A writer still at work, and a temporary nobody holds but that changed a moment ago.
  std::string error;
  const auto live = ReplacementFile::Open(folder + "/live.png", LinkAtFinalName::Replace, &error);
  ASSERT_TRUE(live) << error;
  const std::string fresh = folder + "/.fresh.png.ab12cd.part";
  test::WriteFileBytes(fresh, {1, 2, 3});
  // "A moment ago" however long the test takes to look: its time is ahead.
  const timespec ahead[2] = {{::time(nullptr) + 600, 0}, {::time(nullptr) + 600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, fresh.c_str(), ahead, 0), 0);
  // Look-alikes: a folder, a link, a named pipe, and names that are not the temporaries' own.
  std::filesystem::create_directory(folder + "/.dir.png.ab12cd.part");
  std::filesystem::create_symlink(killed, folder + "/.link.png.ab12cd.part");
  ASSERT_EQ(::mkfifo((folder + "/.fifo.png.ab12cd.part").c_str(), 0600), 0);
  for (const char* name : {"/.upper.png.AB12CD.part", "/.short.png.ab12c.part", "/plain.part",
                           "/.nodot.pngab12cd.part"})
    test::WriteFileBytes(folder + name, {1});
  for (const std::string& name : Temporaries(folder))
    if (name != ".fresh.png.ab12cd.part") AgeBy2Minutes(folder + "/" + name);

  const std::vector<std::string> removed = RemoveAbandonedReplacements(folder);
  EXPECT_EQ(removed, std::vector<std::string>{killed});
  EXPECT_FALSE(std::filesystem::exists(killed));
  EXPECT_EQ(Temporaries(folder).size(), 9u) << "everything else stays";
  ASSERT_TRUE(live->Commit(&error)) << error;
  EXPECT_TRUE(std::filesystem::exists(folder + "/live.png"));
}

}  // namespace
}  // namespace orvalis
