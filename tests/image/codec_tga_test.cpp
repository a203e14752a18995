#include "image/codec_tga.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/support/oracle.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::ExpectPillowReads;
using test::MakeIndexed;
using test::MakeTrueColor;
using test::TempDir;

std::vector<uint8_t> EncodeToMemory(RasterImage& image) {
  MemoryStream stream;
  stream.OpenEmpty();
  EXPECT_TRUE(image.Encode(&stream, ImageFormat::Tga)) << image.ErrorText();
  return test::StreamBytes(stream);
}

TEST(TgaEncoder, PillowReadsPaletteGrayAndTrueColour) {
  TempDir dir;
  RasterImage palette, gray, trueColour, wide;
  MakeIndexed(palette, 47, 33, 8);
  MakeIndexed(gray, 47, 33, 8);
  gray.ApplyGrayRamp();
  MakeTrueColor(trueColour, 47, 33);
  MakeTrueColor(wide, 301, 2);
  int n = 0;
  for (RasterImage* image : {&palette, &gray, &trueColour, &wide}) {
    const std::string path = dir.File("p" + std::to_string(n++) + ".tga");
    ASSERT_TRUE(image->Save(path, ImageFormat::Tga)) << image->ErrorText();
    ExpectPillowReads(path, *image);
  }
}

TEST(TgaEncoder, AlphaMakesThirtyTwoBitPixels) {
  TempDir dir;
  RasterImage image;
  MakeTrueColor(image, 5, 3);
  ASSERT_TRUE(image.AllocateAlpha());
  image.SetAlphaAt(1, 2, 77);  // top row
  const std::string path = dir.File("alpha.tga");
  ASSERT_TRUE(image.Save(path, ImageFormat::Tga));
  const auto file = test::ReadFileBytes(path);
  ASSERT_EQ(file.size(), 18u + 5 * 3 * 4);
  EXPECT_EQ(file[16], 32);
  EXPECT_EQ(file[17], 0);
  const RGBQUAD bottomLeft = image.ColorAt(0, 0);
  EXPECT_EQ(
      std::vector<uint8_t>(file.begin() + 18, file.begin() + 22),
      (std::vector<uint8_t>{bottomLeft.rgbBlue, bottomLeft.rgbGreen, bottomLeft.rgbRed, 255}));
  std::string error;
  const auto decoded = test::PillowDecode(path, 0, &error);
  ASSERT_TRUE(decoded.has_value()) << error;
  EXPECT_EQ(decoded->At(1, 0)[3], 77);
  EXPECT_EQ(decoded->At(0, 0)[3], 255);
}

TEST(TgaEncoder, HeaderFieldsAndLayout) {
  struct Case {
    uint32_t bpp;
    uint8_t mapType, imageType;
    uint16_t mapLength;
    uint8_t entrySize, depth;
    size_t mapBytes;
  };
  for (const Case c : {Case{8, 1, 1, 256, 24, 8, 768}, Case{24, 0, 2, 0, 0, 24, 0}}) {
    SCOPED_TRACE(c.bpp);
    RasterImage image;
    if (c.bpp == 8) {
      MakeIndexed(image, 47, 33, 8);
    } else {
      MakeTrueColor(image, 47, 33);
    }
    const auto file = EncodeToMemory(image);
    const size_t rowBytes = 47u * c.bpp / 8;  // no row padding
    ASSERT_EQ(file.size(), 18 + c.mapBytes + rowBytes * 33);
    EXPECT_EQ(file[0], 0);
    EXPECT_EQ(file[1], c.mapType);
    EXPECT_EQ(file[2], c.imageType);
    EXPECT_EQ(LoadLE16(&file[3]), 0);
    EXPECT_EQ(LoadLE16(&file[5]), c.mapLength);
    EXPECT_EQ(file[7], c.entrySize);
    EXPECT_EQ(LoadLE16(&file[8]), 0);
    EXPECT_EQ(LoadLE16(&file[10]), 0);
    EXPECT_EQ(LoadLE16(&file[12]), 47);
    EXPECT_EQ(LoadLE16(&file[14]), 33);
    EXPECT_EQ(file[16], c.depth);
    EXPECT_EQ(file[17], 0);
    if (c.bpp == 8) {
      const RGBQUAD e9 = image.PaletteEntryAt(9);
      EXPECT_EQ(file[18 + 27], e9.rgbBlue);
      EXPECT_EQ(file[18 + 29], e9.rgbRed);
    }
    // The first row in the file is the bottom row of the picture.
    const uint8_t* bottom = image.RowAddress(0);
    EXPECT_TRUE(std::equal(bottom, bottom + rowBytes, file.begin() + 18 + c.mapBytes));
  }
}

TEST(TgaEncoder, RefusesLowDepthsAndOversizePages) {
  for (const uint32_t bpp : {1u, 4u}) {
    RasterImage image;
    MakeIndexed(image, 4, 4, bpp);
    MemoryStream stream;
    stream.OpenEmpty();
    EXPECT_FALSE(image.Encode(&stream, ImageFormat::Tga));
    EXPECT_EQ(image.ErrorText(), "Bit depth must be 8 or 24");
    EXPECT_EQ(stream.Length(), 0);
  }
  struct Size {
    uint32_t width, height;
    bool fits;
  };
  for (const Size s : {Size{65536, 1, false}, Size{1, 65536, false}, Size{65535, 1, true}}) {
    RasterImage image;
    ASSERT_NE(image.Create(s.width, s.height, 24, ImageFormat::None), nullptr);
    image.FillBytes(0);
    MemoryStream stream;
    stream.OpenEmpty();
    EXPECT_EQ(image.Encode(&stream, ImageFormat::Tga), s.fits);
    if (s.fits) continue;
    EXPECT_EQ(stream.Length(), 0);
    EXPECT_NE(image.ErrorText().find("TGA"), std::string::npos) << image.ErrorText();
    EXPECT_NE(image.ErrorText().find("65535"), std::string::npos) << image.ErrorText();
  }
}

}  // namespace
}  // namespace orvalis
