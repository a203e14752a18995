#pragma once
// Small images made in code for the colour-reduction and geometry suites.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "image/raster_image.h"

namespace orvalis::test {

// A width x height image of the given depth filled with random pixels (and, for palette images,
// a random palette); with `alpha`, a random alpha plane too.
inline void FillRandom(RasterImage& image, uint32_t width, uint32_t height, uint32_t bpp,
                       uint32_t seed, bool alpha = false) {
  ASSERT_NE(image.Create(width, height, bpp, ImageFormat::Bmp), nullptr) << image.ErrorText();
  image.FillBytes(0);
  std::mt19937 rng(seed);
  for (uint32_t i = 0; i < image.ColorCount(); ++i) {
    image.SetPaletteEntryPacked(i, RGBQUAD::FromPacked(rng() & 0xFFFFFF));
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (bpp == 24) {
        image.SetColorAt(x, y, RGBQUAD::FromPacked(rng() & 0xFFFFFF));
      } else {
        image.SetIndexAt(x, y, static_cast<uint8_t>(rng()));
      }
    }
  }
  if (alpha) {
    ASSERT_TRUE(image.AllocateAlpha());
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x) image.SetAlphaAt(x, y, static_cast<uint8_t>(rng()));
  }
}

// The value a pixel holds: its index for palette images, its packed colour for 24-bit ones.
inline uint32_t RawPixel(const RasterImage& image, uint32_t x, uint32_t y) {
  return image.BitsPerPixel() == 24 ? image.ColorAt(x, y).Packed() : image.IndexAt(x, y);
}

// Every pixel value, row by row from the bottom.
inline std::vector<uint32_t> RawPixels(const RasterImage& image) {
  std::vector<uint32_t> out;
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x) out.push_back(RawPixel(image, x, y));
  return out;
}

inline std::vector<uint8_t> AlphaValues(const RasterImage& image) {
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x) out.push_back(image.AlphaAt(x, y));
  return out;
}

inline std::vector<uint32_t> PaletteValues(const RasterImage& image) {
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < image.ColorCount(); ++i) out.push_back(image.PaletteEntryAt(i).Packed());
  return out;
}

// True when every bit of every row that belongs to no pixel is 0 (row padding to 4 bytes and
// the unused low bits of a partly used last byte).
inline bool PaddingIsClear(const RasterImage& image) {
  const size_t bits = size_t{image.Width()} * image.BitsPerPixel();
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.RowAddress(y);
    if (bits % 8 != 0 && (row[bits / 8] & (0xFF >> (bits % 8))) != 0) return false;
    for (size_t i = (bits + 7) / 8; i < image.RowStride(); ++i)
      if (row[i] != 0) return false;
  }
  return true;
}

// Settings that must survive every transform: resolution, quality, encoder options, format.
inline void GiveDistinctSettings(RasterImage& image) {
  image.SetResolutionX(300);
  image.SetResolutionY(150);
  image.SetQuality(37);
  image.SetEncoderOption(0x1234, ImageFormat::Tiff);
  image.SetEncoderOption(77, ImageFormat::Jpeg);
}

inline void ExpectDistinctSettings(const RasterImage& image) {
  EXPECT_EQ(image.ResolutionX(), 300);
  EXPECT_EQ(image.ResolutionY(), 150);
  EXPECT_EQ(image.Header().biXPelsPerMeter, 11811);
  EXPECT_EQ(image.Header().biYPelsPerMeter, 5906);
  const BITMAPINFOHEADER inBlock = BITMAPINFOHEADER::ReadFrom(image.BitmapBlock());
  EXPECT_EQ(inBlock.biXPelsPerMeter, 11811);
  EXPECT_EQ(inBlock.biYPelsPerMeter, 5906);
  EXPECT_EQ(image.Quality(), 37);
  EXPECT_EQ(image.EncoderOption(ImageFormat::Tiff), 0x1234u);
  EXPECT_EQ(image.EncoderOption(ImageFormat::Jpeg), 77u);
  EXPECT_EQ(image.SourceFormat(), ImageFormat::Bmp);
}

}  // namespace orvalis::test
