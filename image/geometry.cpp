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

// Calls visit(x, y) for every pixel of a width x height picture in 64 x 64 tiles: columns in
// steps of 64 outside, rows in steps of 64 inside, so that reads and writes stay in cache-sized
// pieces whichever way the other image is walked. Inside a tile, columns are visited one by one.
template <class Visit>
void ForEachTiled(uint32_t width, uint32_t height, Visit visit) {
  for (uint32_t tileX = 0; tileX < width; tileX += kTile) {
    const uint32_t endX = std::min(width, tileX + kTile);
    for (uint32_t tileY = 0; tileY < height; tileY += kTile) {
      const uint32_t endY = std::min(height, tileY + kTile);
      for (uint32_t x = tileX; x < endX; ++x)
        for (uint32_t y = tileY; y < endY; ++y) visit(x, y);
    }
  }
}

// Fills `result` from `source`: result pixel (x, y) takes source pixel map(x, y).
template <class Map>
void FillTurned(const RasterImage& source, RasterImage& result, Map map) {
  const uint32_t width = result.Width();
  const uint32_t height = result.Height();
  const uint8_t* in = source.PixelRows();
  uint8_t* out = result.PixelRows();
  const size_t inStride = source.RowStride();
  const size_t outStride = result.RowStride();
  switch (source.BitsPerPixel()) {
    case 24:
      ForEachTiled(width, height, [&](uint32_t x, uint32_t y) {
        const auto [sx, sy] = map(x, y);
        const uint8_t* p = in + sy * inStride + size_t{sx} * 3;
        uint8_t* q = out + y * outStride + size_t{x} * 3;
        q[0] = p[0];
        q[1] = p[1];
        q[2] = p[2];
      });
      break;
    case 8:
      ForEachTiled(width, height, [&](uint32_t x, uint32_t y) {
        const auto [sx, sy] = map(x, y);
        out[y * outStride + x] = in[sy * inStride + sx];
      });
      break;
    case 4:
      ForEachTiled(width, height, [&](uint32_t x, uint32_t y) {
        const auto [sx, sy] = map(x, y);
        const uint8_t b = in[sy * inStride + (sx >> 1)];
        const uint8_t v = (sx & 1) ? (b & 0x0F) : (b >> 4);
        uint8_t& o = out[y * outStride + (x >> 1)];
        o = (x & 1) ? static_cast<uint8_t>((o & 0xF0) | v)
                    : static_cast<uint8_t>((o & 0x0F) | v << 4);
      });
      break;
    default:
      result.FillBytes(0);
      ForEachTiled(width, height, [&](uint32_t x, uint32_t y) {
        const auto [sx, sy] = map(x, y);
        if ((in[sy * inStride + (sx >> 3)] >> (7 - (sx & 7))) & 1)
          out[y * outStride + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
      });
      break;
  }
  if (source.HasAlpha() && result.HasAlpha()) {
    const uint8_t* alphaIn = source.AlphaPlane();
    uint8_t* alphaOut = result.AlphaPlane();
    ForEachTiled(width, height, [&](uint32_t x, uint32_t y) {
      const auto [sx, sy] = map(x, y);
      alphaOut[size_t{y} * width + x] = alphaIn[size_t{sy} * source.Width() + sx];
    });
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
    case 8:
      result.FillBytes(index);
      ClearRowPadding(result);
      return;
    case 4:
      result.FillBytes(index & 15);
      ClearRowPadding(result);
      return;
    case 1:
      result.FillBytes(index & 1);
      ClearRowPadding(result);
      return;
    default:
      break;
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
    return std::pair<size_t, size_t>{lastX - y, x};
  });
}

bool RasterImage::RotateLeft90(RasterImage* destination) {
  const uint32_t lastY = Height() - 1;
  return QuarterTurn(*this, destination, [lastY](uint32_t x, uint32_t y) {
    return std::pair<size_t, size_t>{y, lastY - x};
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

  // Result pixel (x - trunc(minX), y - trunc(minY)) samples the source at the turned-back
  // position of (x, y); columns and rows beyond the canvas are dropped. The visiting order does
  // not change any pixel, so the canvas is walked in tiles to keep the source reads local.
  const int64_t firstX = static_cast<int64_t>(std::trunc(f.minX));
  const int64_t firstY = static_cast<int64_t>(std::trunc(f.minY));
  const auto keptWidth = static_cast<uint32_t>(
      std::min<int64_t>(static_cast<int64_t>(std::trunc(f.maxX)) - firstX + 1, newWidth));
  const auto keptHeight = static_cast<uint32_t>(
      std::min<int64_t>(static_cast<int64_t>(std::trunc(f.maxY)) - firstY + 1, newHeight));
  const int64_t sourceWidth = Width();
  const int64_t sourceHeight = Height();
  const uint8_t* in = PixelRows();
  uint8_t* out = temp.PixelRows();
  const size_t inStride = RowStride();
  const size_t outStride = temp.RowStride();
  const uint8_t* alphaIn = AlphaPlane();
  uint8_t* alphaOut = temp.AlphaPlane();
  const uint32_t depth = BitsPerPixel();
  ForEachTiled(keptWidth, keptHeight, [&](uint32_t rx, uint32_t ry) {
    const auto x = static_cast<double>(firstX + rx);
    const auto y = static_cast<double>(firstY + ry);
    // Conversion to an integer truncates toward zero; the sums stay far inside 64 bits.
    const auto sxi = static_cast<int64_t>(x * f.ca + y * f.sa + 0.5);
    const auto syi = static_cast<int64_t>(y * f.ca - x * f.sa + 0.5);
    if (sxi < 0 || syi < 0 || sxi >= sourceWidth || syi >= sourceHeight) return;  // background
    const auto sx = static_cast<size_t>(sxi);
    const auto sy = static_cast<size_t>(syi);
    switch (depth) {
      case 24: {
        const uint8_t* p = in + sy * inStride + sx * 3;
        uint8_t* q = out + ry * outStride + size_t{rx} * 3;
        q[0] = p[0];
        q[1] = p[1];
        q[2] = p[2];
        break;
      }
      case 8:
        out[ry * outStride + rx] = in[sy * inStride + sx];
        break;
      default:
        temp.SetIndexAtUnchecked(
            rx, ry, IndexAtUnchecked(static_cast<uint32_t>(sx), static_cast<uint32_t>(sy)));
        break;
    }
    if (alphaOut != nullptr) alphaOut[size_t{ry} * newWidth + rx] = alphaIn[sy * Width() + sx];
  });
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

  // Source column and row of a result position: the product is formed in double precision from
  // the float factor and truncated (conversion to an integer truncates; both are non-negative).
  // Rounding can carry the last position past the edge, which then samples the outside value.
  const auto sourceIndex = [](uint32_t v, float scale) {
    return static_cast<uint64_t>(static_cast<double>(v) * scale);
  };
  const uint32_t depth = BitsPerPixel();
  uint8_t* alphaOut = temp.AlphaPlane();
  for (uint32_t y = 0; y < height; ++y) {
    const uint64_t sy = sourceIndex(y, yScale);
    const bool rowInside = sy < Height();
    const uint8_t* in = rowInside ? RowAddress(static_cast<uint32_t>(sy)) : nullptr;
    uint8_t* out = temp.RowAddress(y);
    for (uint32_t x = 0; x < width; ++x) {
      const uint64_t sx = sourceIndex(x, xScale);
      const bool inside = rowInside && sx < Width();
      switch (depth) {
        case 24: {
          uint8_t* q = out + size_t{x} * 3;
          if (inside) {
            const uint8_t* p = in + sx * 3;
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
          } else {
            q[0] = outsideColor.rgbBlue;
            q[1] = outsideColor.rgbGreen;
            q[2] = outsideColor.rgbRed;
          }
          break;
        }
        case 8:
          out[x] = inside ? lowestEntry[in[sx]] : outsideIndex;
          break;
        default:
          temp.SetIndexAtUnchecked(x, y,
                                   inside ? lowestEntry[IndexAtUnchecked(static_cast<uint32_t>(sx),
                                                                         static_cast<uint32_t>(sy))]
                                          : outsideIndex);
          break;
      }
      if (alphaOut != nullptr) {
        alphaOut[size_t{y} * width + x] =
            inside ? AlphaAtUnchecked(static_cast<uint32_t>(sx), static_cast<uint32_t>(sy)) : 0;
      }
    }
  }
  return CommitTemporary(temp, *this, destination);
}

}  // namespace orvalis
