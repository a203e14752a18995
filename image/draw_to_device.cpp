#include "image/draw_to_device.h"

namespace orvalis {

bool DrawToDevice(const RasterImage& image, gdi::HDC dc, int32_t x, int32_t y, int32_t width,
                  int32_t height, uint32_t rasterOp) {
  if (!image.IsValid() || dc == nullptr) return false;
  gdi::SetStretchBltMode(dc, gdi::COLORONCOLOR);
  // The block is a packed BITMAPINFO followed by the rows, so GDI takes it as it is. A call
  // the context cannot record spoils a metafile recording, which its close call reports.
  gdi::StretchDIBits(dc, x, y, width, height, 0, 0, static_cast<int>(image.Width()),
                     static_cast<int>(image.Height()), image.PixelRows(), image.BitmapBlock(),
                     gdi::DIB_RGB_COLORS, rasterOp);
  return true;
}

}  // namespace orvalis
