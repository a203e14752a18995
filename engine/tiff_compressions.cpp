#include "engine/tiff_compressions.h"

#include <vector>

#include "image/tiff_compression.h"

namespace orvalis {

namespace {

using namespace tiff_compression;

// clang-format off
constexpr TiffCompressionChoice kChoices[] = {
    {"Uncompressed", "uncompressed", 0, kNone, false, {kNone, kNone, kNone, kNone, kNone}, 3},
    {"LZW", "lzw", 1, kLzw, false, {kLzw, kLzw, kLzw, kLzw, kLzw}, 6},
    {"RLE", "rle", 6, kHuffmanRle, false, {kHuffmanRle, kLzw, kLzw, kLzw, kJpegYCbCr}, 7},
    {"JPEG", "jpeg", 2, kJpegYCbCr, true, {kFax4, kLzw, kLzw, kJpegYCbCr, kJpegYCbCr}, 7},
    {"PACKBITS", "packbits", 3, kPackBits, false, {kFax4, kPackBits, kPackBits, kPackBits, kPackBits}, 3},
    {"CCITT FAX3", "fax3", 5, kFax3, false, {kFax3, kLzw, kLzw, kLzw, kJpegYCbCr}, 1},
    {"CCITT FAX4", "fax4", 4, kFax4, false, {kFax4, kLzw, kLzw, kLzw, kJpegYCbCr}, 1},
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

namespace {

size_t ColumnOf(int depth, bool gray) {
  return depth == 1 ? 0 : depth == 4 ? 1 : depth == 8 ? (gray ? 3 : 2) : 4;
}

uint32_t CodeFor(const TiffCompressionChoice& choice, const ColourChoice& colour) {
  return choice.byDepth[ColumnOf(colour.depth, colour.gray)];
}

}  // namespace

uint32_t TiffCompressionCode(int engineCode, int depth, bool gray) {
  const TiffCompressionChoice* choice = &kChoices[kFax4Choice];
  for (const TiffCompressionChoice& candidate : kChoices)
    if (candidate.engineCode == engineCode) choice = &candidate;
  return choice->byDepth[ColumnOf(depth, gray)];
}

bool TiffCompressionWrites(int compressIndex, const ColourChoice& colour) {
  const TiffCompressionChoice& choice = TiffCompressionOf(compressIndex);
  return CodeFor(choice, colour) == choice.own;
}

std::vector<ColourChoice> TiffColoursWritten(int compressIndex) {
  std::vector<ColourChoice> written;
  for (const ColourChoice& colour : ColourChoices())
    if (TiffCompressionWrites(compressIndex, colour)) written.push_back(colour);
  return written;
}

const ColourChoice& TiffColourSelected(int compressIndex) {
  for (const ColourChoice& colour : ColourChoices())
    if (TiffCompressionWrites(compressIndex, colour)) return colour;
  return ColourChoices().front();  // every choice writes at least one colour (tested)
}

const TiffCompressionChoice& TiffCompressionWritten(int compressIndex, const ColourChoice& colour) {
  const uint32_t code = CodeFor(TiffCompressionOf(compressIndex), colour);
  for (const TiffCompressionChoice& choice : kChoices)
    if (choice.own == code) return choice;
  return TiffCompressionOf(compressIndex);  // every code of the table is some choice's own
}

std::vector<std::string_view> TiffCompressionsWriting(const ColourChoice& colour) {
  std::vector<std::string_view> names;
  for (int index = 0; index < static_cast<int>(std::size(kChoices)); ++index)
    if (TiffCompressionWrites(index, colour)) names.push_back(kChoices[index].cliName);
  return names;
}

}  // namespace orvalis
