#pragma once
// ZSoft PCX writer: version 5, run-length encoded, 1-bit (one plane, black and white), 4-bit
// (four 1-bit planes with the 16-colour map in the header), 8-bit (one plane, 256-colour palette
// after the body) and 24-bit (red, green, blue planes, and alpha as a fourth when present).
// Format: https://web.archive.org/web/20100206055706/http://www.qzx.com/pc-gpe/pcx.txt

#include <cstdint>

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// Writes the image as a PCX file; it has no options.
Status EncodePcx(const RasterImage& image, ByteStream& out);

// The library's PCX object: its Encode is EncodePcx over itself.
class RasterImagePcx : public RasterImage {
 public:
  RasterImagePcx() : RasterImage(ImageFormat::Pcx) {}

  bool Encode(ByteStream* stream);

  // The header holds width - 1 and height - 1 in 16 bits, and the bytes of one plane line
  // (even) in 16 bits.
  static constexpr uint32_t kMaxHeight = 65536;
  static uint32_t MaxWidth(uint32_t bitsPerPixel) { return bitsPerPixel >= 8 ? 65534 : 65536; }
};

}  // namespace orvalis
