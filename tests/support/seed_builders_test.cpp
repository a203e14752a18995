// The fuzzers' seeds are what they claim: BMP files the decoder takes, TIFF documents with their
// pages, settings files whose rewrite keeps the other keys.

#include "tests/support/seed_builders.h"

#include <gtest/gtest.h>

#include "image/raster_image.h"

namespace orvalis::test {
namespace {

TEST(SeedBuilders, EverySeedIsTheInputItNames) {
  for (Seed seed : BmpSeeds()) {
    MemoryStream stream(seed.bytes.data(), static_cast<int64_t>(seed.bytes.size()));
    RasterImage image;
    EXPECT_TRUE(image.Decode(&stream, ImageFormat::Bmp)) << seed.name << ": " << image.ErrorText();
    EXPECT_FALSE(ClaimsALargeBmpPicture(seed.bytes)) << seed.name;
  }
  Bytes huge = BmpFile(BmpInfoHeader(4000, 3000, 24, 0, 0), {}, 40);
  EXPECT_TRUE(ClaimsALargeBmpPicture(huge));

  for (const Seed& seed : TiffAppendSeeds()) {
    ASSERT_FALSE(seed.bytes.empty()) << seed.name;
    // Appending to a document keeps its pages and adds one.
    MemoryStream stream;
    stream.OpenEmpty();
    stream.WriteBytes(seed.bytes.data() + 1, 1, seed.bytes.size() - 1);
    RasterImageTIF tiff;
    const bool appended = AppendTiffPage(tiff, &stream, TiffPageChoices()[seed.bytes[0]]);
    EXPECT_TRUE(appended || seed.name.find("header") != std::string::npos) << seed.name;
    if (seed.name == "two_pages_g4") {
      EXPECT_EQ(tiff.PagesWritten(), 3u);
    }
  }

  for (const Seed& seed : ProfileSeeds()) {
    EXPECT_TRUE(ProfileRewriteKeepsOtherKeys(
        std::string_view(reinterpret_cast<const char*>(seed.bytes.data()), seed.bytes.size())))
        << seed.name;
  }
}

}  // namespace
}  // namespace orvalis::test
