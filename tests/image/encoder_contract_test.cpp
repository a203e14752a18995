// What every encoder of the codec table owes its caller: it refuses a missing stream and an
// empty image with a message, never reports success when the stream stopped taking bytes or
// cannot flush, and writes tiny pages at every depth it takes so that Pillow reads them back.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/codec_table.h"
#include "image/raster_image.h"
#include "tests/support/failing_stream.h"
#include "tests/support/format_printing.h"
#include "tests/support/oracle.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

// Which depths each encoder takes (8g: 8 bits with the gray ramp), whether it keeps every
// pixel exactly, and the message a failed write gives (the start of it, for encoders that add
// their library's reason). PCX and TIFF say so apart when their header did not fit.
struct Contract {
  ImageFormat format;
  const char* extension;
  bool takes1, takes4, takes8, takes8g;  // 24 bits: every encoder
  bool lossless;
  const char* writeError;
  const char* headerError = nullptr;
  int64_t headerBytes = 0;
};

const Contract kContracts[] = {
    {ImageFormat::Bmp, "bmp", true, true, true, true, true, "BMP write failed"},
    {ImageFormat::Gif, "gif", true, true, true, true, true, "Write Error in GIF file"},
    {ImageFormat::Jpeg, "jpg", false, false, false, true, false,
     "Output file write error --- out of disk space?"},
    {ImageFormat::Png, "png", true, true, true, true, true, "Error saving PNG file"},
    {ImageFormat::Tga, "tga", false, false, true, true, true, "cannot write TGA file"},
    {ImageFormat::Pcx, "pcx", true, true, true, true, true, "cannot write PCX file",
     "cannot write PCX header", 128},
    {ImageFormat::Tiff, "tif", true, true, true, true, true, "Error saving TIFF",
     "initialization fail: TIFF IMAGE: Error writing TIFF header", 8},
    {ImageFormat::Jp2, "jp2", false, false, false, true, true, "error: cannot encode image"},
    {ImageFormat::Jpc, "j2k", false, false, false, true, true, "error: cannot encode image"},
    {ImageFormat::Ras, "ras", false, false, false, true, true, "error: cannot encode image"},
};

std::string ExpectedWriteError(const Contract& c, int64_t limit) {
  return c.headerError != nullptr && limit < c.headerBytes ? c.headerError : c.writeError;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

void MakePage(RasterImage& image, uint32_t width, uint32_t height, int depth) {
  test::MakeImage(image, width, height, depth == 80 ? 8 : static_cast<uint32_t>(depth));
  if (depth == 80) image.ApplyGrayRamp();
}

TEST(EncoderContract, EveryEncoderOfTheCodecTableHasARow) {
  size_t encoders = 0;
  for (const CodecEntry& codec : Codecs()) {
    if (codec.encode == nullptr) continue;
    ++encoders;
    bool found = false;
    for (const Contract& c : kContracts) found = found || c.format == codec.format;
    EXPECT_TRUE(found) << codec.format << " has no row in this table";
  }
  EXPECT_EQ(encoders, std::size(kContracts));
}

TEST(EncoderContract, NoStreamAndAnEmptyImageAreRefusedWithAMessage) {
  for (const Contract& c : kContracts) {
    RasterImage page;
    MakePage(page, 4, 3, 24);
    EXPECT_FALSE(page.Encode(nullptr, c.format)) << c.format;
    EXPECT_EQ(page.ErrorText(), "null file handler") << c.format;

    RasterImage empty;
    MemoryStream stream;
    stream.OpenEmpty();
    EXPECT_FALSE(empty.Encode(&stream, c.format)) << c.format;
    EXPECT_EQ(empty.ErrorText(), "null image!!!") << c.format;
  }
}

// A stream that stops taking bytes anywhere, or takes them all but cannot flush, fails the
// encode with a message: a cut file never counts as written.
TEST(EncoderContract, AStreamThatStopsShortFailsTheEncode) {
  for (const Contract& c : kContracts) {
    for (const int depth : {24, 80}) {
      RasterImage page;
      MakePage(page, 61, 23, depth);
      MemoryStream whole;
      whole.OpenEmpty();
      ASSERT_TRUE(page.Encode(&whole, c.format)) << c.format << ": " << page.ErrorText();
      const int64_t size = whole.Length();
      struct Stop {
        int64_t limit;
        bool flushFails;
      };
      for (const Stop stop : {Stop{0, false}, Stop{1, false}, Stop{size / 2, false},
                              Stop{size - 1, false}, Stop{size, true}}) {
        SCOPED_TRACE(testing::Message() << c.format << " depth " << depth << " limit " << stop.limit
                                        << (stop.flushFails ? " no flush" : ""));
        test::FailingStream stream(stop.limit, stop.flushFails);
        RasterImage copy;
        MakePage(copy, 61, 23, depth);
        EXPECT_FALSE(copy.Encode(&stream, c.format));
        EXPECT_TRUE(StartsWith(copy.ErrorText(), ExpectedWriteError(c, stop.limit)))
            << "[" << copy.ErrorText() << "]";
        EXPECT_LE(stream.Length(), std::max<int64_t>(stop.limit, 0));
      }
    }
  }
}

// A full disk (a device node of our own that behaves as the full device; only as root) fails
// the save with a message.
TEST(EncoderContract, AFullDiskFailsTheSave) {
  test::TempDir dir;
  const std::string full = dir.File("full");
  if (::geteuid() != 0 || ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "a device node cannot be made here";
  for (const Contract& c : kContracts) {
    RasterImage page;
    MakePage(page, 300, 200, 24);
    EXPECT_FALSE(page.Save(full, c.format)) << c.format;
    EXPECT_TRUE(StartsWith(page.ErrorText(), c.writeError)) << c.format << ": " << page.ErrorText();
  }
}

// 1x1, 1x3, 3x1 and 9x2 pages at every depth an encoder takes, read back by Pillow; a depth it does
// not take is refused with a message.
TEST(EncoderContract, TinyPagesAtEveryDepthReadBack) {
  test::TempDir dir;
  struct Size {
    uint32_t width, height;
  };
  for (const Contract& c : kContracts) {
    const std::pair<int, bool> depths[] = {
        {1, c.takes1}, {4, c.takes4}, {8, c.takes8}, {80, c.takes8g}, {24, true}};
    for (const auto& [depth, taken] : depths) {
      for (const Size size : {Size{1, 1}, Size{1, 3}, Size{3, 1}, Size{9, 2}}) {
        SCOPED_TRACE(testing::Message()
                     << c.format << " depth " << depth << " " << size.width << "x" << size.height);
        RasterImage page;
        MakePage(page, size.width, size.height, depth);
        // TIFF's own choice for 24-bit pages is JPEG: LZW keeps them exact. JPEG 2000 is
        // lossless at quality 100.
        if (c.format == ImageFormat::Tiff) page.SetEncoderOption(5, ImageFormat::Tiff);
        page.SetQuality(100);
        const std::string path = dir.File(std::string("tiny.") + c.extension);
        const bool saved = page.Save(path, c.format);
        EXPECT_EQ(saved, taken) << page.ErrorText();
        if (!saved) {
          EXPECT_FALSE(page.ErrorText().empty());
          continue;
        }
        if (c.format == ImageFormat::Pcx) {
          // Pillow misreads the padded planes of narrow PCX pages; netpbm reads them right.
          test::ExpectNetpbmReads("pcxtoppm", path, page);
        } else if (c.format == ImageFormat::Ras && size.width * size.height == 1) {
          // Pillow refuses a one-pixel Sun raster (its padded row looks short to it).
          test::ExpectNetpbmReads("rasttopnm", path, page);
        } else if (c.lossless) {
          test::ExpectPillowReads(path, page);
        } else {
          const auto decoded = test::PillowDecode(path);
          ASSERT_TRUE(decoded.has_value());
          EXPECT_EQ(decoded->width, static_cast<int>(size.width));
          EXPECT_EQ(decoded->height, static_cast<int>(size.height));
        }
      }
    }
  }
}

// Encoders read the image and never write to it: not the pixels, the palette, the alpha plane
// nor the settings, even where the file wants a different order (TIFF stores white as 0, PNG
// the transparent entry first, a PNG colour key becomes alpha 0). Each picture is one that a
// format rewrites on its way out; every encoder meets every picture it takes.
TEST(EncoderContract, EncodingLeavesTheImageAsItWas) {
  const auto blackFirstBilevel = [](RasterImage& image) {
    test::MakeImage(image, 21, 7, 1);
    image.SetPaletteEntry(0, 0, 0, 0);
    image.SetPaletteEntry(1, 255, 255, 255);
  };
  const auto transparentEntry = [](RasterImage& image) {
    test::MakeImage(image, 13, 5, 8);
    image.SetTransparentIndex(5);
  };
  const auto keyedAlpha = [](RasterImage& image) {
    test::MakeImage(image, 13, 5, 24);
    ASSERT_TRUE(image.AllocateAlpha());
    for (uint32_t y = 0; y < 5; ++y)
      for (uint32_t x = 0; x < 13; ++x) image.SetAlphaAt(x, y, static_cast<uint8_t>(x * 19 + y));
    image.SetTransparentIndex(0);
    image.SetTransparentColor(image.ColorAt(2, 3));
  };
  const struct {
    const char* name;
    void (*make)(RasterImage&);
  } pictures[] = {{"black-first 1-bit", blackFirstBilevel},
                  {"8-bit with transparent entry 5", transparentEntry},
                  {"24-bit with alpha and colour key", keyedAlpha}};
  for (const Contract& c : kContracts) {
    for (const auto& picture : pictures) {
      SCOPED_TRACE(testing::Message() << c.format << ", " << picture.name);
      RasterImage image;
      picture.make(image);
      const std::vector<uint8_t> block(image.BitmapBlock(),
                                       image.BitmapBlock() + image.BlockSize());
      const size_t alphaSize = image.HasAlpha() ? size_t{image.Width()} * image.Height() : 0;
      const std::vector<uint8_t> alpha(image.AlphaPlane(), image.AlphaPlane() + alphaSize);
      const int32_t transparentIndex = image.TransparentIndex();
      const uint8_t nearestBlack = image.ClosestPaletteIndex(RGBQUAD{});  // cached now

      MemoryStream stream;
      ASSERT_TRUE(stream.OpenEmpty());
      (void)EncodeImage(image, c.format, stream);  // some formats refuse some pictures

      EXPECT_TRUE(std::equal(block.begin(), block.end(), image.BitmapBlock()));
      EXPECT_TRUE(std::equal(alpha.begin(), alpha.end(), image.AlphaPlane()));
      EXPECT_EQ(image.TransparentIndex(), transparentIndex);
      EXPECT_EQ(image.ClosestPaletteIndex(RGBQUAD{}), nearestBlack);
    }
  }
}

}  // namespace
}  // namespace orvalis
