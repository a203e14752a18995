// Encoding speed of the JPEG 2000 (JP2, JPC) and Sun raster writers on a rendered page.
//
// The page is the benchmark document (bench/rendered_page.h) rendered by Ghostscript at 150 and 300 dpi into a 24-bit
// BMP (ORVALIS_BENCH_PAGE_DIR, default /tmp/orvalis_bench_pages; rendered there when missing).
// "Encode" runs the encoder into memory; "FileToFile" also reads the BMP and writes the output
// file, which is what bench/peer_jp2_ras.sh times for opj_compress and ImageMagick.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench/rendered_page.h"
#include "image/raster_image.h"

namespace orvalis {
namespace {

// The rendered page; with `gray`, turned to 256 grays as the engine does for gray output (read
// once per resolution).
RasterImage& Page(int dpi, bool gray = false) {
  if (!gray) return bench::RenderedPage(dpi);
  static std::map<int, std::unique_ptr<RasterImage>> pages;
  std::unique_ptr<RasterImage>& page = pages[dpi];
  if (!page) {
    page = std::make_unique<RasterImage>();
    const std::filesystem::path path = bench::RenderedPagePath(dpi);
    if (!page->Load(path.string(), ImageFormat::Bmp) || !page->ToGrayscale()) {
      std::fprintf(stderr, "cannot read %s in gray: %s\n", path.c_str(), page->ErrorText().c_str());
      std::exit(1);
    }
  }
  return *page;
}

constexpr uint32_t kEngineQuality = 90;  // the image's default quality: rate 0.900

void Encode(benchmark::State& state, ImageFormat format, uint32_t quality, bool gray = false) {
  RasterImage& page = Page(static_cast<int>(state.range(0)), gray);
  page.SetQuality(quality);  // each benchmark sets the settings it reads
  int64_t outputBytes = 0;
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!page.Encode(&stream, format)) state.SkipWithError(page.ErrorText().c_str());
    outputBytes = stream.Length();
    benchmark::DoNotOptimize(stream.DetachBuffer(false));
  }
  state.counters["bytes"] = static_cast<double>(outputBytes);
  state.counters["ratio"] =
      static_cast<double>(page.RowStride()) * page.Height() / static_cast<double>(outputBytes);
  state.SetBytesProcessed(state.iterations() * int64_t{page.Width()} * page.Height() *
                          (gray ? 1 : 3));
}

void FileToFile(benchmark::State& state, ImageFormat format, uint32_t quality) {
  const int dpi = static_cast<int>(state.range(0));
  const std::string input = bench::RenderedPagePath(dpi).string();  // renders the page when missing
  const std::string output = (bench::PageDirectory() / ("bench_out_" + std::to_string(dpi) + "_" +
                                                        std::to_string(NumberOf(format))))
                                 .string();
  for (auto _ : state) {
    RasterImage image;
    if (!image.Load(input, ImageFormat::Bmp)) state.SkipWithError("cannot read the page");
    image.SetQuality(quality);
    if (!image.Save(output, format)) state.SkipWithError(image.ErrorText().c_str());
  }
  std::filesystem::remove(output);
}

void BM_Jp2Encode(benchmark::State& state) {
  Encode(state, ImageFormat::Jp2, kEngineQuality);
}
void BM_Jp2EncodeLossless(benchmark::State& state) {
  Encode(state, ImageFormat::Jp2, 100);
}
void BM_Jp2EncodeQuality75(benchmark::State& state) {
  Encode(state, ImageFormat::Jp2, 75);
}
void BM_JpcEncode(benchmark::State& state) {
  Encode(state, ImageFormat::Jpc, kEngineQuality);
}
void BM_RasEncode(benchmark::State& state) {
  Encode(state, ImageFormat::Ras, kEngineQuality);
}
void BM_Jp2EncodeGray(benchmark::State& state) {
  Encode(state, ImageFormat::Jp2, kEngineQuality, true);
}
void BM_RasEncodeGray(benchmark::State& state) {
  Encode(state, ImageFormat::Ras, kEngineQuality, true);
}
void BM_Jp2FileToFile(benchmark::State& state) {
  FileToFile(state, ImageFormat::Jp2, kEngineQuality);
}
void BM_RasFileToFile(benchmark::State& state) {
  FileToFile(state, ImageFormat::Ras, kEngineQuality);
}

BENCHMARK(BM_Jp2Encode)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jp2EncodeLossless)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jp2EncodeQuality75)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpcEncode)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RasEncode)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jp2EncodeGray)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RasEncodeGray)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Jp2FileToFile)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RasFileToFile)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orvalis
