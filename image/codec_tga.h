#pragma once
// Truevision TGA writer: uncompressed, origin at the lower left; 8-bit images colour-mapped with
// a 256-entry map of 24-bit entries, 24-bit images as blue, green, red (32-bit with alpha).
// Format: https://www.dca.fee.unicamp.br/~martino/disciplinas/ea978/tgaffs.pdf

#include <cstdint>

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// Width and height are 16-bit header fields.
inline constexpr uint32_t kTgaMaxSide = 65535;

// Writes the image as a TGA file; it has no options.
Status EncodeTga(const RasterImage& image, ByteStream& out);

// The library's TGA object: its Encode is EncodeTga over itself.
class RasterImageTga : public RasterImage {
 public:
  RasterImageTga() : RasterImage(ImageFormat::Tga) {}

  bool Encode(ByteStream* stream);

  static constexpr uint32_t kMaxSide = kTgaMaxSide;
};

}  // namespace orvalis
