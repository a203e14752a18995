// Encoding speed of the JPEG and PNG writers on a rendered page.
//
// The page is the tiger of the corpus rendered by Ghostscript at 150 and 300 dpi into a 24-bit
// BMP (ORVALIS_BENCH_PAGE_DIR, default /tmp/orvalis_bench_pages; rendered there when missing).
// "Encode" runs the encoder into memory; "FileToFile" also reads the BMP with our decoder and
// writes the output file, the work bench/peer_jpeg_png.sh times for cjpeg and ImageMagick.
// JPEG runs with the engine's settings (options 24: optimised tables, progressive; quality 75,
// the default quality setting) and once as plain baseline.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/codec_jpeg.h"
#include "image/raster_image.h"

extern char** environ;

namespace orvalis {
namespace {

std::filesystem::path PageDir() {
  const char* dir = std::getenv("ORVALIS_BENCH_PAGE_DIR");
  return dir != nullptr ? dir : "/tmp/orvalis_bench_pages";
}

std::filesystem::path PagePath(int dpi) {
  return PageDir() / ("tiger_" + std::to_string(dpi) + ".bmp");
}

bool RenderPage(const std::filesystem::path& bmp, int dpi) {
  std::filesystem::create_directories(bmp.parent_path());
  const std::filesystem::path tiger =
      std::filesystem::path(ORVALIS_SOURCE_DIR) / "../shared/corpus/ps/tiger.ps";
  std::vector<std::string> argv = {"gs",
                                   "-q",
                                   "-dSAFER",
                                   "-dBATCH",
                                   "-dNOPAUSE",
                                   "-sDEVICE=bmp16m",
                                   "-r" + std::to_string(dpi),
                                   "-sOutputFile=" + bmp.string(),
                                   tiger.string()};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gs", nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The rendered page, read once per resolution.
const RasterImage& Page(int dpi) {
  static std::map<int, std::unique_ptr<RasterImage>> pages;
  auto& page = pages[dpi];
  if (!page) {
    page = std::make_unique<RasterImage>();
    const std::filesystem::path path = PagePath(dpi);
    if ((!std::filesystem::exists(path) && !RenderPage(path, dpi)) ||
        !page->Load(path.string(), ImageFormat::Bmp)) {
      std::fprintf(stderr, "cannot render or read %s: %s\n", path.c_str(),
                   page->ErrorText().c_str());
      std::exit(1);
    }
  }
  return *page;
}

struct Settings {
  uint32_t format;
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
  const RasterImage& page = Page(static_cast<int>(state.range(0)));
  RasterImage view;
  view.MakeViewOf(page);
  Apply(view, settings);
  int64_t outputBytes = 0;
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!view.Encode(&stream, settings.format)) state.SkipWithError(view.ErrorText().c_str());
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
  Page(dpi);  // renders the page when missing
  const std::string output =
      (PageDir() / ("bench_out_" + std::to_string(dpi) + "_" + std::to_string(settings.format)))
          .string();
  for (auto _ : state) {
    RasterImage image;
    if (!image.Load(PagePath(dpi).string(), ImageFormat::Bmp))
      state.SkipWithError("cannot read the page");
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
