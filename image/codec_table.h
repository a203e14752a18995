#pragma once
// The one table that maps each image library format to its codec.

#include <cstdint>
#include <span>

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// Encodes the image with its own settings (option word, quality, threads) and never changes it.
using EncodeFunction = Status (*)(const RasterImage& image, ByteStream& out);

struct CodecEntry {
  ImageFormat format;
  EncodeFunction encode;  // nullptr: no encoder
  // Runs a codec object of the format on `image` and copies its error text back on failure.
  bool (*decode)(RasterImage& image, ByteStream* stream);  // nullptr: no decoder
};

// Every codec, in the order format detection tries the decoders.
std::span<const CodecEntry> Codecs();
const CodecEntry* FindCodec(ImageFormat format);

// The encoder of `format`; "Encode: Unknown format" when it has none.
Result<EncodeFunction> EncoderOf(ImageFormat format);
// Encodes `image` as `format` into `out` with the image's own settings.
Status EncodeImage(const RasterImage& image, ImageFormat format, ByteStream& out);

// Decodes into a fresh codec object that starts from the image's settings, then moves the
// result into the image.
template <class Codec>
bool DecodeWith(RasterImage& image, ByteStream* stream) {
  Codec codec;
  codec.CopyInfoFrom(image);
  if (!codec.Decode(stream)) {
    image.SetErrorText(codec.ErrorText());
    return false;
  }
  return image.TakeOver(codec);
}

}  // namespace orvalis
