// Encoding speed of the JPEG and PNG writers on a rendered page.
//
// The page is the benchmark document (bench/rendered_page.h) rendered by Ghostscript at 150 and 300 dpi into a 24-bit
// BMP (ORVALIS_BENCH_PAGE_DIR, default /tmp/orvalis_bench_pages; rendered there when missing).
// "Encode" runs the encoder into memory; "FileToFile" also reads the BMP with our decoder and
// writes the output file, the work bench/peer_jpeg_png.sh times for cjpeg and ImageMagick.
// JPEG runs with the engine's settings (options 24: optimised tables, progressive; quality 75,
// the default quality setting) and once as plain baseline.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/rendered_page.h"
#include "image/codec_jpeg.h"
#include "image/raster_image.h"

namespace orvalis {
namespace {

using bench::PageDirectory;
using bench::RenderedPage;
using bench::RenderedPagePath;

struct Settings {
  ImageFormat format;
  uint32_t options;
  uint32_t quality;
};

constexpr Settings kJpegEngine{ImageFormat::Jpeg,
                               JpegOption::OptimizeTables | JpegOption::Progressive, 75};
constexpr Settings kJpegBaseline{ImageFormat::Jpeg, 0, 75};
constexpr Settings kPng{ImageFormat::Png, 0, 90};
constexpr Settings kPngAdam7{ImageFormat::Png, 1, 90};

void Apply(RasterImage& image, const Settings& s) {
  image.SetEncoderOption(s.options, s.format);
  image.SetQuality(s.quality);
}

void Encode(benchmark::State& state, const Settings& settings) {
  RasterImage& page = RenderedPage(static_cast<int>(state.range(0)));
  Apply(page, settings);  // each benchmark sets the settings it reads
  int64_t outputBytes = 0;
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!page.Encode(&stream, settings.format)) state.SkipWithError(page.ErrorText().c_str());
    outputBytes = stream.Length();
    benchmark::DoNotOptimize(stream.DetachBuffer(false));
  }
  state.counters["bytes"] = static_cast<double>(outputBytes);
  state.counters["Mpixel/s"] =
      benchmark::Counter(static_cast<double>(page.Width()) * page.Height() / 1e6,
                         benchmark::Counter::kIsIterationInvariantRate);
}

void FileToFile(benchmark::State& state, const Settings& settings) {
  const int dpi = static_cast<int>(state.range(0));
  const std::string input = RenderedPagePath(dpi).string();  // renders the page when missing
  const std::string output = (PageDirectory() / ("bench_out_" + std::to_string(dpi) + "_" +
                                                 std::to_string(NumberOf(settings.format))))
                                 .string();
  for (auto _ : state) {
    RasterImage image;
    if (!image.Load(input, ImageFormat::Bmp)) state.SkipWithError("cannot read the page");
    Apply(image, settings);
    if (!image.Save(output, settings.format)) state.SkipWithError(image.ErrorText().c_str());
  }
  std::filesystem::remove(output);
}

void BM_JpegEncode(benchmark::State& state) {
  Encode(state, kJpegEngine);
}
void BM_JpegEncodeBaseline(benchmark::State& state) {
  Encode(state, kJpegBaseline);
}
void BM_PngEncode(benchmark::State& state) {
  Encode(state, kPng);
}
void BM_PngEncodeAdam7(benchmark::State& state) {
  Encode(state, kPngAdam7);
}
void BM_JpegFileToFile(benchmark::State& state) {
  FileToFile(state, kJpegEngine);
}
void BM_PngFileToFile(benchmark::State& state) {
  FileToFile(state, kPng);
}

BENCHMARK(BM_JpegEncode)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegEncodeBaseline)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngEncode)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngEncodeAdam7)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_JpegFileToFile)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngFileToFile)->Arg(150)->Arg(300)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace orvalis
