#include "image/codec_jpeg.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
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

constexpr char kWriteError[] = "Output file write error --- out of disk space?";
constexpr char kPaletteRefused[] = "JPEG can save only RGB or GreyScale images";

enum class Kind { Color, Gray8, Gray4, Gray1, ColorPalette8, BlackWhite1 };

// Smooth gradients with a disc: red runs left to right, green bottom to top, blue along the
// diagonal, so a flipped, mirrored or channel-swapped result loses tens of decibels.
RGBQUAD PatternColor(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  const int dx = static_cast<int>(x) - static_cast<int>(width) / 3;
  const int dy = static_cast<int>(y) - static_cast<int>(height) / 3;
  const bool disc = dx * dx + dy * dy < static_cast<int>(width * width / 25);
  const auto red = static_cast<uint8_t>(x * 255 / (width - 1));
  const auto green = static_cast<uint8_t>(y * 255 / (height - 1));
  const auto blue = static_cast<uint8_t>(disc ? 40 : 255 - (x + y) * 200 / (width + height));
  return RGBQUAD{blue, green, red, 0};
}

std::unique_ptr<RasterImage> MakeImage(Kind kind, uint32_t width = 47, uint32_t height = 33) {
  static constexpr uint32_t kDepth[] = {24, 8, 4, 1, 8, 1};
  auto image = std::make_unique<RasterImage>();
  EXPECT_NE(image->Create(width, height, kDepth[static_cast<int>(kind)], ImageFormat::Bmp),
            nullptr);
  const uint32_t colors = image->ColorCount();
  for (uint32_t i = 0; i < colors; ++i) {
    if (kind == Kind::ColorPalette8)
      image->SetPaletteEntry(i, i, 255 - i, i / 2);
    else if (kind == Kind::BlackWhite1)
      image->SetPaletteEntry(i, i * 255, i * 255, i * 255);
    else
      image->SetPaletteEntry(i, i, i, i);  // the identity ramp 0..colors-1
  }
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const RGBQUAD c = PatternColor(x, y, width, height);
      if (colors == 0)
        image->SetColorAt(x, y, c);
      else
        image->SetIndexAt(x, y, static_cast<uint8_t>((c.rgbRed + c.rgbGreen) / 2 * colors / 256));
    }
  }
  return image;
}

// What a decoder should give back, rows from the top: RGB, or one gray level per pixel.
std::vector<uint8_t> Expected(const RasterImage& image, bool grayOutput) {
  std::vector<uint8_t> out;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const RGBQUAD c = image.ColorAt(x, image.Height() - 1 - top);
      if (grayOutput) {
        out.push_back(static_cast<uint8_t>(
            std::lround(0.299 * c.rgbRed + 0.587 * c.rgbGreen + 0.114 * c.rgbBlue)));
      } else {
        out.insert(out.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
      }
    }
  }
  return out;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * double(a[i] - b[i]);
  const double mse = sum / static_cast<double>(a.size());
  return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// Pillow's pixels as RGB, or their first channel when the file is gray.
std::vector<uint8_t> Decoded(const test::OracleImage& image, bool gray) {
  if (!gray) return image.pixels;
  std::vector<uint8_t> levels;
  for (size_t i = 0; i < image.pixels.size(); i += 3) levels.push_back(image.pixels[i]);
  return levels;
}

// The markers before the first scan, as a decoder sees them.
// Marker layout: ITU-T T.81 annex B; JFIF APP0: JFIF 1.02 section "JPEG File Interchange Format".
struct JpegHeaders {
  uint8_t frameMarker = 0;                     // second byte of the SOFn marker
  std::vector<std::array<int, 3>> components;  // id, horizontal, vertical sampling
  int densityUnit = -1, densityX = -1, densityY = -1;
  int lumaPrecision = -1, lumaFirst = -1;  // first quantisation table: Pq and its DC entry
  bool standardLumaDcTable = false;        // first Huffman table is T.81's table K.3
};

JpegHeaders ParseHeaders(const std::vector<uint8_t>& bytes) {
  JpegHeaders h;
  EXPECT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  bool seenDqt = false, seenDht = false;
  size_t at = 2;
  while (at + 4 <= bytes.size() && bytes[at] == 0xFF) {
    const uint8_t marker = bytes[at + 1];
    const size_t length = LoadBE16(&bytes[at + 2]);
    const uint8_t* data = &bytes[at + 4];
    if (marker == 0xDA || at + 2 + length > bytes.size()) break;
    if (marker == 0xE0 && length >= 14 && std::string(data, data + 5) == std::string("JFIF\0", 5)) {
      h.densityUnit = data[7];
      h.densityX = LoadBE16(data + 8);
      h.densityY = LoadBE16(data + 10);
    } else if (marker == 0xDB && !seenDqt) {
      seenDqt = true;
      h.lumaPrecision = data[0] >> 4;
      h.lumaFirst = h.lumaPrecision == 0 ? data[1] : LoadBE16(data + 1);
    } else if (marker == 0xC4 && !seenDht) {
      seenDht = true;
      static constexpr uint8_t kCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
      h.standardLumaDcTable = data[0] == 0x00 && std::equal(kCounts, kCounts + 16, data + 1);
    } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
               marker != 0xCC) {
      h.frameMarker = marker;
      for (int i = 0; i < data[5]; ++i) {
        const uint8_t* c = data + 6 + 3 * i;
        h.components.push_back({c[0], c[1] >> 4, c[1] & 15});
      }
    }
    at += 2 + length;
  }
  return h;
}

std::vector<uint8_t> EncodeToMemory(RasterImage& image) {
  FailingStream stream(INT32_MAX);
  EXPECT_TRUE(image.Encode(&stream, ImageFormat::Jpeg)) << image.ErrorText();
  return stream.Bytes();
}

TEST(JpegEncoder, PillowDecodesColourAndGrayCloseToWhatWeHeld) {
  struct Case {
    const char* name;
    Kind kind;
    uint32_t options;
    bool grayFile;
    double minPsnr;
  };
  const Case cases[] = {
      // The disc's sharp blue edge costs 4:2:0 chroma a few decibels; Pillow's own encoder at
      // quality 75 gives the same 27.9 dB (4:2:0) and 31.5 dB (4:4:4) on these pixels.
      {"colour", Kind::Color, 0, false, 27.0},
      {"colour, engine options", Kind::Color, 24, false, 27.0},
      {"colour, arithmetic", Kind::Color, JpegOption::Arithmetic, false, 27.0},
      {"colour, arithmetic + engine", Kind::Color, JpegOption::Arithmetic | 24, false, 27.0},
      {"colour, 4:4:4", Kind::Color, JpegOption::Sampling444, false, 30.5},
      {"colour to gray", Kind::Color, JpegOption::GrayOutput, true, 33.0},
      {"8-bit gray", Kind::Gray8, 0, true, 33.0},
      {"8-bit gray, engine options", Kind::Gray8, 24, true, 33.0},
      {"4-bit identity ramp", Kind::Gray4, 0, true, 40.0},
      {"1-bit identity ramp", Kind::Gray1, 0, true, 40.0},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto image = MakeImage(c.kind);
    image->SetEncoderOption(c.options, ImageFormat::Jpeg);
    image->SetQuality(75);
    const std::string path = dir.File("out.jpg");
    ASSERT_TRUE(image->Save(path, ImageFormat::Jpeg)) << image->ErrorText();
    std::string error;
    const auto decoded = PillowDecode(path, 0, &error);
    ASSERT_TRUE(decoded) << error;
    EXPECT_EQ(decoded->format, "JPEG");
    EXPECT_EQ(decoded->mode, c.grayFile ? "L" : "RGB");
    EXPECT_EQ(decoded->width, 47);
    EXPECT_EQ(decoded->height, 33);
    const double psnr = Psnr(Decoded(*decoded, c.grayFile), Expected(*image, c.grayFile));
    std::printf("[ PSNR     ] %-28s quality 75: %.2f dB\n", c.name, psnr);
    RecordProperty(std::string("psnr ") + c.name, std::to_string(psnr));
    EXPECT_GE(psnr, c.minPsnr);
  }
}

TEST(JpegEncoder, OptionBitsChooseCodingScansAndSampling) {
  struct Case {
    Kind kind;
    uint32_t options;
    uint8_t frameMarker;
    std::vector<std::array<int, 2>> sampling;  // per component
    bool standardHuffman;
  };
  using S = std::vector<std::array<int, 2>>;
  const S s420{{2, 2}, {1, 1}, {1, 1}}, s422{{2, 1}, {1, 1}, {1, 1}}, s444{{1, 1}, {1, 1}, {1, 1}};
  const Case cases[] = {
      {Kind::Color, 0, 0xC0, s420, true},
      {Kind::Color, JpegOption::OptimizeTables, 0xC0, s420, false},
      {Kind::Color, 24, 0xC2, s420, false},
      {Kind::Color, JpegOption::Arithmetic, 0xC9, s420, false},
      {Kind::Color, JpegOption::Arithmetic | JpegOption::Progressive, 0xCA, s420, false},
      // Arithmetic coding with the engine's word: optimised tables do not apply to it.
      {Kind::Color, JpegOption::Arithmetic | 24, 0xCA, s420, false},
      {Kind::Color, JpegOption::Arithmetic | JpegOption::OptimizeTables, 0xC9, s420, false},
      {Kind::Color, JpegOption::Sampling422, 0xC0, s422, true},
      {Kind::Color, JpegOption::Sampling444 | 24, 0xC2, s444, false},
      {Kind::Color, JpegOption::Sampling444 | JpegOption::Sampling422, 0xC0, s444, true},
      {Kind::Color, JpegOption::GrayOutput, 0xC0, S{{2, 2}}, true},
      {Kind::Gray8, JpegOption::Sampling444, 0xC0, S{{1, 1}}, true},
      {Kind::Gray8, 0, 0xC0, S{{2, 2}}, true},
      {Kind::Color, 0x20 | 0x80 | 0x100, 0xC0, s420, true},  // bits without meaning
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "options " << c.options);
    auto image = MakeImage(c.kind);
    image->SetEncoderOption(c.options, ImageFormat::Jpeg);
    const JpegHeaders h = ParseHeaders(EncodeToMemory(*image));
    EXPECT_EQ(h.frameMarker, c.frameMarker);
    ASSERT_EQ(h.components.size(), c.sampling.size());
    for (size_t i = 0; i < c.sampling.size(); ++i) {
      EXPECT_EQ(h.components[i][1], c.sampling[i][0]) << "component " << i;
      EXPECT_EQ(h.components[i][2], c.sampling[i][1]) << "component " << i;
    }
    if (c.frameMarker == 0xC0) {
      EXPECT_EQ(h.standardLumaDcTable, c.standardHuffman);
    }
  }
}

TEST(JpegEncoder, QualityScalesTheTablesAndBit0KeepsThemBaseline) {
  // libjpeg scales T.81's luminance table (DC entry 16) by 5000/q below 50, 200 - 2q above.
  struct Case {
    uint32_t quality, options;
    int precision, first;
  };
  for (const Case c :
       {Case{50, 0, 0, 16}, Case{75, 0, 0, 8}, Case{100, 0, 0, 1}, Case{356, 0, 0, 1},
        Case{1, 0, 1, 800}, Case{1, 1, 0, 255}, Case{0, 0, 1, 800}}) {
    SCOPED_TRACE(testing::Message() << "quality " << c.quality << " options " << c.options);
    auto image = MakeImage(Kind::Color);
    image->SetQuality(c.quality);
    image->SetEncoderOption(c.options, ImageFormat::Jpeg);
    const JpegHeaders h = ParseHeaders(EncodeToMemory(*image));
    EXPECT_EQ(h.lumaPrecision, c.precision);
    EXPECT_EQ(h.lumaFirst, c.first);
  }
}

TEST(JpegEncoder, JfifHeaderCarriesTheResolutionInDotsPerInch) {
  struct Case {
    int32_t dpiX, dpiY;
    int densityX, densityY;
  };
  for (const Case c : {Case{300, 150, 300, 150}, Case{96, 96, 96, 96}, Case{0, 600, 96, 600},
                       Case{70000, 72, 65535, 72}}) {
    auto image = MakeImage(Kind::Gray8);
    image->SetResolutionX(c.dpiX);
    image->SetResolutionY(c.dpiY);
    const JpegHeaders h = ParseHeaders(EncodeToMemory(*image));
    EXPECT_EQ(h.densityUnit, 1);
    EXPECT_EQ(h.densityX, c.densityX);
    EXPECT_EQ(h.densityY, c.densityY);
  }
}

TEST(JpegEncoder, SmoothingChangesTheDataAndStillDecodes) {
  auto image = MakeImage(Kind::Color);
  const std::vector<uint8_t> plain = EncodeToMemory(*image);
  image->SetEncoderOption(JpegOption::Smoothing, ImageFormat::Jpeg);
  const std::vector<uint8_t> smoothed = EncodeToMemory(*image);
  EXPECT_NE(plain, smoothed);
  TempDir dir;
  test::WriteFileBytes(dir.File("s.jpg"), smoothed);
  const auto decoded = PillowDecode(dir.File("s.jpg"));
  ASSERT_TRUE(decoded);
  EXPECT_GE(Psnr(decoded->pixels, Expected(*image, false)), 28.0);
}

TEST(JpegEncoder, RefusesColourPalettesAndOversizedPagesBeforeWriting) {
  struct Case {
    Kind kind;
    uint32_t width, height;
    std::string message;
  };
  const Case cases[] = {
      {Kind::ColorPalette8, 47, 33, kPaletteRefused},
      {Kind::BlackWhite1, 47, 33, kPaletteRefused},
      {Kind::Gray8, 65501, 2, "JPEG allows at most 65500 pixels a side; this image is 65501 x 2"},
      {Kind::Color, 3, 65501, "JPEG allows at most 65500 pixels a side; this image is 3 x 65501"},
  };
  for (const Case& c : cases) {
    auto image = MakeImage(c.kind, c.width, c.height);
    FailingStream stream(INT32_MAX);
    EXPECT_FALSE(image->Encode(&stream, ImageFormat::Jpeg));
    EXPECT_EQ(image->ErrorText(), c.message);
    EXPECT_TRUE(stream.Bytes().empty());
  }
}

TEST(JpegEncoder, WritesTheLargestPageLibjpegAllows) {
  auto image = MakeImage(Kind::Gray8, 65500, 2);
  TempDir dir;
  ASSERT_TRUE(image->Save(dir.File("wide.jpg"), ImageFormat::Jpeg)) << image->ErrorText();
  const auto decoded = PillowDecode(dir.File("wide.jpg"));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width, 65500);
  EXPECT_EQ(decoded->height, 2);
}

TEST(JpegEncoder, StreamThatStopsAcceptingBytesGivesLibjpegsWriteError) {
  auto image = MakeImage(Kind::Color, 320, 240);
  image->SetQuality(100);
  const size_t total = EncodeToMemory(*image).size();
  ASSERT_GT(total, 4096u * 2);
  struct Case {
    int64_t limit;
    bool flushFails;
  };
  // Nothing at all; part of the first buffer; part of a later one; all but the last byte; all
  // bytes but a failing flush.
  for (const Case c :
       {Case{0, false}, Case{100, false}, Case{5000, false},
        Case{static_cast<int64_t>(total) - 1, false}, Case{static_cast<int64_t>(total), true}}) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit << " flush fails " << c.flushFails);
    FailingStream stream(c.limit, c.flushFails);
    EXPECT_FALSE(image->Encode(&stream, ImageFormat::Jpeg));
    EXPECT_EQ(image->ErrorText(), kWriteError);
    // What reached the stream stays there: whole buffers, then what fitted of the next one.
    EXPECT_EQ(stream.Bytes().size(), static_cast<size_t>(c.limit));
  }
  // The same image object encodes fine afterwards: nothing was left half-done.
  EXPECT_EQ(EncodeToMemory(*image).size(), total);
}

TEST(JpegEncoder, NoStreamOrNoImage) {
  auto image = MakeImage(Kind::Color);
  EXPECT_FALSE(image->Encode(nullptr, ImageFormat::Jpeg));
  EXPECT_EQ(image->ErrorText(), "null file handler");
  RasterImage empty;
  FailingStream stream(100);
  EXPECT_FALSE(empty.Encode(&stream, ImageFormat::Jpeg));
  EXPECT_EQ(empty.ErrorText(), "null image!!!");
}

}  // namespace
}  // namespace orvalis
