#include "engine/pipelines.h"

#include <array>
#include <cstring>
#include <filesystem>

#include "engine/metafile_pipeline.h"
#include "engine/tiff_pipeline.h"
#include "image/colour_reduction.h"

namespace orvalis {

namespace {

bool IsPaletteDepth(int depth) {
  return depth == 1 || depth == 4 || depth == 8;
}

// How a raster pipeline treats colour before the common steps.
enum class ColourStep {
  Palette,      // BMP, PNG, GIF, PCX: gray first when asked, then an optimal palette
  GrayIfAsked,  // JPEG, JPEG 2000, Sun raster: 8-bit gray or 24-bit colour
  Tga,          // 8-bit gray or palette, else 24-bit colour
};

struct RasterRecipe {
  int format;
  uint32_t imageFormat;
  ColourStep colour;
  bool rotates;          // BMP output ignores the angle
  bool setsQuality;      // JPEG and JPEG 2000 carry the quality
  uint32_t jpegOptions;  // JPEG: optimised tables (8) + progressive scans (16)
};

constexpr RasterRecipe kRasterRecipes[] = {
    {Bmp, ImageFormat::Bmp, ColourStep::Palette, false, false, 0},
    {Jpeg, ImageFormat::Jpeg, ColourStep::GrayIfAsked, true, true, 24},
    {Png, ImageFormat::Png, ColourStep::Palette, true, false, 0},
    {Gif, ImageFormat::Gif, ColourStep::Palette, true, false, 0},
    {Pcx, ImageFormat::Pcx, ColourStep::Palette, true, false, 0},
    {Tga, ImageFormat::Tga, ColourStep::Tga, true, false, 0},
    {Jp2, ImageFormat::Jp2, ColourStep::GrayIfAsked, true, true, 0},
    {Ras, ImageFormat::Ras, ColourStep::GrayIfAsked, true, false, 0},
    {Jpc, ImageFormat::Jpc, ColourStep::GrayIfAsked, true, true, 0},
};

const RasterRecipe* FindRecipe(int format) {
  for (const RasterRecipe& recipe : kRasterRecipes)
    if (recipe.format == format) return &recipe;
  return nullptr;
}

bool ApplyColourStep(ImageConverter& job, RasterImage& image, ColourStep step) {
  switch (step) {
    case ColourStep::Palette:
      if (!IsPaletteDepth(job.paletteDepth)) return true;
      if (job.grayscale && job.paletteDepth != 1 &&
          !CheckStep(job, image, image.ToGrayscale(), "Cannot make the page gray"))
        return false;
      return CheckStep(job, image, ReduceColors(image, job.paletteDepth),
                       "Cannot reduce the page's colours");
    case ColourStep::GrayIfAsked:
      return !job.grayscale ||
             CheckStep(job, image, image.ToGrayscale(), "Cannot make the page gray");
    case ColourStep::Tga:
      if (job.paletteDepth != 8) return true;
      if (job.grayscale)
        return CheckStep(job, image, image.ToGrayscale(), "Cannot make the page gray");
      return CheckStep(job, image, ReduceColors(image, 8), "Cannot reduce the page's colours");
  }
  return true;
}

void RunRasterPipeline(ImageConverter& job, const RasterRecipe& recipe) {
  RasterImage image;
  if (!LoadPage(job, image, job.inputFiles.front())) return;
  if (recipe.jpegOptions != 0) image.SetEncoderOption(recipe.jpegOptions, recipe.imageFormat);
  if (!ApplyColourStep(job, image, recipe.colour)) return;
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  if (recipe.rotates &&
      !CheckStep(job, image, ApplyRotation(image, job.angle), "Cannot rotate the page"))
    return;
  if (recipe.setsQuality) image.SetQuality(static_cast<uint32_t>(job.quality) & 0xFF);
  if (!ResizeStep(job, image)) return;
  WriteOutput(job, image, recipe.imageFormat);
}

}  // namespace

bool ResizeStep(ImageConverter& job, RasterImage& image) {
  if (job.width <= 0 || job.height <= 0) return true;
  return CheckStep(
      job, image,
      image.Resize(static_cast<uint32_t>(job.width), static_cast<uint32_t>(job.height), 1),
      "Cannot resize the page");
}

void DecideColorDepth(ImageConverter& job) {
  int depth =
      IsPaletteDepth(job.requestedDepth) ? job.requestedDepth : (job.format == Gif ? 8 : 24);
  switch (job.format) {
    case Jpeg:
      if (depth == 8) job.grayscale = true;
      depth = job.grayscale ? 8 : 24;
      break;
    case Tga:
      if (depth != 8) depth = 24;
      break;
    case Jp2:
    case Ras:
    case Jpc:
      depth = job.grayscale ? 8 : 24;
      break;
    default:
      break;
  }
  job.paletteDepth = IsPaletteDepth(depth) ? depth : 0;
}

void RunPipeline(ImageConverter& job) {
  if (job.inputFiles.empty()) {
    job.RecordError("No page was given to convert");
    return;
  }
  if (job.format == Tiff) {
    RunTiffPipeline(job);
  } else if (job.format == Emf || job.format == Wmf) {
    RunMetafilePipeline(job);
  } else if (const RasterRecipe* recipe = FindRecipe(job.format)) {
    RunRasterPipeline(job, *recipe);
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

uint32_t TiffCompressionCode(int compression, int depth, bool gray) {
  // Rows: engine compression code 0..6, then every other value. Columns: depth 1, depth 4,
  // depth 8 colour, depth 8 gray, depth 24. 19999 is JPEG with our own YCbCr conversion.
  static constexpr uint32_t kCodes[8][5] = {
      {1, 1, 1, 1, 1},         {5, 5, 5, 5, 5},
      {4, 5, 5, 19999, 19999}, {4, 32773, 32773, 32773, 32773},
      {4, 5, 5, 5, 19999},     {3, 5, 5, 5, 19999},
      {2, 5, 5, 5, 19999},     {4, 5, 5, 5, 19999},
  };
  const int row = compression >= 0 && compression <= 6 ? compression : 7;
  const int column = depth == 1 ? 0 : depth == 4 ? 1 : depth == 8 ? (gray ? 3 : 2) : 4;
  return kCodes[row][column];
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

bool WriteOutput(ImageConverter& job, RasterImage& image, uint32_t imageFormat) {
  std::string error;
  // Read access too: the TIFF encoder looks for an existing header before it writes.
  std::unique_ptr<PendingOutput> output = PendingOutput::Open(job.outputPath, "w+b", &error);
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
