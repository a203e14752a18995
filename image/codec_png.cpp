#include "image/codec_png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "image/checked_writer.h"

namespace orvalis {

namespace {

// Everything libpng is handed for one file, worked out before libpng starts. Plain data only:
// libpng's errors jump back into WritePng across libpng's frames and ours, and no destructor
// may be skipped on the way.
struct PngPlan {
  const RasterImage* image;
  CheckedWriter* writer;  // over the caller's stream
  char reason[160];       // libpng's message of the failure
  png_structp png;
  png_infop info;

  png_uint_32 width;
  png_uint_32 height;
  int bitDepth;
  int colorType;
  int interlace;
  bool swapRedBlue;  // stored true-colour rows are blue, green, red

  png_color_16 background;
  png_uint_32 pelsPerMeterX;
  png_uint_32 pelsPerMeterY;

  bool writePalette;
  int paletteCount;
  png_color palette[256];

  bool writeTransparency;
  int transparencyCount;
  png_byte transparencyAlpha[256];
  png_color_16 transparencyColor;

  // Transparency through the alpha channel of a true-colour image: pixels of this colour get
  // alpha 0 whatever the alpha plane says.
  bool clearKeyAlpha;
  RGBQUAD alphaKey;
  // The transparent entry of a colour palette goes to index 0 for the file's one-entry tRNS:
  // entries 0 and swapIndex change places in the palette and in the rows written (0: none).
  uint8_t swapIndex;

  png_bytep rowBuffer;  // rows with an alpha channel or changed indices are assembled here
};

enum class PngResult { Written, NoWriteStruct, NoInfoStruct, LibpngError };

void WriteToStream(png_structp png, png_bytep data, png_size_t length) {
  auto* writer = static_cast<CheckedWriter*>(png_get_io_ptr(png));
  if (writer == nullptr || !writer->Write(data, length)) png_error(png, "Write Error");
}

// A stream in error after the flush lost bytes it had accepted earlier (a full disk shows up
// only when the buffered file is written out).
void FlushStream(png_structp png) {
  auto* writer = static_cast<CheckedWriter*>(png_get_io_ptr(png));
  if (writer == nullptr || !writer->Finish()) png_error(png, "Flush Error");
}

// libpng's message is kept in the plan for the error text; then the jump back into WritePng,
// without libpng's printing.
[[noreturn]] void JumpBack(png_structp png, png_const_charp message) {
  auto* plan = static_cast<PngPlan*>(png_get_error_ptr(png));
  if (plan != nullptr && message != nullptr) {
    std::strncpy(plan->reason, message, sizeof plan->reason - 1);
    plan->reason[sizeof plan->reason - 1] = '\0';
  }
  png_longjmp(png, 1);
}
void IgnoreWarning(png_structp, png_const_charp) {}

bool SameRgb(RGBQUAD a, RGBQUAD b) {
  return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

// One picture row (stored row y) with its alpha channel: R, G, B, A or gray, A.
void FillAlphaRow(const PngPlan& plan, uint32_t y) {
  const RasterImage& image = *plan.image;
  const bool color = (plan.colorType & PNG_COLOR_MASK_COLOR) != 0;
  png_bytep out = plan.rowBuffer;
  for (uint32_t x = 0; x < plan.width; ++x) {
    const RGBQUAD c = image.ColorAtUnchecked(x, y, true);
    if (color) {
      *out++ = c.rgbRed;
      *out++ = c.rgbGreen;
      *out++ = c.rgbBlue;
    } else {
      *out++ = c.rgbBlue;
    }
    *out++ = plan.clearKeyAlpha && SameRgb(c, plan.alphaKey) ? 0 : image.AlphaAtUnchecked(x, y);
  }
}

uint8_t SwappedIndex(uint8_t index, uint8_t swapIndex) {
  if (swapIndex == 0) return index;
  return index == 0 ? swapIndex : index == swapIndex ? 0 : index;
}

// Stored row y with palette entries 0 and swapIndex exchanged; the row's padding is kept.
void FillSwappedRow(const PngPlan& plan, uint32_t y) {
  const RasterImage& image = *plan.image;
  const uint8_t* row = image.RowAddress(y);
  std::memcpy(plan.rowBuffer, row, image.RowStride());
  for (uint32_t x = 0; x < plan.width; ++x) {
    const uint8_t index = IndexInRow(row, image.BitsPerPixel(), x);
    if (index == 0 || index == plan.swapIndex) {
      SetIndexInRow(plan.rowBuffer, image.BitsPerPixel(), x, SwappedIndex(index, plan.swapIndex));
    }
  }
}

// The bytes libpng gets for stored row y.
png_bytep RowToWrite(const PngPlan& plan, uint32_t y) {
  if (plan.image->HasAlpha()) {
    FillAlphaRow(plan, y);
    return plan.rowBuffer;
  }
  if (plan.swapIndex != 0) {
    FillSwappedRow(plan, y);
    return plan.rowBuffer;
  }
  return plan.image->RowAddress(y);
}

void SetHeaderChunks(PngPlan* plan) {
  png_structp png = plan->png;
  png_infop info = plan->info;
  png_set_bKGD(png, info, &plan->background);
  png_set_pHYs(png, info, plan->pelsPerMeterX, plan->pelsPerMeterY, PNG_RESOLUTION_METER);
  png_set_IHDR(png, info, plan->width, plan->height, plan->bitDepth, plan->colorType,
               plan->interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (plan->writeTransparency) {
    png_set_tRNS(png, info, plan->transparencyAlpha, plan->transparencyCount,
                 &plan->transparencyColor);
  }
  if (plan->writePalette) png_set_PLTE(png, info, plan->palette, plan->paletteCount);
}

// Runs libpng from creation to destruction. This frame holds plain data only.
PngResult WritePng(PngPlan* plan) {
  plan->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, plan, &JumpBack, &IgnoreWarning);
  if (plan->png == nullptr) return PngResult::NoWriteStruct;
  plan->info = png_create_info_struct(plan->png);
  if (plan->info == nullptr) {
    png_destroy_write_struct(&plan->png, nullptr);
    return PngResult::NoInfoStruct;
  }
  if (setjmp(png_jmpbuf(plan->png)) != 0) {
    png_destroy_write_struct(&plan->png, &plan->info);
    return PngResult::LibpngError;
  }
  // libpng's default guard stops at a million pixels a side; a large poster is still a valid PNG.
  png_set_user_limits(plan->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_write_fn(plan->png, plan->writer, &WriteToStream, &FlushStream);
  SetHeaderChunks(plan);
  png_write_info(plan->png, plan->info);
  if (plan->swapRedBlue) png_set_bgr(plan->png);

  const int passes = png_set_interlace_handling(plan->png);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t row = plan->height; row-- > 0;) png_write_row(plan->png, RowToWrite(*plan, row));
  }
  png_write_end(plan->png, plan->info);
  // libpng does not flush after IEND; without this a write that fails in the stream's own
  // buffer would go unnoticed and a truncated file would count as saved.
  FlushStream(plan->png);
  png_destroy_write_struct(&plan->png, &plan->info);
  return PngResult::Written;
}

// Highest palette index any pixel written uses.
uint32_t HighestIndexUsed(const RasterImage& image, uint8_t swapIndex) {
  uint32_t highest = 0;
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x)
      highest = std::max<uint32_t>(highest, SwappedIndex(image.IndexAtUnchecked(x, y), swapIndex));
  return highest;
}

// Depth and colour type.
void PlanLayout(const RasterImage& image, PngPlan& plan, bool palette, bool gray) {
  plan.bitDepth = static_cast<int>(image.BitsPerPixel()) / (image.BitsPerPixel() > 8 ? 3 : 1);
  plan.colorType = !palette ? PNG_COLOR_TYPE_RGB
                   : gray   ? PNG_COLOR_TYPE_GRAY
                            : PNG_COLOR_TYPE_PALETTE;
  if (image.HasAlpha()) {
    // A palette image with alpha asks for colour type 7, which libpng refuses.
    plan.colorType |= PNG_COLOR_MASK_ALPHA;
    plan.bitDepth = 8;
  }
  plan.swapRedBlue = !palette && !image.HasAlpha();
}

// bKGD (white, or the transparent colour) and the one-entry tRNS of a transparent image.
void PlanTransparency(const RasterImage& image, PngPlan& plan, bool palette, bool gray) {
  plan.background.red = plan.background.green = plan.background.blue = 255;
  if (!image.IsTransparent()) return;
  const RGBQUAD t = image.TransparentColorOf();
  plan.background.red = t.rgbRed;
  plan.background.green = t.rgbGreen;
  plan.background.blue = t.rgbBlue;
  const int32_t transparent = image.TransparentIndex();
  if (palette && !gray && transparent > 0) plan.swapIndex = static_cast<uint8_t>(transparent);
  if (image.HasAlpha()) {
    // An alpha channel already says what is transparent; PNG forbids tRNS beside it.
    if (!palette) {
      plan.clearKeyAlpha = true;
      plan.alphaKey = t;
    }
    return;
  }
  plan.writeTransparency = true;
  plan.transparencyCount = 1;
  plan.transparencyAlpha[0] = 0;
  // The colour counts for gray and RGB files only, which keep their entries in place.
  plan.transparencyColor.gray = static_cast<png_uint_16>(transparent);
  plan.transparencyColor.red = t.rgbRed;
  plan.transparencyColor.green = t.rgbGreen;
  plan.transparencyColor.blue = t.rgbBlue;
}

// PLTE and, for a palette with alpha, a tRNS entry per colour.
void PlanPalette(const RasterImage& image, PngPlan& plan, bool gray) {
  plan.writePalette = !gray;
  // The header's significant-colour count is trusted no further than the palette it describes,
  // and a palette shorter than the indices in use would make an invalid file.
  const uint32_t entries = std::min<uint32_t>(image.ColorCount(), 256);
  const uint32_t significant = image.SignificantColors();
  uint32_t count = significant != 0 && significant < entries ? significant : entries;
  if (count < entries) count = std::max(count, HighestIndexUsed(image, plan.swapIndex) + 1);
  plan.paletteCount = static_cast<int>(count);
  const auto entry = [&](uint32_t i) {
    return image.PaletteEntryAt(SwappedIndex(static_cast<uint8_t>(i), plan.swapIndex));
  };
  for (uint32_t i = 0; i < count; ++i) {
    const RGBQUAD e = entry(i);
    plan.palette[i] = {e.rgbRed, e.rgbGreen, e.rgbBlue};
  }
  if (image.Info().paletteAlpha != 0 && plan.colorType == PNG_COLOR_TYPE_PALETTE) {
    plan.writeTransparency = true;
    plan.transparencyCount = plan.paletteCount;
    for (uint32_t i = 0; i < count; ++i) plan.transparencyAlpha[i] = entry(i).rgbReserved;
  }
}

}  // namespace

PngOptions PngOptionsOf(const RasterImage& image) {
  return PngOptions{image.EncoderOption(ImageFormat::Png) == 1};
}

Status EncodePng(const RasterImage& image, const PngOptions& options, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  CheckedWriter writer(&out);
  PngPlan plan{};
  plan.image = &image;
  plan.writer = &writer;
  plan.width = image.Width();
  plan.height = image.Height();
  plan.interlace = options.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
  plan.pelsPerMeterX = static_cast<png_uint_32>(image.Header().biXPelsPerMeter);
  plan.pelsPerMeterY = static_cast<png_uint_32>(image.Header().biYPelsPerMeter);

  // Only the 8-bit identity ramp is written as gray: a 1- or 4-bit identity ramp holds the
  // levels 0..1 or 0..15, which a gray PNG of that depth would stretch to black..white.
  const bool palette = image.ColorCount() != 0;
  const bool gray = palette && image.BitsPerPixel() == 8 && image.HasGrayRamp();
  PlanLayout(image, plan, palette, gray);
  PlanTransparency(image, plan, palette, gray);
  if (palette) PlanPalette(image, plan, gray);

  std::vector<png_byte> rowBuffer;
  if (image.HasAlpha()) {
    rowBuffer.resize(size_t{image.Width()} * ((plan.colorType & PNG_COLOR_MASK_COLOR) ? 4 : 2));
  } else if (plan.swapIndex != 0) {
    rowBuffer.resize(image.RowStride());
  }
  plan.rowBuffer = rowBuffer.empty() ? nullptr : rowBuffer.data();

  switch (WritePng(&plan)) {
    case PngResult::Written:
      return Status::Ok();
    case PngResult::NoWriteStruct:
      return Status::Error("Failed to create PNG structure");
    case PngResult::NoInfoStruct:
      return Status::Error("Failed to initialize PNG info structure");
    case PngResult::LibpngError:
      break;
  }
  return Status::Error(WithReason("Error saving PNG file", plan.reason));
}

bool RasterImagePng::Encode(ByteStream* stream) {
  return EncodeThrough(
      stream, [this](ByteStream& out) { return EncodePng(*this, PngOptionsOf(*this), out); });
}

}  // namespace orvalis
