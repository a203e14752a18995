#include "image/codec_table.h"

#include <algorithm>

#include "image/codec_bmp.h"
#include "image/codec_gif.h"
#include "image/codec_jpeg.h"
#include "image/codec_jpeg2000.h"
#include "image/codec_pcx.h"
#include "image/codec_png.h"
#include "image/codec_ras.h"
#include "image/codec_tga.h"
#include "image/codec_tiff.h"

namespace orvalis {

namespace {

// A row's encoder: `Encode` with the options `OptionsOf` reads from the image's own settings.
template <auto Encode, auto OptionsOf>
Status WithOwnSettings(const RasterImage& image, ByteStream& out) {
  return Encode(image, OptionsOf(image), out);
}

Status EncodeJp2(const RasterImage& image, ByteStream& out) {
  return EncodeJpeg2000(image, Jpeg2000OptionsOf(image, Jpeg2000Container::Jp2), out);
}

Status EncodeJpc(const RasterImage& image, ByteStream& out) {
  return EncodeJpeg2000(image, Jpeg2000OptionsOf(image, Jpeg2000Container::CodeStream), out);
}

constexpr CodecEntry kCodecs[] = {
    {ImageFormat::Bmp, &EncodeBmp, &DecodeWith<RasterImageBmp>},
    {ImageFormat::Gif, &WithOwnSettings<&EncodeGif, &GifOptionsOf>, nullptr},
    {ImageFormat::Jpeg, &WithOwnSettings<&EncodeJpeg, &JpegOptionsOf>, nullptr},
    {ImageFormat::Png, &WithOwnSettings<&EncodePng, &PngOptionsOf>, nullptr},
    {ImageFormat::Tga, &EncodeTga, nullptr},
    {ImageFormat::Pcx, &EncodePcx, nullptr},
    {ImageFormat::Tiff, &WithOwnSettings<&EncodeTiff, &TiffOptionsOf>, nullptr},
    {ImageFormat::Jp2, &EncodeJp2, nullptr},
    {ImageFormat::Jpc, &EncodeJpc, nullptr},
    {ImageFormat::Ras, &EncodeRas, nullptr},
};

}  // namespace

std::span<const CodecEntry> Codecs() {
  return kCodecs;
}

const CodecEntry* FindCodec(ImageFormat format) {
  const auto it = std::find_if(std::begin(kCodecs), std::end(kCodecs),
                               [format](const CodecEntry& c) { return c.format == format; });
  return it == std::end(kCodecs) ? nullptr : &*it;
}

Result<EncodeFunction> EncoderOf(ImageFormat format) {
  const CodecEntry* codec = FindCodec(format);
  if (codec == nullptr || codec->encode == nullptr) return Status::Error("Encode: Unknown format");
  return codec->encode;
}

Status EncodeImage(const RasterImage& image, ImageFormat format, ByteStream& out) {
  const Result<EncodeFunction> encoder = EncoderOf(format);
  return encoder.IsOk() ? encoder.Value()(image, out) : encoder.AsStatus();
}

}  // namespace orvalis
