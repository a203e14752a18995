#pragma once
// PNG writer over libpng 1.6. Format: https://www.w3.org/TR/png/
//
// Palette images become palette PNGs (colour type 3, bit depth 1, 4 or 8), except the 8-bit
// identity gray ramp, which becomes gray (type 0); true-colour images become RGB (type 2). An
// alpha plane adds an alpha channel (types 4 and 6). Every file carries bKGD and pHYs; tRNS marks
// the transparent palette entry, gray level or colour. Option 1 turns on Adam7 interlacing.

#include "image/raster_image.h"

namespace orvalis {

class RasterImagePng : public RasterImage {
 public:
  RasterImagePng() : RasterImage(ImageFormat::Png) {}

  bool Encode(ByteStream* stream);
};

}  // namespace orvalis
