#include "image/tiff_ycbcr.h"

#include <algorithm>

namespace orvalis {

uint8_t ToCode(float value, float black, float white, float range) {
  const int code = static_cast<int>(black + (white - black) * value / range + 0.5f);
  return static_cast<unsigned>(code) > 255u ? uint8_t{255} : static_cast<uint8_t>(code);
}

void YCbCrTables::Fill() {
  referenceBlackWhite = {0.0f, 255.0f, 128.0f, 255.0f, 128.0f, 255.0f};
  lumaCoefficients = {0.299f, 0.587f, 0.114f};
  lumaWeights = lumaCoefficients;
  for (int i = 0; i < 256; ++i) {
    const float value = static_cast<float>(i);
    redLuma[i] = value * lumaWeights[0];
    greenLuma[i] = value * lumaWeights[1];
    blueLuma[i] = value * lumaWeights[2];
  }
  cbScale = 1.0f / (2.0f - 2.0f * lumaWeights[2]);
  crScale = 1.0f / (2.0f - 2.0f * lumaWeights[0]);
  lumaZeroCode = ToCode(0.0f, referenceBlackWhite[0], referenceBlackWhite[1], 255.0f);
  subsampling = {1, 1};
}

namespace {

// Codes of a run of values, all with the same references; a plain loop over arrays so that
// the compiler can use vector instructions for the arithmetic (same operations, same results).
void CodesOf(const float* values, uint32_t count, float black, float white, float range,
             uint8_t* out) {
  for (uint32_t i = 0; i < count; ++i) {
    const int code = static_cast<int>(black + (white - black) * values[i] / range + 0.5f);
    out[i * 3] = static_cast<unsigned>(code) > 255u ? uint8_t{255} : static_cast<uint8_t>(code);
  }
}

}  // namespace

void YCbCrTables::ConvertRow(const uint8_t* rgb, uint32_t width, uint8_t* ycbcr) const {
  Convert(rgb, width, ycbcr, 0, 2);
}

void YCbCrTables::ConvertBgrRow(const uint8_t* bgr, uint32_t width, uint8_t* ycbcr) const {
  Convert(bgr, width, ycbcr, 2, 0);
}

void YCbCrTables::Convert(const uint8_t* pixels, uint32_t width, uint8_t* ycbcr, int redAt,
                          int blueAt) const {
  constexpr uint32_t kChunk = 256;
  float luma[kChunk], cb[kChunk], cr[kChunk];
  for (uint32_t start = 0; start < width; start += kChunk) {
    const uint32_t count = std::min(kChunk, width - start);
    const uint8_t* pixel = pixels + static_cast<size_t>(start) * 3;
    // Rendered pages are mostly runs of one colour (the paper): a pixel equal to the one
    // before it reuses its values.
    uint32_t previous = 0xFFFFFFFFu;
    float y = 0.0f, b = 0.0f, r = 0.0f;
    for (uint32_t i = 0; i < count; ++i, pixel += 3) {
      const uint8_t red = pixel[redAt], green = pixel[1], blue = pixel[blueAt];
      const uint32_t packed = red | (green << 8) | (static_cast<uint32_t>(blue) << 16);
      if (packed != previous) {
        previous = packed;
        y = redLuma[red] + greenLuma[green] + blueLuma[blue];
        b = cbScale * (static_cast<float>(blue) - y);
        r = crScale * (static_cast<float>(red) - y);
      }
      luma[i] = y;
      cb[i] = b;
      cr[i] = r;
    }
    uint8_t* out = ycbcr + static_cast<size_t>(start) * 3;
    CodesOf(luma, count, referenceBlackWhite[0], referenceBlackWhite[1], 255.0f, out);
    CodesOf(cb, count, referenceBlackWhite[2], referenceBlackWhite[3], 127.0f, out + 1);
    CodesOf(cr, count, referenceBlackWhite[4], referenceBlackWhite[5], 127.0f, out + 2);
  }
}

}  // namespace orvalis
