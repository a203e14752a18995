#include "image/codec_bmp.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "image/bmp_rle.h"
#include "image/checked_writer.h"
#include "platform/byte_order.h"

namespace orvalis {

namespace {

constexpr uint16_t kBmpMagic = 0x4D42;  // "BM"
constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kOs2HeaderSize = 64;
constexpr uint32_t kMaskBytes = 12;

// biCompression values.
constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitfields = 3;

// The 32-bit reader and the alpha writer stage at most this many pixels at a time, so their
// scratch memory stays small whatever width a file claims.
constexpr uint64_t kChunkPixels = 1u << 16;

bool ReadExactly(ByteStream* stream, uint8_t* buffer, size_t count) {
  return stream->ReadBytes(buffer, 1, count) == count;
}

// Moves to an absolute offset; a stream already there is not asked to seek at all.
void MoveTo(ByteStream* stream, int64_t offset) {
  if (stream->Position() != offset) stream->SeekTo(offset, kSeekStart);
}

bool IsSupportedDepth(uint32_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

// The message for a depth/compression pair the reader refuses, or nullptr.
const char* CompressionRefusal(const BITMAPINFOHEADER& file) {
  switch (file.biBitCount) {
    case 1:
    case 4:
    case 8:
      return file.biCompression <= kRle4 ? nullptr : "compression type not supported";
    case 24:
      return file.biCompression == kRgb ? nullptr : "unknown compression";
    case 32:
      return file.biCompression == kRgb || file.biCompression == kBitfields ? nullptr
                                                                            : "unknown compression";
    default:
      return nullptr;  // 16 bits: any compression but bit fields reads as 5-5-5
  }
}

// A header longer than 40 bytes (other than the 64-byte OS/2 one) is trusted only when its
// image size covers the uncompressed rows, it has one plane and no explicit palette size.
bool LargeHeaderAccepted(const BITMAPINFOHEADER& h) {
  const int64_t rowBytes = (int64_t{h.biBitCount} * h.biWidth + 31) / 32 * 4;
  int64_t needed = 0;
  if (__builtin_mul_overflow(rowBytes, int64_t{h.biHeight}, &needed)) {
    needed = (rowBytes < 0) != (h.biHeight < 0) ? INT64_MIN : INT64_MAX;
  }
  return int64_t{h.biSizeImage} >= needed && h.biPlanes == 1 && h.biClrUsed == 0;
}

uint32_t AbsoluteHeight(int32_t height) {
  return height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
}

void Normalise(BITMAPINFOHEADER& h) {
  if (h.biSizeImage == 0) {
    // Unsigned arithmetic wraps instead of overflowing for absurd sizes; such a header fails
    // later, in Create.
    const uint64_t width = static_cast<uint64_t>(static_cast<int64_t>(h.biWidth));
    const uint64_t rowBytes = ((uint64_t{h.biBitCount} * width + 31) >> 3) & ~uint64_t{3};
    h.biSizeImage = static_cast<uint32_t>(rowBytes * AbsoluteHeight(h.biHeight));
  }
  if (h.biClrUsed == 0 && h.biBitCount <= 8) h.biClrUsed = 1u << h.biBitCount;
}

int32_t DpiFromPelsPerMeter(int32_t pelsPerMeter) {
  return static_cast<int32_t>(std::floor(pelsPerMeter * 0.0254 + 0.5));
}

// One colour channel of a 16-bit pixel. The field is shifted down to bit 0 and scaled to 8
// bits by its span (highest minus lowest set bit, plus one): 5 bits are shifted up by 3, 6 by
// 2, fields wider than 8 bits keep their top 8. Every shift stays within 0..31, whatever masks
// a file holds; a zero mask gives 0.
class MaskChannel {
 public:
  explicit MaskChannel(uint32_t mask) : mask_(mask & 0xFFFF) {
    if (mask_ != 0) {
      low_ = static_cast<uint32_t>(std::countr_zero(mask_));
      span_ = 32 - static_cast<uint32_t>(std::countl_zero(mask_)) - low_;
    }
  }
  uint8_t Of(uint32_t pixel) const {
    const uint32_t field = (pixel & mask_) >> low_;
    return static_cast<uint8_t>(span_ <= 8 ? field << (8 - span_) : field >> (span_ - 8));
  }

 private:
  uint32_t mask_;
  uint32_t low_ = 0;
  uint32_t span_ = 0;
};

// Which byte of a 32-bit pixel a mask selects: the number of whole bytes below its top byte.
uint32_t MaskByteIndex(uint32_t mask) {
  uint32_t index = 0;
  for (uint32_t shift : {8u, 16u, 24u}) {
    if ((mask >> shift) != 0) ++index;
  }
  return index;
}

std::vector<uint8_t> FileHeader(uint32_t fileSize, uint32_t pixelOffset) {
  std::vector<uint8_t> out;
  out.reserve(kFileHeaderSize);
  PutLE16(out, kBmpMagic);
  PutLE32(out, fileSize);
  PutLE16(out, 0);
  PutLE16(out, 0);
  PutLE32(out, pixelOffset);
  return out;
}

}  // namespace

// Where the parts of the file lie: the file's first byte, the DIB header and, from the file
// header, the pixel data (0 in a file without file header).
struct RasterImageBmp::FileLayout {
  int64_t start = 0;
  int64_t dibStart = 0;
  uint32_t pixelOffset = 0;

  // A file header says where the pixels are. A packed DIB keeps them right after the header,
  // the masks that follow a 40-byte header and the whole colour table, including entries
  // beyond what the image's palette can hold.
  int64_t PixelStart(const BITMAPINFOHEADER& file) const {
    if (pixelOffset != 0) return start + pixelOffset;
    int64_t at = dibStart + int64_t{file.biSize};
    const bool maskedDepth = file.biBitCount == 16 || file.biBitCount == 32;
    if (file.biSize == BITMAPINFOHEADER::kSize && maskedDepth && file.biCompression == kBitfields)
      at += kMaskBytes;
    return at + int64_t{file.biClrUsed} * (file.biSize == kCoreHeaderSize ? 3 : 4);
  }
};

bool RasterImageBmp::ReadInfoHeader(ByteStream* stream, BITMAPINFOHEADER* header) {
  if (stream == nullptr || header == nullptr) return false;
  uint8_t raw[BITMAPINFOHEADER::kSize];
  if (!ReadExactly(stream, raw, 4)) return false;
  const uint32_t size = LoadLE32(raw);
  BITMAPINFOHEADER h;
  if (size == kCoreHeaderSize) {
    if (!ReadExactly(stream, raw + 4, kCoreHeaderSize - 4)) return false;
    h.biSize = kCoreHeaderSize;
    h.biWidth = LoadLE16(raw + 4);
    h.biHeight = LoadLE16(raw + 6);
    h.biPlanes = LoadLE16(raw + 8);
    h.biBitCount = LoadLE16(raw + 10);
  } else if (size >= BITMAPINFOHEADER::kSize) {
    if (!ReadExactly(stream, raw + 4, BITMAPINFOHEADER::kSize - 4)) return false;
    h = BITMAPINFOHEADER::ReadFrom(raw);
    if (size == kOs2HeaderSize) {
      stream->SeekTo(kOs2HeaderSize - BITMAPINFOHEADER::kSize, kSeekCurrent);
    } else if (size > BITMAPINFOHEADER::kSize) {
      if (!LargeHeaderAccepted(h)) return false;
      // A compressed image's masks sit at bytes 40-51 of such a header: stay there for them.
      if (h.biCompression == kRgb)
        stream->SeekTo(int64_t{size} - BITMAPINFOHEADER::kSize, kSeekCurrent);
    }
  } else {
    return false;
  }
  Normalise(h);
  *header = h;
  return true;
}

bool RasterImageBmp::Decode(ByteStream* stream) {
  if (stream == nullptr) {
    SetErrorText("null file handler");
    return false;
  }
  FileLayout layout;
  layout.start = std::max<int64_t>(stream->Position(), 0);
  uint8_t fileHeader[kFileHeaderSize];
  if (!ReadExactly(stream, fileHeader, kFileHeaderSize)) {
    SetErrorText("Not a BMP");
    return false;
  }
  if (LoadLE16(fileHeader) == kBmpMagic) {
    layout.pixelOffset = LoadLE32(fileHeader + 10);
    layout.dibStart = layout.start + kFileHeaderSize;
  } else {
    stream->SeekTo(layout.start, kSeekStart);
    layout.dibStart = layout.start;
  }

  BITMAPINFOHEADER file;
  if (!ReadInfoHeader(stream, &file)) {
    SetErrorText("Error reading BMP info");
    return false;
  }
  if (!IsSupportedDepth(file.biBitCount)) {
    SetErrorText("BMP bit depth " + std::to_string(file.biBitCount) +
                 " not supported (1, 4, 8, 16, 24 or 32)");
    return false;
  }
  // Refused before Create, so that a file we cannot read costs no pixel memory.
  if (const char* refusal = CompressionRefusal(file)) {
    SetErrorText(refusal);
    return false;
  }
  topDown_ = file.biHeight < 0;
  MutableInfo().truncated = false;
  if (Create(static_cast<uint32_t>(file.biWidth), AbsoluteHeight(file.biHeight), file.biBitCount,
             ImageFormat::Bmp) == nullptr) {
    return false;  // Create's own message stays
  }
  SetResolutionX(DpiFromPelsPerMeter(file.biXPelsPerMeter));
  SetResolutionY(DpiFromPelsPerMeter(file.biYPelsPerMeter));
  if (ColorCount() != 0) ReadPalette(stream, file, layout);
  const bool read = ReadPixels(stream, file, layout);
  topDown_ = false;
  if (!read) Release();
  return read;
}

void RasterImageBmp::ReadPalette(ByteStream* stream, const BITMAPINFOHEADER& file,
                                 const FileLayout& layout) {
  // The colour table follows the whole header, whatever part of it the header reader skipped.
  MoveTo(stream, layout.dibStart + int64_t{file.biSize});
  const size_t entrySize = file.biSize == kCoreHeaderSize ? 3 : 4;
  // Entries beyond the palette's size are not read here; PixelStart skips them.
  const uint32_t wanted = std::min(file.biClrUsed, ColorCount());
  uint8_t raw[256 * 4];
  const size_t got = stream->ReadBytes(raw, entrySize, wanted);
  RGBQUAD* palette = PaletteData();
  for (size_t i = 0; i < got; ++i) {
    const uint8_t* entry = raw + i * entrySize;
    palette[i] = RGBQUAD{entry[0], entry[1], entry[2], 0};
  }
}

bool RasterImageBmp::ReadPixels(ByteStream* stream, const BITMAPINFOHEADER& file,
                                const FileLayout& layout) {
  switch (file.biBitCount) {
    case 1:
    case 4:
    case 8:
      MoveTo(stream, layout.PixelStart(file));
      if (file.biCompression == kRgb) {
        ReadPlainRows(stream);
      } else {
        ReadRle(stream, file.biCompression);
        if (topDown_) FlipRows(false);
      }
      return true;
    case 24:
      MoveTo(stream, layout.PixelStart(file));
      ReadPlainRows(stream);
      return true;
    default:
      break;
  }
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (file.biBitCount == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0x00FF00;
    masks[2] = 0x0000FF;
  }
  if (file.biCompression == kBitfields) {
    uint8_t raw[kMaskBytes] = {};  // masks missing from a short file read as 0
    stream->ReadBytes(raw, 1, kMaskBytes);
    for (int i = 0; i < 3; ++i) masks[i] = LoadLE32(raw + 4 * i);
  }
  MoveTo(stream, layout.PixelStart(file));
  if (file.biBitCount == 16) {
    // Expanding in place needs the rows bottom-up; a top-down file is turned afterwards.
    if (Read16BitRows(stream, masks) > 0 && topDown_) FlipRows(false);
    return true;
  }
  return Read32BitRows(stream, masks, file.biCompression == kRgb);
}

// Row `row` of the file, counted in the order the file stores rows: from the bottom of the
// picture, or from the top in a top-down file. Reading straight into these rows spares turning
// the picture afterwards.
uint8_t* RasterImageBmp::FileRow(uint32_t row) const {
  return RowAddress(topDown_ ? Height() - 1 - row : row);
}

// Clears, in a plane of `stride`-byte rows laid out like the pixel rows, the bytes from
// `byteInRow` of file row `row` to the end of the file's rows: what a short file did not supply.
void RasterImageBmp::ClearFileRowsFrom(uint8_t* plane, size_t stride, uint32_t row,
                                       size_t byteInRow) const {
  if (row >= Height()) return;
  const size_t at = size_t{topDown_ ? Height() - 1 - row : row} * stride;
  std::memset(plane + at + byteInRow, 0, stride - byteInRow);
  const size_t later = size_t{Height() - 1 - row} * stride;  // the rows after it in the file
  std::memset(topDown_ ? plane : plane + at + stride, 0, later);
}

// Rows stored as they are in memory. A bottom-up file takes one read straight into the pixel
// rows; a top-down file one read per row. Whatever the file does not supply is cleared.
void RasterImageBmp::ReadPlainRows(ByteStream* stream) {
  if (!topDown_) {
    const size_t size = Header().biSizeImage;
    const size_t got = stream->ReadBytes(PixelRows(), 1, size);
    std::memset(PixelRows() + got, 0, size - got);
    if (got < size) MutableInfo().truncated = true;
    return;
  }
  for (uint32_t row = 0; row < Height(); ++row) {
    const size_t got = stream->ReadBytes(FileRow(row), 1, RowStride());
    if (got < RowStride()) {
      ClearFileRowsFrom(PixelRows(), RowStride(), row, got);
      MutableInfo().truncated = true;
      return;
    }
  }
}

void RasterImageBmp::ReadRle(ByteStream* stream, uint32_t compression) {
  std::memset(PixelRows(), 0, Header().biSizeImage);
  const RlePixels target{PixelRows(), Header().biSizeImage, RowStride(), Height()};
  if (compression == kRle8)
    DecodeRle8(*stream, target);
  else
    DecodeRle4(*stream, target);
}

// 16-bit rows (2 bytes a pixel, padded to 4) are read into the start of the pixel memory and
// expanded in place: a 16-bit row never needs more bytes than the 24-bit row of the same index.
// Returns the number of rows the file supplied, in part or in full.
uint32_t RasterImageBmp::Read16BitRows(ByteStream* stream, const uint32_t masks[3]) {
  const uint64_t sourceStride = (uint64_t{Width()} + 1) / 2 * 4;
  const size_t size = Header().biSizeImage;
  const size_t got = stream->ReadBytes(PixelRows(), 1, sourceStride * Height());
  std::memset(PixelRows() + got, 0, size - got);
  if (got < sourceStride * Height()) MutableInfo().truncated = true;
  // Rows the file did not reach are already 0; only rows with data are expanded.
  const auto rows = static_cast<uint32_t>((got + sourceStride - 1) / sourceStride);
  UnpackMaskedPixels(PixelRows(), masks[0], masks[1], masks[2], 16, 0, rows);
  return rows;
}

// 32-bit pixels are staged a chunk at a time. Without masks (BI_RGB) the fourth byte of each
// pixel fills the alpha plane; a file whose fourth bytes are all 0 did not use them as alpha,
// so the plane is then fully opaque.
bool RasterImageBmp::Read32BitRows(ByteStream* stream, const uint32_t masks[3], bool withAlpha) {
  const uint64_t total = uint64_t{Width()} * Height();
  const uint64_t chunk = std::min(total, kChunkPixels);
  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[chunk * 4]);
  if (!staging) {
    SetErrorText("can't allocate memory");
    return false;
  }
  PixelRun32 run;
  run.index[0] = MaskByteIndex(masks[0]);
  run.index[1] = MaskByteIndex(masks[1]);
  run.index[2] = MaskByteIndex(masks[2]);
  run.alpha = withAlpha && AllocateAlpha() ? AlphaPlane() : nullptr;
  uint64_t done = 0;
  while (done < total) {
    const uint64_t count = std::min(chunk, total - done);
    const uint64_t pixels = stream->ReadBytes(staging.get(), 4, count);
    UnpackPixelRun32(staging.get(), done, pixels, run);
    done += pixels;
    if (pixels < count) break;
  }
  if (done < total) MutableInfo().truncated = true;
  const auto row = static_cast<uint32_t>(done / Width());
  const auto column = static_cast<uint32_t>(done % Width());
  ClearFileRowsFrom(PixelRows(), RowStride(), row, size_t{column} * 3);
  if (run.alpha != nullptr) {
    if (run.alphaSeen == 0)
      std::memset(run.alpha, 255, total);
    else
      ClearFileRowsFrom(run.alpha, Width(), row, column);
  }
  return true;
}

void RasterImageBmp::UnpackMaskedPixels(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                                        uint32_t blueMask, uint32_t bitsPerPixel) {
  UnpackMaskedPixels(source, redMask, greenMask, blueMask, bitsPerPixel, 0, Height());
}

void RasterImageBmp::UnpackMaskedPixels(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                                        uint32_t blueMask, uint32_t bitsPerPixel, uint32_t firstRow,
                                        uint32_t rowCount) {
  if (source == nullptr || BitsPerPixel() != 24 || firstRow >= Height()) return;
  rowCount = std::min(rowCount, Height() - firstRow);
  if (bitsPerPixel == 32) {
    PixelRun32 run;
    run.index[0] = MaskByteIndex(redMask);
    run.index[1] = MaskByteIndex(greenMask);
    run.index[2] = MaskByteIndex(blueMask);
    UnpackPixelRun32(source, uint64_t{firstRow} * Width(), uint64_t{rowCount} * Width(), run);
    return;
  }
  if (bitsPerPixel != 16) return;
  const MaskChannel red(redMask), green(greenMask), blue(blueMask);
  const uint64_t sourceStride = (uint64_t{Width()} + 1) / 2 * 4;
  const uint32_t width = Width();
  // From the top row down and from the right end of each row, so that expanding in place never
  // overwrites a source pixel that is still to be read.
  for (uint32_t y = firstRow + rowCount; y-- > firstRow;) {
    const uint8_t* from = source + (y - firstRow) * sourceStride;
    uint8_t* to = RowAddress(y);
    for (uint32_t x = width; x-- > 0;) {
      const uint32_t pixel = LoadLE16(from + size_t{x} * 2);
      uint8_t* out = to + size_t{x} * 3;
      out[0] = blue.Of(pixel);
      out[1] = green.Of(pixel);
      out[2] = red.Of(pixel);
    }
    std::memset(to + size_t{width} * 3, 0, RowStride() - size_t{width} * 3);
  }
}

// Expands `count` packed 32-bit pixels, the first being pixel number `first` counted in file
// order; the run's byte indices pick red, green and blue. With an alpha plane the fourth bytes
// go there. Row padding is cleared.
void RasterImageBmp::UnpackPixelRun32(const uint8_t* source, uint64_t first, uint64_t count,
                                      PixelRun32& run) {
  if (count == 0) return;
  const uint32_t width = Width();
  auto row = static_cast<uint32_t>(first / width);
  auto x = static_cast<uint32_t>(first % width);
  uint8_t* to = FileRow(row) + size_t{x} * 3;
  uint8_t* alpha = run.alpha ? run.alpha + (to - PixelRows()) / RowStride() * width : nullptr;
  for (uint64_t i = 0; i < count; ++i, source += 4) {
    to[0] = source[run.index[2]];
    to[1] = source[run.index[1]];
    to[2] = source[run.index[0]];
    to += 3;
    if (alpha != nullptr) {
      alpha[x] = source[3];
      run.alphaSeen |= source[3];
    }
    if (++x == width && i + 1 < count) {
      std::memset(to, 0, RowStride() - size_t{width} * 3);
      x = 0;
      to = FileRow(++row);
      if (alpha != nullptr) alpha = run.alpha + (to - PixelRows()) / RowStride() * width;
    } else if (x == width) {
      std::memset(to, 0, RowStride() - size_t{width} * 3);
    }
  }
}

namespace {

// A 24-bit image with an alpha plane becomes a 32-bit BI_RGB file: blue, green, red, alpha.
void WriteWithAlpha(const RasterImage& image, CheckedWriter& writer) {
  BITMAPINFOHEADER h = image.Header();
  h.biBitCount = 32;
  h.biCompression = kRgb;
  h.biSizeImage = image.Width() * image.Height() * 4;  // within 32 bits: Create's ceiling is lower
  const uint32_t headersSize = BITMAPINFOHEADER::kSize + kFileHeaderSize;
  const std::vector<uint8_t> fileHeader = FileHeader(h.biSizeImage + headersSize, headersSize);
  uint8_t info[BITMAPINFOHEADER::kSize];
  h.WriteTo(info);
  if (!writer.Write(fileHeader) || !writer.Write(info, sizeof info)) return;
  const uint32_t width = image.Width();
  const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(width, kChunkPixels));
  std::vector<uint8_t> out(size_t{chunk} * 4);
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* pixel = image.RowAddress(y);
    const uint8_t* alpha = image.AlphaAddress(0, y);
    for (uint32_t x = 0; x < width; x += chunk) {
      const uint32_t n = std::min(chunk, width - x);
      for (uint32_t i = 0; i < n; ++i, pixel += 3) {
        out[i * 4 + 0] = pixel[0];
        out[i * 4 + 1] = pixel[1];
        out[i * 4 + 2] = pixel[2];
        out[i * 4 + 3] = alpha[x + i];
      }
      if (!writer.Write(out.data(), size_t{n} * 4)) return;
    }
  }
}

}  // namespace

Status EncodeBmp(const RasterImage& image, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  CheckedWriter writer(&out);
  if (image.ColorCount() != 0 || !image.HasAlpha()) {
    // The block is a packed DIB already: file header, the image's header, then the rest of the
    // block (palette and rows) in one write.
    const uint32_t headersSize = BITMAPINFOHEADER::kSize + kFileHeaderSize;
    const std::vector<uint8_t> fileHeader =
        FileHeader(image.BlockSize() + kFileHeaderSize, image.PaletteBytes() + headersSize);
    uint8_t info[BITMAPINFOHEADER::kSize];
    image.Header().WriteTo(info);
    writer.Write(fileHeader) && writer.Write(info, sizeof info) &&
        writer.Write(image.BitmapBlock() + BITMAPINFOHEADER::kSize,
                     image.BlockSize() - BITMAPINFOHEADER::kSize);
  } else {
    WriteWithAlpha(image, writer);
  }
  return writer.Finish() ? Status::Ok() : Status::Error("BMP write failed");
}

bool RasterImageBmp::Encode(ByteStream* stream) {
  return EncodeThrough(stream, [this](ByteStream& out) { return EncodeBmp(*this, out); });
}

}  // namespace orvalis
