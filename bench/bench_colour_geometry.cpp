// Speed of colour reduction and geometry on a 300 dpi US letter page (2550 x 3300, 24 bits).
//
// The page is made in code: its upper half is a two-way colour gradient with a diagonal ripple
// (hundreds of thousands of distinct colours, the hard case for palette reduction), its lower half
// white paper with solid shapes and soft-edged bands, like a rendered document. The colour
// reductions run the engine's sequence (octree palette, then DecreaseBpp) with the plain linear
// nearest-colour search and with the indexed one; both give the same pixels.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "image/colour_reduction.h"
#include "image/raster_image.h"

namespace orvalis {
namespace {

constexpr uint32_t kWidth = 2550;
constexpr uint32_t kHeight = 3300;

void DrawPage(RasterImage& page) {
  page.Create(kWidth, kHeight, 24, ImageFormat::Bmp);
  page.SetResolutionX(300);
  page.SetResolutionY(300);
  for (uint32_t y = 0; y < kHeight; ++y) {
    uint8_t* p = page.RowAddress(y);
    for (uint32_t x = 0; x < kWidth; ++x, p += 3) {
      const bool upper = y >= kHeight / 2;
      uint32_t r = 255, g = 255, b = 255;
      if (upper) {
        const double ripple = 24.0 * std::sin((x + y) * 0.013);
        r = x * 255 / kWidth;
        g = (y - kHeight / 2) * 255 / (kHeight / 2);
        b = static_cast<uint32_t>(std::clamp(128.0 + ripple + (x % 97), 0.0, 255.0));
      } else {
        const int dx = static_cast<int>(x) - 800, dy = static_cast<int>(y) - 900;
        if (dx * dx + dy * dy < 400 * 400) {
          r = 200, g = 30, b = 40;  // a disc
        } else if (x > 1400 && x < 2300 && y > 300 && y < 1200) {
          r = 20, g = 90, b = 180;  // a box
        } else if ((y / 40) % 3 == 0 && x > 200 && x < 2350) {
          const uint32_t edge = std::min<uint32_t>(y % 40, 39 - y % 40);  // soft text-like bands
          r = g = b = 255 - std::min<uint32_t>(255, edge * 30);
        }
      }
      p[0] = static_cast<uint8_t>(b);
      p[1] = static_cast<uint8_t>(g);
      p[2] = static_cast<uint8_t>(r);
    }
  }
}

RasterImage& Page() {
  static RasterImage page;
  if (!page.IsValid()) DrawPage(page);
  return page;
}

// A fresh copy of the page for operations that work in place.
void CopyPage(RasterImage& copy) {
  Page().Resize(kWidth, kHeight, 1, &copy);
}

void ReduceColours(benchmark::State& state, uint32_t maxColors, uint32_t colorBits, uint32_t depth,
                   PaletteSearch search) {
  for (auto _ : state) {
    state.PauseTiming();
    RasterImage image;
    CopyPage(image);
    state.ResumeTiming();
    OctreeQuantizer quantizer(maxColors, colorBits);
    quantizer.AddBitmapColors(image.BitmapBlock());
    std::vector<RGBQUAD> palette(maxColors);
    quantizer.WritePalette(palette.data());
    if (!DecreaseBppUsing(image, depth, false, palette.data(), maxColors, search))
      state.SkipWithError("DecreaseBpp failed");
    benchmark::DoNotOptimize(image.PixelRows());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_Reduce256(benchmark::State& state) {
  ReduceColours(state, 256, 7, 8, static_cast<PaletteSearch>(state.range(0)));
}
BENCHMARK(BM_Reduce256)->Arg(0)->Arg(1)->ArgName("indexed")->Unit(benchmark::kMillisecond);

void BM_Reduce16(benchmark::State& state) {
  ReduceColours(state, 16, 8, 4, static_cast<PaletteSearch>(state.range(0)));
}
BENCHMARK(BM_Reduce16)->Arg(0)->Arg(1)->ArgName("indexed")->Unit(benchmark::kMillisecond);

// DecreaseBpp alone, against the page's 256-colour octree palette: the nearest-colour search.
void BM_DecreaseBpp256Only(benchmark::State& state) {
  OctreeQuantizer quantizer(256, 7);
  quantizer.AddBitmapColors(Page().BitmapBlock());
  std::vector<RGBQUAD> palette(256);
  quantizer.WritePalette(palette.data());
  for (auto _ : state) {
    state.PauseTiming();
    RasterImage image;
    CopyPage(image);
    state.ResumeTiming();
    if (!DecreaseBppUsing(image, 8, false, palette.data(), 256,
                          static_cast<PaletteSearch>(state.range(0))))
      state.SkipWithError("DecreaseBpp failed");
    benchmark::DoNotOptimize(image.PixelRows());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_DecreaseBpp256Only)->Arg(0)->Arg(1)->ArgName("indexed")->Unit(benchmark::kMillisecond);

void BM_Octree256Only(benchmark::State& state) {
  RasterImage& page = Page();
  for (auto _ : state) {
    OctreeQuantizer quantizer(256, 7);
    quantizer.AddBitmapColors(page.BitmapBlock());
    std::vector<RGBQUAD> palette(256);
    quantizer.WritePalette(palette.data());
    benchmark::DoNotOptimize(palette.data());
  }
}
BENCHMARK(BM_Octree256Only)->Unit(benchmark::kMillisecond);

void BM_ToGrayscale(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    RasterImage image;
    CopyPage(image);
    state.ResumeTiming();
    image.ToGrayscale();
    benchmark::DoNotOptimize(image.PixelRows());
  }
}
BENCHMARK(BM_ToGrayscale)->Unit(benchmark::kMillisecond);

// The turns and the resize write into a destination, which leaves the page as it was.
void BM_RotateRight90(benchmark::State& state) {
  RasterImage& page = Page();
  for (auto _ : state) {
    RasterImage result;
    page.RotateRight90(&result);
    benchmark::DoNotOptimize(result.PixelRows());
  }
}
BENCHMARK(BM_RotateRight90)->Unit(benchmark::kMillisecond);

void BM_RotateLeft90(benchmark::State& state) {
  RasterImage& page = Page();
  for (auto _ : state) {
    RasterImage result;
    page.RotateLeft90(&result);
    benchmark::DoNotOptimize(result.PixelRows());
  }
}
BENCHMARK(BM_RotateLeft90)->Unit(benchmark::kMillisecond);

void BM_RotateByAngle45(benchmark::State& state) {
  RasterImage& page = Page();
  for (auto _ : state) {
    RasterImage result;
    page.RotateByAngle(45, &result);
    benchmark::DoNotOptimize(result.PixelRows());
  }
}
BENCHMARK(BM_RotateByAngle45)->Unit(benchmark::kMillisecond);

void BM_ResizeHalf(benchmark::State& state) {
  RasterImage& page = Page();
  for (auto _ : state) {
    RasterImage result;
    page.Resize(kWidth / 2, kHeight / 2, 1, &result);
    benchmark::DoNotOptimize(result.PixelRows());
  }
}
BENCHMARK(BM_ResizeHalf)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvalis
