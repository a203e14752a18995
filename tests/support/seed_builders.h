#pragma once
// Inputs made in code for the fuzzers' seed corpora, and the pieces the fuzz targets share
// with them. No test framework here: the fuzz targets build without it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/byte_stream.h"
#include "image/codec_tiff.h"

namespace orvalis::test {

using Bytes = std::vector<uint8_t>;

struct Seed {
  std::string name;
  Bytes bytes;
};

// Writes each seed as a file of its name in `folder`.
void WriteSeedFiles(const std::string& folder, const std::vector<Seed>& seeds);

// ---- BMP ----

// A 40-byte info header.
Bytes BmpInfoHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                    uint32_t colors);
// A 14-byte file header in front of `dib` and `tail`, the pixels starting `pixelOffset` bytes
// into the DIB.
Bytes BmpFile(const Bytes& dib, const Bytes& tail, size_t pixelOffset);
// One small file per variant the decoder knows: OS/2 core header, RLE8, RLE4, bit fields,
// 32-bit, top-down, a DIB without file header.
std::vector<Seed> BmpSeeds();
// True when the header claims a picture that fits in memory but is large (over 4 M pixels).
bool ClaimsALargeBmpPicture(Bytes& bytes);

// ---- TIFF documents that pages are appended to ----

struct TiffPageChoice {
  uint32_t bits;
  uint32_t option;  // the TIFF encoder's option word
};
// The page kinds the first input byte chooses from.
std::span<const TiffPageChoice> TiffPageChoices();
// Appends one small page of the chosen kind; false when the writer refused.
bool AppendTiffPage(RasterImageTIF& tiff, ByteStream* stream, TiffPageChoice choice);
// Documents of one or two pages and bare headers, each behind a page-choice byte.
std::vector<Seed> TiffAppendSeeds();

// ---- Settings files ----

// Every settings key.
std::span<const std::string_view> ProfileKeys();
std::vector<Seed> ProfileSeeds();
// Parses `bytes`, reads every key, sets the key the first line picks to a value taken from it,
// and checks that the rewritten file reads back with that value and every other key unchanged.
// False when the check fails.
bool ProfileRewriteKeepsOtherKeys(std::string_view bytes);

}  // namespace orvalis::test
