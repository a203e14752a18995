#pragma once
// Windows BMP reader and writer.
// Format: https://learn.microsoft.com/en-us/windows/win32/gdi/bitmap-storage

#include "image/raster_image.h"

namespace orvalis {

class RasterImageBmp : public RasterImage {
 public:
  RasterImageBmp() : RasterImage(ImageFormat::Bmp) {}

  bool Decode(ByteStream* stream);
  bool Encode(ByteStream* stream);
};

}  // namespace orvalis
