#include "image/raster_image.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

TEST(RasterImageCreate, RoundsDepthAndPadsRows) {
  struct Case {
    uint32_t width, height, bpp;
    uint32_t depth, colors, stride;
  };
  for (const Case c :
       {Case{100, 50, 3, 4, 16, 52}, Case{1, 1, 32, 24, 0, 4}, Case{47, 33, 1, 1, 2, 8},
        Case{47, 33, 8, 8, 256, 48}, Case{47, 33, 24, 24, 0, 144}}) {
    RasterImage image;
    ASSERT_NE(image.Create(c.width, c.height, c.bpp, ImageFormat::Bmp), nullptr);
    EXPECT_EQ(image.BitsPerPixel(), c.depth);
    EXPECT_EQ(image.ColorCount(), c.colors);
    EXPECT_EQ(image.RowStride(), c.stride);
    EXPECT_EQ(image.BlockSize(), 40 + c.colors * 4 + c.stride * c.height);
    for (uint32_t i = 0; i < c.colors; ++i) EXPECT_EQ(image.PaletteEntryAt(i).Packed(), 0u);
  }
}

TEST(RasterImageCreate, RefusesZeroSizesAndTheMemoryCeiling) {
  struct Case {
    uint32_t width, height, bpp;
    const char* message;  // nullptr: must succeed
  };
  const char* tooBig = "RASTERIMAGE_MAX_MEMORY exceeded";
  for (const Case c :
       {Case{0, 10, 24, "RasterImage::Create : width and height must be greater than zero"},
        Case{10, 0, 24, "RasterImage::Create : width and height must be greater than zero"},
        Case{20000, 20000, 8, tooBig}, Case{65536, 32768, 24, tooBig},
        Case{static_cast<uint32_t>(-5), 10, 8, tooBig}, Case{16384, 16384, 8, nullptr},
        // Padded rows count: 4 bytes per row would wrap biSizeImage to 0.
        Case{1, 1u << 30, 1, tooBig}, Case{33, (1u << 25) + 1, 1, tooBig}}) {
    RasterImage image;
    uint8_t* block = image.Create(c.width, c.height, c.bpp, ImageFormat::None);
    if (c.message == nullptr) {
      EXPECT_NE(block, nullptr);
    } else {
      EXPECT_EQ(block, nullptr);
      EXPECT_EQ(image.ErrorText(), c.message);
    }
  }
}

TEST(RasterImage, RowsCountFromTheBottomOfTheBlock) {
  RasterImage image;
  ASSERT_NE(image.Create(3, 2, 24, ImageFormat::None), nullptr);
  EXPECT_EQ(image.RowAddress(0), image.BitmapBlock() + 40);
  EXPECT_EQ(image.RowAddress(1), image.BitmapBlock() + 40 + 12);
  EXPECT_EQ(image.RowAddress(2), nullptr);
}

TEST(RasterImage, ResolutionWritesBothHeaderCopies) {
  struct Case {
    int32_t dpi, expectedDpi, pelsPerMeter;
  };
  for (const Case c :
       {Case{0, 96, 3780}, Case{-5, 96, 3780}, Case{300, 300, 11811}, Case{72, 72, 2835}}) {
    RasterImage image;
    ASSERT_NE(image.Create(2, 2, 8, ImageFormat::None), nullptr);
    image.SetResolutionX(c.dpi);
    image.SetResolutionY(c.dpi);
    EXPECT_EQ(image.ResolutionX(), c.expectedDpi);
    EXPECT_EQ(image.Header().biXPelsPerMeter, c.pelsPerMeter);
    const BITMAPINFOHEADER inBlock = BITMAPINFOHEADER::ReadFrom(image.BitmapBlock());
    EXPECT_EQ(inBlock.biXPelsPerMeter, c.pelsPerMeter);
    EXPECT_EQ(inBlock.biYPelsPerMeter, c.pelsPerMeter);
  }
}

TEST(RasterImage, QualityKeepsTheLowByteAndOptionsFallBackToSourceFormat) {
  RasterImage image(ImageFormat::Tiff);
  image.SetQuality(356);
  EXPECT_EQ(image.Quality(), 100);
  image.SetEncoderOption(5, ImageFormat::None);
  EXPECT_EQ(image.EncoderOption(ImageFormat::Tiff), 5u);
  image.SetEncoderOption(
      9, static_cast<ImageFormat>(40));  // invalid format number: the source format's slot
  EXPECT_EQ(image.EncoderOption(ImageFormat::None), 9u);
}

TEST(RasterImage, ClosestPaletteIndexPrefersLowestIndexAndHonoursSignificantColors) {
  RasterImage image;
  ASSERT_NE(image.Create(4, 4, 8, ImageFormat::None), nullptr);
  image.SetPaletteEntry(3, 10, 20, 30);
  image.SetPaletteEntry(7, 10, 20, 30);
  image.SetPaletteEntry(20, 200, 200, 200);
  EXPECT_EQ(image.ClosestPaletteIndex(RGBQUAD{30, 20, 10, 0}), 3);
  EXPECT_EQ(image.ClosestPaletteIndex(RGBQUAD{200, 200, 200, 0}), 20);
  image.SetSignificantColors(16);
  image.SetPaletteEntry(0, 0, 0, 0);  // a palette write drops the cached answer
  EXPECT_NE(image.ClosestPaletteIndex(RGBQUAD{200, 200, 200, 0}), 20);
}

TEST(RasterImage, OutsidePixelsFallBackAsDocumented) {
  RasterImage palette;
  ASSERT_NE(palette.Create(4, 4, 8, ImageFormat::None), nullptr);
  palette.FillBytes(0);
  palette.SetIndexAt(0, 0, 9);
  EXPECT_EQ(palette.IndexAt(-1, 0), 9);
  palette.SetTransparentIndex(300);
  EXPECT_EQ(palette.TransparentIndex(), 0);
  palette.SetTransparentIndex(-1);
  EXPECT_EQ(palette.TransparentIndex(), -1);

  RasterImage color;
  ASSERT_NE(color.Create(4, 4, 24, ImageFormat::None), nullptr);
  color.FillBytes(0);
  color.SetColorAt(0, 0, RGBQUAD{1, 2, 3, 0});
  EXPECT_EQ(color.ColorAt(4, 0), (RGBQUAD{1, 2, 3, 0}));
}

TEST(RasterImage, PixelAccessorsPackSubByteDepths) {
  RasterImage one;
  ASSERT_NE(one.Create(9, 1, 1, ImageFormat::None), nullptr);
  one.FillBytes(0);
  one.SetIndexAt(0, 0, 1);
  one.SetIndexAt(8, 0, 3);  // masked to 1
  EXPECT_EQ(one.RowAddress(0)[0], 0x80);
  EXPECT_EQ(one.RowAddress(0)[1], 0x80);

  RasterImage four;
  ASSERT_NE(four.Create(3, 1, 4, ImageFormat::None), nullptr);
  four.FillBytes(0);
  four.SetIndexAt(0, 0, 0xA);
  four.SetIndexAt(1, 0, 0x1B);
  EXPECT_EQ(four.RowAddress(0)[0], 0xAB);
  EXPECT_EQ(four.IndexAt(1, 0), 0xB);
}

TEST(RasterImage, GrayRampOnlyCountsForTheFull8BitRamp) {
  RasterImage gray;
  ASSERT_NE(gray.Create(2, 2, 8, ImageFormat::None), nullptr);
  gray.ApplyGrayRamp();
  EXPECT_TRUE(gray.HasGrayRamp());
  RasterImage four;
  ASSERT_NE(four.Create(2, 2, 4, ImageFormat::None), nullptr);
  four.ApplyGrayRamp();
  EXPECT_EQ(four.PaletteEntryAt(1).rgbRed, 17);
  EXPECT_FALSE(four.HasGrayRamp());
  RasterImage bw;
  ASSERT_NE(bw.Create(2, 2, 1, ImageFormat::None), nullptr);
  bw.ApplyGrayRamp();
  EXPECT_EQ(bw.PaletteEntryAt(1).rgbRed, 255);
  EXPECT_FALSE(bw.HasGrayRamp());
}

TEST(RasterImage, SwapPaletteEntriesRewritesPixels) {
  RasterImage image;
  ASSERT_NE(image.Create(3, 1, 8, ImageFormat::None), nullptr);
  image.SetPaletteEntry(1, 1, 1, 1);
  image.SetPaletteEntry(2, 2, 2, 2);
  image.SetIndexAt(0, 0, 1);
  image.SetIndexAt(1, 0, 2);
  image.SetIndexAt(2, 0, 5);
  image.SwapPaletteEntries(1, 2);
  EXPECT_EQ(image.IndexAt(0, 0), 2);
  EXPECT_EQ(image.IndexAt(1, 0), 1);
  EXPECT_EQ(image.IndexAt(2, 0), 5);
  EXPECT_EQ(image.PaletteEntryAt(1).rgbRed, 2);
}

TEST(RasterImage, FlipRowsAlsoFlipsAlpha) {
  RasterImage image;
  ASSERT_NE(image.Create(2, 3, 8, ImageFormat::None), nullptr);
  ASSERT_TRUE(image.AllocateAlpha());
  for (uint32_t y = 0; y < 3; ++y) {
    image.SetIndexAt(0, y, static_cast<uint8_t>(y));
    image.SetAlphaAt(0, y, static_cast<uint8_t>(10 * y));
  }
  ASSERT_TRUE(image.FlipRows(true));
  EXPECT_EQ(image.IndexAt(0, 0), 2);
  EXPECT_EQ(image.AlphaAt(0, 0), 20);
  EXPECT_EQ(image.AlphaAt(0, 2), 0);
}

TEST(RasterImage, TakeOverMovesBuffersAndInfo) {
  RasterImage source;
  ASSERT_NE(source.Create(5, 4, 24, ImageFormat::Bmp), nullptr);
  source.SetResolutionX(300);
  ASSERT_TRUE(source.AllocateAlpha());
  RasterImage target;
  ASSERT_TRUE(target.TakeOver(source));
  EXPECT_FALSE(source.IsValid());
  EXPECT_FALSE(source.HasAlpha());
  EXPECT_EQ(target.Width(), 5u);
  EXPECT_EQ(target.ResolutionX(), 300);
  EXPECT_TRUE(target.HasAlpha());
}

TEST(RasterImage, DispatchErrors) {
  test::TempDir dir;
  RasterImage image;
  ASSERT_NE(image.Create(2, 2, 8, ImageFormat::None), nullptr);
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  EXPECT_FALSE(image.Encode(&stream, static_cast<ImageFormat>(9)));
  EXPECT_EQ(image.ErrorText(), "Encode: Unknown format");
  EXPECT_FALSE(image.Decode(nullptr, ImageFormat::Bmp));
  EXPECT_EQ(image.ErrorText(), "null file handler");
  EXPECT_FALSE(image.Decode(&stream, static_cast<ImageFormat>(9)));
  EXPECT_EQ(image.ErrorText(), "Decode: Unknown or wrong format");

  image.SetErrorText("before");
  EXPECT_FALSE(image.Load(dir.File("missing.bmp"), ImageFormat::Bmp));
  EXPECT_EQ(image.ErrorText(), "before");

  RasterImage empty;
  EXPECT_FALSE(empty.Save(dir.File("empty.bmp"), ImageFormat::Bmp));
  EXPECT_EQ(empty.ErrorText(), "null image!!!");
  EXPECT_TRUE(std::filesystem::exists(dir.File("empty.bmp")));
}

}  // namespace
}  // namespace orvalis
