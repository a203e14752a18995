#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

std::string Tool() {
  return std::string(std::getenv("ORVALIS_BIN_DIR")) + "/orvalis-job";
}

test::CommandResult Job(std::vector<std::string> args) {
  args.insert(args.begin(), Tool());
  return test::RunCommand(args);
}

TEST(OrvalisJob, ExitStatusTellsSuccessFailureAndMisuse) {
  test::TempDir dir;
  const std::string page = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(page, 20, 10));

  const test::CommandResult ok =
      Job({"--format", "png", "--out", dir.File("a.png"), "--angle", "90", page});
  EXPECT_EQ(ok.exitCode, 0) << ok.err;
  const auto png = test::PillowDecode(dir.File("a.png"));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->width, 10);

  const test::CommandResult merged =
      Job({"--format", "7", "--multipage", dir.File("m.tif"), "--compression", "1", page, page});
  EXPECT_EQ(merged.exitCode, 0) << merged.err;
  const auto tif = test::PillowDecode(dir.File("m.tif"));
  ASSERT_TRUE(tif);
  EXPECT_EQ(tif->frames, 2);

  // A folder standing under the merged file's name: the pages cannot be put in place.
  std::filesystem::create_directories(dir.File("taken.tif/keep"));
  const test::CommandResult blocked =
      Job({"--format", "tif", "--multipage", dir.File("taken.tif"), page});
  EXPECT_EQ(blocked.exitCode, 1);
  EXPECT_NE(blocked.err.find("taken.tif"), std::string::npos) << blocked.err;

  const test::CommandResult failed = Job({"--out", dir.File("b.jpg"), dir.File("none.bmp")});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("none.bmp"), std::string::npos) << failed.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("b.jpg")));

  for (const std::vector<std::string>& misuse : {std::vector<std::string>{},
                                                 {"--format", "xyz", page},
                                                 {"--bpp", "8x", page},
                                                 {"--width"},
                                                 {"--colour", "2", page}}) {
    const test::CommandResult usage = Job(misuse);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_NE(usage.err.find("usage: orvalis-job"), std::string::npos) << usage.err;
  }
}

// A named pipe or a device is never read as a page nor replaced by an output: the job fails
// with what it is, at once, and leaves it as it was.
TEST(OrvalisJob, PipesAndDevicesAreNeitherReadNorReplaced) {
  test::TempDir dir;
  const std::string page = dir.File("page.bmp");
  ASSERT_TRUE(test::WriteTestPage(page, 8, 6));
  ASSERT_EQ(::mkfifo(dir.File("pipe.bmp").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(dir.File("pipe.png").c_str(), 0644), 0);
  // A device node of our own (the null device's numbers), never the system's; only as root.
  const bool device =
      ::geteuid() == 0 && ::mknod(dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

  struct Row {
    std::string input, output;
    const char* says;
  };
  std::vector<Row> rows = {
      {dir.File("pipe.bmp"), dir.File("a.png"), "is a named pipe"},
      {dir.Path().string(), dir.File("b.png"), "is a folder"},
      {page, dir.File("pipe.png"), "is a named pipe"},
  };
  if (device) {
    rows.push_back({dir.File("null"), dir.File("c.png"), "is a device"});
    rows.push_back({page, dir.File("null"), "is a device"});
  }
  for (const Row& row : rows) {
    const test::CommandResult result = Job({"--format", "png", "--out", row.output, row.input});
    EXPECT_EQ(result.exitCode, 1) << row.input << " -> " << row.output;
    EXPECT_NE(result.err.find(row.says), std::string::npos) << result.err;
  }
  EXPECT_TRUE(std::filesystem::is_fifo(dir.File("pipe.png")));
  if (device) {
    EXPECT_TRUE(std::filesystem::is_character_file(dir.File("null")));
  }
  for (const char* name : {"a.png", "b.png", "c.png"})
    EXPECT_FALSE(std::filesystem::exists(dir.File(name))) << name;
}

}  // namespace
}  // namespace orvalis
