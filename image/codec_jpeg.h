#pragma once
// JPEG writer over libjpeg (libjpeg-turbo, 6b interface).
// Format: ITU-T T.81 (https://www.w3.org/Graphics/JPEG/itu-t81.pdf) in a JFIF 1.01 file
// (https://www.w3.org/Graphics/JPEG/jfif3.pdf).
//
// A true-colour image becomes a three-component YCbCr JPEG; an image with the identity gray
// palette becomes a one-component gray JPEG. Colour palette images are refused. The JFIF header
// carries the image's resolution in dots per inch.

#include <cstdint>

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// Bits of the JPEG encoder option word (EncoderOption(ImageFormat::Jpeg)); others are ignored.
namespace JpegOption {
inline constexpr uint32_t ForceBaseline = 1;   // 8-bit quantisation tables at any quality
inline constexpr uint32_t Arithmetic = 2;      // arithmetic instead of Huffman coding
inline constexpr uint32_t GrayOutput = 4;      // one gray component, even from colour input
inline constexpr uint32_t OptimizeTables = 8;  // Huffman tables fitted to the image
inline constexpr uint32_t Progressive = 16;    // libjpeg's simple progressive scan script
inline constexpr uint32_t Smoothing = 64;      // input smoothing at Smoothing() strength
inline constexpr uint32_t Sampling422 = 4096;  // luma 2 x 1 instead of 2 x 2
inline constexpr uint32_t Sampling444 = 8192;  // no chroma subsampling; wins over 4:2:2
}  // namespace JpegOption

// libjpeg stores sizes in 16 bits and refuses anything above this many pixels a side.
inline constexpr uint32_t kJpegMaxDimension = 65500;

struct JpegOptions {
  uint32_t flags = 0;  // JpegOption bits
  int quality = 90;    // libjpeg's scale, 0 to 100
  // Input smoothing strength used when the flags ask for smoothing: libjpeg's scale of 1
  // (barely) to 100 (strongest). A light setting that takes the edge off dithered pages
  // without blurring text.
  int smoothing = 10;
};

// The options an image's own settings ask for: its option word and quality.
JpegOptions JpegOptionsOf(const RasterImage& image);

Status EncodeJpeg(const RasterImage& image, const JpegOptions& options, ByteStream& out);

// The library's JPEG object: its Encode is EncodeJpeg over itself with its own settings.
class RasterImageJpeg : public RasterImage {
 public:
  static constexpr int kDefaultSmoothing = JpegOptions{}.smoothing;

  RasterImageJpeg() : RasterImage(ImageFormat::Jpeg) {}

  bool Encode(ByteStream* stream);

  int Smoothing() const { return kDefaultSmoothing; }
};

}  // namespace orvalis
