#include "image/raster_image.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

#include "image/checked_writer.h"
#include "image/codec_table.h"
#include "platform/byte_order.h"

namespace orvalis {

void BITMAPINFOHEADER::WriteTo(uint8_t* at) const {
  StoreLE32(at + 0, biSize);
  StoreLE32(at + 4, static_cast<uint32_t>(biWidth));
  StoreLE32(at + 8, static_cast<uint32_t>(biHeight));
  StoreLE16(at + 12, biPlanes);
  StoreLE16(at + 14, biBitCount);
  StoreLE32(at + 16, biCompression);
  StoreLE32(at + 20, biSizeImage);
  StoreLE32(at + 24, static_cast<uint32_t>(biXPelsPerMeter));
  StoreLE32(at + 28, static_cast<uint32_t>(biYPelsPerMeter));
  StoreLE32(at + 32, biClrUsed);
  StoreLE32(at + 36, biClrImportant);
}

BITMAPINFOHEADER BITMAPINFOHEADER::ReadFrom(const uint8_t* at) {
  BITMAPINFOHEADER h;
  h.biSize = LoadLE32(at + 0);
  h.biWidth = static_cast<int32_t>(LoadLE32(at + 4));
  h.biHeight = static_cast<int32_t>(LoadLE32(at + 8));
  h.biPlanes = LoadLE16(at + 12);
  h.biBitCount = LoadLE16(at + 14);
  h.biCompression = LoadLE32(at + 16);
  h.biSizeImage = LoadLE32(at + 20);
  h.biXPelsPerMeter = static_cast<int32_t>(LoadLE32(at + 24));
  h.biYPelsPerMeter = static_cast<int32_t>(LoadLE32(at + 28));
  h.biClrUsed = LoadLE32(at + 32);
  h.biClrImportant = LoadLE32(at + 36);
  return h;
}

int32_t PelsPerMeterFromDpi(int32_t dpi) {
  // Above about 54.5 million dpi the value no longer fits in 32 bits (a BMP header can claim
  // such a resolution); it saturates instead of overflowing the conversion.
  const double pels = std::floor(dpi * 39.37007874015748 + 0.5);
  return static_cast<int32_t>(std::clamp(pels, double{INT32_MIN}, double{INT32_MAX}));
}

namespace {

uint32_t PaletteSizeForDepth(uint32_t bitsPerPixel) {
  return bitsPerPixel <= 8 ? (1u << bitsPerPixel) : 0u;
}

}  // namespace

uint32_t RoundedDepth(uint32_t bitsPerPixel) {
  if (bitsPerPixel <= 1) return 1;
  if (bitsPerPixel <= 4) return 4;
  if (bitsPerPixel <= 8) return 8;
  return 24;
}

// ---- Lifetime and ownership ----

RasterImage::RasterImage(ImageFormat format) {
  info_.sourceFormat = format;
  SetResolutionX(96);
  SetResolutionY(96);
}

RasterImage::~RasterImage() {
  Release();
}

bool RasterImage::Release() {
  block_.reset();
  alpha_.reset();
  info_.pixelRows = nullptr;
  return true;
}

uint8_t* RasterImage::Create(uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                             ImageFormat format) {
  Release();
  if (width == 0 || height == 0) {
    SetErrorText("RasterImage::Create : width and height must be greater than zero");
    return nullptr;
  }
  const uint32_t depth = RoundedDepth(bitsPerPixel);
  // The 32-bit product of the original layout is kept as a limit: anything that does not fit
  // in 32 bits, or more than 2^31 bits of pixels, is refused before allocating.
  const uint64_t bits = static_cast<uint64_t>(width) * height * depth;
  if (bits > UINT32_MAX || (bits & ~uint64_t{7}) > RASTERIMAGE_MAX_MEMORY_BITS) {
    SetErrorText("RASTERIMAGE_MAX_MEMORY exceeded");
    return nullptr;
  }
  const uint32_t stride = static_cast<uint32_t>(((uint64_t{width} * depth + 31) / 32) * 4);
  // The rows' padding counts too: a narrow, very tall image (1 x 2^30 at 1 bit) passes the test
  // above, yet its padded rows would need 4 GiB, and biSizeImage would wrap to 0 in 32 bits.
  if (uint64_t{stride} * height * 8 > RASTERIMAGE_MAX_MEMORY_BITS) {
    SetErrorText("RASTERIMAGE_MAX_MEMORY exceeded");
    return nullptr;
  }

  BITMAPINFOHEADER h;
  h.biSize = BITMAPINFOHEADER::kSize;
  h.biWidth = static_cast<int32_t>(width);
  h.biHeight = static_cast<int32_t>(height);
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(depth);
  h.biCompression = 0;
  h.biSizeImage = stride * height;
  h.biClrUsed = PaletteSizeForDepth(depth);
  h.biXPelsPerMeter = PelsPerMeterFromDpi(info_.dpiX);
  h.biYPelsPerMeter = PelsPerMeterFromDpi(info_.dpiY);
  h.biClrImportant = header_.biClrImportant;
  header_ = h;
  info_.rowStride = stride;
  info_.sourceFormat = format;

  block_.reset(new (std::nothrow) uint8_t[BlockSize()]);
  if (!block_) {
    SetErrorText("RasterImage::Create can't allocate memory");
    return nullptr;
  }
  std::memset(block_.get() + BITMAPINFOHEADER::kSize, 0, PaletteBytes());
  header_.WriteTo(block_.get());
  info_.pixelRows = block_.get() + BITMAPINFOHEADER::kSize + PaletteBytes();
  InvalidateNearestCache();
  return block_.get();
}

void RasterImage::CopyInfoFrom(const RasterImage& other) {
  if (block_ == nullptr) info_ = other.info_;
}

bool RasterImage::TakeOver(RasterImage& other) {
  header_ = other.header_;
  info_ = other.info_;
  block_ = std::move(other.block_);
  alpha_ = std::move(other.alpha_);
  other.header_ = {};
  other.info_ = {};
  return true;
}

// ---- Queries ----

uint32_t RasterImage::BlockSize() const {
  return header_.biSize + PaletteBytes() + header_.biSizeImage;
}

RGBQUAD* RasterImage::PaletteData() const {
  if (block_ == nullptr || ColorCount() == 0) return nullptr;
  return reinterpret_cast<RGBQUAD*>(block_.get() + BITMAPINFOHEADER::kSize);
}

uint8_t* RasterImage::RowAddress(uint32_t y) const {
  if (info_.pixelRows == nullptr || y >= Height()) return nullptr;
  return info_.pixelRows + static_cast<size_t>(y) * info_.rowStride;
}

bool RasterImage::Contains(int64_t x, int64_t y) const {
  return x >= 0 && y >= 0 && x < header_.biWidth && y < header_.biHeight;
}

void RasterImage::SetErrorText(std::string_view message) {
  info_.errorText.assign(message.substr(0, kMessageLimit));
}

// ---- Palette ----

RGBQUAD RasterImage::PaletteEntryAt(uint32_t index) const {
  index &= 0xFF;
  const RGBQUAD* palette = PaletteData();
  if (palette == nullptr || index >= ColorCount()) return {};
  return palette[index];
}

bool RasterImage::PaletteRgbAt(uint32_t index, uint8_t* red, uint8_t* green, uint8_t* blue) const {
  const RGBQUAD* palette = PaletteData();
  if (palette == nullptr || index >= ColorCount()) return false;
  *red = palette[index].rgbRed;
  *green = palette[index].rgbGreen;
  *blue = palette[index].rgbBlue;
  return true;
}

void RasterImage::SetPaletteEntry(uint32_t index, uint8_t red, uint8_t green, uint8_t blue,
                                  uint8_t reserved) {
  SetPaletteEntryPacked(index, RGBQUAD{blue, green, red, reserved});
}

void RasterImage::SetPaletteEntryPacked(uint32_t index, RGBQUAD color) {
  RGBQUAD* palette = PaletteData();
  if (palette == nullptr || index >= ColorCount()) return;
  palette[index] = color;
  InvalidateNearestCache();
}

void RasterImage::ReplacePalette(const RGBQUAD* entries, uint32_t count) {
  RGBQUAD* palette = PaletteData();
  if (entries == nullptr || palette == nullptr) return;
  std::memcpy(palette, entries, std::min<uint64_t>(uint64_t{count} * 4, PaletteBytes()));
  InvalidateNearestCache();
}

void RasterImage::ApplyGrayRamp() {
  RGBQUAD* palette = PaletteData();
  if (palette == nullptr || ColorCount() < 2) return;
  const uint32_t step = 255 / (ColorCount() - 1);
  for (uint32_t i = 0; i < ColorCount(); ++i) {
    const auto v = static_cast<uint8_t>(i * step);
    palette[i].rgbBlue = palette[i].rgbGreen = palette[i].rgbRed = v;
  }
  InvalidateNearestCache();
}

bool RasterImage::HasGrayRamp() const {
  const RGBQUAD* palette = PaletteData();
  if (palette == nullptr) return false;
  for (uint32_t i = 0; i < ColorCount(); ++i) {
    const RGBQUAD& e = palette[i];
    if (e.rgbBlue != i || e.rgbGreen != i || e.rgbRed != i) return false;
  }
  return true;
}

void RasterImage::SwapPaletteEntries(uint8_t i, uint8_t j) {
  RGBQUAD* palette = PaletteData();
  if (palette == nullptr || i >= ColorCount() || j >= ColorCount()) return;
  std::swap(palette[i], palette[j]);
  for (uint32_t y = 0; y < Height(); ++y) {
    for (uint32_t x = 0; x < Width(); ++x) {
      const uint8_t v = IndexAtUnchecked(x, y);
      if (v == i)
        SetIndexAtUnchecked(x, y, j);
      else if (v == j)
        SetIndexAtUnchecked(x, y, i);
    }
  }
  InvalidateNearestCache();
}

void RasterImage::SetSignificantColors(uint32_t n) {
  if (n == 0 || n > 256) {
    header_.biClrImportant = 0;
  } else if (BitsPerPixel() <= 8) {
    header_.biClrImportant = std::min(n, 1u << BitsPerPixel());
  }
  // The block's own header says the same: readers of the block see the count too.
  if (block_ != nullptr) StoreLE32(block_.get() + 36, header_.biClrImportant);
}

uint8_t RasterImage::ClosestPaletteIndex(RGBQUAD color) {
  const RGBQUAD* palette = PaletteData();
  if (palette == nullptr) return 0;
  ImageInfo::NearestCache& cache = info_.nearestCache;
  if (cache.valid && cache.color == color) return cache.index;
  cache.color = color;
  cache.valid = true;

  uint32_t n = header_.biClrImportant != 0 ? header_.biClrImportant : ColorCount();
  n = std::min(n, ColorCount());
  int64_t best = 200000;
  uint8_t bestIndex = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const int64_t dr = int64_t{palette[i].rgbRed} - color.rgbRed;
    const int64_t dg = int64_t{palette[i].rgbGreen} - color.rgbGreen;
    const int64_t db = int64_t{palette[i].rgbBlue} - color.rgbBlue;
    const int64_t distance = dr * dr + dg * dg + db * db;
    if (distance == 0) {
      bestIndex = static_cast<uint8_t>(i);
      break;
    }
    if (distance < best) {
      best = distance;
      bestIndex = static_cast<uint8_t>(i);
    }
  }
  cache.index = bestIndex;
  return bestIndex;
}

int RasterImage::LuminanceCompare(RGBQUAD a, RGBQUAD b) {
  const auto luma = [](RGBQUAD c) {
    return (306 * c.rgbRed + 601 * c.rgbGreen + 117 * c.rgbBlue) >> 10;
  };
  return luma(a) - luma(b);
}

// ---- Pixels ----

uint8_t IndexInRow(const uint8_t* row, uint32_t bitsPerPixel, uint32_t x) {
  switch (bitsPerPixel) {
    case 8:
      return row[x];
    case 4:
      return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default:
      return 0;
  }
}

void SetIndexInRow(uint8_t* row, uint32_t bitsPerPixel, uint32_t x, uint8_t index) {
  switch (bitsPerPixel) {
    case 8:
      row[x] = index;
      break;
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (index & 0x0F))
                  : static_cast<uint8_t>((b & 0x0F) | ((index & 0x0F) << 4));
      break;
    }
    case 1: {
      const uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
      uint8_t& b = row[x >> 3];
      b = (index & 1) ? (b | mask) : static_cast<uint8_t>(b & ~mask);
      break;
    }
    default:
      break;
  }
}

uint8_t RasterImage::IndexAtUnchecked(uint32_t x, uint32_t y) const {
  return IndexInRow(info_.pixelRows + static_cast<size_t>(y) * info_.rowStride, BitsPerPixel(), x);
}

uint8_t RasterImage::IndexAt(int64_t x, int64_t y) const {
  if (block_ == nullptr || ColorCount() == 0) return 0;
  if (Contains(x, y)) return IndexAtUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
  if (info_.transparentIndex >= 0) return static_cast<uint8_t>(info_.transparentIndex);
  return IndexAtUnchecked(0, 0);
}

void RasterImage::SetIndexAtUnchecked(uint32_t x, uint32_t y, uint8_t index) {
  SetIndexInRow(info_.pixelRows + static_cast<size_t>(y) * info_.rowStride, BitsPerPixel(), x,
                index);
}

void RasterImage::SetIndexAt(int64_t x, int64_t y, uint8_t index) {
  if (block_ == nullptr || ColorCount() == 0 || !Contains(x, y)) return;
  SetIndexAtUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y), index);
}

RGBQUAD RasterImage::ColorAtUnchecked(uint32_t x, uint32_t y, bool withAlpha) const {
  RGBQUAD c;
  if (BitsPerPixel() == 24) {
    const uint8_t* p = info_.pixelRows + static_cast<size_t>(y) * info_.rowStride + x * 3u;
    c = RGBQUAD{p[0], p[1], p[2], 0};
  } else {
    c = PaletteData()[IndexAtUnchecked(x, y)];
  }
  if (withAlpha && alpha_ != nullptr) c.rgbReserved = AlphaAtUnchecked(x, y);
  return c;
}

RGBQUAD RasterImage::ColorAt(int64_t x, int64_t y, bool withAlpha) const {
  if (block_ == nullptr) return info_.transparentColor;
  if (Contains(x, y))
    return ColorAtUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y), withAlpha);
  if (info_.transparentIndex >= 0) {
    return ColorCount() != 0 ? PaletteEntryAt(static_cast<uint32_t>(info_.transparentIndex))
                             : info_.transparentColor;
  }
  return ColorAtUnchecked(0, 0, true);
}

void RasterImage::SetColorAtUnchecked(uint32_t x, uint32_t y, RGBQUAD color, bool setAlpha) {
  if (BitsPerPixel() == 24) {
    uint8_t* p = info_.pixelRows + static_cast<size_t>(y) * info_.rowStride + x * 3u;
    p[0] = color.rgbBlue;
    p[1] = color.rgbGreen;
    p[2] = color.rgbRed;
  } else {
    SetIndexAtUnchecked(x, y, ClosestPaletteIndex(color));
  }
  if (setAlpha) SetAlphaAt(x, y, color.rgbReserved);
}

void RasterImage::SetColorAt(int64_t x, int64_t y, RGBQUAD color, bool setAlpha) {
  if (block_ == nullptr || !Contains(x, y)) return;
  SetColorAtUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y), color, setAlpha);
}

void RasterImage::FillBytes(uint8_t value) {
  if (info_.pixelRows == nullptr) return;
  if (BitsPerPixel() == 1 && value != 0) value = 255;
  if (BitsPerPixel() == 4) value = static_cast<uint8_t>((value & 15) * 17);
  std::memset(info_.pixelRows, value, header_.biSizeImage);
}

bool RasterImage::FlipRows(bool alsoAlpha) {
  if (block_ == nullptr) return false;
  const uint32_t height = Height();
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[info_.rowStride]);
  if (!scratch) return false;
  for (uint32_t y = 0; y < height / 2; ++y) {
    uint8_t* a = RowAddress(y);
    uint8_t* b = RowAddress(height - 1 - y);
    std::memcpy(scratch.get(), a, info_.rowStride);
    std::memcpy(a, b, info_.rowStride);
    std::memcpy(b, scratch.get(), info_.rowStride);
  }
  if (alsoAlpha && alpha_ != nullptr) {
    const size_t width = Width();
    for (uint32_t y = 0; y < height / 2; ++y) {
      std::swap_ranges(alpha_.get() + y * width, alpha_.get() + (y + 1) * width,
                       alpha_.get() + (height - 1 - y) * width);
    }
  }
  return true;
}

void RasterImage::SwapRedBlueInRow(uint8_t* buffer, uint32_t length) const {
  if (buffer == nullptr || BitsPerPixel() != 24) return;
  const uint32_t n = std::min({length, info_.rowStride, Width() * 3});
  for (uint32_t i = 0; i + 2 < n; i += 3) std::swap(buffer[i], buffer[i + 2]);
}

// ---- Alpha plane ----

bool RasterImage::AllocateAlpha() {
  if (alpha_ == nullptr && block_ != nullptr) {
    const size_t size = size_t{Width()} * Height();
    alpha_.reset(new (std::nothrow) uint8_t[size]);
    if (alpha_) std::memset(alpha_.get(), 255, size);
  }
  return alpha_ != nullptr;
}

void RasterImage::ZeroAlpha() {
  if (alpha_ != nullptr) std::memset(alpha_.get(), 0, size_t{Width()} * Height());
}

void RasterImage::DropAlpha() {
  alpha_.reset();
}

void RasterImage::InvertAlpha() {
  if (alpha_ == nullptr) return;
  const size_t size = size_t{Width()} * Height();
  for (size_t i = 0; i < size; ++i) alpha_[i] = static_cast<uint8_t>(255 - alpha_[i]);
}

void RasterImage::CopyAlphaFrom(const RasterImage& other) {
  if (other.alpha_ == nullptr || other.Width() != Width() || other.Height() != Height()) return;
  if (!AllocateAlpha()) return;
  std::memcpy(alpha_.get(), other.alpha_.get(), size_t{Width()} * Height());
}

uint8_t RasterImage::AlphaAtUnchecked(uint32_t x, uint32_t y) const {
  return alpha_[size_t{y} * Width() + x];
}

uint8_t RasterImage::AlphaAt(int64_t x, int64_t y) const {
  if (alpha_ == nullptr || !Contains(x, y)) return 0;
  return AlphaAtUnchecked(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}

void RasterImage::SetAlphaAt(int64_t x, int64_t y, uint8_t value) {
  if (uint8_t* p = AlphaAddress(x, y)) *p = value;
}

uint8_t* RasterImage::AlphaAddress(int64_t x, int64_t y) const {
  if (alpha_ == nullptr || !Contains(x, y)) return nullptr;
  return alpha_.get() + static_cast<size_t>(y) * Width() + static_cast<size_t>(x);
}

// ---- Transparency ----

void RasterImage::SetTransparentIndex(int32_t index) {
  info_.transparentIndex = index < static_cast<int64_t>(ColorCount()) ? index : 0;
}

void RasterImage::SetTransparentColor(RGBQUAD color) {
  color.rgbReserved = 0;
  info_.transparentColor = color;
}

RGBQUAD RasterImage::TransparentColorOf() const {
  if (BitsPerPixel() == 24 || info_.transparentIndex < 0) return info_.transparentColor;
  return PaletteEntryAt(static_cast<uint32_t>(info_.transparentIndex));
}

// ---- Resolution, quality, encoder options ----

void RasterImage::SetResolutionX(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info_.dpiX = dpi;
  header_.biXPelsPerMeter = PelsPerMeterFromDpi(dpi);
  if (block_ != nullptr)
    StoreLE32(block_.get() + 24, static_cast<uint32_t>(header_.biXPelsPerMeter));
}

void RasterImage::SetResolutionY(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info_.dpiY = dpi;
  header_.biYPelsPerMeter = PelsPerMeterFromDpi(dpi);
  if (block_ != nullptr)
    StoreLE32(block_.get() + 28, static_cast<uint32_t>(header_.biYPelsPerMeter));
}

void RasterImage::SetQuality(uint32_t quality) {
  info_.quality = static_cast<float>(quality & 0xFF);
}

namespace {
// The option slot of `format`, or of the image's own format for None or a number out of range.
uint32_t OptionSlot(ImageFormat format, ImageFormat sourceFormat) {
  if (format != ImageFormat::None && NumberOf(format) < kImageFormatSlots) return NumberOf(format);
  return NumberOf(sourceFormat) < kImageFormatSlots ? NumberOf(sourceFormat) : 0;
}
}  // namespace

void RasterImage::SetEncoderOption(uint32_t word, ImageFormat format) {
  info_.encoderOptions[OptionSlot(format, info_.sourceFormat)] = word;
}

uint32_t RasterImage::EncoderOption(ImageFormat format) const {
  return info_.encoderOptions[OptionSlot(format, info_.sourceFormat)];
}

// ---- Files and streams ----

Status CheckEncodable(const RasterImage& image) {
  return image.IsValid() ? Status::Ok() : Status::Error("null image!!!");
}

bool RasterImage::Report(const Status& status) {
  if (!status.IsOk()) SetErrorText(status.Message());
  return status.IsOk();
}

bool RasterImage::DecodeFile(const std::string& path, ImageFormat format, bool* opened) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  *opened = file != nullptr;
  if (!file) return false;
  FileStream stream(file.get());
  return Decode(&stream, format);
}

bool RasterImage::Load(const std::string& path, ImageFormat format) {
  bool opened = false;
  if (format != ImageFormat::None && NumberOf(format) < kImageFormatSlots) {
    if (DecodeFile(path, format, &opened)) return true;
    if (!opened) return false;
  }
  // Second attempt: detect the format by content; the first attempt's message wins.
  const std::string firstError = info_.errorText;
  const bool ok = DecodeFile(path, ImageFormat::None, &opened);
  if (!ok && opened && format != ImageFormat::None) info_.errorText = firstError;
  return ok;
}

bool RasterImage::Save(const std::string& path, ImageFormat format) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    SetErrorText("cannot create " + path + ": " + std::strerror(errno));
    return false;
  }
  bool saved = false;
  {
    FileStream stream(file);
    saved = Encode(&stream, format);
  }
  // fclose writes what is still buffered: a full disk may show only here.
  errno = 0;
  if (std::fclose(file) != 0 && saved) {
    SetErrorText("cannot write " + path + ": " + std::strerror(errno != 0 ? errno : EIO));
    saved = false;
  }
  return saved;
}

bool RasterImage::Encode(ByteStream* stream, ImageFormat format) {
  const Result<EncodeFunction> encoder = EncoderOf(format);
  if (!encoder.IsOk()) return Report(encoder.AsStatus());
  return EncodeThrough(stream, [&](ByteStream& out) { return encoder.Value()(*this, out); });
}

bool RasterImage::Decode(ByteStream* stream, ImageFormat format) {
  if (stream == nullptr) {
    SetErrorText("null file handler");
    return false;
  }
  if (format == ImageFormat::None) {
    const int64_t start = stream->Position();
    bool first = true;
    for (const CodecEntry& codec : Codecs()) {
      if (codec.decode == nullptr) continue;
      if (!first) stream->SeekTo(start, kSeekStart);
      first = false;
      if (codec.decode(*this, stream)) return true;
    }
    SetErrorText("Decode: Unknown or wrong format");
    return false;
  }
  const CodecEntry* codec = FindCodec(format);
  if (codec == nullptr || codec->decode == nullptr) {
    SetErrorText("Decode: Unknown or wrong format");
    return false;
  }
  return codec->decode(*this, stream);
}

}  // namespace orvalis
