// TIFF encodes of a 300 dpi letter page (2550 x 3300) into memory: LZW and JPEG (the encoder's
// own YCbCr path) of a colour page, LZW of a 256-colour page, and three LZW pages appended to
// one document.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "image/byte_stream.h"
#include "image/codec_tiff.h"
#include "image/raster_image.h"
#include "image/tiff_ycbcr.h"

namespace orvalis {
namespace {

constexpr uint32_t kWidth = 2550;
constexpr uint32_t kHeight = 3300;

// A page that looks like a rendered document: white paper, lines of "text" (short dark runs),
// a colour photograph-like block with gradients, and a few solid boxes.
RGBQUAD PagePixel(uint32_t x, uint32_t y) {
  const bool inPhoto = x >= 300 && x < 1500 && y >= 1800 && y < 2700;
  if (inPhoto) {
    return {static_cast<uint8_t>((x * 3 + y) / 7), static_cast<uint8_t>((y * 5 - x) / 9),
            static_cast<uint8_t>((x ^ y) & 0xFF), 0};
  }
  const bool inBox = x >= 1700 && x < 2300 && y >= 400 && y < 900;
  if (inBox) return {40, 90, 200, 0};
  const uint32_t line = y / 48, inLine = y % 48;
  const bool textRow = inLine >= 12 && inLine < 34 && x >= 200 && x < 2350 && line % 9 != 8;
  if (textRow && ((x / 7 + line * 13) % 11 < 6) && ((x * 31 + y * 17) % 5 != 0))
    return {20, 20, 20, 0};
  return {255, 255, 255, 0};
}

void PaintColourPage(RasterImage& image) {
  image.Create(kWidth, kHeight, 24, ImageFormat::Bmp);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) image.SetColorAtUnchecked(x, y, PagePixel(x, y));
  image.SetResolutionX(300);
  image.SetResolutionY(300);
  image.SetQuality(75);
}

// The same page as 8-bit indices over a 6 x 7 x 6 colour cube.
void PaintPalettePage(RasterImage& image) {
  image.Create(kWidth, kHeight, 8, ImageFormat::Bmp);
  for (uint32_t i = 0; i < 252; ++i)
    image.SetPaletteEntry(i, static_cast<uint8_t>(i / 42 * 51),
                          static_cast<uint8_t>(i / 6 % 7 * 42), static_cast<uint8_t>(i % 6 * 51));
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      const RGBQUAD c = PagePixel(x, y);
      image.SetIndexAtUnchecked(
          x, y, static_cast<uint8_t>(c.rgbRed / 51 * 42 + c.rgbGreen / 42 * 6 + c.rgbBlue / 51));
    }
  }
  image.SetResolutionX(300);
  image.SetResolutionY(300);
}

void EncodeSingle(benchmark::State& state, RasterImageTIF& page, uint32_t option) {
  page.SetEncoderOption(option, ImageFormat::Tiff);
  int64_t bytes = 0;
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!page.SaveToStream(&stream, false)) state.SkipWithError(page.ErrorText().c_str());
    bytes = stream.Length();
    benchmark::DoNotOptimize(bytes);
  }
  const int64_t raw = static_cast<int64_t>(page.RowStride()) * page.Height();
  state.counters["file_bytes"] = static_cast<double>(bytes);
  state.counters["ratio"] = static_cast<double>(raw) / static_cast<double>(bytes);
  state.SetBytesProcessed(state.iterations() * raw);
}

void BM_TiffLzw24(benchmark::State& state) {
  RasterImageTIF page;
  PaintColourPage(page);
  EncodeSingle(state, page, 5);
}
BENCHMARK(BM_TiffLzw24)->Unit(benchmark::kMillisecond);

void BM_TiffJpegYCbCr24(benchmark::State& state) {
  RasterImageTIF page;
  PaintColourPage(page);
  EncodeSingle(state, page, RasterImageTIF::kJpegYCbCrOption);
}
BENCHMARK(BM_TiffJpegYCbCr24)->Unit(benchmark::kMillisecond);

void BM_TiffLzw8(benchmark::State& state) {
  RasterImageTIF page;
  PaintPalettePage(page);
  EncodeSingle(state, page, 5);
}
BENCHMARK(BM_TiffLzw8)->Unit(benchmark::kMillisecond);

void BM_TiffNone24(benchmark::State& state) {
  RasterImageTIF page;
  PaintColourPage(page);
  EncodeSingle(state, page, 1);
}
BENCHMARK(BM_TiffNone24)->Unit(benchmark::kMillisecond);

// The encoder's own RGB-to-YCbCr conversion alone, over the whole page: its share of the JPEG
// encode above.
void BM_YCbCrConvertPage(benchmark::State& state) {
  YCbCrTables tables;
  tables.Fill();
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * 3), out(rgb.size());
  for (uint32_t x = 0; x < kWidth; ++x) {
    const RGBQUAD c = PagePixel(x, 2000);
    rgb[x * 3] = c.rgbRed;
    rgb[x * 3 + 1] = c.rgbGreen;
    rgb[x * 3 + 2] = c.rgbBlue;
  }
  for (auto _ : state) {
    for (uint32_t y = 0; y < kHeight; ++y) {
      tables.ConvertRow(rgb.data(), kWidth, out.data());
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(rgb.size()) * kHeight);
}
BENCHMARK(BM_YCbCrConvertPage)->Unit(benchmark::kMillisecond);

// Three colour pages appended to one open document, as the engine's merged TIFF does.
void BM_TiffLzw24ThreePagesAppended(benchmark::State& state) {
  RasterImageTIF page;
  PaintColourPage(page);
  page.SetEncoderOption(5, ImageFormat::Tiff);
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    for (int i = 0; i < 3; ++i)
      if (!page.SaveToStream(&stream, true)) state.SkipWithError(page.ErrorText().c_str());
    page.EndDocument();
    benchmark::DoNotOptimize(stream.Length());
  }
}
BENCHMARK(BM_TiffLzw24ThreePagesAppended)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvalis
