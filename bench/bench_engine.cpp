// The engine's overhead over the bare encoder: one rendered page (150 and 300 dpi) through each
// raster pipeline with ConverterRun ("Engine"), beside the same work done by calling the image
// library directly on the same file ("Direct": load, the colour step the pipeline applies,
// resolution, save). Both read the page file and write the output file.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "bench/rendered_page.h"
#include "engine/converter.h"
#include "engine/image_converter.h"
#include "engine/pipelines.h"
#include "engine/tiff_compressions.h"
#include "image/raster_image.h"

namespace orvalis {
namespace {

using Format = OutputFormatInfo;

std::string OutputPath(const Format& format) {
  return (std::filesystem::temp_directory_path() /
          (std::string("orvalis_bench.") + std::string(format.cliName)))
      .string();
}

void Engine(benchmark::State& state, const Format& format, int dpi) {
  const std::string page = bench::RenderedPagePath(dpi).string();
  const std::string output = OutputPath(format);
  for (auto _ : state) {
    ConverterHandle job = ConverterCreate();
    ConverterSetOption(job, OptFormat, nullptr, NumberOf(format.format));
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
  // What the pipeline does with the default options: the colour plan of a 24-bit request, the
  // format's encoder options, and TIFF's compression for a 24-bit page.
  ImageConverter defaults;
  defaults.format = format.format;
  const ColourPlan plan = DecideColour(defaults);
  const uint32_t options = format.format == OutputFormat::Tiff
                               ? TiffCompressionCode(defaults.compression, 24, false)
                               : format.recipe.encoderOptions;
  for (auto _ : state) {
    RasterImage image;
    image.Load(page, ImageFormat::Bmp);
    if (plan.paletteDepth != 0) ReduceColors(image, plan.paletteDepth);
    if (options != 0) image.SetEncoderOption(options, format.imageFormat);
    image.SetResolutionX(dpi);
    image.SetResolutionY(dpi);
    image.SetQuality(75);
    if (!image.Save(output, format.imageFormat)) state.SkipWithError(image.ErrorText().c_str());
  }
}

int RegisterAll() {
  for (int dpi : {150, 300}) {
    for (const Format& format : OutputFormats()) {
      if (format.recipe.pipeline == PipelineKind::Metafile) continue;
      const std::string suffix = std::string(format.cliName) + "/" + std::to_string(dpi) + "dpi";
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
