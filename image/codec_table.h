#pragma once
// The one table that maps each image library format to its codec.

#include <cstdint>
#include <span>

#include "image/raster_image.h"

namespace orvalis {

struct CodecEntry {
  ImageFormat format;
  // Both run a codec object of the format on `image` and copy its error text back on failure.
  bool (*encode)(RasterImage& image, ByteStream* stream);  // nullptr: no encoder
  bool (*decode)(RasterImage& image, ByteStream* stream);  // nullptr: no decoder
};

// Every codec, in the order format detection tries the decoders.
std::span<const CodecEntry> Codecs();
const CodecEntry* FindCodec(ImageFormat format);

// Encodes through a codec object that views the image's buffers without copying them.
template <class Codec>
bool EncodeWith(RasterImage& image, ByteStream* stream) {
  Codec codec;
  codec.MakeViewOf(image);
  const bool ok = codec.Encode(stream);
  if (!ok) image.SetErrorText(codec.ErrorText());
  return ok;
}

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
