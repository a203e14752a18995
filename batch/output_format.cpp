#include "batch/output_format.h"

#include <algorithm>
#include <cctype>

namespace orvalis {

namespace {

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
  for (const ColourChoice& choice : ColourChoices())
    if (EqualsIgnoringCase(colorName, choice.name)) return {choice.depth, choice.gray};
  return {colour::kTrueColor.depth, colour::kTrueColor.gray};
}

std::span<const std::string_view> ColorNamesOffered(OutputFormat format) {
  return InfoOf(format).colorsOffered;
}

}  // namespace orvalis
