#include "image/tiff_ycbcr.h"

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

void YCbCrTables::ConvertRow(const uint8_t* rgb, uint32_t width, uint8_t* ycbcr) const {
  const float yBlack = referenceBlackWhite[0], yWhite = referenceBlackWhite[1];
  const float cbBlack = referenceBlackWhite[2], cbWhite = referenceBlackWhite[3];
  const float crBlack = referenceBlackWhite[4], crWhite = referenceBlackWhite[5];
  for (uint32_t x = 0; x < width; ++x, rgb += 3, ycbcr += 3) {
    const uint8_t red = rgb[0], green = rgb[1], blue = rgb[2];
    const float luma = redLuma[red] + greenLuma[green] + blueLuma[blue];
    const float cb = cbScale * (static_cast<float>(blue) - luma);
    const float cr = crScale * (static_cast<float>(red) - luma);
    ycbcr[0] = ToCode(luma, yBlack, yWhite, 255.0f);
    ycbcr[1] = ToCode(cb, cbBlack, cbWhite, 127.0f);
    ycbcr[2] = ToCode(cr, crBlack, crWhite, 127.0f);
  }
}

}  // namespace orvalis
