#pragma once
// PNG writer over libpng 1.6. Format: https://www.w3.org/TR/png/
//
// Palette images become palette PNGs (colour type 3, bit depth 1, 4 or 8), except the 8-bit
// identity gray ramp, which becomes gray (type 0); true-colour images become RGB (type 2). An
// alpha plane adds an alpha channel (types 4 and 6). Every file carries bKGD and pHYs; tRNS marks
// the transparent palette entry, gray level or colour (a transparent palette entry is written as
// entry 0, exchanged with the one there; the image itself is never changed).

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

struct PngOptions {
  bool interlace = false;  // Adam7
};

// The options an image's own settings ask for: option word 1 turns on interlacing.
PngOptions PngOptionsOf(const RasterImage& image);

Status EncodePng(const RasterImage& image, const PngOptions& options, ByteStream& out);

// The library's PNG object: its Encode is EncodePng over itself with its own settings.
class RasterImagePng : public RasterImage {
 public:
  RasterImagePng() : RasterImage(ImageFormat::Png) {}

  bool Encode(ByteStream* stream);
};

}  // namespace orvalis
