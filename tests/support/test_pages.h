#pragma once
// Page images made in code for tests: distinct colours in each corner and a gradient between,
// so rotations, flips and resizes show in the pixels.

#include <cstdint>
#include <string>

#include "image/raster_image.h"

namespace orvalis::test {

// Fills a 24-bit page: each pixel's colour is a function of (x, y), with y from the bottom.
void FillTestPattern(RasterImage& image);

// The colour FillTestPattern gives pixel (x, y) of a width x height page (y from the bottom).
RGBQUAD TestPatternAt(uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// Writes a 24-bit BMP page of the test pattern; false when it cannot be written.
bool WriteTestPage(const std::string& path, uint32_t width, uint32_t height);

}  // namespace orvalis::test
