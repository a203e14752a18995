// Page files: when one is complete.

#include "batch/page_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "image/raster_image.h"
#include "platform/byte_order.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// A page cut anywhere is not whole, and the decoder, reading the same file, says it was
// truncated: both go by what the headers promise. Bottom-up and top-down 24-bit pages, and a
// 32-bit one.
TEST(PageFiles, WholeMeansWhatTheDecoderReadsInFull) {
  test::TempDir dir;
  const std::string page = dir.File("p_001.bmp");
  ASSERT_TRUE(test::WriteTestPage(page, 13, 10));
  std::vector<uint8_t> bottomUp = test::ReadFileBytes(page);
  ASSERT_EQ(bottomUp.size(), 54u + 40u * 10u);
  const std::optional<PageFileHeader> header = ReadPageFileHeader(page);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->width, 13u);
  EXPECT_EQ(header->height, 10u);
  EXPECT_EQ(header->promisedBytes, bottomUp.size());
  EXPECT_EQ(header->DecodedBytes(), 400u);
  std::vector<uint8_t> topDown = bottomUp;
  StoreLE32(topDown.data() + 22, static_cast<uint32_t>(-10));
  std::vector<uint8_t> deep = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0};
  for (uint32_t v : {40u, 3u, 2u}) PutLE32(deep, v);
  PutLE16(deep, 1);
  PutLE16(deep, 32);
  for (int i = 0; i < 6; ++i) PutLE32(deep, 0);
  deep.resize(54 + 3 * 2 * 4, 0x40);

  for (const auto* bytes : {&bottomUp, &topDown, &deep}) {
    for (const size_t size :
         {bytes->size(), bytes->size() - 1, size_t{60}, size_t{54}, size_t{30}, size_t{0}}) {
      SCOPED_TRACE(std::to_string(bytes->size()) + " cut to " + std::to_string(size));
      test::WriteFileBytes(page, std::vector<uint8_t>(bytes->begin(), bytes->begin() + size));
      const bool whole = size == bytes->size();
      EXPECT_EQ(PageFileIsWhole(page), whole);
      RasterImage image;
      if (image.Load(page, ImageFormat::Bmp)) {
        EXPECT_EQ(image.Info().truncated, !whole);
      }
    }
  }
}

// The renderer has moved past a page once a later page exists, or the rendering returned;
// whole or not is the page's own test.
TEST(PageFiles, MovedPastMeansALaterPageOrTheEnd) {
  test::TempDir dir;
  for (int page = 1; page <= 3; ++page)
    ASSERT_TRUE(test::WriteTestPage(PageFileName(dir.Path().string() + "/", "r", page), 8, 4));
  fs::resize_file(dir.File("r_002.bmp"), 60);
  const std::vector<std::string> pages = CollectPages(dir.Path().string());
  EXPECT_EQ(PagesMovedPast(pages, false),
            (std::vector<std::string>{dir.File("r_001.bmp"), dir.File("r_002.bmp")}));
  EXPECT_EQ(PagesMovedPast(pages, true), pages);
  EXPECT_EQ(PagesMovedPast({}, false), std::vector<std::string>{});
  EXPECT_TRUE(PageFileIsWhole(pages[0]));
  EXPECT_FALSE(PageFileIsWhole(pages[1]));
  EXPECT_EQ(PagePattern("/t/", "a%d"), "/t/a%d_%03d.bmp");
  EXPECT_EQ(PageFileName("/t/", "a%d", 1000), "/t/a%d_1000.bmp");
}

}  // namespace
}  // namespace orvalis
