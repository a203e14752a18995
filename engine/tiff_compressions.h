#pragma once
// The TIFF compressions a person chooses, one row each, in the order of the setting "compress"
// (stored Profile.ini files rely on it): the settings page's list text, orvalis-cli's name, the
// engine's compression code (ConverterSetOption(OptCompression)), and the compression the TIFF
// encoder writes at each page depth. The window, orvalis-cli, the batch driver and the engine
// all read this table; nothing else numbers the compressions.
//
// Which colours a choice writes follows from the table: a colour is written with the choice's
// own compression where the choice's column for that colour's depth holds it. A colour the
// choice does not write is written with the usual compression of its depth (B&W CCITT Group 4,
// 16 and 256 colours or grays LZW, True Color JPEG). The settings page and orvalis-cli both take
// their colour rules from here (TiffColoursWritten, TiffColourSelected, TiffCompressionWritten).
//
// Light, like output_formats.h: any layer may include it.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/output_formats.h"

namespace orvalis {

struct TiffCompressionChoice {
  std::string_view listText;  // "Uncompressed", "LZW", ...
  std::string_view cliName;   // "uncompressed", "lzw", ...
  int engineCode;             // OptCompression
  uint32_t own;               // the encoder's compression this choice stands for
  bool usesQuality;           // the TIFF JPEG quality applies
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

// ---- The colours each choice writes (by the setting "compress") ----

// Whether the choice writes `colour` with its own compression.
bool TiffCompressionWrites(int compressIndex, const ColourChoice& colour);

// The colours the choice writes with its own compression, in the order of ColourChoices():
// every one for uncompressed and LZW, all but B&W for PackBits, True Color and 256 Grays for
// JPEG, B&W alone for RLE and the fax codes.
std::vector<ColourChoice> TiffColoursWritten(int compressIndex);

// The colour choosing the compression selects: the first it writes ("True Color", or "B&W"
// for RLE and the fax codes).
const ColourChoice& TiffColourSelected(int compressIndex);

// The choice whose compression a page of `colour` is written with under the setting
// "compress": the choice itself when it writes the colour, otherwise the usual one for the
// colour's depth (fax4, lzw or jpeg).
const TiffCompressionChoice& TiffCompressionWritten(int compressIndex, const ColourChoice& colour);

// The choices that write `colour` with their own compression, in the order of the setting.
std::vector<std::string_view> TiffCompressionsWriting(const ColourChoice& colour);

}  // namespace orvalis
