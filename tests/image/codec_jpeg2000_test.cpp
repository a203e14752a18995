#include "image/codec_jpeg2000.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/support/format_printing.h"
#include "tests/support/oracle.h"
#include "tests/support/pnm.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

using test::PillowDecode;
using test::RunCommand;
using test::TempDir;

// A picture whose neighbouring pixels, rows and channels all differ, so a flipped, shifted or
// channel-swapped result shows.
void FillPattern(RasterImage& image) {
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      if (image.ColorCount() != 0) {
        image.SetIndexAt(x, y, static_cast<uint8_t>(x * 5 + y * 9));
      } else {
        image.SetColorAt(
            x, y,
            RGBQUAD{static_cast<uint8_t>(x * 7 + y * 3), static_cast<uint8_t>(y * 11 + x),
                    static_cast<uint8_t>(x * x + y * 5), 0});
      }
    }
  }
}

// Uniform noise: no transform compresses it, so a rate limit always bites.
void FillNoise(RasterImage& image, uint32_t seed) {
  for (uint32_t i = 0; i < image.Header().biSizeImage; ++i) {
    seed = seed * 1664525u + 1013904223u;
    image.PixelRows()[i] = static_cast<uint8_t>(seed >> 24);
  }
}

std::unique_ptr<RasterImage> MakeImage(uint32_t width, uint32_t height, uint32_t bpp) {
  auto image = std::make_unique<RasterImage>();
  EXPECT_NE(image->Create(width, height, bpp, ImageFormat::Bmp), nullptr);
  if (bpp == 8) image->ApplyGrayRamp();
  if (bpp == 4) {
    for (uint8_t i = 0; i < 16; ++i) image->SetPaletteEntry(i, i, i, i);  // levels 0..15
  }
  FillPattern(*image);
  return image;
}

// Red, green, blue of every pixel with rows from the top, as the decoders hand them out.
std::vector<uint8_t> TopDownRgb(const RasterImage& image) {
  std::vector<uint8_t> rgb;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const RGBQUAD c = image.ColorAt(x, image.Height() - 1 - top);
      rgb.insert(rgb.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
    }
  }
  return rgb;
}

// The samples the code stream must carry: the palette index of a gray image, else RGB.
std::vector<uint8_t> TopDownSamples(const RasterImage& image) {
  if (image.ColorCount() == 0) return TopDownRgb(image);
  std::vector<uint8_t> levels;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      levels.push_back(image.IndexAt(x, image.Height() - 1 - top));
    }
  }
  return levels;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double squares = 0;
  for (size_t i = 0; i < a.size(); ++i) squares += (a[i] - b[i]) * double(a[i] - b[i]);
  if (squares == 0) return INFINITY;
  return 10 * std::log10(255.0 * 255.0 / (squares / a.size()));
}

size_t Find(const std::vector<uint8_t>& bytes, std::string_view what, size_t from = 0) {
  const auto it = std::search(bytes.begin() + from, bytes.end(), what.begin(), what.end(),
                              [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
  return it == bytes.end() ? std::string::npos : it - bytes.begin();
}

// The fields of the code stream's SIZ and COD marker segments that this encoder decides.
struct CodeStreamFields {
  uint32_t width, height, components, sampleDepth, layers, mct, levels, transform;
};

CodeStreamFields ReadCodeStream(const std::vector<uint8_t>& bytes) {
  const size_t soc = Find(bytes, "\xFF\x4F\xFF\x51");
  EXPECT_NE(soc, std::string::npos);
  if (soc == std::string::npos) return {};
  const uint8_t* siz = bytes.data() + soc + 2;
  const size_t codAt = Find(bytes, "\xFF\x52", soc);
  EXPECT_NE(codAt, std::string::npos);
  if (codAt == std::string::npos) return {};
  const uint8_t* cod = bytes.data() + codAt;
  return {LoadBE32(siz + 6),
          LoadBE32(siz + 10),
          LoadBE16(siz + 38),
          siz[40],
          LoadBE16(cod + 6),
          cod[8],
          cod[9],
          cod[13]};
}

class RefusingStream : public MemoryStream {
 public:
  RefusingStream(size_t acceptBytes, bool seekable) : accept_(acceptBytes), seekable_(seekable) {
    OpenEmpty();
  }
  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override {
    if (written_ + itemSize * itemCount > accept_) return 0;
    written_ += itemSize * itemCount;
    return MemoryStream::WriteBytes(source, itemSize, itemCount);
  }
  bool SeekTo(int64_t offset, int origin) override {
    return seekable_ && MemoryStream::SeekTo(offset, origin);
  }

 private:
  size_t accept_;
  size_t written_ = 0;
  bool seekable_;
};

struct Shape {
  uint32_t width, height, bpp;
};

const char* Extension(ImageFormat format) {
  return format == ImageFormat::Jp2 ? ".jp2" : ".j2k";
}

TEST(Jpeg2000Rate, QualityBecomesRateAndCompressionRatio) {
  struct Case {
    float quality;
    double rate;
    float ratio;  // 0: lossless
  };
  for (const Case c : {Case{75, 0.75, 1.0f / 0.75f}, Case{50, 0.5, 2.0f},
                       Case{90, 0.9, 1.0f / 0.9f}, Case{1, 0.01, 100.0f}, Case{100, 1.0, 0.0f},
                       Case{255, 2.55, 0.0f}, Case{0, 0.0, 1000.0f}}) {
    SCOPED_TRACE(c.quality);
    EXPECT_DOUBLE_EQ(Jpeg2000TargetRate(c.quality), c.rate);
    EXPECT_FLOAT_EQ(Jpeg2000CompressionRatio(Jpeg2000TargetRate(c.quality)), c.ratio);
  }
}

// Lossless output (quality 100: rate 1.000) read back by two independent decoders must give
// exactly the pixels we held, rows from the top, in every shape the encoder meets.
TEST(Jpeg2000Encode, LosslessRoundTripThroughPillowAndOpenJpegTools) {
  TempDir dir;
  for (const ImageFormat format : {ImageFormat::Jp2, ImageFormat::Jpc}) {
    for (const Shape s : {Shape{47, 33, 24}, Shape{47, 33, 8}, Shape{1, 1, 24}, Shape{3, 70, 8},
                          Shape{70, 2, 24}, Shape{17, 9, 4}}) {
      SCOPED_TRACE(testing::Message()
                   << "format " << format << ", " << s.width << "x" << s.height << "x" << s.bpp);
      auto image = MakeImage(s.width, s.height, s.bpp);
      image->SetQuality(100);
      const std::string path = dir.File("page" + std::to_string(s.bpp) + Extension(format));
      ASSERT_TRUE(image->Save(path, format)) << image->ErrorText();

      std::string why;
      const auto pillow = PillowDecode(path, 0, &why);
      ASSERT_TRUE(pillow) << why;
      EXPECT_EQ(pillow->format, "JPEG2000");
      EXPECT_EQ(pillow->mode, s.bpp == 24 ? "RGB" : "L");
      EXPECT_EQ(pillow->pixels, TopDownRgb(*image));

      const std::string pnmPath = dir.File(s.bpp == 24 ? "back.ppm" : "back.pgm");
      const auto run = RunCommand({"opj_decompress", "-quiet", "-i", path, "-o", pnmPath});
      ASSERT_EQ(run.exitCode, 0) << run.err;
      const std::vector<uint8_t> pnmBytes = test::ReadFileBytes(pnmPath);
      const auto pnm =
          test::ParsePnm({reinterpret_cast<const char*>(pnmBytes.data()), pnmBytes.size()});
      ASSERT_TRUE(pnm);
      EXPECT_EQ(pnm->pixels, TopDownSamples(*image));
    }
  }
}

TEST(Jpeg2000Encode, WritesTheHeaderFieldsOfEachFormat) {
  struct Case {
    ImageFormat format;
    uint32_t bpp;
    uint32_t components, enumeratedColourSpace;  // 16 sRGB, 17 greyscale
  };
  for (const Case c : {Case{ImageFormat::Jp2, 24, 3, 16}, Case{ImageFormat::Jp2, 8, 1, 17},
                       Case{ImageFormat::Jpc, 24, 3, 0}, Case{ImageFormat::Jpc, 8, 1, 0}}) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << ", bpp " << c.bpp);
    auto image = MakeImage(47, 33, c.bpp);
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());
    ASSERT_TRUE(image->Encode(&stream, c.format)) << image->ErrorText();
    const uint8_t* data = stream.DetachBuffer(false);
    const std::vector<uint8_t> bytes(data, data + stream.Length());

    if (c.format == ImageFormat::Jp2) {
      ASSERT_GE(bytes.size(), 12u);
      EXPECT_EQ(LoadBE32(&bytes[0]), 12u);
      EXPECT_EQ(LoadBE32(&bytes[4]), 0x6A502020u);  // "jP  " signature box
      const size_t ihdr = Find(bytes, "ihdr");
      ASSERT_NE(ihdr, std::string::npos);
      EXPECT_EQ(LoadBE32(&bytes[ihdr + 4]), 33u);
      EXPECT_EQ(LoadBE32(&bytes[ihdr + 8]), 47u);
      EXPECT_EQ(LoadBE16(&bytes[ihdr + 12]), c.components);
      EXPECT_EQ(bytes[ihdr + 14], 7u);  // 8-bit unsigned
      const size_t colr = Find(bytes, "colr");
      ASSERT_NE(colr, std::string::npos);
      EXPECT_EQ(bytes[colr + 4], 1u);  // enumerated colour space
      EXPECT_EQ(LoadBE32(&bytes[colr + 7]), c.enumeratedColourSpace);
    } else {
      ASSERT_GE(bytes.size(), 4u);
      EXPECT_EQ(LoadBE32(&bytes[0]), 0xFF4FFF51u);  // a bare code stream starts at SOC, SIZ
      EXPECT_EQ(Find(bytes, "jP  "), std::string::npos);
    }
    const CodeStreamFields f = ReadCodeStream(bytes);
    EXPECT_EQ(f.width, 47u);
    EXPECT_EQ(f.height, 33u);
    EXPECT_EQ(f.components, c.components);
    EXPECT_EQ(f.sampleDepth, 7u);  // 8 bits, unsigned
    EXPECT_EQ(f.layers, 1u);
    EXPECT_EQ(f.mct, c.components == 3 ? 1u : 0u);
    EXPECT_EQ(f.levels, 5u);     // six resolutions: 33 rows allow five decompositions
    EXPECT_EQ(f.transform, 1u);  // reversible 5/3
  }
}

// The image quality limits the size to rate x the uncompressed size. Noise cannot be
// compressed, so the limit bites and the result is lossy, but it must stay close.
TEST(Jpeg2000Encode, QualityLimitsTheSizeWithinAStatedError) {
  struct Case {
    uint32_t quality;
    double minimumPsnr;
  };
  TempDir dir;
  for (const Case c : {Case{75, 36.0}, Case{50, 26.0}, Case{25, 15.0}}) {
    for (const uint32_t bpp : {24u, 8u}) {
      SCOPED_TRACE(testing::Message() << "quality " << c.quality << ", bpp " << bpp);
      auto image = MakeImage(128, 96, bpp);
      FillNoise(*image, c.quality + bpp);
      image->SetQuality(c.quality);
      const std::string path = dir.File("noise.jp2");
      ASSERT_TRUE(image->Save(path, ImageFormat::Jp2)) << image->ErrorText();
      const double raw = 128.0 * 96 * (bpp / 8);
      const double size = static_cast<double>(std::filesystem::file_size(path));
      EXPECT_LE(size, raw * c.quality / 100 + 200);  // headers are not counted by the rate
      EXPECT_GE(size, raw * c.quality / 100 * 0.8);

      const auto pillow = PillowDecode(path);
      ASSERT_TRUE(pillow);
      const double psnr = Psnr(pillow->pixels, TopDownRgb(*image));
      std::printf("quality %u (rate %.3f), %u bpp noise: PSNR %.2f dB, %.0f of %.0f bytes\n",
                  c.quality, Jpeg2000TargetRate(static_cast<float>(c.quality)), bpp, psnr, size,
                  raw);
      EXPECT_GE(psnr, c.minimumPsnr);
      EXPECT_TRUE(std::isfinite(psnr));  // the limit did bite
    }
  }
}

// A page that compresses below the target (as rendered pages do) keeps every coding pass.
// Noise just above the lossless size must still be cut to the target.
TEST(Jpeg2000Encode, ATargetAboveTheLosslessSizeKeepsEveryPixel) {
  TempDir dir;
  for (const ImageFormat format : {ImageFormat::Jp2, ImageFormat::Jpc}) {
    for (const uint32_t bpp : {24u, 8u}) {
      for (const uint32_t quality : {90u, 40u}) {
        SCOPED_TRACE(testing::Message()
                     << "format " << format << ", bpp " << bpp << ", quality " << quality);
        auto image = MakeImage(128, 96, bpp);
        image->SetQuality(quality);
        const std::string path = dir.File(std::string("smooth") + Extension(format));
        ASSERT_TRUE(image->Save(path, format)) << image->ErrorText();
        const auto pillow = PillowDecode(path);
        ASSERT_TRUE(pillow);
        EXPECT_EQ(pillow->pixels, TopDownRgb(*image));
      }
    }
  }
  auto noise = MakeImage(128, 96, 24);
  FillNoise(*noise, 99);
  noise->SetQuality(99);
  const std::string path = dir.File("noise99.jp2");
  ASSERT_TRUE(noise->Save(path, ImageFormat::Jp2)) << noise->ErrorText();
  EXPECT_LE(std::filesystem::file_size(path), 128u * 96 * 3 * 99 / 100 + 200);
  const auto pillow = PillowDecode(path);
  ASSERT_TRUE(pillow);
  EXPECT_NE(pillow->pixels, TopDownRgb(*noise));
}

TEST(Jpeg2000Encode, KeepsBytesBeforeItAndLeavesTheStreamOpen) {
  auto image = MakeImage(47, 33, 24);
  image->SetQuality(100);
  MemoryStream stream;
  ASSERT_TRUE(stream.OpenEmpty());
  ASSERT_EQ(stream.WriteBytes("ABC", 1, 3), 3u);
  ASSERT_TRUE(image->Encode(&stream, ImageFormat::Jp2)) << image->ErrorText();
  // Still open and usable: the caller may append.
  EXPECT_EQ(stream.Position(), stream.Length());
  ASSERT_EQ(stream.WriteBytes("Z", 1, 1), 1u);

  const uint8_t* data = stream.DetachBuffer(false);
  const std::vector<uint8_t> bytes(data, data + stream.Length());
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "ABC");
  EXPECT_EQ(bytes.back(), 'Z');
  TempDir dir;
  test::WriteFileBytes(dir.File("inner.jp2"),
                       std::vector<uint8_t>(bytes.begin() + 3, bytes.end() - 1));
  const auto pillow = PillowDecode(dir.File("inner.jp2"));
  ASSERT_TRUE(pillow);
  EXPECT_EQ(pillow->pixels, TopDownRgb(*image));
}

// A program converting several pages at once keeps each encoder on one thread; the code stream
// is the same whatever the number of threads.
TEST(Jpeg2000Encode, OneThreadWritesTheSameCodeStream) {
  const auto encode = [](int threads, int quality) {
    auto image = MakeImage(301, 257, 24);
    image->SetQuality(static_cast<uint32_t>(quality));
    image->SetEncoderThreads(threads);
    MemoryStream stream;
    EXPECT_TRUE(stream.OpenEmpty());
    EXPECT_TRUE(image->Encode(&stream, ImageFormat::Jp2)) << image->ErrorText();
    const size_t length = static_cast<size_t>(stream.Length());
    const uint8_t* data = stream.DetachBuffer(false);
    return std::vector<uint8_t>(data, data + length);
  };
  for (const int quality : {100, 40}) {
    SCOPED_TRACE(quality);
    EXPECT_EQ(encode(1, quality), encode(0, quality));
    EXPECT_EQ(encode(1, quality), encode(4, quality));
  }
}

TEST(Jpeg2000Encode, AlphaPlaneIsNotWritten) {
  auto image = MakeImage(20, 10, 24);
  image->SetQuality(100);
  ASSERT_TRUE(image->AllocateAlpha());
  image->ZeroAlpha();
  TempDir dir;
  ASSERT_TRUE(image->Save(dir.File("a.jp2"), ImageFormat::Jp2));
  const auto pillow = PillowDecode(dir.File("a.jp2"));
  ASSERT_TRUE(pillow);
  EXPECT_EQ(pillow->mode, "RGB");
  EXPECT_EQ(pillow->pixels, TopDownRgb(*image));
}

TEST(Jpeg2000Encode, RefusesWhatItCannotWrite) {
  for (const ImageFormat format : {ImageFormat::Jp2, ImageFormat::Jpc}) {
    SCOPED_TRACE(format);
    MemoryStream stream;
    ASSERT_TRUE(stream.OpenEmpty());

    auto colour4 = MakeImage(8, 8, 4);
    colour4->SetPaletteEntry(3, 200, 10, 10);
    EXPECT_FALSE(colour4->Encode(&stream, format));
    EXPECT_EQ(colour4->ErrorText(), "OpenJPEG can save only RGB or GrayScale images");

    auto blackWhite = MakeImage(8, 8, 1);
    blackWhite->SetPaletteEntry(1, 255, 255, 255);
    EXPECT_FALSE(blackWhite->Encode(&stream, format));
    EXPECT_EQ(blackWhite->ErrorText(), "OpenJPEG can save only RGB or GrayScale images");
    EXPECT_EQ(stream.Length(), 0);

    RasterImage empty;
    EXPECT_FALSE(empty.Encode(&stream, format));
    EXPECT_EQ(empty.ErrorText(), "null image!!!");
    auto image = MakeImage(8, 8, 24);
    EXPECT_FALSE(image->Encode(nullptr, format));
    EXPECT_EQ(image->ErrorText(), "null file handler");
  }
}

// A stream that stops accepting bytes, or cannot seek back to finish the JP2 box lengths, makes
// the encode fail with our message; OpenJPEG's own text is kept aside and nothing is printed.
TEST(Jpeg2000Encode, StreamFailuresAreReportedAndOpenJpegStaysQuiet) {
  struct Case {
    ImageFormat format;
    size_t acceptBytes;
    bool seekable;
    bool smoothSucceeds;  // written in one piece from memory, so seeking is not needed
  };
  for (const Case c :
       {Case{ImageFormat::Jp2, 0, true, false}, Case{ImageFormat::Jp2, 100, true, false},
        Case{ImageFormat::Jpc, 0, true, false}, Case{ImageFormat::Jpc, 300, true, false},
        Case{ImageFormat::Jp2, SIZE_MAX, false, true}}) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << ", accept " << c.acceptBytes
                                    << ", seekable " << c.seekable);
    // Noise misses the target losslessly, so OpenJPEG itself meets the refusing stream; the
    // smooth picture is encoded in memory first and fails when it is handed over.
    for (const bool noise : {true, false}) {
      auto image = MakeImage(64, 64, 24);
      if (noise) FillNoise(*image, 7);
      RefusingStream stream(c.acceptBytes, c.seekable);
      const Jpeg2000Container container =
          c.format == ImageFormat::Jp2 ? Jpeg2000Container::Jp2 : Jpeg2000Container::CodeStream;
      std::string libraryMessages;
      testing::internal::CaptureStderr();
      testing::internal::CaptureStdout();
      const Status status =
          EncodeJpeg2000(*image, Jpeg2000OptionsOf(*image, container), stream, &libraryMessages);
      const std::string printed =
          testing::internal::GetCapturedStderr() + testing::internal::GetCapturedStdout();
      EXPECT_EQ(printed, "");
      if (!noise && c.smoothSucceeds) {
        EXPECT_TRUE(status.IsOk()) << status.Message();
        EXPECT_GT(stream.Length(), 0);
        continue;
      }
      EXPECT_FALSE(status.IsOk());
      // Our message, then OpenJPEG's reason when it gave one.
      EXPECT_EQ(status.Message().rfind("error: cannot encode image", 0), 0u) << status.Message();
      EXPECT_EQ(status.Message().find("tile number"), std::string::npos) << status.Message();
      if (noise) {
        EXPECT_FALSE(libraryMessages.empty());
      }
    }
  }
}

}  // namespace
}  // namespace orvalis
