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
#include "platform/status.h"

namespace orvalis {

// The target size of the code stream as a fraction of the uncompressed size: quality x 0.01 in
// single precision, rounded to three decimals (quality 75 gives 0.750). A rate of 1.0 or more
// asks for no limit: the code stream is lossless.
double Jpeg2000TargetRate(float quality);

// OpenJPEG's compression ratio for a target rate: 1 / rate, or 0 (no limit) for a rate of 1.0
// or more. A rate of 0 cannot be met and becomes the smallest rate written with three
// decimals, 0.001.
float Jpeg2000CompressionRatio(double rate);

enum class Jpeg2000Container {
  Jp2,         // a JP2 file: signature, file type and header boxes around the code stream
  CodeStream,  // a bare JPEG 2000 code stream (J2K, called JPC here)
};

struct Jpeg2000Options {
  Jpeg2000Container container = Jpeg2000Container::Jp2;
  float quality = 90.0f;  // sets the target size: Jpeg2000TargetRate
  int threads = 0;        // OpenJPEG's threads; 0: one per processor, up to 8
};

// The options an image's own settings ask for: its quality and encoder threads.
Jpeg2000Options Jpeg2000OptionsOf(const RasterImage& image, Jpeg2000Container container);

// `libraryMessages`, when given, receives what OpenJPEG reported (errors, warnings, notes), one
// per line; it is for diagnosis only: the status holds this encoder's own message.
Status EncodeJpeg2000(const RasterImage& image, const Jpeg2000Options& options, ByteStream& out,
                      std::string* libraryMessages = nullptr);

// The library's JPEG 2000 objects: their Encode is EncodeJpeg2000 over themselves with their
// own settings; the derived classes fix the container.
class RasterImageOpenJpeg : public RasterImage {
 public:
  bool Encode(ByteStream* stream);
  // What OpenJPEG reported during the last Encode (errors, warnings, notes), one per line. It
  // is kept for diagnosis only; the error text holds this codec's own message.
  const std::string& LibraryMessages() const { return libraryMessages_; }

 protected:
  RasterImageOpenJpeg(ImageFormat format, Jpeg2000Container container)
      : RasterImage(format), container_(container) {}

 private:
  Jpeg2000Container container_;
  std::string libraryMessages_;
};

class RasterImageJp2 : public RasterImageOpenJpeg {
 public:
  RasterImageJp2() : RasterImageOpenJpeg(ImageFormat::Jp2, Jpeg2000Container::Jp2) {}
};

class RasterImageJpc : public RasterImageOpenJpeg {
 public:
  RasterImageJpc() : RasterImageOpenJpeg(ImageFormat::Jpc, Jpeg2000Container::CodeStream) {}
};

}  // namespace orvalis
