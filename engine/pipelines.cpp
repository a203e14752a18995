#include "engine/pipelines.h"

#include <array>
#include <cstring>
#include <filesystem>

#include "engine/metafile_pipeline.h"
#include "engine/tiff_pipeline.h"
#include "image/codec_table.h"
#include "image/colour_reduction.h"
#include "platform/file_replace.h"

namespace orvalis {

namespace {

bool IsPaletteDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8;
}

Status MakeGray(RasterImage& image) {
  return StepResult(image, image.ToGrayscale(), "Cannot make the page gray");
}

Status Reduce(RasterImage& image, int paletteDepth) {
  return StepResult(image, ReduceColors(image, paletteDepth), "Cannot reduce the page's colours");
}

Status ApplyColourStep(const ImageConverter& job, RasterImage& image, ColourStep step) {
  const ColourPlan& plan = job.colour;
  switch (step) {
    case ColourStep::None:
    case ColourStep::Tiff:  // the TIFF pipeline's own
      return Status::Ok();
    case ColourStep::Palette:
      if (plan.paletteDepth == 0) return Status::Ok();
      if (plan.gray && plan.paletteDepth != 1) {
        if (Status gray = MakeGray(image); !gray.IsOk()) return gray;
      }
      return Reduce(image, plan.paletteDepth);
    case ColourStep::GrayIfAsked:
      return plan.gray ? MakeGray(image) : Status::Ok();
    case ColourStep::Tga:
      if (plan.paletteDepth != 8) return Status::Ok();
      return plan.gray ? MakeGray(image) : Reduce(image, 8);
  }
  return Status::Ok();
}

Status RunRasterPipeline(const ImageConverter& job, const OutputFormatInfo& info) {
  const Recipe& recipe = info.recipe;
  RasterImage image;
  if (Status loaded = LoadPage(image, job.inputFiles.front()); !loaded.IsOk()) return loaded;
  if (recipe.encoderOptions != 0) image.SetEncoderOption(recipe.encoderOptions, info.imageFormat);
  if (Status coloured = ApplyColourStep(job, image, recipe.colour); !coloured.IsOk())
    return coloured;
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  if (recipe.rotates) {
    Status turned = StepResult(image, ApplyRotation(image, job.angle), "Cannot rotate the page");
    if (!turned.IsOk()) return turned;
  }
  if (recipe.setsQuality) image.SetQuality(static_cast<uint32_t>(job.quality) & 0xFF);
  image.SetEncoderThreads(job.encoderThreads);
  if (Status resized = ResizeStep(job, image); !resized.IsOk()) return resized;
  return WriteOutput(job, image, info.imageFormat);
}

}  // namespace

Status ResizeStep(const ImageConverter& job, RasterImage& image) {
  if (job.width <= 0 || job.height <= 0) return Status::Ok();
  return StepResult(
      image, image.Resize(static_cast<uint32_t>(job.width), static_cast<uint32_t>(job.height), 1),
      "Cannot resize the page");
}

ColourPlan DecideColour(const ImageConverter& job) {
  const Recipe& recipe = InfoOf(job.format).recipe;
  const int asked = job.requestedDepth;
  ColourPlan plan;
  plan.gray = job.grayscale;
  int depth = IsPaletteDepth(asked) ? asked : 24;
  switch (recipe.depth) {
    case DepthRule::Palette:
      break;
    case DepthRule::PaletteOr8:
      if (!IsPaletteDepth(asked)) depth = 8;
      break;
    case DepthRule::Jpeg:
      if (depth == 8) plan.gray = true;
      depth = plan.gray ? 8 : 24;
      break;
    case DepthRule::GrayOr24:
      depth = plan.gray ? 8 : 24;
      break;
    case DepthRule::EightOr24:
      if (depth != 8) depth = 24;
      break;
  }
  plan.paletteDepth = IsPaletteDepth(depth) ? depth : 0;
  if (recipe.colour == ColourStep::Tiff && job.compression == kCompressionGrayLevels) {
    // 8-bit pages keep their gray levels; no page gets a reduced palette.
    if (plan.paletteDepth == 8) plan.gray = true;
    plan.reduce = false;
  }
  return plan;
}

void RunPipeline(ImageConverter& job) {
  if (job.inputFiles.empty()) {
    job.RecordError("No page was given to convert");
    return;
  }
  const OutputFormatInfo& info = InfoOf(job.format);
  switch (info.recipe.pipeline) {
    case PipelineKind::Tiff:
      RunTiffPipeline(job);
      break;
    case PipelineKind::Metafile:
      job.Record(RunMetafilePipeline(job));
      break;
    case PipelineKind::Raster:
      job.Record(RunRasterPipeline(job, info));
      break;
  }
}

bool ReduceColors(RasterImage& image, int paletteDepth) {
  if (paletteDepth == 1) return image.DecreaseBpp(1, false, nullptr, 2);
  const uint32_t colors = paletteDepth == 4 ? 16 : 256;
  const uint32_t colorBits = paletteDepth == 4 ? 8 : 7;
  // Entries the quantizer leaves unwritten stay black: the buffer starts zeroed.
  std::array<RGBQUAD, 256> palette{};
  {
    OctreeQuantizer quantizer(colors, colorBits);
    if (!quantizer.AddBitmapColors(image.BitmapBlock())) return false;
    quantizer.WritePalette(palette.data());
  }
  return image.DecreaseBpp(static_cast<uint32_t>(paletteDepth), false, palette.data(), colors);
}

bool ApplyRotation(RasterImage& image, int angle) {
  switch (angle) {
    case 0:
      return true;
    case 90:
      return image.RotateRight90();
    case 180:
      return image.RotateRight90() && image.RotateRight90();
    case 270:
      return image.RotateLeft90();
    default:
      return image.RotateByAngle(static_cast<float>(angle));
  }
}

Status StepResult(const RasterImage& image, bool ok, const char* what) {
  if (ok) return Status::Ok();
  const std::string& reason = image.ErrorText();
  return Status::Error(reason.empty() ? std::string(what) : std::string(what) + ": " + reason);
}

Status LoadPage(RasterImage& image, const std::string& path) {
  if (image.Load(path, ImageFormat::Bmp)) {
    // A page cut short (a full disk, a stopped interpreter) would be written half black.
    if (!image.Info().truncated) return Status::Ok();
    return Status::Error("The page file " + Quoted(path) +
                         " is incomplete: it holds less than its header promises");
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    return Status::Error("Cannot read page " + Quoted(path) + ": the file does not exist");
  const std::string& reason = image.ErrorText();
  return Status::Error("Cannot read page " + Quoted(path) + ": " +
                       (reason.empty() ? std::string("the file cannot be opened") : reason));
}

Status WriteOutput(const ImageConverter& job, const RasterImage& image, ImageFormat imageFormat) {
  std::string error;
  // Read access too: the TIFF encoder looks for an existing header before it writes.
  std::unique_ptr<ReplacementFile> output =
      ReplacementFile::Open(job.outputPath, LinkAtFinalName::Replace, &error);
  if (!output) return Status::Error(error);
  FileStream stream(output->File());
  if (Status encoded = EncodeImage(image, imageFormat, stream); !encoded.IsOk()) {
    const std::string& reason = encoded.Message();
    return Status::Error("Cannot write " + Quoted(job.outputPath) + ": " +
                         (reason.empty() ? std::string("the encoder failed") : reason));
  }
  if (!output->Commit(&error)) return Status::Error(error);
  return Status::Ok();
}

}  // namespace orvalis
