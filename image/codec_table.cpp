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
    {ImageFormat::Bmp, &EncodeWith<RasterImageBmp>, &DecodeWith<RasterImageBmp>},
    {ImageFormat::Gif, &EncodeWith<RasterImageGIF>, nullptr},
    {ImageFormat::Jpeg, &EncodeWith<RasterImageJpeg>, nullptr},
    {ImageFormat::Png, &EncodeWith<RasterImagePng>, nullptr},
    {ImageFormat::Tga, &EncodeWith<RasterImageTga>, nullptr},
    {ImageFormat::Pcx, &EncodeWith<RasterImagePcx>, nullptr},
    {ImageFormat::Tiff, &EncodeWith<RasterImageTIF>, nullptr},
    {ImageFormat::Jp2, &EncodeWith<RasterImageJp2>, nullptr},
    {ImageFormat::Jpc, &EncodeWith<RasterImageJpc>, nullptr},
    {ImageFormat::Ras, &EncodeWith<RasterImageRas>, nullptr},
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

}  // namespace orvalis
