#include "image/codec_bmp.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::PillowDecode;
using test::ReadFileBytes;
using test::RunCommand;
using test::TempDir;
using test::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

// ---- Building files byte by byte ----

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes FileHeader(uint32_t pixelOffset, uint32_t fileSize = 0) {
  Bytes b{'B', 'M'};
  PutLE32(b, fileSize);
  PutLE32(b, 0);
  PutLE32(b, pixelOffset);
  return b;
}

struct Info {
  int32_t width = 1;
  int32_t height = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPels = 0;
  int32_t yPels = 0;
  uint32_t clrUsed = 0;
  uint32_t size = 40;
  uint16_t planes = 1;

  // The 40 standard bytes, then zeros up to `size`.
  Bytes Encode() const {
    Bytes b;
    PutLE32(b, size);
    PutLE32(b, static_cast<uint32_t>(width));
    PutLE32(b, static_cast<uint32_t>(height));
    PutLE16(b, planes);
    PutLE16(b, bitCount);
    PutLE32(b, compression);
    PutLE32(b, sizeImage);
    PutLE32(b, static_cast<uint32_t>(xPels));
    PutLE32(b, static_cast<uint32_t>(yPels));
    PutLE32(b, clrUsed);
    PutLE32(b, 0);
    if (size > 40 && size < 4096) b.resize(size, 0);
    return b;
  }
};

Bytes CoreHeader(uint16_t width, uint16_t height, uint16_t bitCount) {
  Bytes b;
  PutLE32(b, 12);
  PutLE16(b, width);
  PutLE16(b, height);
  PutLE16(b, 1);
  PutLE16(b, bitCount);
  return b;
}

Bytes Palette(std::initializer_list<std::array<uint8_t, 3>> rgb, size_t entrySize = 4) {
  Bytes b;
  for (const auto& c : rgb) {
    b.push_back(c[2]);
    b.push_back(c[1]);
    b.push_back(c[0]);
    if (entrySize == 4) b.push_back(0x55);  // reserved bytes must read back as 0
  }
  return b;
}

Bytes Masks(uint32_t red, uint32_t green, uint32_t blue) {
  Bytes b;
  PutLE32(b, red);
  PutLE32(b, green);
  PutLE32(b, blue);
  return b;
}

// A whole file: file header pointing just past the headers and palette.
Bytes WithFileHeader(const Bytes& dib, size_t pixelOffsetInDib) {
  return Concat({FileHeader(static_cast<uint32_t>(14 + pixelOffsetInDib),
                            static_cast<uint32_t>(14 + dib.size())),
                 dib});
}

// ---- Decoding ----

std::unique_ptr<RasterImage> DecodeBytes(Bytes bytes, ImageFormat format = ImageFormat::Bmp) {
  auto image = std::make_unique<RasterImage>();
  MemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  if (!image->Decode(&stream, format)) ADD_FAILURE() << "decode failed: " << image->ErrorText();
  return image;
}

std::string DecodeError(Bytes bytes) {
  RasterImage image;
  MemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  EXPECT_FALSE(image.Decode(&stream, ImageFormat::Bmp));
  EXPECT_FALSE(image.IsValid());
  return image.ErrorText();
}

using Rgb = std::array<uint8_t, 3>;

// Colour of pixel x, y with y counted from the top row, as red, green, blue.
Rgb TopDownRgb(const RasterImage& image, uint32_t x, uint32_t yFromTop) {
  const RGBQUAD c = image.ColorAt(x, image.Height() - 1 - yFromTop);
  return {c.rgbRed, c.rgbGreen, c.rgbBlue};
}

std::vector<Rgb> AllRgb(const RasterImage& image) {
  std::vector<Rgb> out;
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x) out.push_back(TopDownRgb(image, x, y));
  return out;
}

std::vector<Rgb> AllRgb(const test::OracleImage& oracle) {
  std::vector<Rgb> out;
  for (int y = 0; y < oracle.height; ++y) {
    for (int x = 0; x < oracle.width; ++x) {
      const auto c = oracle.At(x, y);
      out.push_back({c[0], c[1], c[2]});
    }
  }
  return out;
}

// Compares our decoding of a file with Pillow's.
void ExpectSameAsPillow(const Bytes& file, const std::string& label) {
  TempDir dir;
  const std::string path = dir.File("case.bmp");
  WriteFileBytes(path, file);
  std::string why;
  const auto oracle = PillowDecode(path, 0, &why);
  ASSERT_TRUE(oracle) << label << ": " << why;
  const auto ours = DecodeBytes(file);
  ASSERT_TRUE(ours->IsValid()) << label;
  ASSERT_EQ(ours->Width(), static_cast<uint32_t>(oracle->width)) << label;
  ASSERT_EQ(ours->Height(), static_cast<uint32_t>(oracle->height)) << label;
  EXPECT_EQ(AllRgb(*ours), AllRgb(*oracle)) << label;
}

// ---- Files Pillow writes ----

constexpr const char* kPillowWriter = R"(
import sys
from PIL import Image
out, w, h = sys.argv[1], 47, 33
rgb = Image.new("RGB", (w, h))
rgb.putdata([((x * 37 + y * 11) & 255, (x * 5 + y * 29) & 255, (x * y + 71) & 255)
             for y in range(h) for x in range(w)])
rgb.save(out + "/rgb.bmp", dpi=(300, 150))
rgb.convert("L").save(out + "/gray.bmp")
rgb.convert("1").save(out + "/bw.bmp")
rgb.quantize(200).save(out + "/palette.bmp")
rgba = rgb.copy()
rgba.putalpha(Image.frombytes("L", (w, h), bytes((x * 5 + y * 3) & 255
                                                 for y in range(h) for x in range(w))))
rgba.save(out + "/rgba.bmp")
)";

TEST(BmpDecode, FilesPillowWritesDecodeToPillowsPixels) {
  TempDir dir;
  const auto run = RunCommand({"/usr/bin/python3", "-c", kPillowWriter, dir.Path().string()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  struct Case {
    const char* name;
    uint32_t depth;
  };
  for (const Case c : {Case{"rgb.bmp", 24}, Case{"gray.bmp", 8}, Case{"bw.bmp", 1},
                       Case{"palette.bmp", 8}, Case{"rgba.bmp", 24}}) {
    SCOPED_TRACE(c.name);
    const Bytes file = ReadFileBytes(dir.File(c.name));
    ExpectSameAsPillow(file, c.name);
    const auto ours = DecodeBytes(file);
    EXPECT_EQ(ours->BitsPerPixel(), c.depth);
    EXPECT_EQ(ours->SourceFormat(), ImageFormat::Bmp);
  }
  const auto rgb = DecodeBytes(ReadFileBytes(dir.File("rgb.bmp")));
  EXPECT_EQ(rgb->ResolutionX(), 300);
  EXPECT_EQ(rgb->ResolutionY(), 150);
  EXPECT_FALSE(rgb->HasAlpha());
  // Pillow ignores the alpha of a 32-bit file; we keep it as the alpha plane.
  const auto rgba = DecodeBytes(ReadFileBytes(dir.File("rgba.bmp")));
  ASSERT_TRUE(rgba->HasAlpha());
  for (uint32_t y = 0; y < 33; ++y)
    for (uint32_t x = 0; x < 47; ++x)
      ASSERT_EQ(rgba->AlphaAt(x, 32 - y), (x * 5 + y * 3) & 255) << x << "," << y;
}

// ---- Files built byte by byte, checked against Pillow ----

TEST(BmpDecode, HandBuiltFilesDecodeToPillowsPixels) {
  const Bytes gray4 = Palette({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 99, 199}});
  // 5 x 3, 8-bit RLE: encoded runs, an odd absolute run with its pad byte, end of line.
  const Bytes rle8Pixels{2, 1, 0, 3, 4, 2, 3, 0,  // row 0: 1 1, absolute 4 2 3 and its pad
                         0, 0,                    // end of line
                         5, 2, 0, 0,              // row 1: 2 2 2 2 2
                         2, 3, 3, 4,              // row 2: 3 3 4 4 4
                         0, 1};
  const Bytes rle8Dib = Concat({Info{5, 3, 8, 1, 0, 0, 0, 5}.Encode(), gray4, rle8Pixels});
  // 7 x 3, 4-bit RLE: nibble runs, an even absolute run, end of line.
  const Bytes rle4Pixels{5, 0x12, 0,    0,                    // row 0: 1 2 1 2 1
                         0, 4,    0x34, 0x21, 3, 0x40, 0, 0,  // row 1: 3 4 2 1, 4 0 4
                         7, 0x33, 0,    1};                   // row 2: all 3
  const Bytes rle4Dib = Concat({Info{7, 3, 4, 2, 0, 0, 0, 5}.Encode(), gray4, rle4Pixels});
  // 3 x 2 core header, 8-bit, 3-byte palette entries, rows padded to 4.
  const Bytes coreDib =
      Concat({CoreHeader(3, 2, 8), Palette({{10, 20, 30}, {40, 50, 60}, {70, 80, 90}}, 3),
              Bytes(253 * 3, 0), Bytes{0, 1, 2, 0, 2, 1, 0, 0}});
  // 3 x 2 core header, 24-bit.
  const Bytes core24Dib = Concat({CoreHeader(3, 2, 24), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,
                                                              9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0, 0}});
  // 3 x 2 32-bit bit fields in the usual order.
  Bytes px32;
  for (uint8_t i = 0; i < 6; ++i)
    px32.insert(px32.end(), {uint8_t(i * 40), uint8_t(i + 1), 200, 0});
  const Bytes bitfields32Dib =
      Concat({Info{3, 2, 32, 3}.Encode(), Masks(0xFF0000, 0x00FF00, 0x0000FF), px32});

  struct Case {
    const char* label;
    Bytes dib;
    size_t pixelOffset;
  };
  for (const Case& c :
       {Case{"rle8", rle8Dib, 40 + 20}, Case{"rle4", rle4Dib, 40 + 20},
        Case{"core 8-bit", coreDib, 12 + 256 * 3}, Case{"core 24-bit", core24Dib, 12},
        Case{"32-bit bit fields", bitfields32Dib, 52}}) {
    ExpectSameAsPillow(WithFileHeader(c.dib, c.pixelOffset), c.label);
  }
  const auto rle8 = DecodeBytes(WithFileHeader(rle8Dib, 60));
  EXPECT_EQ(rle8->IndexAt(0, 0), 1);  // the first row of the stream is the bottom row
  EXPECT_EQ(rle8->IndexAt(4, 0), 3);
  EXPECT_EQ(rle8->IndexAt(4, 2), 4);
  const auto core = DecodeBytes(WithFileHeader(coreDib, 12 + 256 * 3));
  EXPECT_EQ(core->PaletteEntryAt(2), (RGBQUAD{90, 80, 70, 0}));
  EXPECT_EQ(core->PaletteEntryAt(3), RGBQUAD{});
}

// 16-bit files: Pillow reads the two layouts it knows; it widens 5 bits to 8 by repeating the
// top bits, where we leave the low bits 0, so only the field's own bits are compared.
TEST(BmpDecode, SixteenBitFilesMatchPillowInTheFieldsBits) {
  struct Case {
    const char* label;
    Bytes masks;  // empty: no bit fields, 5-5-5 by default
    uint32_t compression;
    uint8_t keep[3];  // bits of red, green, blue that the field carries
  };
  Bytes pixels;  // two rows of five, each padded to 12 bytes
  for (uint16_t v :
       {0x0000, 0xFFFF, 0x7C00, 0x03E0, 0x001F, 0, 0x1234, 0xF800, 0x07E0, 0xA5A5, 0x5A5A, 0}) {
    PutLE16(pixels, v);
  }
  for (const Case& c :
       {Case{"5-5-5 default", {}, 0, {0xF8, 0xF8, 0xF8}},
        Case{"5-6-5", Masks(0xF800, 0x07E0, 0x001F), 3, {0xF8, 0xFC, 0xF8}},
        Case{"5-5-5 fields", Masks(0x7C00, 0x03E0, 0x001F), 3, {0xF8, 0xF8, 0xF8}}}) {
    SCOPED_TRACE(c.label);
    const Bytes dib = Concat({Info{5, 2, 16, c.compression}.Encode(), c.masks, pixels});
    const Bytes file = WithFileHeader(dib, 40 + c.masks.size());
    TempDir dir;
    WriteFileBytes(dir.File("16.bmp"), file);
    const auto oracle = PillowDecode(dir.File("16.bmp"));
    ASSERT_TRUE(oracle);
    const auto ours = DecodeBytes(file);
    ASSERT_TRUE(ours->IsValid());
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 5; ++x) {
        const Rgb got = TopDownRgb(*ours, x, y);
        const auto want = oracle->At(x, y);
        for (int i = 0; i < 3; ++i) {
          EXPECT_EQ(got[i], want[i] & c.keep[i]) << x << "," << y << " channel " << i;
          EXPECT_EQ(got[i] & ~c.keep[i], 0);
        }
      }
    }
  }
}

// ---- Edge cases, each with its expected outcome ----

TEST(BmpDecode, SixteenBitMaskExamplesAndUnusualMasks) {
  struct Case {
    uint32_t red, green, blue;
    uint16_t value;
    Rgb want;
  };
  for (const Case c : {
           Case{0xF800, 0x07E0, 0x001F, 0xFFFF, {248, 252, 248}},  // 5-6-5
           Case{0xFC00, 0x03E0, 0x001F, 0x03FF, {0, 248, 248}},    // 6-5-5
           Case{0xFC00, 0x03E0, 0x001F, 0xFC00, {252, 0, 0}},
           Case{0x001F, 0x07E0, 0xF800, 0xF81F, {248, 0, 248}},        // blue in the high bits
           Case{0x0F00, 0x00F0, 0x000F, 0x0A5F, {0xA0, 0x50, 0xF0}},   // 4-4-4
           Case{0, 0, 0, 0xFFFF, {0, 0, 0}},                           // no masks at all
           Case{0xFFFF, 0xFFFF, 0x8001, 0xABCD, {0xAB, 0xAB, 0x80}},   // wide, overlapping
           Case{0xFFFF0000, 0x0001, 0x8000, 0x8001, {0, 0x80, 0x80}},  // bits above 15 ignored
       }) {
    Bytes pixels;
    PutLE16(pixels, c.value);
    PutLE16(pixels, 0);
    const auto image = DecodeBytes(WithFileHeader(
        Concat({Info{1, 1, 16, 3}.Encode(), Masks(c.red, c.green, c.blue), pixels}), 52));
    EXPECT_EQ(TopDownRgb(*image, 0, 0), c.want)
        << std::hex << c.red << " " << c.green << " " << c.blue << " " << c.value;
  }
}

TEST(BmpDecode, PackedDibWithoutFileHeader) {
  // The palette and pixels follow the header; the palette's surplus entries are skipped.
  struct Case {
    uint32_t clrUsed;
    size_t paletteEntries;
  };
  for (const Case c : {Case{0, 256}, Case{3, 3}, Case{300, 300}}) {
    Bytes palette;
    for (size_t i = 0; i < c.paletteEntries; ++i)
      palette.insert(palette.end(), {0, 0, uint8_t(i), 0});
    const Bytes dib =
        Concat({Info{3, 1, 8, 0, 0, 0, 0, c.clrUsed}.Encode(), palette, Bytes{2, 1, 0, 0}});
    const auto image = DecodeBytes(dib);
    ASSERT_TRUE(image->IsValid()) << c.clrUsed;
    EXPECT_EQ(image->IndexAt(0, 0), 2) << c.clrUsed;
    EXPECT_EQ(image->IndexAt(1, 0), 1) << c.clrUsed;
    EXPECT_EQ(TopDownRgb(*image, 0, 0), (Rgb{2, 0, 0})) << c.clrUsed;
  }
  // Bit fields after a 40-byte header come before the pixels.
  const auto masked = DecodeBytes(
      Concat({Info{1, 1, 16, 3}.Encode(), Masks(0xF800, 0x07E0, 0x001F), Bytes{0xFF, 0xFF, 0, 0}}));
  EXPECT_EQ(TopDownRgb(*masked, 0, 0), (Rgb{248, 252, 248}));
  // Format 0 finds the BMP decoder too.
  const auto detected =
      DecodeBytes(Concat({Info{1, 1, 24}.Encode(), Bytes{1, 2, 3, 0}}), ImageFormat::None);
  EXPECT_EQ(TopDownRgb(*detected, 0, 0), (Rgb{3, 2, 1}));
}

TEST(BmpDecode, ThirtyTwoBitAlpha) {
  const auto decode = [](std::initializer_list<uint8_t> fourth, uint32_t compression) {
    Bytes pixels;
    uint8_t i = 0;
    for (uint8_t a : fourth) {
      pixels.insert(pixels.end(), {uint8_t(10 + i), uint8_t(20 + i), uint8_t(30 + i), a});
      ++i;
    }
    const Bytes masks = compression == 3 ? Masks(0xFF0000, 0xFF00, 0xFF) : Bytes{};
    return DecodeBytes(WithFileHeader(Concat({Info{2, 2, 32, compression}.Encode(), masks, pixels}),
                                      40 + masks.size()));
  };
  const auto unused = decode({0, 0, 0, 0}, 0);
  ASSERT_TRUE(unused->HasAlpha());
  EXPECT_EQ(unused->BitsPerPixel(), 24u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(unused->AlphaAt(i % 2, i / 2), 255);
  const auto used = decode({0, 7, 128, 255}, 0);
  EXPECT_EQ(used->AlphaAt(0, 0), 0);
  EXPECT_EQ(used->AlphaAt(1, 0), 7);
  EXPECT_EQ(used->AlphaAt(0, 1), 128);
  EXPECT_EQ(used->AlphaAt(1, 1), 255);
  EXPECT_EQ(used->ColorAt(1, 1), (RGBQUAD{10 + 3, 20 + 3, 30 + 3, 0}));
  EXPECT_FALSE(decode({1, 2, 3, 4}, 3)->HasAlpha());
}

TEST(BmpDecode, TopDownFileEqualsItsBottomUpTwin) {
  const Bytes rowA{1, 2, 3, 4, 5, 6, 0, 0}, rowB{7, 8, 9, 10, 11, 12, 0, 0};
  const auto bottomUp =
      DecodeBytes(WithFileHeader(Concat({Info{2, 2, 24}.Encode(), rowA, rowB}), 40));
  const auto topDown =
      DecodeBytes(WithFileHeader(Concat({Info{2, -2, 24}.Encode(), rowB, rowA}), 40));
  EXPECT_EQ(topDown->Height(), 2u);
  EXPECT_EQ(AllRgb(*topDown), AllRgb(*bottomUp));
  // The alpha plane turns with the rows.
  const Bytes px{1, 1, 1, 10, 2, 2, 2, 20};
  const auto alpha = DecodeBytes(WithFileHeader(Concat({Info{1, -2, 32}.Encode(), px}), 40));
  EXPECT_EQ(alpha->AlphaAt(0, 1), 10);
  EXPECT_EQ(alpha->AlphaAt(0, 0), 20);
}

TEST(BmpDecode, ResolutionFromPelsPerMeter) {
  struct Case {
    int32_t pels;
    int32_t dpi;
  };
  for (const Case c : {Case{2835, 72}, Case{0, 96}, Case{-100, 96}, Case{11811, 300},
                       Case{3780, 96}, Case{19, 96}, Case{20, 1}}) {
    Info info{1, 1, 24};
    info.xPels = c.pels;
    info.yPels = c.pels;
    const auto image = DecodeBytes(WithFileHeader(Concat({info.Encode(), Bytes(4, 0)}), 40));
    EXPECT_EQ(image->ResolutionX(), c.dpi) << c.pels;
    EXPECT_EQ(image->ResolutionY(), c.dpi) << c.pels;
  }
}

// Run-length streams, each decoded into a 4 x 3 8-bit or 8 x 3 4-bit image; rows listed from
// the bottom. Pixels a stream never reaches are 0.
TEST(BmpDecode, RunLengthCases) {
  struct Case {
    const char* label;
    uint32_t compression;
    Bytes stream;
    std::vector<std::vector<uint8_t>> rows;  // indices, bottom row first
  };
  const std::vector<Case> cases = {
      {"rle8 without end of bitmap",
       1,
       {2, 5, 0, 0, 1, 6},
       {{5, 5, 0, 0}, {6, 0, 0, 0}, {0, 0, 0, 0}}},
      {"rle8 run stops at the row end",
       1,
       {9, 7, 0, 1},
       {{7, 7, 7, 7}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
      {"rle8 delta", 1, {0, 2, 1, 1, 1, 9, 0, 1}, {{0, 0, 0, 0}, {0, 9, 0, 0}, {0, 0, 0, 0}}},
      {"rle8 delta past the top",
       1,
       {0, 2, 0, 200, 4, 9, 0, 0, 3, 8},
       {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
      {"rle8 absolute run spills into the next row",
       1,
       {0, 2, 2, 0, 0, 3, 1, 2, 3, 0},
       {{0, 0, 1, 2}, {3, 0, 0, 0}, {0, 0, 0, 0}}},
      {"rle8 absolute run leaves the picture",
       1,
       {0, 2, 3, 2, 0, 5, 1, 2, 3, 4, 5, 0, 4, 4},
       {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 1}}},
      {"rle8 truncated absolute run", 1, {0, 6, 1, 2}, {{1, 2, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}}},
      {"rle4 delta dx 3 lands on a low nibble",
       2,
       {0, 2, 3, 0, 1, 0xA0, 0, 1},
       {{0, 0, 0, 10, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}}},
      {"rle4 odd absolute run and its pad",
       2,
       {0, 3, 0x12, 0x30, 2, 0x45, 0, 0, 1, 0x60},
       {{1, 2, 3, 4, 5, 0, 0, 0}, {6, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}}},
      {"rle4 run of 5 then absolute 4",
       2,
       {5, 0x9A, 0, 4, 0x12, 0x34, 0, 1},
       {{9, 10, 9, 10, 9, 1, 2, 3}, {4, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}}},
      {"rle4 huge run crosses into later rows",
       2,
       {255, 0x77},
       {{7, 7, 7, 7, 7, 7, 7, 7}, {7, 7, 7, 7, 7, 7, 7, 7}, {7, 7, 7, 7, 7, 7, 7, 7}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const int32_t width = c.compression == 1 ? 4 : 8;
    const uint16_t depth = c.compression == 1 ? 8 : 4;
    const Bytes file =
        WithFileHeader(Concat({Info{width, 3, depth, c.compression, 0, 0, 0, 2}.Encode(),
                               Palette({{0, 0, 0}, {255, 255, 255}}), c.stream}),
                       48);
    const auto image = DecodeBytes(file);
    ASSERT_TRUE(image->IsValid());
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < static_cast<uint32_t>(width); ++x)
        EXPECT_EQ(image->IndexAt(x, y), c.rows[y][x]) << x << "," << y;
  }
}

TEST(BmpDecode, HeaderVariants) {
  const Bytes pixel{0x11, 0x22, 0x33, 0};
  struct Case {
    const char* label;
    Info info;
    Bytes extra;  // after the header, before the pixels
    bool accepted;
  };
  Info v5{1, 1, 24, 0, 4, 0, 0, 0, 124};
  Info v5NoSize = v5;
  v5NoSize.sizeImage = 0;
  Info v5Palette = v5;
  v5Palette.clrUsed = 2;
  Info v5Planes = v5;
  v5Planes.planes = 2;
  Info v4Masks{1, 1, 32, 3, 4, 0, 0, 0, 108};
  Info os2{1, 1, 24, 0, 0, 0, 0, 0, 64};
  Info odd{1, 1, 24, 0, 0, 0, 0, 0, 39};
  Info tiny{1, 1, 24, 0, 0, 0, 0, 0, 11};
  for (const Case& c :
       {Case{"124-byte header", v5, {}, true},
        Case{"124-byte header without image size", v5NoSize, {}, false},
        Case{"124-byte header with palette size", v5Palette, {}, false},
        Case{"124-byte header with two planes", v5Planes, {}, false},
        Case{"64-byte header", os2, {}, true}, Case{"39-byte header", odd, {}, false},
        Case{"11-byte header", tiny, {}, false}}) {
    SCOPED_TRACE(c.label);
    const Bytes header = c.info.Encode();
    const Bytes file = WithFileHeader(Concat({header, pixel}), header.size());
    if (c.accepted) {
      EXPECT_EQ(TopDownRgb(*DecodeBytes(file), 0, 0), (Rgb{0x33, 0x22, 0x11}));
    } else {
      EXPECT_EQ(DecodeError(file), "Error reading BMP info");
    }
  }
  // A 108-byte header keeps its masks at bytes 40-51; here they pick blue, green, red swapped.
  Bytes v4 = v4Masks.Encode();
  const Bytes masks = Masks(0x0000FF, 0x00FF00, 0xFF0000);
  std::copy(masks.begin(), masks.end(), v4.begin() + 40);
  const auto swapped = DecodeBytes(WithFileHeader(Concat({v4, pixel}), v4.size()));
  EXPECT_EQ(TopDownRgb(*swapped, 0, 0), (Rgb{0x11, 0x22, 0x33}));
}

TEST(BmpReadInfoHeader, NormalisesSizes) {
  struct Case {
    Bytes header;
    uint32_t sizeImage, clrUsed, size;
    int32_t width, height;
  };
  for (const Case& c : {Case{Info{47, 33, 1}.Encode(), 8 * 33, 2, 40, 47, 33},
                        Case{Info{47, 33, 4}.Encode(), 24 * 33, 16, 40, 47, 33},
                        Case{Info{47, -33, 8, 0, 0, 0, 0, 7}.Encode(), 48 * 33, 7, 40, 47, -33},
                        Case{Info{47, 33, 24}.Encode(), 144 * 33, 0, 40, 47, 33},
                        Case{Info{5, 2, 32, 0, 99}.Encode(), 99, 0, 40, 5, 2},
                        Case{CoreHeader(3, 2, 4), 4 * 2, 16, 12, 3, 2}}) {
    Bytes bytes = c.header;
    MemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    BITMAPINFOHEADER h;
    ASSERT_TRUE(RasterImageBmp::ReadInfoHeader(&stream, &h));
    EXPECT_EQ(h.biSizeImage, c.sizeImage);
    EXPECT_EQ(h.biClrUsed, c.clrUsed);
    EXPECT_EQ(h.biSize, c.size);
    EXPECT_EQ(h.biWidth, c.width);
    EXPECT_EQ(h.biHeight, c.height);
  }
}

TEST(BmpDecode, ErrorTexts) {
  const Bytes palette2 = Palette({{0, 0, 0}, {255, 255, 255}});
  struct Case {
    const char* label;
    Bytes file;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"13 bytes", Bytes(13, 'B'), "Not a BMP"},
      {"empty", {}, "Not a BMP"},
      {"header cut short", Concat({FileHeader(54), Bytes{40, 0, 0, 0, 1, 0}}),
       "Error reading BMP info"},
      {"header size 20",
       Concat({FileHeader(54), Info{1, 1, 24, 0, 0, 0, 0, 0, 20}.Encode(), Bytes(20, 0)}),
       "Error reading BMP info"},
      {"8-bit JPEG", Concat({FileHeader(62), Info{1, 1, 8, 4}.Encode(), palette2, Bytes(4, 0)}),
       "compression type not supported"},
      {"1-bit bit fields",
       Concat({FileHeader(62), Info{1, 1, 1, 3}.Encode(), palette2, Bytes(4, 0)}),
       "compression type not supported"},
      {"24-bit RLE8", Concat({FileHeader(54), Info{1, 1, 24, 1}.Encode(), Bytes(4, 0)}),
       "unknown compression"},
      {"24-bit bit fields", Concat({FileHeader(54), Info{1, 1, 24, 3}.Encode(), Bytes(4, 0)}),
       "unknown compression"},
      {"32-bit RLE4", Concat({FileHeader(54), Info{1, 1, 32, 2}.Encode(), Bytes(4, 0)}),
       "unknown compression"},
      {"width 0", Concat({FileHeader(54), Info{0, 1, 24}.Encode()}),
       "RasterImage::Create : width and height must be greater than zero"},
      {"height 0", Concat({FileHeader(54), Info{1, 0, 24}.Encode()}),
       "RasterImage::Create : width and height must be greater than zero"},
      {"too big", Concat({FileHeader(54), Info{65536, 32768, 24}.Encode()}),
       "RASTERIMAGE_MAX_MEMORY exceeded"},
      {"depth 2", Concat({FileHeader(54), Info{1, 1, 2}.Encode()}),
       "BMP bit depth 2 not supported (1, 4, 8, 16, 24 or 32)"},
      {"depth 0", Concat({FileHeader(54), Info{1, 1, 0}.Encode()}),
       "BMP bit depth 0 not supported (1, 4, 8, 16, 24 or 32)"},
      {"depth 64", Concat({FileHeader(54), Info{1, 1, 64}.Encode()}),
       "BMP bit depth 64 not supported (1, 4, 8, 16, 24 or 32)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeError(c.file), c.message) << c.label;

  RasterImageBmp codec;
  EXPECT_FALSE(codec.Decode(nullptr));
  EXPECT_EQ(codec.ErrorText(), "null file handler");
}

// Hostile headers and data: every case must end with an image or a message, touching nothing
// outside its buffers (the sanitizers watch), and pixels the file does not supply are 0.
TEST(BmpDecode, HostileInput) {
  const Bytes palette2 = Palette({{0, 0, 0}, {255, 255, 255}});
  const std::string tooBig = "RASTERIMAGE_MAX_MEMORY exceeded";
  struct Case {
    const char* label;
    Bytes file;
    std::string message;  // empty: must decode, to an image whose pixels are all 0
  };
  Bytes manyColours = Concat({FileHeader(54 + 1024), Info{2, 1, 8, 0, 0, 0, 0, 1000}.Encode()});
  manyColours.resize(54 + 1024 + 4, 0);
  const std::vector<Case> cases = {
      {"24-bit rows missing", Concat({FileHeader(54), Info{3, 5, 24}.Encode()}), ""},
      {"pixel offset past the end",
       Concat({FileHeader(0xFFFFFFF0), Info{3, 5, 24}.Encode(), Bytes(60, 0xAB)}), ""},
      {"palette larger than 256 entries", manyColours, ""},
      {"colour table of 2^32 - 1 entries in a packed DIB",
       Concat({Info{4, 4, 8, 0, 0, 0, 0, 0xFFFFFFFF}.Encode(), Bytes(64, 0)}), ""},
      {"huge header size",
       Concat({FileHeader(0), Info{1, 1, 24, 0, 0xFFFFFFFF, 0, 0, 0, 0xFFFFFFF0}.Encode()}), ""},
      {"negative width", Concat({FileHeader(54), Info{-3, 5, 24}.Encode()}), tooBig},
      {"most negative height", Concat({FileHeader(54), Info{3, INT32_MIN, 24}.Encode()}), tooBig},
      {"1 x -2^30 at 1 bit (padded rows wrap 32 bits)",
       Concat({FileHeader(62), Info{1, -(1 << 30), 1}.Encode(), palette2}), tooBig},
      {"16-bit rows missing", Concat({FileHeader(66), Info{9, 9, 16, 3}.Encode(), Masks(0, 0, 0)}),
       ""},
      {"16-bit masks cut short", Concat({FileHeader(0), Info{9, 9, 16, 3}.Encode(), Bytes{0xFF}}),
       ""},
      {"32-bit, wide and empty", Concat({FileHeader(54), Info{1 << 22, 2, 32}.Encode()}), ""},
      {"32-bit bit fields, no data",
       Concat({FileHeader(66), Info{7, 7, 32, 3}.Encode(), Masks(~0u, ~0u, ~0u)}), ""},
      {"RLE8 with no data", Concat({FileHeader(62), Info{9, 9, 8, 1}.Encode(), palette2}), ""},
      {"RLE4 deltas far outside",
       Concat({FileHeader(62), Info{9, 9, 4, 2}.Encode(), palette2,
               Bytes{0, 2, 255, 255, 0, 2, 255, 255, 255, 0}}),
       ""},
      {"RLE8 absolute runs far right",
       Concat({FileHeader(62), Info{3, 2, 8, 1}.Encode(), palette2,
               Bytes{0, 2, 255, 0, 0, 2, 255, 0, 0, 3, 0, 0, 0, 0, 0, 255, 0}}),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes bytes = c.file;
    RasterImage image;
    MemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    const bool ok = image.Decode(&stream, ImageFormat::Bmp);
    if (!c.message.empty()) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(image.ErrorText(), c.message);
      continue;
    }
    ASSERT_TRUE(ok) << image.ErrorText();
    const uint8_t* rows = image.PixelRows();
    size_t nonZero = 0;
    for (size_t i = 0; i < image.Header().biSizeImage; ++i) nonZero += rows[i] != 0;
    EXPECT_EQ(nonZero, 0u);
  }
}

// A truncated file keeps what it supplied and clears the rest, bottom-up or top-down.
TEST(BmpDecode, TruncatedFilesKeepWhatTheySupply) {
  struct Case {
    uint16_t depth;
    Bytes pixels;
    Rgb first;  // the file's first pixel: bottom-left, or top-left in a top-down file
  };
  for (const bool topDown : {false, true}) {
    for (const Case& c : {Case{24, {1, 2, 3}, {3, 2, 1}}, Case{16, {0x1F, 0x00}, {0, 0, 248}},
                          Case{32, {4, 5, 6, 0}, {6, 5, 4}}, Case{32, {4, 5, 6}, {0, 0, 0}},
                          Case{8, {1}, {255, 255, 255}}}) {
      SCOPED_TRACE(testing::Message() << c.depth << (topDown ? " top-down" : ""));
      const Bytes palette = c.depth == 8 ? Palette({{0, 0, 0}, {255, 255, 255}}) : Bytes{};
      const Bytes file = WithFileHeader(
          Concat({Info{5, topDown ? -4 : 4, c.depth, 0, 0, 0, 0, c.depth == 8 ? 2u : 0u}.Encode(),
                  palette, c.pixels}),
          40 + palette.size());
      const auto image = DecodeBytes(file);
      ASSERT_TRUE(image->IsValid());
      const uint32_t firstRow = topDown ? 3 : 0;
      const RGBQUAD first = image->ColorAt(0, firstRow);
      EXPECT_EQ((Rgb{first.rgbRed, first.rgbGreen, first.rgbBlue}), c.first);
      for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = y == firstRow ? 1 : 0; x < 5; ++x) {
          if (c.depth == 8)
            EXPECT_EQ(image->IndexAt(x, y), 0) << x << "," << y;
          else
            EXPECT_EQ(image->ColorAt(x, y).Packed(), 0u) << x << "," << y;
        }
      }
    }
  }
  // A top-down 32-bit file cut in its second row: alpha as stored where supplied, 0 elsewhere.
  const Bytes px{1, 1, 1, 9, 2, 2, 2, 8, 3, 3, 3, 7};
  const auto cut = DecodeBytes(WithFileHeader(Concat({Info{2, -3, 32}.Encode(), px}), 40));
  EXPECT_EQ(cut->AlphaAt(0, 2), 9);
  EXPECT_EQ(cut->AlphaAt(1, 2), 8);
  EXPECT_EQ(cut->AlphaAt(0, 1), 7);
  EXPECT_EQ(cut->ColorAt(0, 1), (RGBQUAD{3, 3, 3, 0}));
  EXPECT_EQ(cut->AlphaAt(1, 1), 0);
  EXPECT_EQ(cut->AlphaAt(0, 0), 0);
  EXPECT_EQ(cut->ColorAt(1, 1).Packed(), 0u);
}

// Inputs the fuzzer found, kept as they were.
TEST(BmpDecode, FuzzerFindings) {
  // biYPelsPerMeter 0x7FFFFFFF: about 54.5 million dpi, whose pixels per metre overflowed the
  // conversion back to 32 bits.
  const Bytes hugeResolution{0x42, 0x4d, 0x46, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36,
                             0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                             0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x42, 0x00, 0xec, 0xff, 0xff, 0xff, 0xff, 0xff,
                             0xff, 0x7f, 0x03, 0x00, 0x04, 0x00, 0x0a, 0x0b, 0x0c, 0x00};
  const auto image = DecodeBytes(hugeResolution);
  ASSERT_TRUE(image->IsValid());
  EXPECT_EQ(image->ResolutionX(), 96);
  EXPECT_EQ(image->ResolutionY(), 54546085);
  EXPECT_EQ(image->Header().biYPelsPerMeter, INT32_MAX);
}

// ---- Encoder ----

// A 47 x 33 picture at each depth; 24 bits optionally with an alpha plane.
std::unique_ptr<RasterImage> MakePicture(uint32_t depth, bool alpha, bool gray = false) {
  auto image = std::make_unique<RasterImage>();
  EXPECT_NE(image->Create(47, 33, depth, ImageFormat::None), nullptr);
  if (depth <= 8) {
    if (gray) {
      image->ApplyGrayRamp();
    } else {
      for (uint32_t i = 0; i < image->ColorCount(); ++i)
        image->SetPaletteEntry(i, uint8_t(i * 7 + 3), uint8_t(255 - i), uint8_t(i * 13));
    }
  }
  if (alpha) image->AllocateAlpha();
  for (uint32_t y = 0; y < 33; ++y) {
    for (uint32_t x = 0; x < 47; ++x) {
      if (depth <= 8) {
        image->SetIndexAt(x, y, static_cast<uint8_t>(x * 3 + y * 5));
      } else {
        image->SetColorAt(x, y, RGBQUAD{uint8_t(x * 5), uint8_t(y * 7), uint8_t(x * y), 0});
      }
      if (alpha) image->SetAlphaAt(x, y, static_cast<uint8_t>(x * 11 + y));
    }
  }
  return image;
}

TEST(BmpEncode, PillowReadsWhatWeWrite) {
  struct Case {
    const char* label;
    uint32_t depth;
    bool alpha;
    bool gray;
    uint32_t fileBits, colors, pixelOffset, fileSize;
  };
  const uint32_t h = 33;
  for (const Case& c : {
           Case{"1-bit", 1, false, false, 1, 2, 14 + 40 + 8, 14 + 40 + 8 + 8 * h},
           Case{"4-bit", 4, false, false, 4, 16, 14 + 40 + 64, 14 + 40 + 64 + 24 * h},
           Case{"8-bit", 8, false, false, 8, 256, 1078, 1078 + 48 * h},
           Case{"8-bit gray", 8, false, true, 8, 256, 1078, 1078 + 48 * h},
           Case{"24-bit", 24, false, false, 24, 0, 54, 54 + 144 * h},
           Case{"24-bit with alpha", 24, true, false, 32, 0, 54, 54 + 47 * h * 4},
       }) {
    SCOPED_TRACE(c.label);
    auto image = MakePicture(c.depth, c.alpha, c.gray);
    image->SetResolutionX(300);
    image->SetResolutionY(72);
    TempDir dir;
    const std::string path = dir.File("out.bmp");
    ASSERT_TRUE(image->Save(path, ImageFormat::Bmp)) << image->ErrorText();
    const Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), c.fileSize);
    EXPECT_EQ(LoadLE16(file.data()), 0x4D42);
    EXPECT_EQ(LoadLE32(file.data() + 2), c.fileSize);
    EXPECT_EQ(LoadLE32(file.data() + 6), 0u);
    EXPECT_EQ(LoadLE32(file.data() + 10), c.pixelOffset);
    const BITMAPINFOHEADER info = BITMAPINFOHEADER::ReadFrom(file.data() + 14);
    EXPECT_EQ(info.biSize, 40u);
    EXPECT_EQ(info.biWidth, 47);
    EXPECT_EQ(info.biHeight, 33);
    EXPECT_EQ(info.biPlanes, 1);
    EXPECT_EQ(info.biBitCount, c.fileBits);
    EXPECT_EQ(info.biCompression, 0u);
    EXPECT_EQ(info.biSizeImage, c.fileSize - c.pixelOffset);
    EXPECT_EQ(info.biXPelsPerMeter, 11811);
    EXPECT_EQ(info.biYPelsPerMeter, 2835);
    EXPECT_EQ(info.biClrUsed, c.colors);

    std::string why;
    const auto oracle = PillowDecode(path, 0, &why);
    ASSERT_TRUE(oracle) << why;
    EXPECT_EQ(oracle->format, "BMP");
    EXPECT_EQ(AllRgb(*oracle), AllRgb(*image));
    const std::string dpi = oracle->info.count("dpi") ? oracle->info.at("dpi") : "";
    double dpiX = 0, dpiY = 0;
    ASSERT_EQ(std::sscanf(dpi.c_str(), "[%lf, %lf]", &dpiX, &dpiY), 2) << dpi;
    EXPECT_NEAR(dpiX, 300, 0.01);
    EXPECT_NEAR(dpiY, 72, 0.01);

    // Our own reader gives back the same image, alpha included.
    const auto back = DecodeBytes(file);
    EXPECT_EQ(AllRgb(*back), AllRgb(*image));
    EXPECT_EQ(back->BitsPerPixel(), c.depth);
    EXPECT_EQ(back->HasAlpha(), c.alpha);
    if (c.alpha) {
      for (uint32_t y = 0; y < 33; ++y)
        for (uint32_t x = 0; x < 47; ++x) ASSERT_EQ(back->AlphaAt(x, y), image->AlphaAt(x, y));
    }
    if (c.depth <= 8) {
      for (uint32_t i = 0; i < c.colors; ++i)
        ASSERT_EQ(back->PaletteEntryAt(i), image->PaletteEntryAt(i));
    }
  }
}

TEST(BmpEncode, KeepsSignificantColoursAndWritesAlphaBytes) {
  auto image = MakePicture(8, false);
  image->SetSignificantColors(40);
  MemoryStream out;
  ASSERT_TRUE(out.OpenEmpty());
  ASSERT_TRUE(image->Encode(&out, ImageFormat::Bmp));
  const uint8_t* bytes = out.DetachBuffer(false);
  EXPECT_EQ(LoadLE32(bytes + 14 + 36), 40u);

  auto withAlpha = MakePicture(24, true);
  MemoryStream out32;
  ASSERT_TRUE(out32.OpenEmpty());
  ASSERT_TRUE(withAlpha->Encode(&out32, ImageFormat::Bmp));
  const uint8_t* file = out32.DetachBuffer(false);
  // Pixel (x, y) of a bottom-up 32-bit file is at 54 + (y * width + x) * 4: blue green red alpha.
  for (const auto& [x, y] : {std::pair{0u, 0u}, std::pair{46u, 0u}, std::pair{3u, 32u}}) {
    const uint8_t* p = file + 54 + (y * 47 + x) * 4;
    const RGBQUAD c = withAlpha->ColorAt(x, y);
    EXPECT_EQ(p[0], c.rgbBlue);
    EXPECT_EQ(p[1], c.rgbGreen);
    EXPECT_EQ(p[2], c.rgbRed);
    EXPECT_EQ(p[3], withAlpha->AlphaAt(x, y));
  }
}

TEST(BmpEncode, Errors) {
  RasterImage empty;
  MemoryStream out;
  ASSERT_TRUE(out.OpenEmpty());
  EXPECT_FALSE(empty.Encode(&out, ImageFormat::Bmp));
  EXPECT_EQ(empty.ErrorText(), "null image!!!");
  auto image = MakePicture(24, false);
  EXPECT_FALSE(image->Encode(nullptr, ImageFormat::Bmp));
  EXPECT_EQ(image->ErrorText(), "null file handler");

  // A stream that takes no bytes: the encoder says so instead of reporting success.
  TempDir dir;
  WriteFileBytes(dir.File("ro.bmp"), {});
  for (bool alpha : {false, true}) {
    auto picture = MakePicture(24, alpha);
    UniqueFile readOnly(std::fopen(dir.File("ro.bmp").c_str(), "rb"));
    ASSERT_TRUE(readOnly);
    FileStream stream(readOnly.get());
    EXPECT_FALSE(picture->Encode(&stream, ImageFormat::Bmp));
    EXPECT_EQ(picture->ErrorText(), "BMP write failed");
  }
}

}  // namespace
}  // namespace orvalis
