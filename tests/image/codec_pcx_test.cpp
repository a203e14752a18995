#include "image/codec_pcx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/support/oracle.h"
#include "tests/support/pictures.h"
#include "tests/support/pnm.h"
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
  EXPECT_TRUE(image.Encode(&stream, ImageFormat::Pcx)) << image.ErrorText();
  return test::StreamBytes(stream);
}

std::vector<uint8_t> Body(const std::vector<uint8_t>& file) {
  return {file.begin() + 128, file.end()};
}

void ExpectPcxtoppmReads(const std::string& path, const RasterImage& image) {
  test::ExpectNetpbmReads("pcxtoppm", path, image);
}

TEST(PcxEncoder, PillowAndNetpbmReadEveryDepth) {
  TempDir dir;
  struct Case {
    uint32_t width, height, bpp;
  };
  for (const Case c : {Case{47, 33, 1}, Case{47, 33, 4}, Case{47, 33, 8}, Case{47, 33, 24},
                       Case{200, 3, 8}, Case{130, 4, 24}, Case{16, 5, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.bpp));
    RasterImage image;
    if (c.bpp == 24) {
      MakeTrueColor(image, c.width, c.height);
    } else {
      MakeIndexed(image, c.width, c.height, c.bpp);
    }
    const std::string path = dir.File("p" + std::to_string(c.bpp) + ".pcx");
    ASSERT_TRUE(image.Save(path, ImageFormat::Pcx)) << image.ErrorText();
    ExpectPillowReads(path, image);
    ExpectPcxtoppmReads(path, image);
  }
}

// With white as entry 0 the indices are inverted against the fixed black-and-white map, so the
// colours stay where they were.
TEST(PcxEncoder, OneBitImageWithLightFirstEntryKeepsItsColours) {
  TempDir dir;
  RasterImage image;
  MakeIndexed(image, 21, 9, 1);
  image.SetPaletteEntry(0, 255, 255, 255);
  image.SetPaletteEntry(1, 0, 0, 0);
  const std::string path = dir.File("inverted.pcx");
  ASSERT_TRUE(image.Save(path, ImageFormat::Pcx)) << image.ErrorText();
  ExpectPillowReads(path, image);
  const auto file = test::ReadFileBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 16, file.begin() + 22),
            (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
}

TEST(PcxEncoder, HeaderFields) {
  struct Case {
    uint32_t width, height, bpp;
    bool alpha;
    uint8_t bitsPerPlane, planes;
    uint16_t bytesPerLine, paletteInfo;
  };
  for (const Case c : {Case{47, 33, 1, false, 1, 1, 6, 0}, Case{47, 33, 4, false, 1, 4, 6, 0},
                       Case{47, 33, 8, false, 8, 1, 48, 0}, Case{47, 33, 24, false, 8, 3, 48, 1},
                       Case{2, 1, 24, false, 8, 3, 2, 1}, Case{8, 2, 1, false, 1, 1, 2, 0},
                       Case{5, 2, 24, true, 8, 4, 6, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.bpp));
    RasterImage image;
    if (c.bpp == 24) {
      MakeTrueColor(image, c.width, c.height);
    } else {
      MakeIndexed(image, c.width, c.height, c.bpp);
    }
    if (c.alpha) {
      ASSERT_TRUE(image.AllocateAlpha());
    }
    image.SetResolutionX(300);
    image.SetResolutionY(150);
    const auto file = EncodeToMemory(image);
    ASSERT_GE(file.size(), 128u);
    EXPECT_EQ(file[0], 0x0A);
    EXPECT_EQ(file[1], 5);
    EXPECT_EQ(file[2], 1);
    EXPECT_EQ(file[3], c.bitsPerPlane);
    EXPECT_EQ(LoadLE16(&file[4]), 0);
    EXPECT_EQ(LoadLE16(&file[6]), 0);
    EXPECT_EQ(LoadLE16(&file[8]), c.width - 1);
    EXPECT_EQ(LoadLE16(&file[10]), c.height - 1);
    EXPECT_EQ(LoadLE16(&file[12]), 300);
    EXPECT_EQ(LoadLE16(&file[14]), 150);
    EXPECT_EQ(file[64], 0);
    EXPECT_EQ(file[65], c.planes);
    EXPECT_EQ(LoadLE16(&file[66]), c.bytesPerLine);
    EXPECT_EQ(LoadLE16(&file[68]), c.paletteInfo);
    for (size_t i = 70; i < 128; ++i) EXPECT_EQ(file[i], 0) << i;
    if (c.bpp == 4) {
      const RGBQUAD e5 = image.PaletteEntryAt(5);
      EXPECT_EQ(file[16 + 15], e5.rgbRed);
      EXPECT_EQ(file[16 + 17], e5.rgbBlue);
    }
    if (c.bpp >= 8) {
      for (size_t i = 16; i < 64; ++i) EXPECT_EQ(file[i], 0) << i;
    }
  }
}

TEST(PcxEncoder, BodiesOfSmallImages) {
  struct Case {
    const char* name;
    uint32_t width, bpp;
    std::vector<uint8_t> pixels;  // indices, or blue green red triples
    std::vector<uint8_t> body;    // without the 8-bit palette
  };
  std::vector<uint8_t> run130(130, 7);
  const std::vector<Case> cases = {
      // A run of two, an escaped single 200, the pad byte of an odd line.
      {"8-bit 3 x 1", 3, 8, {5, 5, 200}, {0xC2, 0x05, 0xC1, 0xC8, 0x00}},
      {"8-bit runs above 63", 130, 8, run130, {0xFF, 7, 0xFF, 7, 0xC4, 7}},
      {"8-bit 63 then 1", 64, 8, std::vector<uint8_t>(64, 0xC0), {0xFF, 0xC0, 0xC1, 0xC0}},
      // Red, green and blue planes of two pixels, no pad byte.
      {"24-bit 2 x 1", 2, 24, {1, 2, 3, 1, 2, 4}, {3, 4, 0xC2, 2, 0xC2, 1}},
      // One data byte (escaped, being 0xD7) and the pad byte, each its own run.
      {"1-bit 8 x 1", 8, 1, {1, 1, 0, 1, 0, 1, 1, 1}, {0xC1, 0xD7, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RasterImage image;
    ASSERT_NE(image.Create(c.width, 1, c.bpp, ImageFormat::None), nullptr);
    if (c.bpp == 1) {
      image.SetPaletteEntry(1, 255, 255, 255);
      for (uint32_t x = 0; x < c.width; ++x) image.SetIndexAt(x, 0, c.pixels[x]);
    } else {
      std::copy(c.pixels.begin(), c.pixels.end(), image.RowAddress(0));
    }
    if (c.bpp == 8) image.SetPaletteEntry(200, 9, 8, 7);
    const auto body = Body(EncodeToMemory(image));
    ASSERT_GE(body.size(), c.body.size());
    EXPECT_EQ(std::vector<uint8_t>(body.begin(), body.begin() + c.body.size()), c.body);
    if (c.bpp != 8) {
      EXPECT_EQ(body.size(), c.body.size());
      continue;
    }
    // The 8-bit palette follows: 0x0C and 256 entries of red, green, blue.
    ASSERT_EQ(body.size(), c.body.size() + 769);
    const size_t at = c.body.size();
    EXPECT_EQ(body[at], 0x0C);
    EXPECT_EQ(body[at + 1 + 200 * 3], 9);
    EXPECT_EQ(body[at + 1 + 200 * 3 + 2], 7);
  }
}

TEST(PcxEncoder, AlphaIsTheFourthPlane) {
  RasterImage image;
  ASSERT_NE(image.Create(2, 1, 24, ImageFormat::None), nullptr);
  image.FillBytes(10);
  ASSERT_TRUE(image.AllocateAlpha());
  image.SetAlphaAt(1, 0, 20);
  EXPECT_EQ(Body(EncodeToMemory(image)),
            (std::vector<uint8_t>{0xC2, 10, 0xC2, 10, 0xC2, 10, 0xC1, 0xFF, 20}));
}

TEST(PcxEncoder, PagesBeyondTheHeaderFieldsAreRefused) {
  struct Case {
    uint32_t width, height, bpp;
    bool fits;
  };
  for (const Case c :
       {Case{65534, 1, 8, true}, Case{65535, 1, 8, false}, Case{65535, 1, 24, false},
        Case{65536, 1, 1, true}, Case{65537, 1, 4, false}, Case{2, 65537, 1, false}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    RasterImage image;
    ASSERT_NE(image.Create(c.width, c.height, c.bpp, ImageFormat::None), nullptr);
    image.FillBytes(0);
    MemoryStream stream;
    stream.OpenEmpty();
    EXPECT_EQ(image.Encode(&stream, ImageFormat::Pcx), c.fits);
    if (c.fits) {
      const auto file = test::StreamBytes(stream);
      EXPECT_EQ(LoadLE16(&file[8]), c.width - 1);
      continue;
    }
    EXPECT_EQ(stream.Length(), 0);
    EXPECT_NE(image.ErrorText().find("PCX"), std::string::npos) << image.ErrorText();
    EXPECT_NE(image.ErrorText().find("at most"), std::string::npos) << image.ErrorText();
  }
}

}  // namespace
}  // namespace orvalis
