#include "image/codec_tiff.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "image/byte_stream.h"
#include "image/raster_image.h"
#include "image/tiff_ycbcr.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::OracleImage;
using test::PillowDecode;
using test::RunCommand;
using test::TempDir;

// ---- Pictures made in code ----

enum class Kind { Bilevel, Color16, Color256, Gray256, Rgb };

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Bilevel:
      return "1-bit";
    case Kind::Color16:
      return "4-bit palette";
    case Kind::Color256:
      return "8-bit palette";
    case Kind::Gray256:
      return "8-bit gray";
    case Kind::Rgb:
      return "24-bit";
  }
  return "?";
}

uint32_t BitsOf(Kind kind) {
  switch (kind) {
    case Kind::Bilevel:
      return 1;
    case Kind::Color16:
      return 4;
    case Kind::Color256:
    case Kind::Gray256:
      return 8;
    case Kind::Rgb:
      return 24;
  }
  return 0;
}

// Paints a picture of the kind. Busy pictures visit every palette index and many colours, with
// nothing symmetric, so a flipped or shifted page shows; smooth ones suit a lossy codec.
void Paint(RasterImage& image, Kind kind, uint32_t width, uint32_t height, bool smooth = false,
           uint32_t seed = 0) {
  ASSERT_NE(image.Create(width, height, BitsOf(kind), ImageFormat::Bmp), nullptr);
  switch (kind) {
    case Kind::Bilevel:
      image.SetPaletteEntry(0, 0, 0, 0);
      image.SetPaletteEntry(1, 255, 255, 255);
      break;
    case Kind::Color16:
      for (uint32_t i = 0; i < 16; ++i)
        image.SetPaletteEntry(i, static_cast<uint8_t>(i * 16 + 3),
                              static_cast<uint8_t>(255 - i * 15),
                              static_cast<uint8_t>(i * 37 % 256));
      break;
    case Kind::Color256:
      for (uint32_t i = 0; i < 256; ++i)
        image.SetPaletteEntry(i, static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7 % 256),
                              static_cast<uint8_t>(255 - i));
      break;
    case Kind::Gray256:
      image.ApplyGrayRamp();
      break;
    case Kind::Rgb:
      break;
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (kind == Kind::Rgb) {
        RGBQUAD c;
        if (smooth) {
          c.rgbRed = static_cast<uint8_t>(x * 255 / (width - 1));
          c.rgbGreen = static_cast<uint8_t>(y * 255 / (height - 1));
          c.rgbBlue = static_cast<uint8_t>((x + y) * 255 / (width + height - 2));
        } else {
          c.rgbRed = static_cast<uint8_t>(x * 5 + y * 3 + seed);
          c.rgbGreen = static_cast<uint8_t>((x * 11) ^ (y * 7));
          c.rgbBlue = static_cast<uint8_t>(y * 13 + x + seed * 3);
        }
        image.SetColorAtUnchecked(x, y, c);
      } else if (smooth && kind != Kind::Gray256) {
        // Flat 8 x 8 blocks, the JPEG block size, of distinct palette entries.
        image.SetIndexAtUnchecked(
            x, y, static_cast<uint8_t>((x / 8 + y / 8 * 3 + seed) % image.ColorCount()));
      } else if (kind == Kind::Bilevel) {
        image.SetIndexAtUnchecked(x, y, ((x * x + 3 * y + seed) % 5) < 2 ? 1 : 0);
      } else if (smooth) {
        image.SetIndexAtUnchecked(x, y, static_cast<uint8_t>(x * 150 / width + y * 100 / height));
      } else {
        image.SetIndexAtUnchecked(x, y, static_cast<uint8_t>(x * 7 + y * 13 + seed));
      }
    }
  }
}

struct Difference {
  double meanAbs = 0;  // mean absolute difference per colour sample
  int maxAbs = 0;
  double psnr = 0;  // dB; infinity when identical
};

// Compares the picture Pillow read with the image's own colours (alpha left out).
Difference Compare(const RasterImage& image, const OracleImage& read) {
  Difference d;
  double sum = 0, squares = 0;
  const uint32_t height = image.Height();
  for (uint32_t top = 0; top < height; ++top) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const RGBQUAD want = image.ColorAt(x, height - 1 - top);
      const auto got = read.At(static_cast<int>(x), static_cast<int>(top));
      const int diffs[] = {got[0] - want.rgbRed, got[1] - want.rgbGreen, got[2] - want.rgbBlue};
      for (const int diff : diffs) {
        sum += std::abs(diff);
        squares += diff * diff;
        d.maxAbs = std::max(d.maxAbs, std::abs(diff));
      }
    }
  }
  const double samples = 3.0 * image.Width() * height;
  d.meanAbs = sum / samples;
  d.psnr = squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * samples / squares);
  return d;
}

std::string TagOf(const OracleImage& read, int tag) {
  const auto it = read.tags.find(tag);
  return it == read.tags.end() ? "" : it->second;
}

// tiffinfo reads every directory and every strip without complaint.
void ExpectTiffinfoReads(const std::string& path, int directories) {
  const test::CommandResult run = RunCommand({"tiffinfo", "-D", path});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  int found = 0;
  for (size_t at = run.out.find("TIFF Directory at offset"); at != std::string::npos;
       at = run.out.find("TIFF Directory at offset", at + 1))
    ++found;
  EXPECT_EQ(found, directories) << run.out;
}

std::vector<uint8_t> BytesOf(MemoryStream& stream) {
  const uint8_t* data = stream.DetachBuffer(false);
  return {data, data + stream.Length()};
}

// A memory stream that takes only `limit` bytes, like a disk that fills up, and can refuse to
// flush, like a disk that fails when the buffered bytes go out.
class LimitedStream : public MemoryStream {
 public:
  explicit LimitedStream(int64_t limit, bool flushFails = false)
      : limit_(limit), flushFails_(flushFails) {
    OpenEmpty();
  }
  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override {
    const int64_t room = std::max<int64_t>(limit_ - Position(), 0);
    const size_t items = std::min<size_t>(itemCount, static_cast<size_t>(room) / itemSize);
    return items == 0 ? 0 : MemoryStream::WriteBytes(source, itemSize, items);
  }
  bool FlushBuffers() override { return !flushFails_ && MemoryStream::FlushBuffers(); }

 private:
  int64_t limit_;
  bool flushFails_;
};

// Every test checks that libtiff printed nothing and never reached the process-wide handlers:
// its messages belong to the document that caused them.
int globalMessages = 0;
void CountGlobal(const char*, const char*, va_list) {
  ++globalMessages;
}
void CountGlobalExt(thandle_t, const char*, const char*, va_list) {
  ++globalMessages;
}

class TiffEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    globalMessages = 0;
    oldError_ = TIFFSetErrorHandler(&CountGlobal);
    oldWarning_ = TIFFSetWarningHandler(&CountGlobal);
    oldErrorExt_ = TIFFSetErrorHandlerExt(&CountGlobalExt);
    oldWarningExt_ = TIFFSetWarningHandlerExt(&CountGlobalExt);
    testing::internal::CaptureStderr();
  }
  void TearDown() override {
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(globalMessages, 0);
    TIFFSetErrorHandler(oldError_);
    TIFFSetWarningHandler(oldWarning_);
    TIFFSetErrorHandlerExt(oldErrorExt_);
    TIFFSetWarningHandlerExt(oldWarningExt_);
  }

  TempDir dir_;

 private:
  TIFFErrorHandler oldError_ = nullptr, oldWarning_ = nullptr;
  TIFFErrorHandlerExt oldErrorExt_ = nullptr, oldWarningExt_ = nullptr;
};

OracleImage Decode(const std::string& path, int frame = 0) {
  std::string error;
  const auto read = PillowDecode(path, frame, &error);
  EXPECT_TRUE(read.has_value()) << error;
  return read.value_or(OracleImage{});
}

// ---- Every depth with every compression word ----

enum class Outcome { Lossless, Lossy, Fails };

struct RoundTripCase {
  Kind kind;
  uint32_t option;
  Outcome outcome;
  int compression;  // Compression tag expected
  int photometric;  // PhotometricInterpretation expected
};

// 1, 2, 3, 4, 5, 32773 and 19999 are the words the engine sends; 0 and 7 the other defined
// ones. CCITT codes on deeper pages fail cleanly; JPEG codes on palette pages write the
// colours of the pixels (gray levels for a gray palette, RGB or YCbCr otherwise).
const RoundTripCase kRoundTrips[] = {
    {Kind::Bilevel, 0, Outcome::Lossless, 4, 0},
    {Kind::Bilevel, 1, Outcome::Lossless, 1, 0},
    {Kind::Bilevel, 2, Outcome::Lossless, 2, 0},
    {Kind::Bilevel, 3, Outcome::Lossless, 3, 0},
    {Kind::Bilevel, 4, Outcome::Lossless, 4, 0},
    {Kind::Bilevel, 5, Outcome::Lossless, 5, 0},
    {Kind::Bilevel, 32773, Outcome::Lossless, 32773, 0},
    {Kind::Bilevel, 7, Outcome::Lossy, 7, 1},
    {Kind::Bilevel, 19999, Outcome::Lossy, 7, 1},
    {Kind::Color16, 0, Outcome::Lossless, 5, 3},
    {Kind::Color16, 1, Outcome::Lossless, 1, 3},
    {Kind::Color16, 5, Outcome::Lossless, 5, 3},
    {Kind::Color16, 32773, Outcome::Lossless, 32773, 3},
    {Kind::Color16, 2, Outcome::Fails, 0, 0},
    {Kind::Color16, 3, Outcome::Fails, 0, 0},
    {Kind::Color16, 4, Outcome::Fails, 0, 0},
    {Kind::Color16, 7, Outcome::Lossy, 7, 2},
    {Kind::Color16, 19999, Outcome::Lossy, 7, 6},
    {Kind::Color256, 0, Outcome::Lossless, 5, 3},
    {Kind::Color256, 1, Outcome::Lossless, 1, 3},
    {Kind::Color256, 5, Outcome::Lossless, 5, 3},
    {Kind::Color256, 32773, Outcome::Lossless, 32773, 3},
    {Kind::Color256, 2, Outcome::Fails, 0, 0},
    {Kind::Color256, 3, Outcome::Fails, 0, 0},
    {Kind::Color256, 4, Outcome::Fails, 0, 0},
    {Kind::Color256, 7, Outcome::Lossy, 7, 2},
    {Kind::Color256, 19999, Outcome::Lossy, 7, 6},
    {Kind::Gray256, 0, Outcome::Lossless, 5, 1},
    {Kind::Gray256, 1, Outcome::Lossless, 1, 1},
    {Kind::Gray256, 5, Outcome::Lossless, 5, 1},
    {Kind::Gray256, 32773, Outcome::Lossless, 32773, 1},
    {Kind::Gray256, 7, Outcome::Lossy, 7, 1},
    {Kind::Gray256, 19999, Outcome::Lossy, 7, 1},
    {Kind::Gray256, 2, Outcome::Fails, 0, 0},
    {Kind::Gray256, 3, Outcome::Fails, 0, 0},
    {Kind::Gray256, 4, Outcome::Fails, 0, 0},
    {Kind::Rgb, 1, Outcome::Lossless, 1, 2},
    {Kind::Rgb, 5, Outcome::Lossless, 5, 2},
    {Kind::Rgb, 32773, Outcome::Lossless, 32773, 2},
    {Kind::Rgb, 0, Outcome::Lossy, 7, 6},
    {Kind::Rgb, 19999, Outcome::Lossy, 7, 6},
    {Kind::Rgb, 7, Outcome::Lossy, 7, 2},
    {Kind::Rgb, 2, Outcome::Fails, 0, 0},
    {Kind::Rgb, 3, Outcome::Fails, 0, 0},
    {Kind::Rgb, 4, Outcome::Fails, 0, 0},
};

// JPEG bound at quality 90 on the smooth test pictures (gradients and flat 8 x 8 blocks of
// saturated palette colours; the YCbCr rounding of saturated colours costs the most).
constexpr double kJpegMeanAbsBound = 2.0;
constexpr double kJpegPsnrBound = 40.0;

TEST_F(TiffEncoderTest, EveryDepthWithEveryCompressionWordReadsBackAsWritten) {
  for (const RoundTripCase& c : kRoundTrips) {
    const std::string name = std::string(KindName(c.kind)) + " option " + std::to_string(c.option);
    SCOPED_TRACE(name);
    RasterImage image;
    Paint(image, c.kind, 47, 33, c.outcome == Outcome::Lossy);
    image.SetEncoderOption(c.option, ImageFormat::Tiff);
    const std::string path = dir_.File("case.tif");
    const bool saved = image.Save(path, ImageFormat::Tiff);
    if (c.outcome == Outcome::Fails) {
      EXPECT_FALSE(saved);
      EXPECT_EQ(image.ErrorText().rfind("Error saving TIFF file", 0), 0u) << image.ErrorText();
      // Nothing that a reader would take for a page is left behind.
      EXPECT_FALSE(PillowDecode(path).has_value());
      continue;
    }
    ASSERT_TRUE(saved) << image.ErrorText();
    ExpectTiffinfoReads(path, 1);
    const OracleImage read = Decode(path);
    ASSERT_EQ(read.width, 47);
    ASSERT_EQ(read.height, 33);
    EXPECT_EQ(TagOf(read, TIFFTAG_COMPRESSION), std::to_string(c.compression));
    EXPECT_EQ(TagOf(read, TIFFTAG_PHOTOMETRIC), std::to_string(c.photometric));
    const Difference d = Compare(image, read);
    if (c.outcome == Outcome::Lossless) {
      EXPECT_EQ(d.maxAbs, 0);
    } else {
      EXPECT_LE(d.meanAbs, kJpegMeanAbsBound);
      EXPECT_GE(d.psnr, kJpegPsnrBound);
    }
  }
}

TEST_F(TiffEncoderTest, OtherWordsAreWrittenAsTheirLow16Bits) {
  RasterImage image;
  Paint(image, Kind::Color256, 40, 20);
  image.SetEncoderOption(0x10000 + COMPRESSION_ADOBE_DEFLATE, ImageFormat::Tiff);
  const std::string path = dir_.File("deflate.tif");
  ASSERT_TRUE(image.Save(path, ImageFormat::Tiff)) << image.ErrorText();
  const OracleImage read = Decode(path);
  EXPECT_EQ(TagOf(read, TIFFTAG_COMPRESSION), "8");
  EXPECT_EQ(Compare(image, read).maxAbs, 0);

  image.SetEncoderOption(12345, ImageFormat::Tiff);  // no such scheme
  EXPECT_FALSE(image.Save(path, ImageFormat::Tiff));
  EXPECT_EQ(image.ErrorText().rfind("Error saving TIFF file", 0), 0u) << image.ErrorText();
}

// ---- Tags of a page ----

TEST_F(TiffEncoderTest, SinglePageCarriesItsLayoutResolutionAndNoPageTags) {
  struct Case {
    Kind kind;
    uint32_t option;
    const char* predictor;  // "" = no Predictor tag
    const char* samples;
    const char* bitsPerSample;
  };
  const Case cases[] = {
      {Kind::Bilevel, 5, "", "1", "[1]"},     {Kind::Color16, 5, "", "1", "[4]"},
      {Kind::Color256, 5, "2", "1", "[8]"},   {Kind::Gray256, 5, "2", "1", "[8]"},
      {Kind::Rgb, 5, "2", "3", "[8, 8, 8]"},  {Kind::Rgb, 1, "", "3", "[8, 8, 8]"},
      {Kind::Gray256, 32773, "", "1", "[8]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(KindName(c.kind)) + " option " + std::to_string(c.option));
    RasterImage image;
    Paint(image, c.kind, 30, 10);
    image.SetEncoderOption(c.option, ImageFormat::Tiff);
    image.SetResolutionX(300);
    image.SetResolutionY(150);
    const std::string path = dir_.File("tags.tif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Tiff)) << image.ErrorText();
    const OracleImage read = Decode(path);
    EXPECT_EQ(read.frames, 1);
    EXPECT_EQ(TagOf(read, TIFFTAG_SUBFILETYPE), "0");
    EXPECT_EQ(TagOf(read, TIFFTAG_PAGENUMBER), "");
    EXPECT_EQ(TagOf(read, TIFFTAG_PAGENAME), "");
    EXPECT_EQ(TagOf(read, TIFFTAG_PREDICTOR), c.predictor);
    EXPECT_EQ(TagOf(read, TIFFTAG_SAMPLESPERPIXEL), c.samples);
    EXPECT_EQ(TagOf(read, TIFFTAG_BITSPERSAMPLE), c.bitsPerSample);
    EXPECT_EQ(TagOf(read, TIFFTAG_PLANARCONFIG), "1");
    EXPECT_EQ(TagOf(read, TIFFTAG_ORIENTATION), "1");
    EXPECT_EQ(TagOf(read, TIFFTAG_RESOLUTIONUNIT), "2");
    EXPECT_EQ(TagOf(read, TIFFTAG_XRESOLUTION), "300.0");
    EXPECT_EQ(TagOf(read, TIFFTAG_YRESOLUTION), "150.0");
    EXPECT_EQ(TagOf(read, TIFFTAG_EXTRASAMPLES), "");
  }
}

TEST_F(TiffEncoderTest, BilevelPageIsStoredWithWhiteAsZero) {
  // The same picture with its palette either way round.
  RasterImage blackFirst, whiteFirst;
  Paint(blackFirst, Kind::Bilevel, 21, 7);
  Paint(whiteFirst, Kind::Bilevel, 21, 7);
  whiteFirst.SetPaletteEntry(0, 255, 255, 255);
  whiteFirst.SetPaletteEntry(1, 0, 0, 0);
  for (uint32_t y = 0; y < 7; ++y)
    for (uint32_t x = 0; x < 21; ++x)
      whiteFirst.SetIndexAtUnchecked(x, y, blackFirst.IndexAtUnchecked(x, y) ^ 1);
  const std::string a = dir_.File("black_first.tif"), b = dir_.File("white_first.tif");
  ASSERT_TRUE(blackFirst.Save(a, ImageFormat::Tiff)) << blackFirst.ErrorText();
  ASSERT_TRUE(whiteFirst.Save(b, ImageFormat::Tiff)) << whiteFirst.ErrorText();
  // Both files hold the white-first form; the images stay as they were.
  EXPECT_EQ(test::ReadFileBytes(a), test::ReadFileBytes(b));
  EXPECT_EQ(blackFirst.PaletteEntryAt(0), (RGBQUAD{0, 0, 0, 0}));
  EXPECT_EQ(whiteFirst.PaletteEntryAt(0), (RGBQUAD{255, 255, 255, 0}));

  const OracleImage readA = Decode(a), readB = Decode(b);
  EXPECT_EQ(TagOf(readA, TIFFTAG_PHOTOMETRIC), "0");
  EXPECT_EQ(TagOf(readB, TIFFTAG_PHOTOMETRIC), "0");
  EXPECT_EQ(readA.pixels, readB.pixels);
  EXPECT_EQ(Compare(blackFirst, readA).maxAbs, 0);
  EXPECT_EQ(Compare(whiteFirst, readB).maxAbs, 0);
}

TEST_F(TiffEncoderTest, OnlyTheIdentityGrayRampIsWrittenWithoutColourMap) {
  struct Case {
    const char* name;
    uint32_t bits;
    void (*palette)(RasterImage&);
    const char* photometric;
    bool colourMap;
  };
  const Case cases[] = {
      {"8-bit identity ramp", 8, [](RasterImage& i) { i.ApplyGrayRamp(); }, "1", false},
      {"8-bit ramp with one entry changed", 8,
       [](RasterImage& i) {
         i.ApplyGrayRamp();
         i.SetPaletteEntry(200, 200, 201, 200);
       },
       "3", true},
      {"4-bit ramp 0, 17 .. 255", 4, [](RasterImage& i) { i.ApplyGrayRamp(); }, "3", true},
      // Entries (i, i, i) of a 4-bit palette are near black, not a 16-level ramp.
      {"4-bit entries (i, i, i)", 4,
       [](RasterImage& i) {
         for (uint8_t v = 0; v < 16; ++v) i.SetPaletteEntry(v, v, v, v);
       },
       "3", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RasterImage image;
    ASSERT_NE(image.Create(19, 5, c.bits, ImageFormat::Bmp), nullptr);
    c.palette(image);
    for (uint32_t y = 0; y < 5; ++y)
      for (uint32_t x = 0; x < 19; ++x)
        image.SetIndexAtUnchecked(x, y, static_cast<uint8_t>(x * 13 + y * 50));
    image.SetEncoderOption(5, ImageFormat::Tiff);
    const std::string path = dir_.File("gray.tif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Tiff)) << image.ErrorText();
    const OracleImage read = Decode(path);
    EXPECT_EQ(TagOf(read, TIFFTAG_PHOTOMETRIC), c.photometric);
    EXPECT_EQ(!TagOf(read, TIFFTAG_COLORMAP).empty(), c.colourMap);
    EXPECT_EQ(Compare(image, read).maxAbs, 0);
  }
}

// ---- JPEG ----

TEST(YCbCrTablesTest, KnownColoursGiveTheirCodes) {
  YCbCrTables tables;
  tables.Fill();
  EXPECT_EQ(tables.lumaZeroCode, 0);
  EXPECT_EQ(tables.subsampling, (std::array<int, 2>{1, 1}));
  struct Case {
    uint8_t rgb[3];
    uint8_t ycbcr[3];
  };
  const Case cases[] = {
      {{255, 255, 255}, {255, 128, 128}}, {{0, 0, 255}, {29, 255, 107}},
      {{0, 0, 0}, {0, 128, 128}},         {{255, 0, 0}, {76, 85, 255}},
      {{0, 255, 0}, {150, 44, 21}},       {{128, 128, 128}, {128, 128, 128}},
  };
  for (const Case& c : cases) {
    uint8_t out[3], fromBgr[3];
    const uint8_t bgr[3] = {c.rgb[2], c.rgb[1], c.rgb[0]};
    tables.ConvertRow(c.rgb, 1, out);
    tables.ConvertBgrRow(bgr, 1, fromBgr);
    EXPECT_EQ((std::vector<int>{out[0], out[1], out[2]}),
              (std::vector<int>{c.ycbcr[0], c.ycbcr[1], c.ycbcr[2]}))
        << int(c.rgb[0]) << "," << int(c.rgb[1]) << "," << int(c.rgb[2]);
    EXPECT_EQ((std::vector<int>{fromBgr[0], fromBgr[1], fromBgr[2]}),
              (std::vector<int>{out[0], out[1], out[2]}));
  }
  EXPECT_EQ(ToCode(300.0f, 0, 255, 255), 255);  // above 255
  EXPECT_EQ(ToCode(-2.0f, 0, 255, 255), 255);   // negative, read as unsigned
}

TEST_F(TiffEncoderTest, JpegPageCarriesYCbCrTagsAndFollowsQuality) {
  RasterImage image;
  Paint(image, Kind::Rgb, 120, 64, true);
  image.SetEncoderOption(RasterImageTIF::kJpegYCbCrOption, ImageFormat::Tiff);
  const std::string fine = dir_.File("q95.tif"), coarse = dir_.File("q20.tif");
  image.SetQuality(95);
  ASSERT_TRUE(image.Save(fine, ImageFormat::Tiff)) << image.ErrorText();
  image.SetQuality(20);
  ASSERT_TRUE(image.Save(coarse, ImageFormat::Tiff)) << image.ErrorText();

  const OracleImage readFine = Decode(fine), readCoarse = Decode(coarse);
  EXPECT_EQ(TagOf(readFine, TIFFTAG_YCBCRSUBSAMPLING), "[1, 1]");
  EXPECT_EQ(TagOf(readFine, TIFFTAG_YCBCRPOSITIONING), "1");
  EXPECT_EQ(TagOf(readFine, TIFFTAG_REFERENCEBLACKWHITE),
            "[0.0, 255.0, 128.0, 255.0, 128.0, 255.0]");
  // Rationals of the single-precision weights 0.299, 0.587, 0.114.
  EXPECT_EQ(TagOf(readFine, TIFFTAG_YCBCRCOEFFICIENTS).rfind("[0.2989", 0), 0u)
      << TagOf(readFine, TIFFTAG_YCBCRCOEFFICIENTS);
  EXPECT_LT(test::ReadFileBytes(coarse).size(), test::ReadFileBytes(fine).size());
  const Difference dFine = Compare(image, readFine), dCoarse = Compare(image, readCoarse);
  EXPECT_LT(dFine.meanAbs, dCoarse.meanAbs);
  EXPECT_GE(dFine.psnr, 40.0);
  ExpectTiffinfoReads(fine, 1);
}

TEST_F(TiffEncoderTest, GrayPalettePageUnderJpegIsWrittenAsGrayLevels) {
  // A gray page after palette reduction: gray entries in no particular order, some unused.
  struct Case {
    uint32_t bits;
    uint32_t option;
  };
  for (const Case c : {Case{8, 19999}, Case{8, 7}, Case{4, 19999}}) {
    SCOPED_TRACE(std::to_string(c.bits) + "-bit option " + std::to_string(c.option));
    RasterImage image;
    ASSERT_NE(image.Create(40, 24, c.bits, ImageFormat::Bmp), nullptr);
    const uint32_t count = image.ColorCount();
    for (uint32_t i = 0; i < count; ++i) {
      const auto v = static_cast<uint8_t>((i * 97 + 31) % 256);
      image.SetPaletteEntry(i, v, v, v);
    }
    for (uint32_t y = 0; y < 24; ++y)
      for (uint32_t x = 0; x < 40; ++x)
        image.SetIndexAtUnchecked(x, y, static_cast<uint8_t>((x / 8 + y / 8 * 5) % count));
    image.SetEncoderOption(c.option, ImageFormat::Tiff);
    const std::string path = dir_.File("graypalette.tif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Tiff)) << image.ErrorText();
    ExpectTiffinfoReads(path, 1);
    const OracleImage read = Decode(path);
    EXPECT_EQ(read.mode, "L");
    EXPECT_EQ(TagOf(read, TIFFTAG_COMPRESSION), "7");
    EXPECT_EQ(TagOf(read, TIFFTAG_PHOTOMETRIC), "1");
    EXPECT_EQ(TagOf(read, TIFFTAG_COLORMAP), "");
    const Difference d = Compare(image, read);
    EXPECT_LE(d.meanAbs, kJpegMeanAbsBound);
    EXPECT_GE(d.psnr, kJpegPsnrBound);
  }
}

// ---- Alpha ----

TEST_F(TiffEncoderTest, AlphaBecomesAnUnassociatedExtraSampleExceptUnderJpeg) {
  struct Case {
    Kind kind;
    uint32_t option;
    const char* mode;     // what Pillow sees
    const char* samples;  // SamplesPerPixel
    const char* extra;    // ExtraSamples, "" when absent
  };
  const Case cases[] = {
      {Kind::Rgb, 5, "RGBA", "4", "[2]"},     {Kind::Rgb, 1, "RGBA", "4", "[2]"},
      {Kind::Rgb, 32773, "RGBA", "4", "[2]"}, {Kind::Color256, 5, "PA", "2", "[2]"},
      {Kind::Gray256, 1, "LA", "2", "[2]"},   {Kind::Rgb, 19999, "RGB", "3", ""},
      {Kind::Rgb, 0, "RGB", "3", ""},         {Kind::Rgb, 7, "RGB", "3", ""},
      {Kind::Gray256, 19999, "L", "1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(KindName(c.kind)) + " option " + std::to_string(c.option));
    RasterImage image;
    const bool jpeg = c.extra[0] == '\0';
    Paint(image, c.kind, 33, 9, jpeg);
    ASSERT_TRUE(image.AllocateAlpha());
    for (uint32_t y = 0; y < 9; ++y)
      for (uint32_t x = 0; x < 33; ++x) image.SetAlphaAt(x, y, static_cast<uint8_t>(x * 8 + y));
    image.SetEncoderOption(c.option, ImageFormat::Tiff);
    const std::string path = dir_.File("alpha.tif");
    ASSERT_TRUE(image.Save(path, ImageFormat::Tiff)) << image.ErrorText();
    ExpectTiffinfoReads(path, 1);
    const OracleImage read = Decode(path);
    EXPECT_EQ(read.mode, c.mode);
    EXPECT_EQ(TagOf(read, TIFFTAG_SAMPLESPERPIXEL), c.samples);
    EXPECT_EQ(TagOf(read, TIFFTAG_EXTRASAMPLES), c.extra);
    const Difference d = Compare(image, read);
    if (jpeg) {
      EXPECT_LE(d.meanAbs, kJpegMeanAbsBound);
      continue;
    }
    EXPECT_EQ(d.maxAbs, 0);
    ASSERT_EQ(read.channels, 4);
    for (uint32_t top = 0; top < 9; ++top)
      for (uint32_t x = 0; x < 33; ++x)
        ASSERT_EQ(read.At(static_cast<int>(x), static_cast<int>(top))[3],
                  image.AlphaAt(x, 8 - top));
  }
}

// ---- Multi-page documents ----

struct PageSpec {
  Kind kind;
  uint32_t option;
  uint32_t width, height;
};

// Writes every page with append on through one image object.
void AppendPages(RasterImageTIF& tiff, ByteStream* stream, const std::vector<PageSpec>& pages,
                 std::vector<std::unique_ptr<RasterImage>>* written) {
  uint32_t seed = 0;
  for (const PageSpec& page : pages) {
    Paint(tiff, page.kind, page.width, page.height, page.option == 19999, ++seed);
    tiff.SetEncoderOption(page.option, ImageFormat::Tiff);
    ASSERT_TRUE(tiff.SaveToStream(stream, true)) << tiff.ErrorText();
    auto copy = std::make_unique<RasterImage>();
    Paint(*copy, page.kind, page.width, page.height, page.option == 19999, seed);
    written->push_back(std::move(copy));
  }
}

void ExpectPages(const std::string& path, const std::vector<std::unique_ptr<RasterImage>>& pages) {
  ExpectTiffinfoReads(path, static_cast<int>(pages.size()));
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const OracleImage read = Decode(path, static_cast<int>(i));
    EXPECT_EQ(read.frames, static_cast<int>(pages.size()));
    ASSERT_EQ(read.width, static_cast<int>(pages[i]->Width()));
    ASSERT_EQ(read.height, static_cast<int>(pages[i]->Height()));
    const std::string n = std::to_string(i + 1);
    EXPECT_EQ(TagOf(read, TIFFTAG_SUBFILETYPE), "2");
    EXPECT_EQ(TagOf(read, TIFFTAG_PAGENUMBER), "[" + n + ", " + n + "]");
    EXPECT_EQ(TagOf(read, TIFFTAG_PAGENAME), "\"Page " + n + "\"");
    const Difference d = Compare(*pages[i], read);
    EXPECT_LE(d.meanAbs, kJpegMeanAbsBound);
    if (TagOf(read, TIFFTAG_COMPRESSION) != "7") {
      EXPECT_EQ(d.maxAbs, 0);
    }
  }
}

TEST_F(TiffEncoderTest, AppendedPagesFormOneDocumentInOrder) {
  const std::string path = dir_.File("pages.tif");
  UniqueFile file(std::fopen(path.c_str(), "w+b"));
  ASSERT_TRUE(file);
  FileStream stream(file.get());
  RasterImageTIF tiff;
  std::vector<std::unique_ptr<RasterImage>> written;
  AppendPages(tiff, &stream,
              {{Kind::Bilevel, 4, 50, 20}, {Kind::Gray256, 5, 31, 40}, {Kind::Rgb, 19999, 64, 17}},
              &written);
  EXPECT_TRUE(tiff.IsDocumentOpen());
  EXPECT_EQ(tiff.PagesWritten(), 3u);
  EXPECT_TRUE(tiff.EndDocument());
  EXPECT_FALSE(tiff.IsDocumentOpen());
  file.reset();
  ExpectPages(path, written);
}

TEST_F(TiffEncoderTest, DestroyingTheImageEndsTheDocument) {
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  std::vector<std::unique_ptr<RasterImage>> written;
  {
    RasterImageTIF tiff;
    AppendPages(tiff, &stream,
                {{Kind::Color16, 32773, 9, 9}, {Kind::Color256, 1, 12, 3}, {Kind::Rgb, 5, 5, 5}},
                &written);
  }
  const std::string path = dir_.File("memory.tif");
  test::WriteFileBytes(path, BytesOf(stream));
  ExpectPages(path, written);
}

TEST_F(TiffEncoderTest, PageWithoutAppendAfterAppendedPagesEndsTheDocument) {
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  RasterImageTIF tiff;
  std::vector<std::unique_ptr<RasterImage>> written;
  AppendPages(tiff, &stream, {{Kind::Gray256, 5, 10, 10}}, &written);
  Paint(tiff, Kind::Rgb, 8, 6);
  tiff.SetEncoderOption(1, ImageFormat::Tiff);
  ASSERT_TRUE(tiff.SaveToStream(&stream, false)) << tiff.ErrorText();
  EXPECT_FALSE(tiff.IsDocumentOpen());
  EXPECT_EQ(tiff.PagesWritten(), 0u);
  written.push_back(std::make_unique<RasterImage>());
  Paint(*written.back(), Kind::Rgb, 8, 6);
  const std::string path = dir_.File("mixed.tif");
  test::WriteFileBytes(path, BytesOf(stream));
  ExpectPages(path, written);
}

TEST_F(TiffEncoderTest, FailedPageIsLeftOutAndTheNextPageStartsAgainOnTheSameStream) {
  const std::string path = dir_.File("failed.tif");
  UniqueFile file(std::fopen(path.c_str(), "w+b"));
  ASSERT_TRUE(file);
  FileStream stream(file.get());
  RasterImageTIF tiff;
  std::vector<std::unique_ptr<RasterImage>> written;
  AppendPages(tiff, &stream, {{Kind::Gray256, 5, 20, 10}, {Kind::Rgb, 32773, 15, 10}}, &written);

  Paint(tiff, Kind::Rgb, 30, 30);
  tiff.SetEncoderOption(4, ImageFormat::Tiff);  // Group 4 cannot take a colour page
  EXPECT_FALSE(tiff.SaveToStream(&stream, true));
  EXPECT_EQ(tiff.ErrorText().rfind("Error saving TIFF file", 0), 0u) << tiff.ErrorText();
  EXPECT_FALSE(tiff.IsDocumentOpen());
  EXPECT_EQ(tiff.PagesWritten(), 0u);

  // The next page reopens the document on the stream and continues after the pages in it.
  AppendPages(tiff, &stream, {{Kind::Bilevel, 4, 40, 12}}, &written);
  EXPECT_EQ(tiff.PagesWritten(), 3u);
  EXPECT_TRUE(tiff.EndDocument());
  file.reset();
  ExpectPages(path, written);
}

TEST_F(TiffEncoderTest, AnotherStreamStartsAnotherDocument) {
  MemoryStream first, second;
  ASSERT_TRUE(first.OpenEmpty());
  ASSERT_TRUE(second.OpenEmpty());
  RasterImageTIF tiff;
  std::vector<std::unique_ptr<RasterImage>> intoFirst, intoSecond;
  AppendPages(tiff, &first, {{Kind::Gray256, 1, 6, 6}, {Kind::Gray256, 5, 7, 7}}, &intoFirst);
  AppendPages(tiff, &second, {{Kind::Rgb, 1, 8, 8}}, &intoSecond);
  EXPECT_EQ(tiff.PagesWritten(), 1u);
  tiff.EndDocument();
  test::WriteFileBytes(dir_.File("first.tif"), BytesOf(first));
  test::WriteFileBytes(dir_.File("second.tif"), BytesOf(second));
  ExpectPages(dir_.File("first.tif"), intoFirst);
  ExpectPages(dir_.File("second.tif"), intoSecond);
}

// ---- Failures ----

TEST_F(TiffEncoderTest, MissingStreamOrPixelsFailWithTheirMessages) {
  RasterImageTIF tiff;
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  EXPECT_FALSE(tiff.SaveToStream(&stream, true));
  EXPECT_EQ(tiff.ErrorText(), "null image!!!");
  EXPECT_EQ(stream.Length(), 0);

  Paint(tiff, Kind::Gray256, 4, 4);
  ASSERT_TRUE(tiff.SaveToStream(&stream, true));
  EXPECT_FALSE(tiff.SaveToStream(nullptr, true));
  EXPECT_EQ(tiff.ErrorText(), "null file handler");
  EXPECT_FALSE(tiff.IsDocumentOpen());
}

TEST_F(TiffEncoderTest, StreamHoldingSomethingElseIsRefusedAndLeftAsItIs) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const std::string text = "this is not a TIFF file at all";
  const Case cases[] = {
      {"text", std::vector<uint8_t>(text.begin(), text.end())},
      // One directory whose next-directory offset points back at itself.
      {"looping chain",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0, 1, 4, 0, 1, 0, 0, 0, 5, 0, 0, 0, 8, 0, 0, 0}},
      {"chain leaving the stream", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0, 0, 0}},
      {"directory longer than the stream", {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0, 0}},
      {"BigTIFF chain leaving the stream",
       {'I', 'I', 43, 0, 8, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0x10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    stream.WriteBytes(c.bytes.data(), 1, c.bytes.size());
    RasterImageTIF tiff;
    Paint(tiff, Kind::Gray256, 4, 4);
    EXPECT_FALSE(tiff.SaveToStream(&stream, true));
    EXPECT_EQ(tiff.ErrorText().rfind("initialization fail", 0), 0u) << tiff.ErrorText();
    EXPECT_EQ(BytesOf(stream), c.bytes);
    EXPECT_FALSE(tiff.IsDocumentOpen());
  }
}

TEST_F(TiffEncoderTest, DocumentAlreadyInTheStreamGetsMorePages) {
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  std::vector<std::unique_ptr<RasterImage>> written;
  {
    RasterImageTIF first;
    AppendPages(first, &stream, {{Kind::Gray256, 5, 9, 4}}, &written);
  }
  RasterImageTIF second;
  AppendPages(second, &stream, {{Kind::Rgb, 1, 3, 8}}, &written);
  EXPECT_EQ(second.PagesWritten(), 2u);
  second.EndDocument();
  test::WriteFileBytes(dir_.File("more.tif"), BytesOf(stream));
  ExpectPages(dir_.File("more.tif"), written);
}

TEST_F(TiffEncoderTest, StreamThatFillsUpOrCannotFlushIsReportedAsFailure) {
  for (const int64_t limit : {0, 7, 8, 100, 1000, 2400}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    for (const bool append : {false, true}) {
      LimitedStream stream(limit);
      RasterImageTIF tiff;
      Paint(tiff, Kind::Rgb, 40, 20);
      tiff.SetEncoderOption(1, ImageFormat::Tiff);
      EXPECT_FALSE(tiff.SaveToStream(&stream, append));
      EXPECT_EQ(tiff.ErrorText().rfind("Error saving TIFF", 0) == 0 ||
                    tiff.ErrorText().rfind("initialization fail", 0) == 0,
                true)
          << tiff.ErrorText();
      EXPECT_FALSE(tiff.IsDocumentOpen());
    }
  }
  LimitedStream unflushable(1 << 20, true);
  RasterImageTIF tiff;
  Paint(tiff, Kind::Gray256, 8, 8);
  EXPECT_FALSE(tiff.SaveToStream(&unflushable, false));
  EXPECT_EQ(tiff.ErrorText(), "Error saving TIFF file");
}

TEST_F(TiffEncoderTest, FullDiskFailsTheSave) {
  RasterImage image;
  Paint(image, Kind::Gray256, 20, 20);
  image.SetEncoderOption(1, ImageFormat::Tiff);
  EXPECT_FALSE(image.Save("/dev/full", ImageFormat::Tiff));
  EXPECT_EQ(image.ErrorText().rfind("Error saving TIFF", 0), 0u) << image.ErrorText();
}

}  // namespace
}  // namespace orvalis
