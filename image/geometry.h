#pragma once
// Geometry: quarter turns, turns by any angle and nearest-pixel scaling. The operations are
// RasterImage members (raster_image.h) with their bodies in geometry.cpp; this header exposes the
// arithmetic of the free turn so that callers and tests can see the canvas a turn will need.

#include <cstdint>

namespace orvalis {

// A turn by `degrees` (positive = clockwise as displayed) of a width x height picture: the
// rotation terms and the bounding box of the turned corners (0, 0), (W, 0), (0, H), (W, H), kept
// as 32-bit floats. `width` and `height` are floor(max - min + 0.5), not yet checked against any
// limit (NaN for an angle that is not finite).
struct RotationFrame {
  double ca = 1.0;
  double sa = 0.0;
  float minX = 0, maxX = 0, minY = 0, maxY = 0;
  double width = 0;
  double height = 0;
};

RotationFrame ComputeRotationFrame(uint32_t width, uint32_t height, float degrees);

}  // namespace orvalis
