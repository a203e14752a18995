#pragma once
// The TIFF encoder's option words (EncoderOption(ImageFormat::Tiff)). Most are the TIFF
// standard's compression values; kJpegYCbCr is this library's own.

#include <cstdint>

namespace orvalis::tiff_compression {

inline constexpr uint32_t kByDepth = 0;  // the usual compression for the page's depth
inline constexpr uint32_t kNone = 1;
inline constexpr uint32_t kHuffmanRle = 2;  // CCITT modified Huffman run length
inline constexpr uint32_t kFax3 = 3;        // CCITT Group 3 fax
inline constexpr uint32_t kFax4 = 4;        // CCITT Group 4 fax
inline constexpr uint32_t kLzw = 5;
inline constexpr uint32_t kJpeg = 7;
inline constexpr uint32_t kPackBits = 32773;
// JPEG, with colour pages converted to YCbCr by the encoder itself.
inline constexpr uint32_t kJpegYCbCr = 19999;

}  // namespace orvalis::tiff_compression
