#pragma once
// Pictures made in code for the tests: palette and true-colour pictures that take every path of
// the encoders, random pictures for the colour and geometry steps, checks that Pillow or netpbm
// decode a file to exactly the colours an image holds, and a stream that stops accepting bytes.
// Whole pages written as BMP files are in test_pages.h.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/byte_stream.h"
#include "image/raster_image.h"
#include "tests/support/oracle.h"
#include "tests/support/pnm.h"

namespace orvalis::test {

// A palette image of 1, 4 or 8 bits whose rows mix long runs, short runs, gradients and noise,
// so that every path of a run-length or dictionary coder is taken. Palette entries are distinct.
inline void FillIndexed(RasterImage& image) {
  const uint32_t colors = image.ColorCount();
  for (uint32_t i = 0; i < colors; ++i) {
    image.SetPaletteEntry(i, static_cast<uint8_t>(i * 37 + 11), static_cast<uint8_t>(i * 91 + 5),
                          static_cast<uint8_t>(255 - i * 13));
  }
  if (colors == 2) {
    image.SetPaletteEntry(0, 0, 0, 0);
    image.SetPaletteEntry(1, 255, 255, 255);
  }
  uint32_t noise = 12345;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      noise = noise * 1103515245u + 12345u;
      uint32_t v = 0;
      switch (y % 5) {
        case 0:
          v = 1;
          break;  // one long run
        case 1:
          v = (x / 9 + y) % colors;
          break;  // runs of nine
        case 2:
          v = (noise >> 16) % colors;
          break;  // noise
        case 3:
          v = x % 3 == 0 ? 0 : 1;
          break;  // one pixel, then a run of two
        default:
          v = (x * 7 + y) % colors;
          break;  // a gradient
      }
      image.SetIndexAt(x, y, static_cast<uint8_t>(v % colors));
    }
  }
}

inline void MakeIndexed(RasterImage& image, uint32_t width, uint32_t height, uint32_t bpp) {
  ASSERT_NE(image.Create(width, height, bpp, ImageFormat::Bmp), nullptr);
  FillIndexed(image);
}

// A 24-bit picture where neighbouring pixels differ, with a few flat areas.
inline void MakeTrueColor(RasterImage& image, uint32_t width, uint32_t height) {
  ASSERT_NE(image.Create(width, height, 24, ImageFormat::Bmp), nullptr);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      const bool flat = (x / 8 + y / 8) % 4 == 0;
      const RGBQUAD c{static_cast<uint8_t>(flat ? 200 : (x * 13 + y * 7)),
                      static_cast<uint8_t>(flat ? 30 : (y * 255 / height)),
                      static_cast<uint8_t>(flat ? 90 : (x * 255 / width)), 0};
      image.SetColorAt(x, y, c);
    }
  }
}

// A palette picture for 1, 4 and 8 bits, a true-colour one for 24.
inline void MakeImage(RasterImage& image, uint32_t width, uint32_t height, uint32_t bpp) {
  if (bpp == 24) {
    MakeTrueColor(image, width, height);
  } else {
    MakeIndexed(image, width, height, bpp);
  }
}

// Pillow decodes `path` (frame `frame`) to exactly the colours of `image`, pixel for pixel.
inline void ExpectPillowReads(const std::string& path, const RasterImage& image, int frame = 0) {
  std::string error;
  const auto decoded = PillowDecode(path, frame, &error);
  ASSERT_TRUE(decoded.has_value()) << error;
  ASSERT_EQ(decoded->width, static_cast<int>(image.Width()));
  ASSERT_EQ(decoded->height, static_cast<int>(image.Height()));
  int mismatches = 0;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const RGBQUAD want = image.ColorAt(x, image.Height() - 1 - top);
      const auto got = decoded->At(static_cast<int>(x), static_cast<int>(top));
      if (got[0] != want.rgbRed || got[1] != want.rgbGreen || got[2] != want.rgbBlue) {
        if (++mismatches <= 3) {
          ADD_FAILURE() << path << ": pixel (" << x << ", " << top << " from the top) is "
                        << int{got[0]} << "," << int{got[1]} << "," << int{got[2]} << ", expected "
                        << int{want.rgbRed} << "," << int{want.rgbGreen} << ","
                        << int{want.rgbBlue};
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0) << path;
}

// A netpbm decoder (`tool`, such as pcxtoppm), a second reader besides Pillow: the pixels must
// be exactly the image's.
inline void ExpectNetpbmReads(const char* tool, const std::string& path, const RasterImage& image) {
  const auto run = RunCommand({tool, path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto pnm = ParsePnm(run.out);
  ASSERT_TRUE(pnm.has_value());
  ASSERT_EQ(pnm->width, static_cast<int>(image.Width()));
  ASSERT_EQ(pnm->height, static_cast<int>(image.Height()));
  int mismatches = 0;
  for (uint32_t top = 0; top < image.Height(); ++top) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const RGBQUAD want = image.ColorAt(x, image.Height() - 1 - top);
      const size_t at = (size_t{top} * image.Width() + x) * pnm->channels;
      const uint8_t* got = &pnm->pixels[at];
      const bool same = pnm->channels == 1 ? got[0] == want.rgbRed && want.rgbRed == want.rgbBlue
                                           : got[0] == want.rgbRed && got[1] == want.rgbGreen &&
                                                 got[2] == want.rgbBlue;
      if (!same) ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0) << path;
}

// A memory stream that accepts `limit` bytes and then writes nothing more, reporting the short
// count as fwrite does when a disk is full.
class StoppingStream : public MemoryStream {
 public:
  explicit StoppingStream(int64_t limit) : limit_(limit) { OpenEmpty(); }

  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override {
    if (itemSize == 0) return 0;
    const int64_t room = std::max<int64_t>(limit_ - Position(), 0);
    const size_t items = std::min<size_t>(itemCount, static_cast<size_t>(room) / itemSize);
    return items == 0 ? 0 : MemoryStream::WriteBytes(source, itemSize, items);
  }
  bool PutByte(uint8_t value) override {
    return Position() < limit_ && MemoryStream::PutByte(value);
  }

 private:
  int64_t limit_;
};

// The bytes a MemoryStream holds.
inline std::vector<uint8_t> StreamBytes(MemoryStream& stream) {
  const uint8_t* data = stream.DetachBuffer(false);
  const int64_t length = stream.Length();
  if (data == nullptr || length <= 0) return {};
  return {data, data + length};
}

// ---- Random pictures and their raw values, for the colour-reduction and geometry suites ----
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
