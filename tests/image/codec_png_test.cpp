#include "image/codec_png.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/support/failing_stream.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::FailingStream;
using test::PillowDecode;
using test::TempDir;

constexpr char kSaveError[] = "Error saving PNG file";

enum class Palette { None, BlackWhite, Colors, IdentityRamp };

// Neighbouring pixels, rows and channels all differ, so a flipped, shifted or channel-swapped
// result shows; 47 x 33 exercises row padding at every depth.
std::unique_ptr<RasterImage> MakeImage(uint32_t bpp, Palette palette, bool alpha = false,
                                       uint32_t width = 47, uint32_t height = 33) {
  auto image = std::make_unique<RasterImage>();
  EXPECT_NE(image->Create(width, height, bpp, ImageFormat::Bmp), nullptr);
  const uint32_t colors = image->ColorCount();
  for (uint32_t i = 0; i < colors; ++i) {
    switch (palette) {
      case Palette::BlackWhite:
        image->SetPaletteEntry(i, i * 255, i * 255, i * 255);
        break;
      case Palette::Colors:
        image->SetPaletteEntry(i, static_cast<uint8_t>(i * 37 + 11),
                               static_cast<uint8_t>(200 - i * 3), static_cast<uint8_t>(i * i + 5));
        break;
      default:
        image->SetPaletteEntry(i, i, i, i);
        break;
    }
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (colors != 0) {
        image->SetIndexAt(x, y, static_cast<uint8_t>((x * 5 + y * 9 + x * y) % colors));
      } else {
        image->SetColorAt(
            x, y,
            RGBQUAD{static_cast<uint8_t>(x * 7 + y * 3), static_cast<uint8_t>(y * 11 + x),
                    static_cast<uint8_t>(x * x + y * 5), 0});
      }
    }
  }
  if (alpha) {
    EXPECT_TRUE(image->AllocateAlpha());
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x)
        image->SetAlphaAt(x, y, static_cast<uint8_t>(x * 13 + y * 29));
  }
  return image;
}

// The pixels a decoder must give back, rows from the top: RGB, or RGBA with the alpha plane or,
// without one, 0 where `isTransparent` says so.
template <class Transparent>
std::vector<uint8_t> Expected(const RasterImage& image, int channels, Transparent isTransparent) {
  std::vector<uint8_t> out;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    const uint32_t y = image.Height() - 1 - top;
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const RGBQUAD c = image.ColorAt(x, y);
      out.insert(out.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
      if (channels == 4) {
        out.push_back(image.HasAlpha() ? image.AlphaAt(x, y) : isTransparent(x, y) ? 0 : 255);
      }
    }
  }
  return out;
}

std::vector<uint8_t> Expected(const RasterImage& image, int channels) {
  return Expected(image, channels, [](uint32_t, uint32_t) { return false; });
}

// Chunks of a PNG file by type (the first of each), after checking the signature.
// Layout: https://www.w3.org/TR/png/#5Chunk-layout
std::map<std::string, std::vector<uint8_t>> Chunks(const std::vector<uint8_t>& bytes) {
  static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::map<std::string, std::vector<uint8_t>> chunks;
  EXPECT_TRUE(bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0);
  for (size_t at = 8; at + 12 <= bytes.size();) {
    const size_t length = LoadBE32(&bytes[at]);
    if (at + 12 + length > bytes.size()) break;
    const std::string type(bytes.begin() + at + 4, bytes.begin() + at + 8);
    chunks.try_emplace(type, bytes.begin() + at + 8, bytes.begin() + at + 8 + length);
    at += 12 + length;
  }
  return chunks;
}

std::vector<uint8_t> EncodeToMemory(RasterImage& image) {
  FailingStream stream(INT32_MAX);
  EXPECT_TRUE(image.Encode(&stream, ImageFormat::Png)) << image.ErrorText();
  return stream.Bytes();
}

TEST(PngEncoder, PillowDecodesExactlyThePixelsWeHeld) {
  struct Case {
    const char* name;
    uint32_t bpp;
    Palette palette;
    bool alpha;
    uint32_t option;
    // IHDR and PLTE as a decoder must find them.
    int bitDepth, colorType, interlace, paletteEntries;
  };
  const Case cases[] = {
      {"1-bit black and white", 1, Palette::BlackWhite, false, 0, 1, 3, 0, 2},
      {"1-bit colour", 1, Palette::Colors, false, 0, 1, 3, 0, 2},
      {"1-bit identity ramp", 1, Palette::IdentityRamp, false, 0, 1, 3, 0, 2},
      {"4-bit colour", 4, Palette::Colors, false, 0, 4, 3, 0, 16},
      {"4-bit colour, Adam7", 4, Palette::Colors, false, 1, 4, 3, 1, 16},
      {"4-bit identity ramp", 4, Palette::IdentityRamp, false, 0, 4, 3, 0, 16},
      {"8-bit colour", 8, Palette::Colors, false, 0, 8, 3, 0, 256},
      {"8-bit colour, Adam7", 8, Palette::Colors, false, 1, 8, 3, 1, 256},
      {"8-bit gray", 8, Palette::IdentityRamp, false, 0, 8, 0, 0, 0},
      {"8-bit gray, Adam7", 8, Palette::IdentityRamp, false, 1, 8, 0, 1, 0},
      {"8-bit gray with alpha", 8, Palette::IdentityRamp, true, 0, 8, 4, 0, 0},
      {"24-bit", 24, Palette::None, false, 0, 8, 2, 0, 0},
      {"24-bit, Adam7", 24, Palette::None, false, 1, 8, 2, 1, 0},
      {"24-bit, option 2 is not Adam7", 24, Palette::None, false, 2, 8, 2, 0, 0},
      {"24-bit with alpha", 24, Palette::None, true, 0, 8, 6, 0, 0},
      {"24-bit with alpha, Adam7", 24, Palette::None, true, 1, 8, 6, 1, 0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = MakeImage(c.bpp, c.palette, c.alpha);
    image->SetEncoderOption(c.option, ImageFormat::Png);
    const std::string path = dir.File("out.png");
    ASSERT_TRUE(image->Save(path, ImageFormat::Png)) << image->ErrorText();

    const auto chunks = Chunks(test::ReadFileBytes(path));
    ASSERT_TRUE(chunks.count("IHDR"));
    const std::vector<uint8_t>& ihdr = chunks.at("IHDR");
    EXPECT_EQ(LoadBE32(&ihdr[0]), 47u);
    EXPECT_EQ(LoadBE32(&ihdr[4]), 33u);
    EXPECT_EQ(ihdr[8], c.bitDepth);
    EXPECT_EQ(ihdr[9], c.colorType);
    EXPECT_EQ(ihdr[12], c.interlace);
    EXPECT_EQ(chunks.count("PLTE") ? chunks.at("PLTE").size() / 3 : 0u,
              static_cast<size_t>(c.paletteEntries));
    EXPECT_FALSE(chunks.count("tRNS"));

    std::string error;
    const auto decoded = PillowDecode(path, 0, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->format, "PNG");
    ASSERT_EQ(decoded->channels, c.alpha ? 4 : 3);
    EXPECT_TRUE(decoded->pixels == Expected(*image, decoded->channels));
  }
}

TEST(PngEncoder, BackgroundAndPhysicalSizeChunks) {
  struct Case {
    uint32_t bpp;
    Palette palette;
    int32_t dpiX, dpiY;
    std::vector<uint8_t> background;
    uint32_t pelsX, pelsY;
  };
  const Case cases[] = {
      {24, Palette::None, 96, 96, {0, 255, 0, 255, 0, 255}, 3780, 3780},
      {24, Palette::None, 300, 150, {0, 255, 0, 255, 0, 255}, 11811, 5906},
      {8, Palette::Colors, 72, 600, {0}, 2835, 23622},
      {8, Palette::IdentityRamp, 96, 96, {0, 0}, 3780, 3780},
  };
  for (const Case& c : cases) {
    auto image = MakeImage(c.bpp, c.palette);
    image->SetResolutionX(c.dpiX);
    image->SetResolutionY(c.dpiY);
    const auto chunks = Chunks(EncodeToMemory(*image));
    ASSERT_TRUE(chunks.count("bKGD") && chunks.count("pHYs"));
    EXPECT_EQ(chunks.at("bKGD"), c.background);
    const std::vector<uint8_t>& phys = chunks.at("pHYs");
    ASSERT_EQ(phys.size(), 9u);
    EXPECT_EQ(LoadBE32(&phys[0]), c.pelsX);
    EXPECT_EQ(LoadBE32(&phys[4]), c.pelsY);
    EXPECT_EQ(phys[8], 1);  // metre
    for (const char* absent : {"tEXt", "gAMA", "sBIT", "tIME"}) EXPECT_FALSE(chunks.count(absent));
  }
}

TEST(PngEncoder, TransparentPaletteEntryIsWrittenFirstAndTheImageStaysAsItWas) {
  // Packed depths too: the exchanged indices are written into rows of 47 pixels, whose last
  // byte holds padding.
  struct Case {
    uint32_t bits;
    int32_t transparent;
  };
  for (const Case c : {Case{8, 5}, Case{4, 5}, Case{4, 15}, Case{1, 1}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, entry " << c.transparent);
    auto image = MakeImage(c.bits, Palette::Colors);
    image->SetTransparentIndex(c.transparent);
    const std::vector<uint8_t> blockBefore(image->BitmapBlock(),
                                           image->BitmapBlock() + image->BlockSize());
    const RGBQUAD transparentColor = image->PaletteEntryAt(static_cast<uint32_t>(c.transparent));
    TempDir dir;
    ASSERT_TRUE(image->Save(dir.File("t.png"), ImageFormat::Png)) << image->ErrorText();

    const auto chunks = Chunks(test::ReadFileBytes(dir.File("t.png")));
    ASSERT_TRUE(chunks.count("PLTE") && chunks.count("tRNS"));
    EXPECT_EQ(chunks.at("tRNS"), std::vector<uint8_t>{0});
    const std::vector<uint8_t>& plte = chunks.at("PLTE");
    EXPECT_EQ(plte[0], transparentColor.rgbRed);
    EXPECT_EQ(plte[1], transparentColor.rgbGreen);
    EXPECT_EQ(plte[2], transparentColor.rgbBlue);
    // bKGD keeps palette index 0, which now is the transparent entry.
    EXPECT_EQ(chunks.at("bKGD"), std::vector<uint8_t>{0});

    const auto decoded = PillowDecode(dir.File("t.png"));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->channels, 4);
    EXPECT_TRUE(decoded->pixels == Expected(*image, 4, [&](uint32_t x, uint32_t y) {
                  return image->IndexAt(x, y) == c.transparent;
                }));
    // The image is as it was: palette, pixels and transparent index.
    EXPECT_TRUE(std::equal(blockBefore.begin(), blockBefore.end(), image->BitmapBlock()));
    EXPECT_EQ(image->TransparentIndex(), c.transparent);
  }
}

TEST(PngEncoder, TransparentGrayLevelAndColour) {
  TempDir dir;
  {
    auto gray = MakeImage(8, Palette::IdentityRamp);
    gray->SetTransparentIndex(7);
    ASSERT_TRUE(gray->Save(dir.File("g.png"), ImageFormat::Png));
    EXPECT_EQ(Chunks(test::ReadFileBytes(dir.File("g.png"))).at("tRNS"),
              (std::vector<uint8_t>{0, 7}));
    const auto decoded = PillowDecode(dir.File("g.png"));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->pixels == Expected(*gray, 4, [&](uint32_t x, uint32_t y) {
                  return gray->IndexAt(x, y) == 7;
                }));
  }
  {
    auto color = MakeImage(24, Palette::None);
    const RGBQUAD key = color->ColorAt(10, 20);
    color->SetTransparentIndex(0);
    color->SetTransparentColor(key);
    ASSERT_TRUE(color->Save(dir.File("c.png"), ImageFormat::Png));
    const auto chunks = Chunks(test::ReadFileBytes(dir.File("c.png")));
    const std::vector<uint8_t> rgb16{0, key.rgbRed, 0, key.rgbGreen, 0, key.rgbBlue};
    EXPECT_EQ(chunks.at("tRNS"), rgb16);
    EXPECT_EQ(chunks.at("bKGD"), rgb16);
    const auto decoded = PillowDecode(dir.File("c.png"));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->pixels == Expected(*color, 4, [&](uint32_t x, uint32_t y) {
                  return color->ColorAt(x, y) == key;
                }));
  }
}

TEST(PngEncoder, TransparentColourGetsAlphaZeroInsteadOfATrnsChunk) {
  auto image = MakeImage(24, Palette::None, true);
  const RGBQUAD key = image->ColorAt(3, 4);
  image->SetTransparentIndex(0);
  image->SetTransparentColor(key);
  const std::vector<uint8_t> bytes = EncodeToMemory(*image);
  EXPECT_FALSE(Chunks(bytes).count("tRNS"));  // PNG forbids tRNS beside an alpha channel
  // The file has alpha 0 where the key colour is; the image's own alpha plane stays as it was.
  std::vector<uint8_t> expected = Expected(*image, 4);
  size_t keyed = 0;
  for (uint32_t top = 0; top < image->Height(); ++top) {
    for (uint32_t x = 0; x < image->Width(); ++x) {
      const uint32_t y = image->Height() - 1 - top;
      EXPECT_EQ(image->AlphaAt(x, y), static_cast<uint8_t>(x * 13 + y * 29));
      if (image->ColorAt(x, y) == key) {
        expected[(size_t{top} * image->Width() + x) * 4 + 3] = 0;
        ++keyed;
      }
    }
  }
  EXPECT_GE(keyed, 1u);
  TempDir dir;
  test::WriteFileBytes(dir.File("a.png"), bytes);
  const auto decoded = PillowDecode(dir.File("a.png"));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->pixels == expected);
}

// Sets the header's significant-colour count as a file would, without SetSignificantColors'
// clamping.
class RawHeaderImage : public RasterImage {
 public:
  void SetClrImportant(uint32_t n) { MutableHeader().biClrImportant = n; }
};

TEST(PngEncoder, PaletteHoldsTheSignificantColoursButNeverFewerThanTheIndicesInUse) {
  struct Case {
    uint32_t significant, highestIndex;
    size_t entries;
  };
  for (const Case c : {Case{4, 3, 4}, Case{4, 9, 10}, Case{0, 3, 256}, Case{1000, 3, 256}}) {
    auto source = MakeImage(8, Palette::Colors);
    for (uint32_t y = 0; y < source->Height(); ++y)
      for (uint32_t x = 0; x < source->Width(); ++x)
        source->SetIndexAt(x, y, static_cast<uint8_t>((x + y) % 4));
    source->SetIndexAt(46, 0, static_cast<uint8_t>(c.highestIndex));
    const auto expected = Expected(*source, 3);
    RawHeaderImage image;
    image.TakeOver(*source);
    image.SetClrImportant(c.significant);
    TempDir dir;
    ASSERT_TRUE(image.Save(dir.File("s.png"), ImageFormat::Png));
    EXPECT_EQ(Chunks(test::ReadFileBytes(dir.File("s.png"))).at("PLTE").size(), c.entries * 3);
    const auto decoded = PillowDecode(dir.File("s.png"));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->pixels == expected);
  }
}

TEST(PngEncoder, WritesPagesWiderThanLibpngsDefaultLimit) {
  auto image = MakeImage(1, Palette::BlackWhite, false, 1000001, 2);
  const auto chunks = Chunks(EncodeToMemory(*image));
  EXPECT_EQ(LoadBE32(&chunks.at("IHDR")[0]), 1000001u);
}

TEST(PngEncoder, ColourPaletteWithAlphaIsRefused) {
  auto image = MakeImage(8, Palette::Colors, true);
  FailingStream stream(INT32_MAX);
  EXPECT_FALSE(image->Encode(&stream, ImageFormat::Png));
  EXPECT_EQ(image->ErrorText(), std::string(kSaveError) + ": Invalid IHDR data");
}

TEST(PngEncoder, StreamThatStopsAcceptingBytesGivesTheSaveError) {
  auto image = MakeImage(8, Palette::Colors, false, 300, 200);
  image->SetTransparentIndex(9);
  const std::vector<uint8_t> blockBefore(image->BitmapBlock(),
                                         image->BitmapBlock() + image->BlockSize());
  const size_t total = EncodeToMemory(*image).size();
  struct Case {
    int64_t limit;
    bool flushFails;
  };
  // Nothing; inside the signature; inside PLTE; inside the image data; all but the last byte;
  // everything written but the flush refused.
  for (const Case c :
       {Case{0, false}, Case{5, false}, Case{60, false},
        Case{static_cast<int64_t>(total) / 2, false}, Case{static_cast<int64_t>(total) - 1, false},
        Case{static_cast<int64_t>(total), true}}) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit << " flush fails " << c.flushFails);
    FailingStream stream(c.limit, c.flushFails);
    EXPECT_FALSE(image->Encode(&stream, ImageFormat::Png));
    // libpng's reason follows ours: our write function's, or our flush function's.
    EXPECT_EQ(image->ErrorText(),
              std::string(kSaveError) + (c.flushFails ? ": Flush Error" : ": Write Error"));
    EXPECT_LE(stream.Bytes().size(), static_cast<size_t>(c.limit));
    // The transparent entry moved to index 0 for writing moves back after a failure too.
    EXPECT_TRUE(std::equal(blockBefore.begin(), blockBefore.end(), image->BitmapBlock()));
  }
  EXPECT_EQ(EncodeToMemory(*image).size(), total);
}

TEST(PngEncoder, NoStreamOrNoImage) {
  auto image = MakeImage(24, Palette::None);
  EXPECT_FALSE(image->Encode(nullptr, ImageFormat::Png));
  EXPECT_EQ(image->ErrorText(), "null file handler");
  RasterImage empty;
  FailingStream stream(100);
  EXPECT_FALSE(empty.Encode(&stream, ImageFormat::Png));
  EXPECT_EQ(empty.ErrorText(), "null image!!!");
}

}  // namespace
}  // namespace orvalis
