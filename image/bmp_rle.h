#pragma once
// Run-length decoders for BMP pixel data (BI_RLE8 and BI_RLE4).
// Format: https://learn.microsoft.com/en-us/windows/win32/gdi/bitmap-compression
//
// Both write into rows of `rowStride` bytes, row 0 first, and never outside `size` bytes of
// `pixels`. Runs, deltas and rows that leave that memory are consumed but not stored; the
// decoders stop at the end-of-bitmap escape or when the stream runs out, whichever comes first.
// Pixels the stream never reaches keep whatever the caller put there (the codec clears them).

#include <cstddef>
#include <cstdint>

#include "image/byte_stream.h"

namespace orvalis {

struct RlePixels {
  uint8_t* pixels = nullptr;
  size_t size = 0;         // bytes of pixel memory
  uint32_t rowStride = 0;  // bytes per row
  uint32_t height = 0;     // rows
};

// Byte runs: an encoded run stops at the end of its row; absolute bytes past the row's end land
// in the next row's memory as long as that memory exists.
void DecodeRle8(ByteStream& stream, const RlePixels& target);

// Nibble runs: the high nibble of a byte is the left pixel.
void DecodeRle4(ByteStream& stream, const RlePixels& target);

}  // namespace orvalis
