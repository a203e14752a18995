#pragma once
// Drawing a page into a GDI device context: what the metafile outputs record.

#include <cstdint>

#include "image/raster_image.h"
#include "platform/gdi.h"

namespace orvalis {

// Stretches the whole picture into (x, y, width, height) of the context with StretchDIBits,
// in COLORONCOLOR mode; false only for an empty image or no context.
bool DrawToDevice(const RasterImage& image, gdi::HDC dc, int32_t x, int32_t y, int32_t width,
                  int32_t height, uint32_t rasterOp);

}  // namespace orvalis
