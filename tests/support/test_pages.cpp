#include "tests/support/test_pages.h"

namespace orvalis::test {

RGBQUAD TestPatternAt(uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
  const auto red = static_cast<uint8_t>(width > 1 ? x * 255 / (width - 1) : 0);
  const auto green = static_cast<uint8_t>(height > 1 ? y * 255 / (height - 1) : 0);
  const auto blue = static_cast<uint8_t>((x * 7 + y * 13) & 0xFF);
  return RGBQUAD{blue, green, red, 0};
}

void FillTestPattern(RasterImage& image) {
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x)
      image.SetColorAt(x, y, TestPatternAt(x, y, image.Width(), image.Height()));
}

bool WriteTestPage(const std::string& path, uint32_t width, uint32_t height) {
  RasterImage page;
  if (page.Create(width, height, 24, ImageFormat::Bmp) == nullptr) return false;
  page.FillBytes(0);
  FillTestPattern(page);
  return page.Save(path, ImageFormat::Bmp);
}

}  // namespace orvalis::test
