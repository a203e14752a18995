#pragma once
// The batch driver's view of the output format table (engine/output_formats.h): how the
// setting "type" or a list text picks the format, and the colour names with their engine options.

#include <span>
#include <string>
#include <string_view>

#include "engine/output_formats.h"

namespace orvalis {

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

}  // namespace orvalis
