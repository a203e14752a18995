#pragma once
// Sun raster writer. Format: the rasterfile(5) manual page of SunOS,
// https://www.fileformat.info/format/sunraster/egff.htm
//
// A 32-byte big-endian header (magic 0x59a66a95, width, height, depth, data length, type
// RT_STANDARD, no colour map), then the rows from the top of the picture, each padded to a
// multiple of 16 bits. A true-colour image is written with 24-bit pixels stored blue, green,
// red; an image with the identity gray palette with 8-bit gray levels (its palette indices).

#include <cstdint>

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// Writes the image as a Sun raster file; it has no options.
Status EncodeRas(const RasterImage& image, ByteStream& out);

// The library's Sun raster object: its Encode is EncodeRas over itself.
class RasterImageRas : public RasterImage {
 public:
  RasterImageRas() : RasterImage(ImageFormat::Ras) {}

  bool Encode(ByteStream* stream);
};

}  // namespace orvalis
