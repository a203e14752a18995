#include "image/colour_reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "tests/support/pictures.h"

namespace orvalis {
namespace {

using test::FillRandom;
using test::RawPixels;

RGBQUAD Rgb(uint32_t rrggbb) {
  return RGBQUAD::FromPacked(rrggbb & 0xFFFFFF);
}

// A one-row image showing the given colours, at the given depth (palette images get the colours
// as their palette, in order, with `reserved` as each entry's reserved byte).
void MakeRow(RasterImage& image, const std::vector<RGBQUAD>& colours, uint32_t bpp,
             uint8_t reserved = 0) {
  ASSERT_NE(image.Create(static_cast<uint32_t>(colours.size()), 1, bpp, ImageFormat::Bmp), nullptr);
  for (uint32_t x = 0; x < colours.size(); ++x) {
    if (bpp == 24) {
      image.SetColorAt(x, 0, colours[x]);
    } else {
      RGBQUAD entry = colours[x];
      entry.rgbReserved = reserved;
      image.SetPaletteEntryPacked(x, entry);
      image.SetIndexAt(x, 0, static_cast<uint8_t>(x));
    }
  }
}

// The nearest entry as the plain search defines it, written out independently of the library.
uint8_t ReferenceNearest(const RGBQUAD* palette, uint32_t n, RGBQUAD c) {
  long best = 200000;
  uint8_t bestIndex = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const long dr = palette[i].rgbRed - c.rgbRed, dg = palette[i].rgbGreen - c.rgbGreen,
               db = palette[i].rgbBlue - c.rgbBlue;
    const long d = dr * dr + dg * dg + db * db;
    if (d < best) {
      best = d;
      bestIndex = static_cast<uint8_t>(i);
    }
  }
  return bestIndex;
}

// A random palette of `size` entries in which some entries repeat earlier ones.
std::vector<RGBQUAD> RandomPaletteWithDuplicates(uint32_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<RGBQUAD> p(size);
  for (RGBQUAD& e : p) e = RGBQUAD::FromPacked(rng() & 0xFFFFFF);
  for (uint32_t i = 1; i < size; i += 3) p[i] = p[rng() % i];
  if (size > 4) p[size - 1] = p[0];
  return p;
}

// ---- ToGrayscale ----

TEST(ToGrayscale, GrayLevelsFromEveryDepth) {
  const std::vector<RGBQUAD> colours = {Rgb(0xFF0000), Rgb(0x00FF00), Rgb(0x0000FF),
                                        Rgb(0xFFFFFF), Rgb(0x000000), Rgb(0x102030)};
  const std::vector<uint32_t> expected = {76,  149, 29,
                                          255, 0,   (306 * 16 + 601 * 32 + 117 * 48) >> 10};
  for (uint32_t bpp : {24u, 8u, 4u}) {
    SCOPED_TRACE(bpp);
    RasterImage image;
    MakeRow(image, colours, bpp);
    ASSERT_TRUE(image.ToGrayscale());
    EXPECT_EQ(image.BitsPerPixel(), 8u);
    EXPECT_TRUE(image.HasGrayRamp());
    EXPECT_EQ(RawPixels(image), expected);
  }
  RasterImage bw;
  MakeRow(bw, {Rgb(0xFFFFFF), Rgb(0x0000FF)}, 1);
  ASSERT_TRUE(bw.ToGrayscale());
  EXPECT_EQ(RawPixels(bw), (std::vector<uint32_t>{255, 29}));
}

TEST(ToGrayscale, TransparentIndexBecomesItsGrayLevel) {
  for (uint32_t bpp : {8u, 4u}) {
    RasterImage image;
    FillRandom(image, 9, 4, bpp, 3);
    image.SetPaletteEntry(5, 255, 0, 0);
    image.SetTransparentIndex(5);
    ASSERT_TRUE(image.ToGrayscale());
    EXPECT_EQ(image.TransparentIndex(), 76);
  }
  // A 24-bit image marks its transparent colour; the gray image marks that colour's level.
  RasterImage trueColour;
  FillRandom(trueColour, 9, 4, 24, 3);
  trueColour.SetTransparentIndex(0);
  trueColour.SetTransparentColor(Rgb(0x0000FF));
  ASSERT_TRUE(trueColour.ToGrayscale());
  EXPECT_EQ(trueColour.TransparentIndex(), 29);
}

TEST(ToGrayscale, KeepsAlphaSettingsAndClearsTheSearchLimit) {
  for (uint32_t bpp : {24u, 8u, 4u, 1u}) {
    SCOPED_TRACE(bpp);
    RasterImage image;
    FillRandom(image, 47, 33, bpp, bpp, true);
    test::GiveDistinctSettings(image);
    if (bpp == 8) image.SetSignificantColors(10);
    const std::vector<uint8_t> alpha = test::AlphaValues(image);
    ASSERT_TRUE(image.ToGrayscale());
    test::ExpectDistinctSettings(image);
    EXPECT_EQ(test::AlphaValues(image), alpha);
    EXPECT_EQ(image.SignificantColors(), 0u);
  }
}

TEST(ToGrayscale, FailureLeavesPaletteImageUntouched) {
  // 1-bit pixels that fit the ceiling, but not once they take 8 bits each.
  RasterImage image;
  ASSERT_NE(image.Create(16384, 16385, 1, ImageFormat::Bmp), nullptr);
  image.SetPaletteEntry(0, 255, 0, 0);
  image.SetPaletteEntry(1, 0, 255, 0);
  EXPECT_FALSE(image.ToGrayscale());
  EXPECT_EQ(image.BitsPerPixel(), 1u);
  EXPECT_EQ(image.PaletteEntryAt(0).Packed(), Rgb(0xFF0000).Packed());
  EXPECT_EQ(image.PaletteEntryAt(1).Packed(), Rgb(0x00FF00).Packed());
  EXPECT_FALSE(RasterImage().ToGrayscale());
}

// ---- DecreaseBpp ----

TEST(DecreaseBpp, BlackAndWhiteThreshold) {
  RasterImage image;
  MakeRow(image, {Rgb(0x7F7F7F), Rgb(0x808080), Rgb(0x000000), Rgb(0xFFFFFF)}, 24);
  ASSERT_TRUE(image.DecreaseBpp(1, false, nullptr, 2));
  EXPECT_EQ(image.BitsPerPixel(), 1u);
  EXPECT_EQ(image.SignificantColors(), 2u);
  EXPECT_EQ(RawPixels(image), (std::vector<uint32_t>{0, 1, 0, 1}));
  EXPECT_EQ(image.PaletteEntryAt(1).Packed(), Rgb(0xFFFFFF).Packed());
}

TEST(DecreaseBpp, DepthRules) {
  RasterImage four;
  FillRandom(four, 5, 3, 4, 1);
  EXPECT_FALSE(four.DecreaseBpp(8, false));
  EXPECT_EQ(four.ErrorText(), "DecreaseBpp: target BPP greater than source BPP");
  EXPECT_EQ(four.BitsPerPixel(), 4u);

  std::vector<RGBQUAD> gray(256);
  gray[1] = Rgb(0x808080);
  struct Case {
    uint32_t significant;  // of the 8-bit source
    uint32_t count;
    bool rerendered;
  };
  for (const Case c :
       {Case{0, 0, false}, Case{10, 256, false}, Case{0, 2, true}, Case{10, 5, true}}) {
    RasterImage image;
    FillRandom(image, 5, 3, 8, 2);
    image.SetSignificantColors(c.significant);
    const std::vector<uint32_t> before = RawPixels(image);
    ASSERT_TRUE(image.DecreaseBpp(8, false, gray.data(), c.count));
    EXPECT_EQ(RawPixels(image) != before, c.rerendered) << c.significant << " " << c.count;
  }
}

TEST(DecreaseBpp, GivenPaletteTiesGoToTheLowestIndex) {
  std::vector<RGBQUAD> palette(16, Rgb(0x000000));
  palette[3] = palette[7] = Rgb(0x336699);
  palette[5] = Rgb(0xFFFFFF);
  palette[12] = Rgb(0xFF0000);  // beyond the 8 searched entries
  RasterImage image;
  MakeRow(image, {Rgb(0x336699), Rgb(0x346699), Rgb(0xFF0000), Rgb(0xF0F0F0)}, 24);
  ASSERT_TRUE(image.DecreaseBpp(4, false, palette.data(), 8));
  EXPECT_EQ(image.SignificantColors(), 8u);
  EXPECT_EQ(RawPixels(image), (std::vector<uint32_t>{3, 3, 0, 5}));
  EXPECT_EQ(image.PaletteEntryAt(12).Packed(), 0u);  // only 8 entries were supplied
}

TEST(DecreaseBpp, StandardPalettes) {
  const std::span<const RGBQUAD> p4 = StandardPalette(4);
  ASSERT_EQ(p4.size(), 16u);
  const uint32_t expected4[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                  0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                  0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(p4[i].Packed(), expected4[i]) << i;

  const std::span<const RGBQUAD> p8 = StandardPalette(8);
  ASSERT_EQ(p8.size(), 256u);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(p8[226 + i].Packed(), (0xF2 - 0x0C * i) * 0x010101u);
  const uint32_t tail[7] = {0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(p8[249 + i].Packed(), tail[i]);
    for (uint32_t j = 10; j < 226; ++j) EXPECT_NE(p8[j].Packed(), tail[i]) << j;
  }
  for (const RGBQUAD& e : p8) EXPECT_EQ(e.rgbReserved, 0);

  // Without a palette each depth gets its standard one, and exact colours find their entry.
  RasterImage image;
  MakeRow(image, {Rgb(0x800080), Rgb(0x00FFFF), Rgb(0xC0C0C0), Rgb(0x000080)}, 24);
  ASSERT_TRUE(image.DecreaseBpp(4, false));
  EXPECT_EQ(RawPixels(image), (std::vector<uint32_t>{5, 14, 7, 4}));
  RasterImage eight;
  MakeRow(eight, {p8[100], p8[240], p8[17]}, 24);
  ASSERT_TRUE(eight.DecreaseBpp(8, false));
  EXPECT_EQ(RawPixels(eight), (std::vector<uint32_t>{100, 240, 17}));
}

TEST(DecreaseBpp, TransparentIndexNamesTheNewEntryOfItsColour) {
  RasterImage image;
  FillRandom(image, 6, 2, 8, 4);
  image.SetPaletteEntry(200, 250, 250, 240);
  image.SetTransparentIndex(200);
  ASSERT_TRUE(image.DecreaseBpp(1, false, nullptr, 2));
  EXPECT_EQ(image.TransparentIndex(), 1);
}

TEST(DecreaseBpp, KeepsSettingsAndAlpha) {
  for (uint32_t target : {1u, 4u, 8u}) {
    RasterImage image;
    FillRandom(image, 47, 33, 24, target, true);
    test::GiveDistinctSettings(image);
    const std::vector<uint8_t> alpha = test::AlphaValues(image);
    ASSERT_TRUE(image.DecreaseBpp(target, target == 4));
    test::ExpectDistinctSettings(image);
    EXPECT_EQ(test::AlphaValues(image), alpha);
  }
}

// Error diffusion on hand-worked cases (B&W target, gray pixels written as one value).
TEST(DecreaseBpp, ErrorDiffusionHandWorked) {
  struct Case {
    const char* what;
    uint32_t width, height;
    std::vector<uint8_t> grays;  // rows from the bottom
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      // 100 -> black (+100); 100 + 43 = 143 -> white (-112); 100 - 49 = 51 -> black.
      {"right neighbour, truncation toward zero", 3, 1, {100, 100, 100}, {0, 1, 0}},
      // The bottom pixel passes 4/16 of +100 upward: 110 + 25 = 135 -> white.
      {"error moves up the picture", 1, 2, {100, 110}, {0, 1}},
      // The rightmost bottom pixel passes 2/16 of +100 up-left (118 + 12 = 130 -> white) and
      // 4/16 straight up (0 + 25 - 54, clamped to 0 -> black); nothing to its right.
      {"rightmost column", 2, 2, {0, 100, 118, 0}, {0, 0, 1, 0}},
      // Top row: only the right neighbour receives the error.
      // 120 -> black (+120); 80 + 52 = 132 -> white.
      {"top row", 2, 1, {120, 80}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RasterImage image;
    ASSERT_NE(image.Create(c.width, c.height, 24, ImageFormat::None), nullptr);
    for (uint32_t i = 0; i < c.grays.size(); ++i) {
      const uint8_t g = c.grays[i];
      image.SetColorAt(i % c.width, i / c.width, RGBQUAD{g, g, g, 0});
    }
    ASSERT_TRUE(image.DecreaseBpp(1, true, nullptr, 2));
    EXPECT_EQ(RawPixels(image), c.expected);
  }
}

// The diffusion written out as it is defined: in place on the source, through the image's own
// checked accessors and its linear nearest-colour search.
void ReferenceDiffusedReduction(RasterImage& source, RasterImage& result) {
  for (uint32_t y = 0; y < source.Height(); ++y) {
    for (uint32_t x = 0; x < source.Width(); ++x) {
      const RGBQUAD c = source.ColorAt(x, y, true);
      result.SetColorAt(x, y, c);
      const RGBQUAD stored = result.ColorAt(x, y);
      const int e[3] = {c.rgbBlue - stored.rgbBlue, c.rgbGreen - stored.rgbGreen,
                        c.rgbRed - stored.rgbRed};
      const int dx[4] = {1, -1, 0, 1}, dy[4] = {0, 1, 1, 1}, w[4] = {7, 2, 4, 1};
      for (int k = 0; k < 4; ++k) {
        const int64_t nx = int64_t{x} + dx[k], ny = int64_t{y} + dy[k];
        if (!source.Contains(nx, ny)) continue;
        RGBQUAD n = source.ColorAt(nx, ny);
        n.rgbBlue = static_cast<uint8_t>(std::clamp(n.rgbBlue + w[k] * e[0] / 16, 0, 255));
        n.rgbGreen = static_cast<uint8_t>(std::clamp(n.rgbGreen + w[k] * e[1] / 16, 0, 255));
        n.rgbRed = static_cast<uint8_t>(std::clamp(n.rgbRed + w[k] * e[2] / 16, 0, 255));
        source.SetColorAt(nx, ny, n);
      }
    }
  }
}

// Random images and palettes (with repeated entries and search limits): the indexed search, the
// linear search and, for the diffused path, the in-place definition all give the same pixels.
TEST(DecreaseBpp, IndexedSearchMatchesLinearSearch) {
  struct Case {
    uint32_t sourceBpp, target, paletteSize, count;
    bool diffusion;
  };
  const Case cases[] = {
      {24, 8, 256, 256, false}, {24, 8, 256, 37, false}, {24, 4, 16, 16, false},
      {24, 1, 2, 2, false},     {8, 4, 16, 0, false},    {8, 8, 256, 200, false},
      {24, 8, 256, 256, true},  {24, 4, 16, 9, true},    {8, 4, 16, 16, true},
      {4, 1, 2, 2, true},       {24, 8, 0, 0, false},    {24, 8, 0, 0, true},
  };
  uint32_t seed = 10;
  for (const Case& c : cases) {
    ++seed;
    SCOPED_TRACE(testing::Message()
                 << c.sourceBpp << "->" << c.target << " palette " << c.paletteSize << " count "
                 << c.count << " diffusion " << c.diffusion);
    const std::vector<RGBQUAD> palette = RandomPaletteWithDuplicates(c.paletteSize, seed);
    const RGBQUAD* given = c.paletteSize != 0 ? palette.data() : nullptr;
    RasterImage linear, indexed, source;
    FillRandom(linear, 47, 33, c.sourceBpp, seed);
    FillRandom(indexed, 47, 33, c.sourceBpp, seed);
    FillRandom(source, 47, 33, c.sourceBpp, seed);
    ASSERT_TRUE(
        DecreaseBppUsing(linear, c.target, c.diffusion, given, c.count, PaletteSearch::Linear));
    ASSERT_TRUE(
        DecreaseBppUsing(indexed, c.target, c.diffusion, given, c.count, PaletteSearch::Indexed));
    EXPECT_EQ(RawPixels(linear), RawPixels(indexed));

    RasterImage reference;
    ASSERT_NE(reference.Create(47, 33, c.target, ImageFormat::None), nullptr);
    if (c.count != 0) reference.SetSignificantColors(c.count);
    if (given == nullptr) {
      reference.ApplyStandardPalette();
    } else {
      reference.ReplacePalette(given, c.count != 0 ? c.count : 1u << c.target);
    }
    EXPECT_EQ(test::PaletteValues(reference), test::PaletteValues(indexed));
    const uint32_t n = c.count != 0 ? reference.SignificantColors() : reference.ColorCount();
    if (c.diffusion) {
      ReferenceDiffusedReduction(source, reference);
    } else {
      for (uint32_t y = 0; y < 33; ++y)
        for (uint32_t x = 0; x < 47; ++x)
          reference.SetIndexAt(x, y,
                               ReferenceNearest(reference.PaletteData(), n, source.ColorAt(x, y)));
    }
    EXPECT_EQ(RawPixels(reference), RawPixels(indexed));
  }
}

TEST(NearestPaletteIndex, AgreesWithLinearSearchAtCellEdges) {
  std::mt19937 rng(99);
  for (uint32_t size : {2u, 5u, 16u, 256u}) {
    for (uint32_t round = 0; round < 3; ++round) {
      std::vector<RGBQUAD> palette = RandomPaletteWithDuplicates(size, rng());
      if (round == 2) std::fill(palette.begin(), palette.end(), Rgb(0x7F8081));
      NearestPaletteIndex indexed(palette.data(), size);
      const auto check = [&](RGBQUAD c) {
        ASSERT_EQ(indexed.Find(c), ReferenceNearest(palette.data(), size, c))
            << size << " " << std::hex << c.Packed();
      };
      // Both faces of a cell boundary on every axis, then random colours.
      const auto edge = [&] { return static_cast<uint8_t>((rng() % 32) * 8 + (rng() % 2) * 7); };
      for (int i = 0; i < 4000; ++i) check(RGBQUAD{edge(), edge(), edge(), 0});
      for (int i = 0; i < 4000; ++i) check(RGBQUAD::FromPacked(rng()));
      for (const RGBQUAD& e : palette) check(e);
    }
  }
}

// ---- OctreeQuantizer ----

// Colours in the order of their paths down the tree: the bits of red, green and blue
// interleaved from the top bit down.
std::vector<RGBQUAD> InOctreeOrder(std::vector<RGBQUAD> colours) {
  const auto path = [](RGBQUAD c) {
    uint32_t key = 0;
    for (int bit = 7; bit >= 0; --bit) {
      key = key << 3 | ((c.rgbRed >> bit) & 1) << 2 | ((c.rgbGreen >> bit) & 1) << 1 |
            ((c.rgbBlue >> bit) & 1);
    }
    return key;
  };
  std::sort(colours.begin(), colours.end(),
            [&](RGBQUAD a, RGBQUAD b) { return path(a) < path(b); });
  return colours;
}

TEST(OctreeQuantizer, TenColoursComeBackExactlyInOctreeOrder) {
  const std::vector<RGBQUAD> colours = {Rgb(0xFF0000), Rgb(0xFFFFFF), Rgb(0x00FF00), Rgb(0x123456),
                                        Rgb(0x0000FF), Rgb(0x808080), Rgb(0x7F7F7F), Rgb(0x000000),
                                        Rgb(0xABCDEF), Rgb(0x010203)};
  const std::vector<RGBQUAD> ordered = InOctreeOrder(colours);
  EXPECT_EQ(ordered[0].Packed(), 0x000000u);
  for (uint32_t bpp : {24u, 8u, 4u}) {
    SCOPED_TRACE(bpp);
    RasterImage image;
    MakeRow(image, colours, bpp, 9);
    OctreeQuantizer quantizer(16, 8);
    ASSERT_TRUE(quantizer.AddBitmapColors(image.BitmapBlock()));
    ASSERT_EQ(quantizer.LeafCount(), 10u);
    std::vector<RGBQUAD> palette(16, Rgb(0xABABAB));
    quantizer.WritePalette(palette.data());
    const uint8_t alpha = bpp == 24 ? 0 : 9;  // palette reserved bytes count as alpha
    for (uint32_t i = 0; i < 10; ++i) {
      RGBQUAD want = ordered[i];
      want.rgbReserved = alpha;
      EXPECT_EQ(palette[i].Packed(), want.Packed()) << i;
    }
    for (uint32_t i = 10; i < 16; ++i) EXPECT_EQ(palette[i].Packed(), 0xABABABu);
  }
}

TEST(OctreeQuantizer, ReductionMergesTheNewestDeepestNodeWithTruncatedAverages) {
  // Thirteen colours away from black, a pair P, P' differing in the lowest bits, then black once
  // and (1, 1, 1) three times. At 8 bits the seventeenth leaf, (1, 1, 1), makes the tree merge the
  // newest node of the deepest level: the parent of black and (1, 1, 1), not the older parent of
  // P and P'. The merged entry is (0 + 3) / 4 = 0, truncated.
  std::vector<RGBQUAD> far;
  for (uint32_t i = 0; i < 13; ++i)
    far.push_back(RGBQUAD{static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 16),
                          static_cast<uint8_t>(128 + i * 8), 0});
  const RGBQUAD p = Rgb(0x326432), pPrime = Rgb(0x336533);
  std::vector<RGBQUAD> pixels = far;
  pixels.insert(pixels.begin() + 1, {p, pPrime});
  pixels.push_back(Rgb(0x000000));
  for (int i = 0; i < 3; ++i) pixels.push_back(Rgb(0x010101));
  RasterImage image;
  MakeRow(image, pixels, 24);

  struct Case {
    uint32_t bits;
    uint32_t leaves;
    std::vector<RGBQUAD> kept;
  };
  std::vector<RGBQUAD> at8 = far, at7 = far;
  at8.insert(at8.end(), {p, pPrime, Rgb(0x000000)});
  // At 7 bits P and P' share a leaf ((0x32 + 0x33) / 2 = 0x32), and so do black and (1, 1, 1).
  at7.insert(at7.end(), {Rgb(0x326432), Rgb(0x000000)});
  for (const Case& c : {Case{8, 16, at8}, Case{7, 15, at7}}) {
    SCOPED_TRACE(c.bits);
    OctreeQuantizer quantizer(16, c.bits);
    ASSERT_TRUE(quantizer.AddBitmapColors(image.BitmapBlock()));
    ASSERT_EQ(quantizer.LeafCount(), c.leaves);
    std::vector<RGBQUAD> palette(16);
    quantizer.WritePalette(palette.data());
    const std::vector<RGBQUAD> expected = InOctreeOrder(c.kept);
    for (uint32_t i = 0; i < c.leaves; ++i)
      EXPECT_EQ(palette[i].Packed(), expected[i].Packed()) << i;
  }
}

TEST(OctreeQuantizer, ManyColoursStayWithinTheLimit) {
  RasterImage image;
  ASSERT_NE(image.Create(20, 15, 24, ImageFormat::None), nullptr);
  for (uint32_t i = 0; i < 300; ++i) {
    image.SetColorAt(i % 20, i / 20,
                     RGBQUAD{static_cast<uint8_t>(i * 37), static_cast<uint8_t>(i),
                             static_cast<uint8_t>(i * 91 + 5), 0});
  }
  for (uint32_t maxColors : {256u, 16u}) {
    OctreeQuantizer quantizer(maxColors, maxColors == 256 ? 7 : 8);
    ASSERT_TRUE(quantizer.AddBitmapColors(image.BitmapBlock()));
    EXPECT_GT(quantizer.LeafCount(), 0u);
    EXPECT_LE(quantizer.LeafCount(), maxColors);
    std::vector<RGBQUAD> palette(maxColors + 1, Rgb(0xABCDEF));
    quantizer.WritePalette(palette.data());
    EXPECT_EQ(palette[quantizer.LeafCount()].Packed(), 0xABCDEFu);
  }
}

TEST(OctreeQuantizer, RefusesBlocksItCannotRead) {
  uint8_t block[64] = {};
  BITMAPINFOHEADER h;
  h.biSize = 40;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biPlanes = 1;
  for (uint16_t bpp : {16, 32, 0, 2}) {
    h.biBitCount = bpp;
    h.WriteTo(block);
    OctreeQuantizer quantizer(256, 7);
    EXPECT_FALSE(quantizer.AddBitmapColors(block)) << bpp;
    EXPECT_EQ(quantizer.LeafCount(), 0u);
  }
  h.biBitCount = 8;
  for (const auto& [clrUsed, size, height] :
       {std::tuple{300u, 40u, 2}, std::tuple{2u, 12u, 2}, std::tuple{2u, 40u, -2}}) {
    h.biClrUsed = clrUsed;
    h.biSize = size;
    h.biHeight = height;
    h.WriteTo(block);
    OctreeQuantizer quantizer(256, 7);
    EXPECT_FALSE(quantizer.AddBitmapColors(block)) << clrUsed << " " << size << " " << height;
  }
  OctreeQuantizer quantizer(256, 7);
  EXPECT_FALSE(quantizer.AddBitmapColors(nullptr));
}

TEST(OctreeQuantizer, FeedsDecreaseBppTheWayTheEngineDoes) {
  for (const auto& [maxColors, bits, depth] : {std::tuple{256u, 7u, 8u}, std::tuple{16u, 8u, 4u}}) {
    RasterImage image;
    FillRandom(image, 47, 33, 24, depth);
    OctreeQuantizer quantizer(maxColors, bits);
    ASSERT_TRUE(quantizer.AddBitmapColors(image.BitmapBlock()));
    std::vector<RGBQUAD> palette(maxColors);
    quantizer.WritePalette(palette.data());
    RasterImage linear;
    FillRandom(linear, 47, 33, 24, depth);
    ASSERT_TRUE(image.DecreaseBpp(depth, false, palette.data(), maxColors));
    ASSERT_TRUE(
        DecreaseBppUsing(linear, depth, false, palette.data(), maxColors, PaletteSearch::Linear));
    EXPECT_EQ(RawPixels(image), RawPixels(linear));
    EXPECT_EQ(image.BitsPerPixel(), depth);
    for (uint32_t i = 0; i < maxColors; ++i)
      EXPECT_EQ(image.PaletteEntryAt(i).Packed(), palette[i].Packed());
  }
}

}  // namespace
}  // namespace orvalis
