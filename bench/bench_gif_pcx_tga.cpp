// Encoding speed of the GIF, PCX and TGA writers on a rendered page.
//
// The page is the benchmark document (bench/rendered_page.h) rendered by Ghostscript at 150 and 300 dpi into a 24-bit
// BMP (ORVALIS_BENCH_PAGE_DIR, default /tmp/orvalis_bench_pages; rendered there when missing).
// PCX, TGA and the GIF mosaic take the 24-bit page; the GIF palette cases take the page after
// the engine's 256-colour reduction, which is done once outside the timing and also saved as an
// 8-bit BMP (<stem>_<dpi>_256.bmp) so that bench/peer_gif_pcx_tga.sh can give a peer the same
// pixels. "Encode" runs the encoder into memory; "FileToFile" also reads the BMP and writes the
// output file, which is what the peer script times for ImageMagick's convert.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/rendered_page.h"
#include "image/raster_image.h"

namespace orvalis {
namespace {

// The 24-bit page, or the 256-colour page; loaded (and made) once per process.
RasterImage& Page(int dpi, bool reduced) {
  return reduced ? bench::ReducedPage(dpi) : bench::RenderedPage(dpi);
}

std::filesystem::path PagePath(int dpi, bool reduced) {
  return reduced ? bench::ReducedPagePath(dpi) : bench::RenderedPagePath(dpi);
}

void EncodeToMemory(benchmark::State& state, bool reduced, ImageFormat format, uint32_t option) {
  RasterImage& page = Page(static_cast<int>(state.range(0)), reduced);
  page.SetEncoderOption(option, format);  // each benchmark sets the settings it reads
  int64_t bytes = 0;
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!page.Encode(&stream, format)) {
      state.SkipWithError(page.ErrorText().c_str());
      return;
    }
    bytes = stream.Length();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["output_bytes"] = static_cast<double>(bytes);
  state.counters["pixels"] = static_cast<double>(page.Width()) * page.Height();
}

// Reads the BMP page and writes the output file, as `convert page.bmp out.X` does.
void FileToFile(benchmark::State& state, bool reduced, ImageFormat format, const char* extension) {
  const int dpi = static_cast<int>(state.range(0));
  const std::string input = PagePath(dpi, reduced).string();  // made when missing
  const std::string output =
      (bench::PageDirectory() / (std::string("bench_out.") + extension)).string();
  for (auto _ : state) {
    RasterImage image;
    if (!image.Load(input, ImageFormat::Bmp) || !image.Save(output, format)) {
      state.SkipWithError(image.ErrorText().c_str());
      return;
    }
  }
  std::filesystem::remove(output);
}

void BM_GifPaletteLzw(benchmark::State& s) {
  EncodeToMemory(s, true, ImageFormat::Gif, 0);
}
void BM_GifPaletteLiteral(benchmark::State& s) {
  EncodeToMemory(s, true, ImageFormat::Gif, 1);
}
void BM_GifPaletteRunLength(benchmark::State& s) {
  EncodeToMemory(s, true, ImageFormat::Gif, 2);
}
void BM_GifMosaic(benchmark::State& s) {
  EncodeToMemory(s, false, ImageFormat::Gif, 0);
}
void BM_Pcx24(benchmark::State& s) {
  EncodeToMemory(s, false, ImageFormat::Pcx, 0);
}
void BM_Tga24(benchmark::State& s) {
  EncodeToMemory(s, false, ImageFormat::Tga, 0);
}
void BM_Pcx8(benchmark::State& s) {
  EncodeToMemory(s, true, ImageFormat::Pcx, 0);
}
void BM_Tga8(benchmark::State& s) {
  EncodeToMemory(s, true, ImageFormat::Tga, 0);
}

void BM_GifPaletteFileToFile(benchmark::State& s) {
  FileToFile(s, true, ImageFormat::Gif, "gif");
}
void BM_GifMosaicFileToFile(benchmark::State& s) {
  FileToFile(s, false, ImageFormat::Gif, "gif");
}
void BM_PcxFileToFile(benchmark::State& s) {
  FileToFile(s, false, ImageFormat::Pcx, "pcx");
}
void BM_TgaFileToFile(benchmark::State& s) {
  FileToFile(s, false, ImageFormat::Tga, "tga");
}

// Every case runs on the 150 and the 300 dpi page.
const bool kRegistered = [] {
  const std::pair<const char*, void (*)(benchmark::State&)> cases[] = {
      {"BM_GifPaletteLzw", BM_GifPaletteLzw},
      {"BM_GifPaletteLiteral", BM_GifPaletteLiteral},
      {"BM_GifPaletteRunLength", BM_GifPaletteRunLength},
      {"BM_GifMosaic", BM_GifMosaic},
      {"BM_Pcx24", BM_Pcx24},
      {"BM_Tga24", BM_Tga24},
      {"BM_Pcx8", BM_Pcx8},
      {"BM_Tga8", BM_Tga8},
      {"BM_GifPaletteFileToFile", BM_GifPaletteFileToFile},
      {"BM_GifMosaicFileToFile", BM_GifMosaicFileToFile},
      {"BM_PcxFileToFile", BM_PcxFileToFile},
      {"BM_TgaFileToFile", BM_TgaFileToFile},
  };
  for (const auto& [name, fn] : cases) {
    benchmark::RegisterBenchmark(name, fn)
        ->Arg(150)
        ->Arg(300)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace
}  // namespace orvalis
