// PendingOutput: the temporary beside the final file, for names up to the longest a file name
// may be.

#include "engine/output_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// The temporary name adds a prefix and a suffix to the final one; a final name that fits must
// still get a temporary that fits, multi-byte characters kept whole.
TEST(PendingOutput, FinalNamesUpToTheLongestFileNameAreWritten) {
  test::TempDir dir;
  const std::string e = "\xC3\xA9";  // two bytes
  const std::string names[] = {
      "a.png", std::string(251, 'a') + ".png",        // 255 bytes
      std::string(240, 'b') + e + "_1000.png",        // 253 bytes with a character across the cut
      std::string(124, 'c') + std::string(131, 'd'),  // 255 bytes, no extension
  };
  for (const std::string& name : names) {
    const std::string finalPath = dir.File(name);
    std::string error;
    std::unique_ptr<PendingOutput> output = PendingOutput::Open(finalPath, "wb", &error);
    ASSERT_NE(output, nullptr) << name.size() << ": " << error;
    ASSERT_EQ(std::fputs("page", output->File()), 1);
    ASSERT_TRUE(output->Commit(&error)) << error;
    EXPECT_EQ(test::ReadFileBytes(finalPath).size(), 4u) << name.size();
  }
  // Nothing but the final files is left.
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    ++entries;
  }
  EXPECT_EQ(entries, std::size(names));

  // A final name that is itself too long fails with the reason, and leaves nothing.
  std::string error;
  std::unique_ptr<PendingOutput> tooLong =
      PendingOutput::Open(dir.File(std::string(256, 'x')), "wb", &error);
  if (tooLong) {
    EXPECT_FALSE(tooLong->Commit(&error));
  }
  tooLong.reset();
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(dir.Path()), {})),
            std::size(names));
}

// A file the user made read-only is not replaced (renaming over it would succeed); one that is
// writable is, as are the outputs of earlier runs.
TEST(PendingOutput, AReadOnlyFileUnderTheFinalNameIsKept) {
  test::TempDir dir;
  const struct {
    const char* name;
    fs::perms perms;
    bool replaced;
  } cases[] = {{"writable.png", fs::perms::owner_read | fs::perms::owner_write, true},
               {"readonly.png", fs::perms::owner_read | fs::perms::group_read, false}};
  for (const auto& c : cases) {
    const std::string finalPath = dir.File(c.name);
    test::WriteFileBytes(finalPath, {'o', 'l', 'd'});
    fs::permissions(finalPath, c.perms);
    std::string error;
    std::unique_ptr<PendingOutput> output = PendingOutput::Open(finalPath, "wb", &error);
    ASSERT_NE(output, nullptr) << error;
    std::fputs("new page", output->File());
    EXPECT_EQ(output->Commit(&error), c.replaced) << c.name;
    output.reset();
    EXPECT_EQ(test::ReadFileBytes(finalPath).size(), c.replaced ? 8u : 3u) << c.name;
    if (!c.replaced) {
      EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    }
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 2);
}

}  // namespace
}  // namespace orvalis
