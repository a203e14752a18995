#include "image/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/colour_reduction.h"
#include "image/raster_image.h"
#include "image/transform_support.h"

namespace orvalis {
namespace {

constexpr uint32_t kTile = 64;

// A blank result of the given size with the source's depth, palette and settings. On failure the
// message is copied to the source, which is otherwise left alone.
bool BeginResult(RasterImage& temp, RasterImage& source, uint32_t width, uint32_t height) {
  if (!CreateTemporaryFor(temp, source, width, height, source.BitsPerPixel())) {
    source.SetErrorText(temp.ErrorText());
    return false;
  }
  temp.ReplacePalette(source.PaletteData(), 256);
  return true;
}

// Fills `result` (result x, y) from `source` (map(x, y) -> source x, y), in 64 x 64 tiles of
// result pixels: columns in steps of 64 outside, rows in steps of 64 inside.
template <class Map>
void FillTurned(const RasterImage& source, RasterImage& result, Map map) {
  const uint32_t width = result.Width();
  const uint32_t height = result.Height();
  const uint32_t depth = source.BitsPerPixel();
  if (depth == 1) result.FillBytes(0);
  const bool alpha = result.HasAlpha() && source.HasAlpha();
  for (uint32_t tileX = 0; tileX < width; tileX += kTile) {
    const uint32_t endX = std::min(width, tileX + kTile);
    for (uint32_t tileY = 0; tileY < height; tileY += kTile) {
      const uint32_t endY = std::min(height, tileY + kTile);
      for (uint32_t y = tileY; y < endY; ++y) {
        uint8_t* out = result.RowAddress(y);
        for (uint32_t x = tileX; x < endX; ++x) {
          const auto [sx, sy] = map(x, y);
          switch (depth) {
            case 24: std::memcpy(out + size_t{x} * 3, source.RowAddress(sy) + size_t{sx} * 3, 3);
              break;
            case 8: out[x] = source.RowAddress(sy)[sx]; break;
            case 4: result.SetIndexAtUnchecked(x, y, source.IndexAtUnchecked(sx, sy)); break;
            default:
              if (source.IndexAtUnchecked(sx, sy) != 0) result.SetIndexAtUnchecked(x, y, 1);
              break;
          }
          if (alpha) *result.AlphaAddress(x, y) = source.AlphaAtUnchecked(sx, sy);
        }
      }
    }
  }
}

template <class Map>
bool QuarterTurn(RasterImage& source, RasterImage* destination, Map map) {
  if (!source.IsValid()) return false;
  RasterImage temp;
  if (!BeginResult(temp, source, source.Height(), source.Width())) return false;
  if (source.HasAlpha() && !temp.AllocateAlpha()) return false;
  FillTurned(source, temp, map);
  return CommitTemporary(temp, source, destination);
}

// Fills every pixel of a fresh result with one background colour or index, so that no pixel the
// sampling does not reach keeps the uninitialised bytes of Create.
void FillBackground(RasterImage& result, RGBQUAD color, uint8_t index) {
  switch (result.BitsPerPixel()) {
    case 8: result.FillBytes(index); return;
    case 4: result.FillBytes(index & 15); return;
    case 1: result.FillBytes(index & 1); return;
    default: break;
  }
  for (uint32_t y = 0; y < result.Height(); ++y) {
    uint8_t* row = result.RowAddress(y);
    for (uint32_t x = 0; x < result.Width(); ++x, row += 3) {
      row[0] = color.rgbBlue;
      row[1] = color.rgbGreen;
      row[2] = color.rgbRed;
    }
  }
}

// What sampling outside the source yields: the transparent colour or index when one is set,
// otherwise the pixel at (0, 0).
struct Outside {
  RGBQUAD color;
  uint8_t index;
};
Outside OutsideValue(const RasterImage& source) {
  return Outside{source.ColorAt(-1, -1, true), source.IndexAt(-1, -1)};
}

}  // namespace

// ---- Quarter turns ----

bool RasterImage::RotateRight90(RasterImage* destination) {
  const uint32_t lastX = Width() - 1;
  return QuarterTurn(*this, destination, [lastX](uint32_t x, uint32_t y) {
    return std::pair<uint32_t, uint32_t>{lastX - y, x};
  });
}

bool RasterImage::RotateLeft90(RasterImage* destination) {
  const uint32_t lastY = Height() - 1;
  return QuarterTurn(*this, destination, [lastY](uint32_t x, uint32_t y) {
    return std::pair<uint32_t, uint32_t>{y, lastY - x};
  });
}

// ---- Turn by any angle ----

RotationFrame ComputeRotationFrame(uint32_t width, uint32_t height, float degrees) {
  RotationFrame f;
  const double a = -static_cast<double>(degrees) * std::acos(0.0) / 90.0;
  f.ca = std::cos(a);
  f.sa = std::sin(a);
  const double w = width;
  const double h = height;
  const float xs[4] = {0.0f, static_cast<float>(w * f.ca), static_cast<float>(-h * f.sa),
                       static_cast<float>(w * f.ca - h * f.sa)};
  const float ys[4] = {0.0f, static_cast<float>(w * f.sa), static_cast<float>(h * f.ca),
                       static_cast<float>(w * f.sa + h * f.ca)};
  f.minX = f.maxX = xs[0];
  f.minY = f.maxY = ys[0];
  for (int i = 1; i < 4; ++i) {
    f.minX = std::min(f.minX, xs[i]);
    f.maxX = std::max(f.maxX, xs[i]);
    f.minY = std::min(f.minY, ys[i]);
    f.maxY = std::max(f.maxY, ys[i]);
  }
  if (!std::isfinite(f.ca) || !std::isfinite(f.sa)) {
    f.width = f.height = std::nan("");
    return f;
  }
  f.width = std::floor(static_cast<double>(f.maxX - f.minX) + 0.5);
  f.height = std::floor(static_cast<double>(f.maxY - f.minY) + 0.5);
  return f;
}

bool RasterImage::RotateByAngle(float degrees, RasterImage* destination) {
  if (!IsValid()) return false;
  const RotationFrame f = ComputeRotationFrame(Width(), Height(), degrees);
  if (!std::isfinite(f.width) || !std::isfinite(f.height)) {
    SetErrorText("RotateByAngle: the angle is not a finite number");
    return false;
  }
  if (f.width > UINT32_MAX || f.height > UINT32_MAX) {
    SetErrorText("RASTERIMAGE_MAX_MEMORY exceeded");
    return false;
  }
  const auto newWidth = static_cast<uint32_t>(f.width);
  const auto newHeight = static_cast<uint32_t>(f.height);
  RasterImage temp;
  if (!BeginResult(temp, *this, newWidth, newHeight)) return false;
  if (HasAlpha()) {
    if (!temp.AllocateAlpha()) return false;
    temp.ZeroAlpha();
  }
  const Outside outside = OutsideValue(*this);
  FillBackground(temp, outside.color, outside.index);

  const bool trueColor = BitsPerPixel() == 24;
  const bool alpha = temp.HasAlpha();
  const int64_t firstX = static_cast<int64_t>(std::trunc(f.minX));
  const int64_t lastX = static_cast<int64_t>(std::trunc(f.maxX));
  const int64_t firstY = static_cast<int64_t>(std::trunc(f.minY));
  const int64_t lastY = std::min<int64_t>(static_cast<int64_t>(std::trunc(f.maxY)),
                                          firstY + int64_t{newHeight} - 1);
  const int64_t lastKeptX = std::min<int64_t>(lastX, firstX + int64_t{newWidth} - 1);
  for (int64_t y = firstY; y <= lastY; ++y) {
    const auto ry = static_cast<uint32_t>(y - firstY);
    uint8_t* out = temp.RowAddress(ry);
    for (int64_t x = firstX; x <= lastKeptX; ++x) {
      const auto rx = static_cast<uint32_t>(x - firstX);
      const double fx = static_cast<double>(x);
      const double fy = static_cast<double>(y);
      const double sxf = std::trunc(fx * f.ca + fy * f.sa + 0.5);
      const double syf = std::trunc(fy * f.ca - fx * f.sa + 0.5);
      const bool inside = sxf >= 0 && syf >= 0 && sxf < Width() && syf < Height();
      if (!inside) continue;  // the background is already there
      const auto sx = static_cast<uint32_t>(sxf);
      const auto sy = static_cast<uint32_t>(syf);
      if (trueColor) {
        std::memcpy(out + size_t{rx} * 3, RowAddress(sy) + size_t{sx} * 3, 3);
      } else {
        temp.SetIndexAtUnchecked(rx, ry, IndexAtUnchecked(sx, sy));
      }
      if (alpha) *temp.AlphaAddress(rx, ry) = AlphaAtUnchecked(sx, sy);
    }
  }
  return CommitTemporary(temp, *this, destination);
}

// ---- Scaling ----

bool RasterImage::Resize(uint32_t width, uint32_t height, int mode, RasterImage* destination) {
  if (width == 0 || height == 0 || !IsValid()) return false;
  if (destination == this) destination = nullptr;
  if (mode != 1) {
    SetErrorText("Resize: unsupported resampling mode");
    return false;
  }
  RasterImage temp;
  if (width == Width() && height == Height()) {
    if (destination == nullptr) return true;
    if (!BeginResult(temp, *this, width, height)) return false;
    std::memcpy(temp.PixelRows(), PixelRows(), header_.biSizeImage);
    temp.SetSignificantColors(SignificantColors());
    temp.CopyAlphaFrom(*this);
    if (HasAlpha() && !temp.HasAlpha()) return false;
    return destination->TakeOver(temp);
  }

  const float xScale = static_cast<float>(Width()) / static_cast<float>(width);
  const float yScale = static_cast<float>(Height()) / static_cast<float>(height);
  if (!BeginResult(temp, *this, width, height)) return false;
  if (HasAlpha() && !temp.AllocateAlpha()) return false;

  // A palette pixel's colour maps back to the lowest entry holding that colour.
  std::array<uint8_t, 256> lowestEntry{};
  const RGBQUAD* palette = PaletteData();
  for (uint32_t i = 0; i < ColorCount(); ++i)
    lowestEntry[i] = LinearNearestIndex(palette, ColorCount(), palette[i]);
  const RGBQUAD outsideColor = ColorAt(-1, -1, true);
  const uint8_t outsideIndex = LinearNearestIndex(palette, ColorCount(), outsideColor);

  const bool trueColor = BitsPerPixel() == 24;
  const bool alpha = temp.HasAlpha();
  for (uint32_t y = 0; y < height; ++y) {
    const double syf = std::trunc(static_cast<double>(y) * yScale);
    const bool rowInside = syf < Height();
    const auto sy = static_cast<uint32_t>(rowInside ? syf : 0);
    uint8_t* out = temp.RowAddress(y);
    for (uint32_t x = 0; x < width; ++x) {
      const double sxf = std::trunc(static_cast<double>(x) * xScale);
      const bool inside = rowInside && sxf < Width();
      const auto sx = static_cast<uint32_t>(inside ? sxf : 0);
      if (trueColor) {
        uint8_t* p = out + size_t{x} * 3;
        if (inside) {
          std::memcpy(p, RowAddress(sy) + size_t{sx} * 3, 3);
        } else {
          p[0] = outsideColor.rgbBlue;
          p[1] = outsideColor.rgbGreen;
          p[2] = outsideColor.rgbRed;
        }
      } else {
        temp.SetIndexAtUnchecked(x, y, inside ? lowestEntry[IndexAtUnchecked(sx, sy)] : outsideIndex);
      }
      if (alpha) *temp.AlphaAddress(x, y) = inside ? AlphaAtUnchecked(sx, sy) : 0;
    }
  }
  return CommitTemporary(temp, *this, destination);
}

}  // namespace orvalis
