#include "engine/output_formats.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/tiff_compressions.h"
#include "image/codec_jpeg.h"

namespace orvalis {

namespace {

using namespace colour;

constexpr ColourChoice kColourChoices[] = {kTrueColor, k256Color, k256Grays,
                                           k16Color,   k16Grays,  kBlackWhite};
constexpr std::string_view kColorNames[] = {kTrueColor.name, k256Color.name, k256Grays.name,
                                            k16Color.name,   k16Grays.name,  kBlackWhite.name};
constexpr std::string_view kTrueOrGray[] = {kTrueColor.name, k256Grays.name};
constexpr std::string_view kGifColors[] = {k256Color.name, k256Grays.name, k16Color.name,
                                           k16Grays.name, kBlackWhite.name};
constexpr std::string_view kTgaColors[] = {kTrueColor.name, k256Color.name, k256Grays.name};

// JPEG's option word: Huffman tables fitted to the page, progressive scans.
constexpr uint32_t kJpegOptimisedProgressive = JpegOption::OptimizeTables | JpegOption::Progressive;

using enum PipelineKind;
using enum DepthRule;

// The paragraphs the format pages show under "Introduce:".
constexpr std::string_view kBmpText =
    "The BMP file format, also known as bitmap or Device Independent Bitmap (DIB) file "
    "format, is a image file format used to store bitmap digital images, especially on "
    "Microsoft Windows and OS/2 operating systems.";
constexpr std::string_view kTiffText =
    "Tagged Image File Format (abbreviated TIFF) is a file format for storing images, "
    "including photographs and line art.";
constexpr std::string_view kJpegText =
    "JPEG is a compression method specifically intended for continuous-tone images.";
constexpr std::string_view kGifText =
    "The Graphics Interchange Format (GIF) is a bitmap image format that was introduced "
    "by CompuServe in 1987 and has since come into widespread usage on the World Wide "
    "Web due to its wide support and portability.";
constexpr std::string_view kPngText =
    "Portable Network Graphics is a bitmapped image format that employs lossless data "
    "compression.";
constexpr std::string_view kPcxText =
    "PCX is the native file format for PC Paintbrush (PCX = 'Personal Computer "
    "eXchange') and became one of the first widely accepted DOS imaging standards.";
constexpr std::string_view kJp2Text =
    "JPEG 2000 is an image compression standard and coding system. It was created by "
    "the Joint Photographic Experts Group committee in 2000 to succeed the original "
    "JPEG standard.";
constexpr std::string_view kJpcText =
    "JPC is an image file similar to JPEG-1, and it is in connection with File "
    "containing JPEG 2000 Code. A bare JPEG 2000 code stream, without the boxes of a JP2 "
    "file, is usually stored with the extension .jpc or .j2k.";
constexpr std::string_view kRasText =
    "The RAS file extension is related to Sun Raster format. Sun Microsystems created "
    "the format for the workstations of its SunOS operating system. A file holds a "
    "32-byte header, an optional colour map and the pixel rows. The rows are stored "
    "uncompressed or run-length encoded.";
constexpr std::string_view kTgaText =
    "Truevision TGA, often referred to as TARGA, is a raster graphics file format. The "
    "name stands for Truevision Graphics Adapter and Truevision Advanced Raster Graphics "
    "Adapter, the display cards it was first made for.";

// clang-format off
constexpr OutputFormatInfo kOutputFormats[] = {
    {OutputFormat::Jpeg, ImageFormat::Jpeg, "jpg", ".jpg", "JPEG Files(*.jpg)", "jpgc", kTrueOrGray, "JQu",
     {Raster, Jpeg, ColourStep::GrayIfAsked, true, true, kJpegOptimisedProgressive, 8, 5}, kJpegText},
    {OutputFormat::Tiff, ImageFormat::Tiff, "tif", ".tif", "TIFF Files(*.tif) ", "tifc", kColorNames, "TJQu",
     {PipelineKind::Tiff, Palette, ColourStep::Tiff, true, true, 0, 1, 0}, kTiffText},
    {OutputFormat::Bmp, ImageFormat::Bmp, "bmp", ".bmp", "BMP Files(*.bmp)", "bmpc", kColorNames, "",
     {Raster, Palette, ColourStep::Palette, false, false, 0, 1, 2}, kBmpText},
    {OutputFormat::Png, ImageFormat::Png, "png", ".png", "PNG Files(*.png)", "pngc", kColorNames, "",
     {Raster, Palette, ColourStep::Palette, true, false, 0, 1, 11}, kPngText},
    {OutputFormat::Gif, ImageFormat::Gif, "gif", ".gif", "GIF Files(*.gif)", "gifc", kGifColors, "",
     {Raster, PaletteOr8, ColourStep::Palette, true, false, 0, 1, 4}, kGifText},
    {OutputFormat::Pcx, ImageFormat::Pcx, "pcx", ".pcx", "PCX Files(*.pcx)", "pcxc", kColorNames, "",
     {Raster, Palette, ColourStep::Palette, true, false, 0, 1, 2}, kPcxText},
    {OutputFormat::Wmf, ImageFormat::None, "wmf", ".wmf", "WMF Files(*.wmf)", "", {}, "",
     {Metafile, Palette, ColourStep::None, true, false, 0, 8, 2}, ""},
    {OutputFormat::Emf, ImageFormat::None, "emf", ".emf", "EMF Files(*.emf)", "", {}, "",
     {Metafile, Palette, ColourStep::None, true, false, 0, 8, 2}, ""},
    {OutputFormat::Tga, ImageFormat::Tga, "tga", ".tga", "TGA Files(*.tga)", "tgac", kTgaColors, "",
     {Raster, EightOr24, ColourStep::Tga, true, false, 0, 1, 2}, kTgaText},
    {OutputFormat::Jp2, ImageFormat::Jp2, "jp2", ".jp2", "JPEG2000 Files(*.jp2)", "jp2c", kTrueOrGray, "",
     {Raster, GrayOr24, ColourStep::GrayIfAsked, true, true, 0, 56, 48}, kJp2Text},
    {OutputFormat::Jpc, ImageFormat::Jpc, "jpc", ".jpc", "JPEG2000 Files(*.jpc)", "jpcc", kTrueOrGray, "",
     {Raster, GrayOr24, ColourStep::GrayIfAsked, true, true, 0, 56, 48}, kJpcText},
    {OutputFormat::Ras, ImageFormat::Ras, "ras", ".ras", "RAS Files(*.ras)", "rasc", kTrueOrGray, "",
     {Raster, GrayOr24, ColourStep::GrayIfAsked, true, false, 0, 1, 2}, kRasText},
};
// clang-format on

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

FormatChoice ChoiceOf(const OutputFormatInfo& info) {
  return {info.format, std::string(info.extension), std::string(info.colorKey)};
}

}  // namespace

std::span<const OutputFormatInfo> OutputFormats() {
  return kOutputFormats;
}

std::optional<OutputFormat> OutputFormatFromNumber(int number) {
  for (const OutputFormatInfo& info : kOutputFormats)
    if (NumberOf(info.format) == number) return info.format;
  return std::nullopt;
}

const OutputFormatInfo& InfoOf(OutputFormat format) {
  const auto* it =
      std::find_if(std::begin(kOutputFormats), std::end(kOutputFormats),
                   [format](const OutputFormatInfo& info) { return info.format == format; });
  // Every enumerator has its row (checked by the tests), so the search always ends on one.
  return it != std::end(kOutputFormats) ? *it : kOutputFormats[0];
}

const OutputFormatInfo* FindByCliName(std::string_view name) {
  for (const OutputFormatInfo& info : kOutputFormats)
    if (info.cliName == name) return &info;
  return nullptr;
}

namespace {

std::vector<std::string_view> Column(std::string_view OutputFormatInfo::*field) {
  std::vector<std::string_view> column;
  for (const OutputFormatInfo& info : kOutputFormats) column.push_back(info.*field);
  return column;
}

}  // namespace

const ColourChoice& ColourNamed(std::string_view colorName) {
  for (const ColourChoice& choice : kColourChoices)
    if (EqualsIgnoringCase(colorName, choice.name)) return choice;
  return colour::kTrueColor;
}

std::span<const std::string_view> ListTexts() {
  static const std::vector<std::string_view> texts = Column(&OutputFormatInfo::listText);
  return texts;
}

std::span<const std::string_view> CliNames() {
  static const std::vector<std::string_view> names = Column(&OutputFormatInfo::cliName);
  return names;
}

std::span<const ColourChoice> ColourChoices() {
  return kColourChoices;
}

std::span<const std::string_view> ColorNames() {
  return kColorNames;
}

std::span<const std::string_view> FormatListTexts() {
  return ListTexts();
}

FormatChoice FormatFromItemText(std::string_view itemText) {
  FormatChoice choice = ChoiceOf(InfoOf(OutputFormat::Jpeg));
  for (const OutputFormatInfo& info : OutputFormats()) {
    const size_t at = itemText.find(info.extension);
    if (at != std::string_view::npos && at > 0) choice = ChoiceOf(info);
  }
  return choice;
}

FormatChoice FormatFromType(int type) {
  const std::span<const OutputFormatInfo> formats = OutputFormats();
  if (type < 0 || type >= static_cast<int>(formats.size())) return FormatFromItemText("");
  return FormatFromItemText(formats[static_cast<size_t>(type)].listText);
}

std::string_view ColorKeyOf(OutputFormat format) {
  return InfoOf(format).colorKey;
}

ColorOptions ColorOptionsFor(std::string_view colorName) {
  const ColourChoice& choice = ColourNamed(colorName);
  return {choice.depth, choice.gray};
}

std::span<const std::string_view> ColorNamesOffered(OutputFormat format) {
  return InfoOf(format).colorsOffered;
}

uint32_t ConversionEighths(OutputFormat format, std::string_view colorName, int tiffCompress) {
  const uint32_t encode = format == OutputFormat::Tiff
                              ? TiffCompressionOf(tiffCompress).encodeEighths
                              : InfoOf(format).recipe.encodeEighths;
  return encode + ColourNamed(colorName).reduceEighths;
}

}  // namespace orvalis
