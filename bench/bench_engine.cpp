// The engine's overhead over the bare encoder: one rendered page (150 and 300 dpi) through each
// raster pipeline with ConverterRun ("Engine"), beside the same work done by calling the image
// library directly on the same file ("Direct": load, the colour step the pipeline applies,
// resolution, save). Both read the page file and write the output file.

#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <string>

#include "bench/rendered_page.h"
#include "engine/converter.h"
#include "engine/pipelines.h"
#include "image/raster_image.h"

namespace orvalis {
namespace {

struct Format {
  const char* name;
  int engineFormat;
  uint32_t imageFormat;
  int paletteDepth;  // the colour step the pipeline applies by default
};

constexpr std::array<Format, 10> kFormats = {{
    {"bmp", Bmp, ImageFormat::Bmp, 0},
    {"jpg", Jpeg, ImageFormat::Jpeg, 0},
    {"png", Png, ImageFormat::Png, 0},
    {"gif", Gif, ImageFormat::Gif, 8},
    {"tif", Tiff, ImageFormat::Tiff, 0},
    {"pcx", Pcx, ImageFormat::Pcx, 0},
    {"tga", Tga, ImageFormat::Tga, 0},
    {"jp2", Jp2, ImageFormat::Jp2, 0},
    {"ras", Ras, ImageFormat::Ras, 0},
    {"jpc", Jpc, ImageFormat::Jpc, 0},
}};

std::string OutputPath(const Format& format) {
  return (std::filesystem::temp_directory_path() / (std::string("orvalis_bench.") + format.name))
      .string();
}

void Engine(benchmark::State& state, const Format& format, int dpi) {
  const std::string page = bench::RenderedPagePath(dpi).string();
  const std::string output = OutputPath(format);
  for (auto _ : state) {
    ConverterHandle job = ConverterCreate();
    ConverterSetOption(job, OptFormat, nullptr, format.engineFormat);
    ConverterSetOption(job, OptXDpi, nullptr, dpi);
    ConverterSetOption(job, OptYDpi, nullptr, dpi);
    ConverterSetOption(job, OptOutputPath, output.c_str(), 0);
    ConverterAddFile(job, page.c_str());
    ConverterRun(job);
    if (*ConverterGetError(job) != '\0') state.SkipWithError(ConverterGetError(job));
    ConverterDestroy(job);
  }
}

void Direct(benchmark::State& state, const Format& format, int dpi) {
  const std::string page = bench::RenderedPagePath(dpi).string();
  const std::string output = OutputPath(format);
  for (auto _ : state) {
    RasterImage image;
    image.Load(page, ImageFormat::Bmp);
    if (format.paletteDepth != 0) ReduceColors(image, format.paletteDepth);
    if (format.engineFormat == Jpeg) image.SetEncoderOption(24, ImageFormat::Jpeg);
    if (format.engineFormat == Tiff) image.SetEncoderOption(19999, ImageFormat::Tiff);
    image.SetResolutionX(dpi);
    image.SetResolutionY(dpi);
    image.SetQuality(75);
    if (!image.Save(output, format.imageFormat)) state.SkipWithError(image.ErrorText().c_str());
  }
}

int RegisterAll() {
  for (int dpi : {150, 300}) {
    for (const Format& format : kFormats) {
      const std::string suffix = std::string(format.name) + "/" + std::to_string(dpi) + "dpi";
      benchmark::RegisterBenchmark(("Engine/" + suffix).c_str(), Engine, format, dpi)
          ->Unit(benchmark::kMillisecond)
          ->MeasureProcessCPUTime()
          ->UseRealTime();
      benchmark::RegisterBenchmark(("Direct/" + suffix).c_str(), Direct, format, dpi)
          ->Unit(benchmark::kMillisecond)
          ->MeasureProcessCPUTime()
          ->UseRealTime();
    }
  }
  return 0;
}

const int kRegistered = RegisterAll();

}  // namespace
}  // namespace orvalis
