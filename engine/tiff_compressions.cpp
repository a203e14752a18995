#include "engine/tiff_compressions.h"

#include <vector>

#include "image/tiff_compression.h"

namespace orvalis {

namespace {

using namespace tiff_compression;

using enum TiffColours;

// clang-format off
constexpr TiffCompressionChoice kChoices[] = {
    {"Uncompressed", "uncompressed", 0, Chosen, false, {kNone, kNone, kNone, kNone, kNone}, 3},
    {"LZW", "lzw", 1, Chosen, false, {kLzw, kLzw, kLzw, kLzw, kLzw}, 6},
    {"RLE", "rle", 6, Chosen, false, {kHuffmanRle, kLzw, kLzw, kLzw, kJpegYCbCr}, 7},
    {"JPEG", "jpeg", 2, TrueColour, true, {kFax4, kLzw, kLzw, kJpegYCbCr, kJpegYCbCr}, 7},
    {"PACKBITS", "packbits", 3, Chosen, false, {kFax4, kPackBits, kPackBits, kPackBits, kPackBits}, 3},
    {"CCITT FAX3", "fax3", 5, BlackAndWhite, false, {kFax3, kLzw, kLzw, kLzw, kJpegYCbCr}, 1},
    {"CCITT FAX4", "fax4", 4, BlackAndWhite, false, {kFax4, kLzw, kLzw, kLzw, kJpegYCbCr}, 1},
};
// clang-format on
constexpr int kJpegChoice = 3;
constexpr int kFax4Choice = 6;

std::vector<std::string_view> Column(std::string_view TiffCompressionChoice::*field) {
  std::vector<std::string_view> column;
  for (const TiffCompressionChoice& choice : kChoices) column.push_back(choice.*field);
  return column;
}

}  // namespace

std::span<const TiffCompressionChoice> TiffCompressionChoices() {
  return kChoices;
}

const TiffCompressionChoice& TiffCompressionOf(int compressIndex) {
  if (compressIndex < 0 || compressIndex >= static_cast<int>(std::size(kChoices)))
    return kChoices[kJpegChoice];
  return kChoices[compressIndex];
}

std::span<const std::string_view> TiffCompressionCliNames() {
  static const std::vector<std::string_view> names = Column(&TiffCompressionChoice::cliName);
  return names;
}

std::span<const std::string_view> TiffCompressionListTexts() {
  static const std::vector<std::string_view> texts = Column(&TiffCompressionChoice::listText);
  return texts;
}

uint32_t TiffCompressionCode(int engineCode, int depth, bool gray) {
  const TiffCompressionChoice* choice = &kChoices[kFax4Choice];
  for (const TiffCompressionChoice& candidate : kChoices)
    if (candidate.engineCode == engineCode) choice = &candidate;
  const int column = depth == 1 ? 0 : depth == 4 ? 1 : depth == 8 ? (gray ? 3 : 2) : 4;
  return choice->byDepth[static_cast<size_t>(column)];
}

}  // namespace orvalis
