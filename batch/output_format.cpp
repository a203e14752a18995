#include "batch/output_format.h"

#include <algorithm>
#include <cctype>

#include "engine/converter.h"

namespace orvalis {

namespace {

constexpr std::string_view kFormatListTexts[] = {
    "JPEG Files(*.jpg)", "TIFF Files(*.tif) ",    "BMP Files(*.bmp)",      "PNG Files(*.png)",
    "GIF Files(*.gif)",  "PCX Files(*.pcx)",      "WMF Files(*.wmf)",      "EMF Files(*.emf)",
    "TGA Files(*.tga)",  "JPEG2000 Files(*.jp2)", "JPEG2000 Files(*.jpc)", "RAS Files(*.ras)",
};

struct ExtensionEntry {
  std::string_view extension;
  int format;
  std::string_view colorKey;
};

constexpr ExtensionEntry kExtensions[] = {
    {".tif", Tiff, "tifc"}, {".jpg", Jpeg, "jpgc"}, {".bmp", Bmp, "bmpc"}, {".gif", Gif, "gifc"},
    {".png", Png, "pngc"},  {".pcx", Pcx, "pcxc"},  {".wmf", Wmf, ""},     {".emf", Emf, ""},
    {".tga", Tga, "tgac"},  {".jp2", Jp2, "jp2c"},  {".ras", Ras, "rasc"}, {".jpc", Jpc, "jpcc"},
};

constexpr std::string_view kColorNames[] = {"True Color", "256 Color", "256 Grays",
                                            "16 Color",   "16 Grays",  "B&W"};

constexpr ColorOptions kColorOptions[] = {{24, false}, {8, false}, {8, true},
                                          {4, false},  {4, true},  {1, false}};

constexpr std::string_view kTrueOrGray[] = {"True Color", "256 Grays"};
constexpr std::string_view kGifColors[] = {"256 Color", "256 Grays", "16 Color", "16 Grays", "B&W"};
constexpr std::string_view kTgaColors[] = {"True Color", "256 Color", "256 Grays"};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::span<const std::string_view> FormatListTexts() {
  return kFormatListTexts;
}

FormatChoice FormatFromItemText(std::string_view itemText) {
  FormatChoice choice{Jpeg, ".jpg", "jpgc"};
  for (const ExtensionEntry& entry : kExtensions) {
    const size_t at = itemText.find(entry.extension);
    if (at != std::string_view::npos && at > 0)
      choice = {entry.format, std::string(entry.extension), std::string(entry.colorKey)};
  }
  return choice;
}

FormatChoice FormatFromType(int type) {
  if (type < 0 || type >= static_cast<int>(std::size(kFormatListTexts)))
    return FormatFromItemText("");
  return FormatFromItemText(kFormatListTexts[type]);
}

std::string_view ColorKeyOf(int format) {
  for (const ExtensionEntry& entry : kExtensions)
    if (entry.format == format) return entry.colorKey;
  return {};
}

ColorOptions ColorOptionsFor(std::string_view colorName) {
  for (size_t i = 0; i < std::size(kColorNames); ++i)
    if (EqualsIgnoringCase(colorName, kColorNames[i])) return kColorOptions[i];
  return {24, false};
}

std::span<const std::string_view> ColorNames() {
  return kColorNames;
}

std::span<const std::string_view> ColorNamesOffered(int format) {
  switch (format) {
    case Bmp:
    case Tiff:
    case Png:
    case Pcx:
      return kColorNames;
    case Jpeg:
    case Jp2:
    case Jpc:
    case Ras:
      return kTrueOrGray;
    case Gif:
      return kGifColors;
    case Tga:
      return kTgaColors;
    default:
      return {};
  }
}

int EngineCompressionCode(int compressIndex) {
  static constexpr int kCodes[] = {0, 1, 6, 2, 3, 5, 4};
  if (compressIndex < 0 || compressIndex >= static_cast<int>(std::size(kCodes))) return 2;
  return kCodes[compressIndex];
}

}  // namespace orvalis
