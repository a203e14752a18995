#pragma once
// The TIFF compressions a person chooses, one row each, in the order of the setting "compress"
// (stored Profile.ini files rely on it): the settings page's list text, orvalis-cli's name, the
// engine's compression code (ConverterSetOption(OptCompression)), and the compression the TIFF
// encoder writes at each page depth. The window, orvalis-cli, the batch driver and the engine
// all read this table; nothing else numbers the compressions.
//
// Light, like output_formats.h: any layer may include it.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvalis {

// What a choice leaves of the TIFF page's colour list.
enum class TiffColours {
  Chosen,         // the list's colour
  TrueColour,     // JPEG: the list off on "True Color"
  BlackAndWhite,  // CCITT fax: the list off on "B&W"
};

struct TiffCompressionChoice {
  std::string_view listText;  // "Uncompressed", "LZW", ...
  std::string_view cliName;   // "uncompressed", "lzw", ...
  int engineCode;             // OptCompression
  TiffColours colours;
  bool usesQuality;  // the TIFF JPEG quality applies
  // The encoder's compression (image/tiff_compression.h) at depth 1, depth 4, depth 8 colour,
  // depth 8 gray and depth 24.
  std::array<uint32_t, 5> byDepth;
  // The processor time it takes for a page, in eighths of the time drawing the page takes
  // (measured at 150 dpi: JPEG inside TIFF seven eighths, LZW six, PackBits and the rows as
  // they are three, the fax codings of black and white one).
  uint32_t encodeEighths;
};

// Every choice, in the order of the setting "compress".
std::span<const TiffCompressionChoice> TiffCompressionChoices();

// The choice of the setting "compress"; an index out of range gives JPEG, as always.
const TiffCompressionChoice& TiffCompressionOf(int compressIndex);

// The engine code of the setting "compress".
inline int EngineCompressionCode(int compressIndex) {
  return TiffCompressionOf(compressIndex).engineCode;
}

// orvalis-cli's names, and the settings page's texts, in the order of the setting.
std::span<const std::string_view> TiffCompressionCliNames();
std::span<const std::string_view> TiffCompressionListTexts();

// The encoder's compression for an engine code at a page depth. A code no choice has (the
// engine's own gray-levels code among them) compresses like CCITT FAX4 does.
uint32_t TiffCompressionCode(int engineCode, int depth, bool gray);

}  // namespace orvalis
