// Encoding speed of the JPEG 2000 (JP2, JPC) and Sun raster writers on a rendered page.
//
// The page is the tiger of the corpus rendered by Ghostscript at 150 and 300 dpi into a 24-bit
// BMP (ORVALIS_BENCH_PAGE_DIR, default /tmp/orvalis_bench_pages; rendered there when missing).
// "Encode" runs the encoder into memory; "FileToFile" also reads the BMP and writes the output
// file, which is what bench/peer_jp2_ras.sh times for opj_compress and ImageMagick.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "image/byte_order.h"
#include "image/raster_image.h"

extern char** environ;

namespace orvalis {
namespace {

std::filesystem::path PageDir() {
  const char* dir = std::getenv("ORVALIS_BENCH_PAGE_DIR");
  return dir != nullptr ? dir : "/tmp/orvalis_bench_pages";
}

std::filesystem::path CorpusTiger() {
  return std::filesystem::path(ORVALIS_SOURCE_DIR) / "../shared/corpus/ps/tiger.ps";
}

bool RenderPage(const std::filesystem::path& bmp, int dpi) {
  std::filesystem::create_directories(bmp.parent_path());
  std::vector<std::string> argv = {"gs",
                                   "-q",
                                   "-dSAFER",
                                   "-dBATCH",
                                   "-dNOPAUSE",
                                   "-sDEVICE=bmp16m",
                                   "-r" + std::to_string(dpi),
                                   "-sOutputFile=" + bmp.string(),
                                   CorpusTiger().string()};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "gs", nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Reads the 24-bit bottom-up BMP that Ghostscript writes (14-byte file header, 40-byte info
// header, rows padded to 4 bytes: the same row layout as the image's own block).
bool ReadPageBmp(const std::filesystem::path& path, RasterImage& image) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return false;
  uint8_t head[54];
  if (std::fread(head, 1, sizeof head, file.get()) != sizeof head || head[0] != 'B' ||
      head[1] != 'M') {
    return false;
  }
  const uint32_t offset = LoadLE32(head + 10);
  const int32_t width = static_cast<int32_t>(LoadLE32(head + 18));
  const int32_t height = static_cast<int32_t>(LoadLE32(head + 22));
  if (LoadLE16(head + 28) != 24 || width <= 0 || height <= 0) return false;
  if (image.Create(width, height, 24, ImageFormat::Bmp) == nullptr) return false;
  if (std::fseek(file.get(), offset, SEEK_SET) != 0) return false;
  const size_t bytes = size_t{image.RowStride()} * image.Height();
  return std::fread(image.PixelRows(), 1, bytes, file.get()) == bytes;
}

std::filesystem::path PagePath(int dpi) {
  return PageDir() / ("tiger_" + std::to_string(dpi) + ".bmp");
}

// The rendered page, read once per resolution; with `gray`, turned to 256 grays as the engine
// does for gray output.
const RasterImage& Page(int dpi, bool gray = false) {
  static std::map<std::pair<int, bool>, std::unique_ptr<RasterImage>> pages;
  auto& page = pages[{dpi, gray}];
  if (!page) {
    page = std::make_unique<RasterImage>();
    const std::filesystem::path path = PagePath(dpi);
    if ((!std::filesystem::exists(path) && !RenderPage(path, dpi)) || !ReadPageBmp(path, *page) ||
        (gray && !page->ToGrayscale())) {
      std::fprintf(stderr, "cannot render or read %s\n", path.c_str());
      std::exit(1);
    }
  }
  return *page;
}

constexpr uint32_t kEngineQuality = 90;  // the image's default quality: rate 0.900

void Encode(benchmark::State& state, uint32_t format, uint32_t quality, bool gray = false) {
  const RasterImage& page = Page(static_cast<int>(state.range(0)), gray);
  RasterImage view;
  view.MakeViewOf(page);
  view.SetQuality(quality);
  int64_t outputBytes = 0;
  for (auto _ : state) {
    MemoryStream stream;
    stream.OpenEmpty();
    if (!view.Encode(&stream, format)) state.SkipWithError(view.ErrorText().c_str());
    outputBytes = stream.Length();
    benchmark::DoNotOptimize(stream.DetachBuffer(false));
  }
  state.counters["bytes"] = static_cast<double>(outputBytes);
  state.counters["ratio"] =
      static_cast<double>(page.RowStride()) * page.Height() / static_cast<double>(outputBytes);
  state.SetBytesProcessed(state.iterations() * int64_t{page.Width()} * page.Height() *
                          (gray ? 1 : 3));
}

void FileToFile(benchmark::State& state, uint32_t format, uint32_t quality) {
  const int dpi = static_cast<int>(state.range(0));
  Page(dpi);  // renders the page when missing
  const std::string output =
      (PageDir() / ("bench_out_" + std::to_string(dpi) + "_" + std::to_string(format))).string();
  for (auto _ : state) {
    RasterImage image;
    if (!ReadPageBmp(PagePath(dpi), image)) state.SkipWithError("cannot read the page");
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
