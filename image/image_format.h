#pragma once
// The image library's format numbers. A type of its own, so that the conversion engine's output
// format numbers (another numbering) cannot be passed where these are meant.

#include <cstdint>

namespace orvalis {

// None means "none / detect by content". Valid numbers are 0..21, each with an encoder option
// slot, though only some have codecs.
enum class ImageFormat : uint32_t {
  None = 0,
  Bmp = 1,
  Gif = 2,
  Jpeg = 3,
  Png = 4,
  Tiff = 6,
  Tga = 7,
  Pcx = 8,
  Jp2 = 11,
  Jpc = 12,
  Ras = 15,
};

// Number of format numbers the library reserves (encoder option slots).
inline constexpr uint32_t kImageFormatSlots = 22;

constexpr uint32_t NumberOf(ImageFormat format) {
  return static_cast<uint32_t>(format);
}

}  // namespace orvalis
