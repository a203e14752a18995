#pragma once
// The output formats, one row each: the engine's number and the image library's format, the
// names a person sees (command-line name, extension, list text), the colour setting with the
// colours it offers, and the recipe the engine follows for the format.
//
// Every part of the program that names or picks a format reads this table: the engine, the batch
// driver, orvalis-cli, orvalis-job and the window. The numbers and texts are data that stored
// Profile.ini files rely on: the row order is the setting "type", the engine number is what
// ConverterSetOption(OptFormat) takes.
//
// This header stays light (no image or library headers) so that any layer may include it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "image/image_format.h"

namespace orvalis {

// The engine's output format numbers (OptFormat). A type of its own: an engine number cannot be
// passed where an image library format is meant, nor the other way round.
enum class OutputFormat : int {
  Bmp = 1,
  Emf = 2,
  Wmf = 3,
  Jpeg = 4,
  Png = 5,
  Gif = 6,
  Tiff = 7,
  Pcx = 8,
  Tga = 9,
  Jp2 = 10,
  Ras = 11,
  Jpc = 12,
};

constexpr int NumberOf(OutputFormat format) {
  return static_cast<int>(format);
}

// Which pipeline writes the format.
enum class PipelineKind {
  Raster,    // one page through the colour steps into an image library encoder
  Tiff,      // single pages or one merged document, compression by page depth
  Metafile,  // the page drawn into an EMF or WMF recording
};

// The colours the settings pages offer, by the names stored Profile.ini files hold, with what
// each asks of the engine (OptBitDepth, OptGrayscale), and the processor time reducing a page to
// them takes, in eighths of the time drawing the page takes (measured on pages of text at 150
// dpi: an optimal palette of 256 colours seven eighths, the others two or three).
struct ColourChoice {
  std::string_view name;
  int depth;
  bool gray;
  uint32_t reduceEighths;
};
namespace colour {
inline constexpr ColourChoice kTrueColor{"True Color", 24, false, 0};
inline constexpr ColourChoice k256Color{"256 Color", 8, false, 7};
inline constexpr ColourChoice k256Grays{"256 Grays", 8, true, 2};
inline constexpr ColourChoice k16Color{"16 Color", 4, false, 3};
inline constexpr ColourChoice k16Grays{"16 Grays", 4, true, 2};
inline constexpr ColourChoice kBlackWhite{"B&W", 1, false, 3};
}  // namespace colour

// The page depth a requested depth (OptBitDepth) and the gray flag give.
enum class DepthRule {
  Palette,     // 1, 4 or 8 as asked, anything else 24
  PaletteOr8,  // GIF: 1, 4 or 8 as asked, anything else 8
  Jpeg,        // 8-bit gray or 24-bit colour; asking for 8 bits means gray
  GrayOr24,    // 8-bit gray when gray is asked, else 24-bit colour
  EightOr24,   // 8 as asked, anything else 24 (TGA)
};

// How a raster pipeline treats colour before the common steps.
enum class ColourStep {
  None,         // the metafiles, which draw the page as it is
  Palette,      // gray first when asked, then an optimal palette of the page depth
  GrayIfAsked,  // 8-bit gray or 24-bit colour
  Tga,          // 8 bits: gray when asked, else an optimal palette; otherwise 24-bit colour
  Tiff,         // like Palette, but JPEG compression at 8 bits keeps the gray levels unreduced
};

struct Recipe {
  PipelineKind pipeline;
  DepthRule depth;
  ColourStep colour;
  bool rotates;             // BMP output ignores the angle
  bool setsQuality;         // JPEG, TIFF (JPEG inside) and JPEG 2000 pass the quality on
  uint32_t encoderOptions;  // the image library's option word, 0 for none
  // What its encoder holds beside the picture it encodes, in eighths of the picture (measured:
  // JPEG 2000 about seven pictures, JPEG and the metafiles one, the others their rows).
  uint32_t encoderEighths;
  // The processor time its encoder takes for a page, in eighths of the time drawing the page
  // takes (measured on pages of text at 150 dpi: JPEG 2000 six drawings, PNG more than one,
  // JPEG five eighths, the formats that store the rows as they are a quarter). TIFF's is its
  // compression's (tiff_compressions.h).
  uint32_t encodeEighths;
};

struct OutputFormatInfo {
  OutputFormat format;
  ImageFormat imageFormat;     // None for the metafiles, which are not written by a codec
  std::string_view cliName;    // "jpg", as orvalis-cli and orvalis-job take it
  std::string_view extension;  // ".jpg"
  std::string_view listText;   // "JPEG Files(*.jpg)", the window's format list
  std::string_view colorKey;   // "jpgc", the settings key of its colour; "" for none
  std::span<const std::string_view> colorsOffered;  // empty for none
  std::string_view qualityKey;  // "JQu", the settings key of its quality; "" for none
  Recipe recipe;
  std::string_view description;  // the paragraph its settings page shows; "" without a page
};

// Every output format, in the order of the window's list (the setting "type").
std::span<const OutputFormatInfo> OutputFormats();

// The row of an engine format.
const OutputFormatInfo& InfoOf(OutputFormat format);

// The engine format of an engine number, nullopt for a number no format has.
std::optional<OutputFormat> OutputFormatFromNumber(int number);

// The row a command-line name picks (as written, lower case), nullptr for none.
const OutputFormatInfo* FindByCliName(std::string_view name);

// Every row's list text, and every row's command-line name, in the table's order.
std::span<const std::string_view> ListTexts();
std::span<const std::string_view> CliNames();

// The six colours, in the order of the fullest page's list.
std::span<const ColourChoice> ColourChoices();
// Their names, as the settings store and the pages write them.
std::span<const std::string_view> ColorNames();
// The colour of `colorName`, in any case; true colour for a name that is none (as the engine
// takes it).
const ColourChoice& ColourNamed(std::string_view colorName);

// ---- How the setting "type" or a list text picks a format, and what a colour name asks ----

// The texts of the window's format list, in order; the setting "type" indexes it.
std::span<const std::string_view> FormatListTexts();

struct FormatChoice {
  OutputFormat format;
  std::string extension;  // ".jpg", ...
  std::string colorKey;   // settings key of the format's colour name; "" for EMF and WMF
};

// Searches `itemText` for every known extension (after its first character); the last match in
// table order wins; no match gives JPEG.
FormatChoice FormatFromItemText(std::string_view itemText);

// The format chosen by the setting "type" (an index out of range gives JPEG).
FormatChoice FormatFromType(int type);

struct ColorOptions {
  int bitDepth;    // OptBitDepth
  bool grayscale;  // OptGrayscale set to 1
};

// The settings key of the format's colour name ("" for EMF and WMF).
std::string_view ColorKeyOf(OutputFormat format);

// Engine options of a colour name, compared without regard to case; any other text gives
// 24-bit colour.
ColorOptions ColorOptionsFor(std::string_view colorName);

// The colour names the settings page of `format` offers (empty for EMF and WMF).
std::span<const std::string_view> ColorNamesOffered(OutputFormat format);

// The processor time converting a page into `format` takes beyond drawing it, in eighths of the
// time drawing it takes: its encoder's (with TIFF compression `tiffCompress`, the setting
// "compress"), and the reduction to `colorName`'s colours.
uint32_t ConversionEighths(OutputFormat format, std::string_view colorName, int tiffCompress);

}  // namespace orvalis
