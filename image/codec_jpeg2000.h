#pragma once
// JPEG 2000 writer over OpenJPEG: the JP2 file format and the bare JPEG 2000 code stream (J2K,
// called JPC here). Format: ITU-T T.800 / ISO/IEC 15444-1, https://www.itu.int/rec/T-REC-T.800
//
// A true-colour image becomes three 8-bit unsigned components in sRGB, an image with the
// identity gray palette one 8-bit component in gray whose samples are the palette indices.
// The reversible 5/3 wavelet is used; the image quality sets a target size (see
// Jpeg2000TargetRate), and a picture whose lossless code stream fits the target is written
// lossless. Every byte goes through the ByteStream; it stays open afterwards.

#include <cstdint>
#include <string>

#include "image/raster_image.h"

struct opj_image;

namespace orvalis {

// The target size of the code stream as a fraction of the uncompressed size: quality x 0.01 in
// single precision, rounded to three decimals (quality 75 gives 0.750). A rate of 1.0 or more
// asks for no limit: the code stream is lossless.
double Jpeg2000TargetRate(float quality);

// OpenJPEG's compression ratio for a target rate: 1 / rate, or 0 (no limit) for a rate of 1.0
// or more. A rate of 0 cannot be met and becomes the smallest rate written with three
// decimals, 0.001.
float Jpeg2000CompressionRatio(double rate);

// Shared encoder of the two JPEG 2000 formats; the derived classes fix which one.
class RasterImageOpenJpeg : public RasterImage {
 public:
  bool Encode(ByteStream* stream);
  // What OpenJPEG reported during the last Encode (errors, warnings, notes), one per line. It
  // is kept for diagnosis only; the error text holds this codec's own message.
  const std::string& LibraryMessages() const { return libraryMessages_; }

 protected:
  explicit RasterImageOpenJpeg(ImageFormat format) : RasterImage(format), codecFormat_(format) {}

 private:
  bool Fail(const char* message);
  const char* RunOpenJpeg(ByteStream* stream, float ratio, bool gray);
  void CopyPixelsTo(opj_image* image, bool gray) const;

  ImageFormat codecFormat_;
  std::string libraryMessages_;
};

// A JP2 file: signature, file type and header boxes around the code stream.
class RasterImageJp2 : public RasterImageOpenJpeg {
 public:
  RasterImageJp2() : RasterImageOpenJpeg(ImageFormat::Jp2) {}
};

// A bare JPEG 2000 code stream.
class RasterImageJpc : public RasterImageOpenJpeg {
 public:
  RasterImageJpc() : RasterImageOpenJpeg(ImageFormat::Jpc) {}
};

}  // namespace orvalis
