#pragma once
// Shared steps of every operation that rebuilds an image's pixels: the result is built in a
// temporary image that starts from the source's settings (resolution, quality, encoder options,
// transparency), then moves into the source or into a destination the caller names. Until that
// move the source is untouched, so a failure anywhere before it leaves the source as it was.

#include <cstdint>
#include <cstring>

#include "image/raster_image.h"

namespace orvalis {

// Clears every bit of every row that belongs to no pixel: the padding to 4 bytes and the unused
// low bits of a partly used last byte of 1- and 4-bit rows. Create leaves pixel bytes
// uninitialised and results are filled pixel by pixel, so without this the padding would carry
// stale heap bytes into files.
inline void ClearRowPadding(RasterImage& image) {
  const size_t bits = size_t{image.Width()} * image.BitsPerPixel();
  const size_t whole = bits / 8;
  const size_t stride = image.RowStride();
  const auto keep = static_cast<uint8_t>(0xFF00 >> (bits % 8));  // used high bits of the last byte
  for (uint32_t y = 0; y < image.Height() && whole < stride; ++y) {
    uint8_t* row = image.RowAddress(y);
    row[whole] &= keep;
    std::memset(row + whole + 1, 0, stride - whole - 1);
  }
}

// Prepares `temp` (constructed with format 0) as the result of a transform of `source`: takes
// over the source's settings and creates an image of the given size and depth in the source's
// format, its row padding cleared. False, with the message in temp's error text, when it cannot be
// created.
inline bool CreateTemporaryFor(RasterImage& temp, const RasterImage& source, uint32_t width,
                               uint32_t height, uint32_t bitsPerPixel) {
  temp.CopyInfoFrom(source);
  if (temp.Create(width, height, bitsPerPixel, source.SourceFormat()) == nullptr) return false;
  ClearRowPadding(temp);
  return true;
}

// Moves a finished result into the destination, or into the source when there is none.
inline bool CommitTemporary(RasterImage& temp, RasterImage& source, RasterImage* destination) {
  RasterImage& target = destination != nullptr ? *destination : source;
  return target.TakeOver(temp);
}

}  // namespace orvalis
