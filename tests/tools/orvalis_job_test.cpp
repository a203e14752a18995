#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvalis
