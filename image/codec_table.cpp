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

constexpr CodecEntry kCodecs[] = {
    {ImageFormat::Bmp, &EncodeBmp, &DecodeWith<RasterImageBmp>},
    {ImageFormat::Gif,
     [](const RasterImage& image, ByteStream& out) {
       return EncodeGif(image, GifOptionsOf(image), out);
     },
     nullptr},
    {ImageFormat::Jpeg,
     [](const RasterImage& image, ByteStream& out) {
       return EncodeJpeg(image, JpegOptionsOf(image), out);
     },
     nullptr},
    {ImageFormat::Png,
     [](const RasterImage& image, ByteStream& out) {
       return EncodePng(image, PngOptionsOf(image), out);
     },
     nullptr},
    {ImageFormat::Tga, &EncodeTga, nullptr},
    {ImageFormat::Pcx, &EncodePcx, nullptr},
    {ImageFormat::Tiff,
     [](const RasterImage& image, ByteStream& out) {
       return EncodeTiff(image, TiffOptionsOf(image), out);
     },
     nullptr},
    {ImageFormat::Jp2,
     [](const RasterImage& image, ByteStream& out) {
       return EncodeJpeg2000(image, Jpeg2000OptionsOf(image, Jpeg2000Container::Jp2), out);
     },
     nullptr},
    {ImageFormat::Jpc,
     [](const RasterImage& image, ByteStream& out) {
       return EncodeJpeg2000(image, Jpeg2000OptionsOf(image, Jpeg2000Container::CodeStream), out);
     },
     nullptr},
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
