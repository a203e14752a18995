#pragma once
// RGB to YCbCr conversion for JPEG-compressed TIFF colour pages.
//
// The encoder hands libtiff raw YCbCr samples (JPEG colour mode "raw") so that the colour
// transform is ours and exactly the one the file's tags announce: ReferenceBlackWhite
// {0, 255, 128, 255, 128, 255}, YCbCrCoefficients {0.299, 0.587, 0.114} and 1 x 1 subsampling.
// With these references the codes are those of JFIF, so every JPEG decoder that converts
// YCbCr to RGB gets the picture back.
// TIFF 6.0, section 21 (YCbCr images):
// https://www.itu.int/itudoc/itu-t/com16/tiff-fx/docs/tiff6.pdf

#include <array>
#include <cstdint>

namespace orvalis {

struct YCbCrTables {
  // Luma black, luma white, Cb black, Cb white, Cr black, Cr white.
  std::array<float, 6> referenceBlackWhite{};
  // Red, green and blue weights as written to the YCbCrCoefficients tag.
  std::array<float, 3> lumaCoefficients{};
  // The same weights, kept apart for the arithmetic.
  std::array<float, 3> lumaWeights{};
  // Entry i = i x weight, in single precision.
  std::array<float, 256> redLuma{};
  std::array<float, 256> greenLuma{};
  std::array<float, 256> blueLuma{};
  float cbScale = 0.0f;              // 1 / (2 - 2 x blue weight)
  float crScale = 0.0f;              // 1 / (2 - 2 x red weight)
  int lumaZeroCode = 0;              // code of luminance 0
  std::array<int, 2> subsampling{};  // horizontal, vertical

  // Fills every field for the references and weights above.
  void Fill();

  // Converts `width` pixels of R, G, B bytes into Y, Cb, Cr bytes (1 x 1 subsampling: one
  // clump per pixel). `rgb` and `ycbcr` may not overlap.
  void ConvertRow(const uint8_t* rgb, uint32_t width, uint8_t* ycbcr) const;
  // The same for pixels stored blue, green, red (a 24-bit page row as it is in memory).
  void ConvertBgrRow(const uint8_t* bgr, uint32_t width, uint8_t* ycbcr) const;

 private:
  void Convert(const uint8_t* pixels, uint32_t width, uint8_t* ycbcr, int redAt, int blueAt) const;
};

// The code of a value between references black and white spanning `range`: the integer part of
// black + (white - black) x value / range + 0.5; a result above 255, read as unsigned, is 255.
uint8_t ToCode(float value, float black, float white, float range);

}  // namespace orvalis
