#include "engine/output_formats.h"

#include <algorithm>
#include <cctype>
#include <vector>

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

// clang-format off
constexpr OutputFormatInfo kOutputFormats[] = {
    {OutputFormat::Jpeg, ImageFormat::Jpeg, "jpg", ".jpg", "JPEG Files(*.jpg)", "jpgc", kTrueOrGray, "JQu",
     {Raster, Jpeg, ColourStep::GrayIfAsked, true, true, kJpegOptimisedProgressive}},
    {OutputFormat::Tiff, ImageFormat::Tiff, "tif", ".tif", "TIFF Files(*.tif) ", "tifc", kColorNames, "TJQu",
     {PipelineKind::Tiff, Palette, ColourStep::Tiff, true, true, 0}},
    {OutputFormat::Bmp, ImageFormat::Bmp, "bmp", ".bmp", "BMP Files(*.bmp)", "bmpc", kColorNames, "",
     {Raster, Palette, ColourStep::Palette, false, false, 0}},
    {OutputFormat::Png, ImageFormat::Png, "png", ".png", "PNG Files(*.png)", "pngc", kColorNames, "",
     {Raster, Palette, ColourStep::Palette, true, false, 0}},
    {OutputFormat::Gif, ImageFormat::Gif, "gif", ".gif", "GIF Files(*.gif)", "gifc", kGifColors, "",
     {Raster, PaletteOr8, ColourStep::Palette, true, false, 0}},
    {OutputFormat::Pcx, ImageFormat::Pcx, "pcx", ".pcx", "PCX Files(*.pcx)", "pcxc", kColorNames, "",
     {Raster, Palette, ColourStep::Palette, true, false, 0}},
    {OutputFormat::Wmf, ImageFormat::None, "wmf", ".wmf", "WMF Files(*.wmf)", "", {}, "",
     {Metafile, Palette, ColourStep::None, true, false, 0}},
    {OutputFormat::Emf, ImageFormat::None, "emf", ".emf", "EMF Files(*.emf)", "", {}, "",
     {Metafile, Palette, ColourStep::None, true, false, 0}},
    {OutputFormat::Tga, ImageFormat::Tga, "tga", ".tga", "TGA Files(*.tga)", "tgac", kTgaColors, "",
     {Raster, EightOr24, ColourStep::Tga, true, false, 0}},
    {OutputFormat::Jp2, ImageFormat::Jp2, "jp2", ".jp2", "JPEG2000 Files(*.jp2)", "jp2c", kTrueOrGray, "",
     {Raster, GrayOr24, ColourStep::GrayIfAsked, true, true, 0}},
    {OutputFormat::Jpc, ImageFormat::Jpc, "jpc", ".jpc", "JPEG2000 Files(*.jpc)", "jpcc", kTrueOrGray, "",
     {Raster, GrayOr24, ColourStep::GrayIfAsked, true, true, 0}},
    {OutputFormat::Ras, ImageFormat::Ras, "ras", ".ras", "RAS Files(*.ras)", "rasc", kTrueOrGray, "",
     {Raster, GrayOr24, ColourStep::GrayIfAsked, true, false, 0}},
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
  for (const ColourChoice& choice : ColourChoices())
    if (EqualsIgnoringCase(colorName, choice.name)) return {choice.depth, choice.gray};
  return {colour::kTrueColor.depth, colour::kTrueColor.gray};
}

std::span<const std::string_view> ColorNamesOffered(OutputFormat format) {
  return InfoOf(format).colorsOffered;
}

}  // namespace orvalis
