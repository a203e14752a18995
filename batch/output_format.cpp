#include "batch/output_format.h"

#include <algorithm>
#include <cctype>

namespace orvalis {

namespace {

// The engine options of each of ColorNames(), in its order.
constexpr ColorOptions kColorOptions[] = {{24, false}, {8, false}, {8, true},
                                          {4, false},  {4, true},  {1, false}};

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
  const std::span<const std::string_view> names = ColorNames();
  static_assert(std::size(kColorOptions) == 6);
  for (size_t i = 0; i < names.size() && i < std::size(kColorOptions); ++i)
    if (EqualsIgnoringCase(colorName, names[i])) return kColorOptions[i];
  return {24, false};
}

std::span<const std::string_view> ColorNamesOffered(OutputFormat format) {
  return InfoOf(format).colorsOffered;
}

int EngineCompressionCode(int compressIndex) {
  static constexpr int kCodes[] = {0, 1, 6, 2, 3, 5, 4};
  if (compressIndex < 0 || compressIndex >= static_cast<int>(std::size(kCodes))) return 2;
  return kCodes[compressIndex];
}

}  // namespace orvalis
