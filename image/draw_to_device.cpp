#include "image/raster_image.h"

namespace orvalis {

bool RasterImage::DrawToDevice(gdi::HDC dc, int32_t x, int32_t y, int32_t width, int32_t height,
                               uint32_t rasterOp) {
  if (!IsValid() || dc == nullptr) return false;
  gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);
  // The block is a packed BITMAPINFO followed by the rows, so GDI takes it as it is. A call
  // the context cannot record spoils a metafile recording, which its close call reports.
  gdi::StretchDIBits(dc, x, y, width, height, 0, 0, static_cast<int>(Width()),
                     static_cast<int>(Height()), PixelRows(), BitmapBlock(), gdi::DIB_RGB_COLORS,
                     rasterOp);
  return true;
}

}  // namespace orvalis
