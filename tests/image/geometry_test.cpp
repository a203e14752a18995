#include "image/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <set>
#include <vector>

#include "image/raster_image.h"
#include "tests/support/oracle.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::AlphaValues;
using test::FillRandom;
using test::RawPixel;
using test::RawPixels;

// An image of the given depth whose pixels hold the given values (indices for palette depths,
// packed colours for 24 bits), rows listed from the TOP of the picture as displayed.
void MakeFromRows(RasterImage& image, uint32_t bpp,
                  const std::vector<std::vector<uint32_t>>& rows) {
  const auto height = static_cast<uint32_t>(rows.size());
  const auto width = static_cast<uint32_t>(rows[0].size());
  ASSERT_NE(image.Create(width, height, bpp, ImageFormat::Bmp), nullptr);
  for (uint32_t i = 0; i < image.ColorCount(); ++i)
    image.SetPaletteEntryPacked(i, RGBQUAD::FromPacked(i * 0x010203u));
  for (uint32_t top = 0; top < height; ++top) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t y = height - 1 - top;
      if (bpp == 24) {
        image.SetColorAt(x, y, RGBQUAD::FromPacked(rows[top][x]));
      } else {
        image.SetIndexAt(x, y, static_cast<uint8_t>(rows[top][x]));
      }
    }
  }
}

std::vector<std::vector<uint32_t>> RowsFromTop(const RasterImage& image) {
  std::vector<std::vector<uint32_t>> rows;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    rows.emplace_back();
    for (uint32_t x = 0; x < image.Width(); ++x)
      rows.back().push_back(RawPixel(image, x, image.Height() - 1 - top));
  }
  return rows;
}

// ---- Quarter turns ----

TEST(QuarterTurns, ThreeByTwoExample) {
  // G H J is the bottom row, K L M the top row.
  enum : uint32_t { G = 1, H = 2, J = 3, K = 4, L = 5, M = 6 };
  using Rows = std::vector<std::vector<uint32_t>>;
  for (uint32_t bpp : {4u, 8u, 24u}) {
    SCOPED_TRACE(bpp);
    const auto values = [&](Rows rows) {
      for (auto& row : rows)
        for (auto& p : row) p = bpp == 24 ? p * 0x112233u : p;
      return rows;
    };
    RasterImage right, left;
    MakeFromRows(right, bpp, values({{K, L, M}, {G, H, J}}));
    MakeFromRows(left, bpp, values({{K, L, M}, {G, H, J}}));
    ASSERT_TRUE(right.RotateRight90());
    EXPECT_EQ(RowsFromTop(right), values({{G, K}, {H, L}, {J, M}}));
    ASSERT_TRUE(left.RotateLeft90());
    EXPECT_EQ(RowsFromTop(left), values({{M, J}, {L, H}, {K, G}}));
  }
}

// Random odd-sized pictures at every depth, with alpha: each turn matches its mapping, two right
// turns make the half turn, and a right turn undone by a left turn gives the picture back.
TEST(QuarterTurns, FollowTheMappingAtEveryDepth) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    for (const auto& [width, height] :
         {std::pair{47u, 33u}, std::pair{130u, 70u}, std::pair{1u, 9u}}) {
      SCOPED_TRACE(testing::Message() << bpp << " bits " << width << "x" << height);
      RasterImage source, right, left;
      FillRandom(source, width, height, bpp, bpp + width, true);
      FillRandom(right, width, height, bpp, bpp + width, true);
      FillRandom(left, width, height, bpp, bpp + width, true);
      ASSERT_TRUE(right.RotateRight90());
      ASSERT_TRUE(left.RotateLeft90());
      ASSERT_EQ(right.Width(), height);
      ASSERT_EQ(right.Height(), width);
      EXPECT_EQ(test::PaletteValues(right), test::PaletteValues(source));
      bool same = true;
      for (uint32_t y = 0; y < width && same; ++y) {
        for (uint32_t x = 0; x < height && same; ++x) {
          same = RawPixel(right, x, y) == RawPixel(source, width - 1 - y, x) &&
                 right.AlphaAt(x, y) == source.AlphaAt(width - 1 - y, x) &&
                 RawPixel(left, x, y) == RawPixel(source, y, height - 1 - x) &&
                 left.AlphaAt(x, y) == source.AlphaAt(y, height - 1 - x);
          EXPECT_TRUE(same) << x << "," << y;
        }
      }
      ASSERT_TRUE(right.RotateLeft90());
      EXPECT_EQ(RawPixels(right), RawPixels(source));
      EXPECT_EQ(AlphaValues(right), AlphaValues(source));
      ASSERT_TRUE(left.RotateLeft90());
      ASSERT_TRUE(right.RotateRight90());
      ASSERT_TRUE(right.RotateRight90());
      EXPECT_EQ(RawPixels(left), RawPixels(right));  // two lefts = two rights
    }
  }
}

TEST(QuarterTurns, OneBitImageKeepsExactlyItsSetPixels) {
  RasterImage image;
  FillRandom(image, 47, 33, 1, 5);
  std::set<std::pair<uint32_t, uint32_t>> turned;
  for (uint32_t y = 0; y < 33; ++y)
    for (uint32_t x = 0; x < 47; ++x)
      if (image.IndexAt(x, y)) turned.insert({33 - 1 - y, x});  // where RotateLeft90 puts it
  ASSERT_TRUE(image.RotateLeft90());
  std::set<std::pair<uint32_t, uint32_t>> set;
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x)
      if (image.IndexAt(x, y)) set.insert({x, y});
  EXPECT_EQ(set, turned);
  // The padding bits of every row stay clear.
  for (uint32_t y = 0; y < image.Height(); ++y) EXPECT_EQ(image.RowAddress(y)[4] & 0x7F, 0);
}

TEST(QuarterTurns, TallOneBitResultBeyondTheHeaderSizesIsRefused) {
  // 2^30 + 8 pixels in one row fit the ceiling (128 MiB); turned, every one of those rows takes 4
  // padded bytes, 4 GiB in all: refused with the ceiling message, the source kept as it was.
  const uint32_t width = (1u << 30) + 8;
  RasterImage image;
  ASSERT_NE(image.Create(width, 1, 1, ImageFormat::Bmp), nullptr);
  image.FillBytes(0);
  image.SetIndexAt(5, 0, 1);
  for (const auto turn : {&RasterImage::RotateRight90, &RasterImage::RotateLeft90}) {
    EXPECT_FALSE((image.*turn)(nullptr));
    EXPECT_EQ(image.ErrorText(), "RASTERIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(image.Width(), width);
    EXPECT_EQ(image.IndexAt(5, 0), 1);
  }
}

// ---- RotateByAngle ----

TEST(RotateByAngle, ShiftsByOnePixelAtQuarterAndHalfTurns) {
  // Source pixel (x, y) holds 10 y + x + 1, so background (pixel (0, 0)) is 1.
  RasterImage image;
  MakeFromRows(image, 8, {{11, 12, 13, 14}, {1, 2, 3, 4}});
  RasterImage quarter, half;
  ASSERT_TRUE(image.RotateByAngle(90, &quarter));
  ASSERT_TRUE(image.RotateByAngle(180, &half));
  EXPECT_EQ(image.Width(), 4u);  // the source stays when a destination is named
  // Result row y (from the bottom) holds source column 4 - y; row 0 is background.
  EXPECT_EQ(RowsFromTop(quarter),
            (std::vector<std::vector<uint32_t>>{{2, 12}, {3, 13}, {4, 14}, {1, 1}}));
  // Bottom row and left column background; then (3, 1), (2, 1), (1, 1).
  EXPECT_EQ(RowsFromTop(half), (std::vector<std::vector<uint32_t>>{{1, 14, 13, 12}, {1, 1, 1, 1}}));

  RasterImage eighth;
  ASSERT_TRUE(image.RotateByAngle(45, &eighth));
  EXPECT_EQ(eighth.Width(), 4u);
  EXPECT_EQ(eighth.Height(), 4u);
}

TEST(RotateByAngle, TransparentBackgroundAndAlpha) {
  RasterImage image;
  FillRandom(image, 12, 7, 24, 8, true);
  for (uint32_t y = 0; y < 7; ++y)
    for (uint32_t x = 0; x < 12; ++x) image.SetAlphaAt(x, y, 200);
  image.SetTransparentIndex(0);  // a 24-bit image marks its transparent colour
  image.SetTransparentColor(RGBQUAD::FromPacked(0x00FE01));
  std::set<uint32_t> sourceColours;
  for (uint32_t v : RawPixels(image)) sourceColours.insert(v);
  ASSERT_EQ(sourceColours.count(0x00FE01), 0u);

  ASSERT_TRUE(image.RotateByAngle(30));
  ASSERT_TRUE(image.HasAlpha());
  uint32_t background = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const uint32_t v = RawPixel(image, x, y);
      if (v == 0x00FE01) {
        ++background;
        EXPECT_EQ(image.AlphaAt(x, y), 0);
      } else {
        EXPECT_EQ(sourceColours.count(v), 1u) << x << "," << y;
        EXPECT_EQ(image.AlphaAt(x, y), 200);
      }
    }
  }
  EXPECT_GT(background, 0u);
  EXPECT_EQ(image.AlphaAt(0, 0), 0);
}

// The sampled box can be one row or column short of the canvas (the box starts at the truncated,
// not the floored, minimum); those pixels must be background, never uninitialised memory.
TEST(RotateByAngle, EveryPixelOfTheCanvasIsWritten) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    for (float angle : {10.0f, -10.0f, 33.3f, 200.0f, 271.0f}) {
      SCOPED_TRACE(testing::Message() << bpp << " bits, " << angle << " degrees");
      RasterImage image;
      ASSERT_NE(image.Create(10, 10, bpp, ImageFormat::None), nullptr);
      image.SetPaletteEntry(0, 10, 20, 30);
      image.SetPaletteEntry(1, 40, 50, 60);
      image.SetTransparentIndex(bpp == 24 ? 0 : 1);
      image.SetTransparentColor(RGBQUAD::FromPacked(0x405060));
      for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 0; x < 10; ++x) image.SetColorAt(x, y, RGBQUAD::FromPacked(0x0A141E));
      ASSERT_TRUE(image.RotateByAngle(angle));
      for (uint32_t v : RawPixels(image)) {
        if (bpp == 24) {
          EXPECT_TRUE(v == 0x0A141E || v == 0x405060) << std::hex << v;
        } else {
          EXPECT_LE(v, 1u);
        }
      }
    }
  }
}

TEST(RotateByAngle, HostileAnglesAndSizes) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float angle : {nan, inf, -inf}) {
    RasterImage image;
    FillRandom(image, 5, 3, 8, 1);
    const std::vector<uint32_t> before = RawPixels(image);
    EXPECT_FALSE(image.RotateByAngle(angle));
    EXPECT_EQ(image.ErrorText(), "RotateByAngle: the angle is not a finite number");
    EXPECT_EQ(RawPixels(image), before);
  }
  // Odd but finite angles give a sane canvas (the sanitizer watches the conversions).
  for (float angle : {1e30f, -1e30f, 1e-30f, 360.0f, -720.0f, 0.0f, 89.9999f}) {
    RasterImage image;
    FillRandom(image, 5, 3, 24, 2);
    ASSERT_TRUE(image.RotateByAngle(angle)) << angle;
    EXPECT_GE(image.Width(), 1u);
    EXPECT_LE(image.Width(), 7u);
    EXPECT_LE(image.Height(), 7u);
  }
  // The largest sides a header can hold: the frame stays finite and beyond 32 bits it is
  // reported as too large, not wrapped.
  const RotationFrame f = ComputeRotationFrame(UINT32_MAX, UINT32_MAX, 45);
  EXPECT_GT(f.width, double{UINT32_MAX});
  RasterImage wide;
  ASSERT_NE(wide.Create(1u << 24, 1, 8, ImageFormat::None), nullptr);
  wide.FillBytes(3);
  EXPECT_FALSE(wide.RotateByAngle(45));
  EXPECT_EQ(wide.ErrorText(), "RASTERIMAGE_MAX_MEMORY exceeded");
  EXPECT_EQ(wide.Width(), 1u << 24);
  EXPECT_EQ(wide.IndexAt(7, 0), 3);
  EXPECT_FALSE(RasterImage().RotateByAngle(45));
}

// Tiny and thin pictures at every depth and many angles: the canvas is the frame's, every pixel
// comes from the source or is background, and (under the sanitizers) nothing is read or written
// outside the buffers.
TEST(RotateByAngle, SmallAndThinPicturesAtManyAngles) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    for (const auto& [width, height] : {std::pair{1u, 1u}, std::pair{1u, 7u}, std::pair{9u, 1u},
                                        std::pair{2u, 3u}, std::pair{13u, 5u}}) {
      for (float angle : {1.0f, 44.5f, 90.0f, 91.0f, 135.0f, 179.9f, 180.0f, 225.0f, 270.0f, -30.0f,
                          -90.0f, 359.0f, 1234.5f}) {
        SCOPED_TRACE(testing::Message()
                     << bpp << " bits " << width << "x" << height << " at " << angle);
        RasterImage image;
        FillRandom(image, width, height, bpp, width * 31 + height, true);
        std::set<uint32_t> values;
        for (uint32_t v : RawPixels(image)) values.insert(v);
        const RotationFrame f = ComputeRotationFrame(width, height, angle);
        ASSERT_TRUE(image.RotateByAngle(angle));
        EXPECT_EQ(image.Width(), static_cast<uint32_t>(f.width));
        EXPECT_EQ(image.Height(), static_cast<uint32_t>(f.height));
        for (uint32_t v : RawPixels(image)) EXPECT_EQ(values.count(v), 1u) << v;
        EXPECT_TRUE(test::PaddingIsClear(image));
      }
    }
  }
}

// ---- Resize ----

TEST(Resize, NearestPixelFromTheBottomLeft) {
  for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
    SCOPED_TRACE(bpp);
    RasterImage source, up, down;
    FillRandom(source, 100, 100, bpp, bpp, true);
    FillRandom(up, 100, 100, bpp, bpp, true);
    FillRandom(down, 100, 100, bpp, bpp, true);
    ASSERT_TRUE(up.Resize(300, 300, 1));
    ASSERT_TRUE(down.Resize(50, 50, 1));
    ASSERT_EQ(up.Width(), 300u);
    ASSERT_EQ(down.Height(), 50u);
    bool same = true;
    for (uint32_t y = 0; y < 300 && same; ++y)
      for (uint32_t x = 0; x < 300 && same; ++x) {
        same = RawPixel(up, x, y) == RawPixel(source, x / 3, y / 3) &&
               up.AlphaAt(x, y) == source.AlphaAt(x / 3, y / 3);
        EXPECT_TRUE(same) << x << "," << y;
      }
    for (uint32_t y = 0; y < 50 && same; ++y)
      for (uint32_t x = 0; x < 50 && same; ++x) {
        same = RawPixel(down, x, y) == RawPixel(source, 2 * x, 2 * y) &&
               down.AlphaAt(x, y) == source.AlphaAt(2 * x, 2 * y);
        EXPECT_TRUE(same) << x << "," << y;
      }
  }
}

TEST(Resize, PaletteColoursMapToTheLowestEntryHoldingThem) {
  RasterImage image;
  MakeFromRows(image, 8, {{7, 3}, {9, 2}});
  image.SetPaletteEntryPacked(7, image.PaletteEntryAt(3));
  ASSERT_TRUE(image.Resize(4, 2, 1));
  EXPECT_EQ(RowsFromTop(image), (std::vector<std::vector<uint32_t>>{{3, 3, 3, 3}, {9, 9, 2, 2}}));
}

TEST(Resize, EdgeSizes) {
  RasterImage image;
  FillRandom(image, 6, 4, 8, 1);
  const std::vector<uint32_t> before = RawPixels(image);
  EXPECT_FALSE(image.Resize(0, 10, 1));
  EXPECT_FALSE(image.Resize(10, 0, 1));
  EXPECT_TRUE(image.Resize(6, 4, 1));
  EXPECT_EQ(RawPixels(image), before);

  RasterImage copy;
  image.SetSignificantColors(40);
  ASSERT_TRUE(image.Resize(6, 4, 1, &copy));  // a named destination gets a full copy
  EXPECT_EQ(RawPixels(copy), before);
  EXPECT_EQ(test::PaletteValues(copy), test::PaletteValues(image));
  EXPECT_EQ(copy.SignificantColors(), 40u);

  // Beyond the memory ceiling the message of Create comes back and nothing changes.
  for (const auto& [width, height] :
       {std::pair{100000u, 100000u}, std::pair{UINT32_MAX, 2u}, std::pair{(1u << 28) + 1, 1u}}) {
    EXPECT_FALSE(image.Resize(width, height, 1));
    EXPECT_EQ(image.ErrorText(), "RASTERIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(image.Width(), 6u);
    EXPECT_EQ(RawPixels(image), before);
  }
  EXPECT_FALSE(RasterImage().Resize(5, 5, 1));
}

// ---- Seen through an independent decoder ----

// The picture is saved as BMP before and after each transform and read back by Pillow, rows from
// the top as displayed: the turns must turn the displayed picture the named way, the resize must
// scale it from the bottom-left pixel, the gray levels must follow the weights.
TEST(Transforms, AsDisplayedByAnIndependentDecoder) {
  using Oracle = test::OracleImage;
  using Expect = std::function<std::array<uint8_t, 4>(const Oracle& before, int x, int yTop)>;
  struct Case {
    const char* name;
    std::function<bool(RasterImage&)> transform;
    int width, height;  // of the result
    Expect expect;
  };
  constexpr int W = 47, H = 33;
  const Case cases[] = {
      {"clockwise quarter turn", [](RasterImage& i) { return i.RotateRight90(); }, H, W,
       [](const Oracle& b, int x, int yTop) { return b.At(yTop, H - 1 - x); }},
      {"anticlockwise quarter turn", [](RasterImage& i) { return i.RotateLeft90(); }, H, W,
       [](const Oracle& b, int x, int yTop) { return b.At(W - 1 - yTop, x); }},
      {"resize by 3", [](RasterImage& i) { return i.Resize(3 * W, 3 * H, 1); }, 3 * W, 3 * H,
       // Rows count from the bottom in the image: the top row (3H - 1 - yTop) / 3 from the bottom.
       [](const Oracle& b, int x, int yTop) {
         return b.At(x / 3, H - 1 - (3 * H - 1 - yTop) / 3);
       }},
      {"gray", [](RasterImage& i) { return i.ToGrayscale(); }, W, H,
       [](const Oracle& b, int x, int yTop) {
         const auto c = b.At(x, yTop);
         const auto g = static_cast<uint8_t>((306 * c[0] + 601 * c[1] + 117 * c[2]) >> 10);
         return std::array<uint8_t, 4>{g, g, g, 255};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    RasterImage image;
    FillRandom(image, W, H, 24, 77);
    ASSERT_TRUE(image.Save(dir.File("before.bmp"), ImageFormat::Bmp)) << image.ErrorText();
    ASSERT_TRUE(c.transform(image));
    ASSERT_TRUE(image.Save(dir.File("after.bmp"), ImageFormat::Bmp)) << image.ErrorText();
    std::string why;
    const auto before = test::PillowDecode(dir.File("before.bmp"), 0, &why);
    ASSERT_TRUE(before) << why;
    const auto after = test::PillowDecode(dir.File("after.bmp"), 0, &why);
    ASSERT_TRUE(after) << why;
    ASSERT_EQ(after->width, c.width);
    ASSERT_EQ(after->height, c.height);
    int wrong = 0;
    for (int yTop = 0; yTop < c.height; ++yTop)
      for (int x = 0; x < c.width; ++x) {
        const auto got = after->At(x, yTop), want = c.expect(*before, x, yTop);
        wrong += got[0] != want[0] || got[1] != want[1] || got[2] != want[2];
      }
    EXPECT_EQ(wrong, 0);
  }
}

// ---- Every transform keeps the settings that travel with the image ----

// Results are built pixel by pixel into fresh memory: nothing of it may stay in the row padding,
// which files carry.
TEST(Transforms, KeepResolutionQualityOptionsTransparencyAndClearPadding) {
  const std::vector<std::pair<const char*, std::function<bool(RasterImage&)>>> transforms = {
      {"RotateRight90", [](RasterImage& i) { return i.RotateRight90(); }},
      {"RotateLeft90", [](RasterImage& i) { return i.RotateLeft90(); }},
      {"RotateByAngle 45", [](RasterImage& i) { return i.RotateByAngle(45); }},
      {"RotateByAngle 90", [](RasterImage& i) { return i.RotateByAngle(90); }},
      {"Resize up", [](RasterImage& i) { return i.Resize(61, 45, 1); }},
      {"Resize down", [](RasterImage& i) { return i.Resize(20, 11, 1); }},
      {"Resize odd", [](RasterImage& i) { return i.Resize(13, 7, 1); }},
      {"RotateByAngle 33", [](RasterImage& i) { return i.RotateByAngle(33); }},
      {"ToGrayscale", [](RasterImage& i) { return i.ToGrayscale(); }},
      {"DecreaseBpp 1", [](RasterImage& i) { return i.DecreaseBpp(1, true, nullptr, 2); }},
      {"DecreaseBpp 4",  // (a 1-bit image stays as it is)
       [](RasterImage& i) { return i.BitsPerPixel() == 1 || i.DecreaseBpp(4, false, nullptr, 9); }},
  };
  for (const auto& [name, transform] : transforms) {
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
      SCOPED_TRACE(testing::Message() << name << ", " << bpp << " bits");
      RasterImage image;
      FillRandom(image, 47, 33, bpp, bpp, true);
      test::GiveDistinctSettings(image);
      image.SetTransparentIndex(1);
      image.SetTransparentColor(RGBQUAD::FromPacked(0x102030));
      ASSERT_TRUE(transform(image));
      test::ExpectDistinctSettings(image);
      EXPECT_TRUE(image.IsTransparent());
      EXPECT_TRUE(image.HasAlpha());
      EXPECT_EQ(image.Info().transparentColor.Packed(), 0x102030u);
      EXPECT_TRUE(test::PaddingIsClear(image));
    }
  }
}

}  // namespace
}  // namespace orvalis
