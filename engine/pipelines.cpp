#include "engine/pipelines.h"

#include <array>
#include <cstring>
#include <filesystem>

#include "engine/metafile_pipeline.h"
#include "engine/tiff_pipeline.h"
#include "image/colour_reduction.h"
#include "platform/file_replace.h"

namespace orvalis {

namespace {

bool IsPaletteDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8;
}

bool MakeGray(ImageConverter& job, RasterImage& image) {
  return CheckStep(job, image, image.ToGrayscale(), "Cannot make the page gray");
}

bool Reduce(ImageConverter& job, RasterImage& image, int paletteDepth) {
  return CheckStep(job, image, ReduceColors(image, paletteDepth),
                   "Cannot reduce the page's colours");
}

bool ApplyColourStep(ImageConverter& job, RasterImage& image, ColourStep step) {
  const ColourPlan& plan = job.colour;
  switch (step) {
    case ColourStep::None:
    case ColourStep::Tiff:  // the TIFF pipeline's own
      return true;
    case ColourStep::Palette:
      if (plan.paletteDepth == 0) return true;
      if (plan.gray && plan.paletteDepth != 1 && !MakeGray(job, image)) return false;
      return Reduce(job, image, plan.paletteDepth);
    case ColourStep::GrayIfAsked:
      return !plan.gray || MakeGray(job, image);
    case ColourStep::Tga:
      if (plan.paletteDepth != 8) return true;
      return plan.gray ? MakeGray(job, image) : Reduce(job, image, 8);
  }
  return true;
}

void RunRasterPipeline(ImageConverter& job, const OutputFormatInfo& info) {
  const Recipe& recipe = info.recipe;
  RasterImage image;
  if (!LoadPage(job, image, job.inputFiles.front())) return;
  if (recipe.encoderOptions != 0) image.SetEncoderOption(recipe.encoderOptions, info.imageFormat);
  if (!ApplyColourStep(job, image, recipe.colour)) return;
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  if (recipe.rotates &&
      !CheckStep(job, image, ApplyRotation(image, job.angle), "Cannot rotate the page"))
    return;
  if (recipe.setsQuality) image.SetQuality(static_cast<uint32_t>(job.quality) & 0xFF);
  image.SetEncoderThreads(job.encoderThreads);
  if (!ResizeStep(job, image)) return;
  WriteOutput(job, image, info.imageFormat);
}

}  // namespace

bool ResizeStep(ImageConverter& job, RasterImage& image) {
  if (job.width <= 0 || job.height <= 0) return true;
  return CheckStep(
      job, image,
      image.Resize(static_cast<uint32_t>(job.width), static_cast<uint32_t>(job.height), 1),
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
      RunMetafilePipeline(job);
      break;
    case PipelineKind::Raster:
      RunRasterPipeline(job, info);
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

bool CheckStep(ImageConverter& job, const RasterImage& image, bool ok, const char* what) {
  if (!ok) {
    const std::string& reason = image.ErrorText();
    job.RecordError(reason.empty() ? std::string(what) : std::string(what) + ": " + reason);
  }
  return ok;
}

bool LoadPage(ImageConverter& job, RasterImage& image, const std::string& path) {
  if (image.Load(path, ImageFormat::Bmp)) {
    // A page cut short (a full disk, a stopped interpreter) would be written half black.
    if (!image.Info().truncated) return true;
    job.RecordError("The page file " + Quoted(path) +
                    " is incomplete: it holds less than its header promises");
    return false;
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    job.RecordError("Cannot read page " + Quoted(path) + ": the file does not exist");
  } else {
    const std::string& reason = image.ErrorText();
    job.RecordError("Cannot read page " + Quoted(path) + ": " +
                    (reason.empty() ? std::string("the file cannot be opened") : reason));
  }
  return false;
}

bool WriteOutput(ImageConverter& job, RasterImage& image, ImageFormat imageFormat) {
  std::string error;
  // Read access too: the TIFF encoder looks for an existing header before it writes.
  std::unique_ptr<ReplacementFile> output =
      ReplacementFile::Open(job.outputPath, LinkAtFinalName::Replace, &error);
  if (!output) {
    job.RecordError(error);
    return false;
  }
  FileStream stream(output->File());
  if (!image.Encode(&stream, imageFormat)) {
    const std::string& reason = image.ErrorText();
    job.RecordError("Cannot write " + Quoted(job.outputPath) + ": " +
                    (reason.empty() ? std::string("the encoder failed") : reason));
    return false;
  }
  if (!output->Commit(&error)) {
    job.RecordError(error);
    return false;
  }
  return true;
}

}  // namespace orvalis
