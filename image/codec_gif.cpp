#include "image/codec_gif.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/byte_order.h"

namespace orvalis {

namespace {

constexpr uint8_t kSignature[] = {'G', 'I', 'F', '8', '9', 'a'};
constexpr uint8_t kTrailer = 0x3B;
constexpr uint32_t kTileWidth = 17;
constexpr uint32_t kTileHeight = 15;

// The LZW code size of the image data: the depth, except that 1-bit images use 2 (the smallest
// size the format allows).
int InitialCodeSize(uint32_t bitsPerPixel) {
  return bitsPerPixel < 2 ? 2 : static_cast<int>(bitsPerPixel);
}

// The palette indices of stored row y, one byte each.
void UnpackRow(const RasterImage& image, uint32_t y, uint8_t* out) {
  const uint8_t* row = image.RowAddress(y);
  const uint32_t width = image.Width();
  switch (image.BitsPerPixel()) {
    case 8:
      std::memcpy(out, row, width);
      break;
    case 4:
      for (uint32_t x = 0; x < width; ++x)
        out[x] = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
      break;
    default:
      for (uint32_t x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      break;
  }
}

uint32_t Rgb(RGBQUAD c) {
  return c.Packed() & 0xFFFFFFu;
}

}  // namespace

// ---- Pieces of the stream ----

void RasterImageGIF::Flush(ByteStream* stream) {
  if (out_.empty()) return;
  if (writer_.Stream() != stream) writer_ = CheckedWriter(stream);
  writer_.Write(out_.data(), out_.size());
  out_.clear();
}

void RasterImageGIF::PutLogicalScreen(const RasterImage& image) {
  const uint32_t b = image.BitsPerPixel();
  const uint8_t packed =
      image.ColorCount() == 0 ? 0x11 : static_cast<uint8_t>(((b + 7) * 32) | (b - 1) | 0x80);
  out_.insert(out_.end(), std::begin(kSignature), std::end(kSignature));
  PutLE16(out_, static_cast<uint16_t>(image.Width()));
  PutLE16(out_, static_cast<uint16_t>(image.Height()));
  out_.push_back(packed);
  out_.push_back(0);  // background colour index
  out_.push_back(0);  // pixel aspect ratio
}

void RasterImageGIF::PutColorTable(const RasterImage& image) {
  for (uint32_t i = 0; i < image.ColorCount(); ++i) {
    const RGBQUAD c = image.PaletteEntryAt(i);
    out_.insert(out_.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
  }
}

void RasterImageGIF::PutGraphicControl(int32_t transparentIndex, uint32_t delay, uint8_t disposal) {
  const auto packed =
      static_cast<uint8_t>((transparentIndex != -1 ? 1 : 0) | ((disposal & 7) << 2));
  out_.insert(out_.end(), {0x21, 0xF9, 4, packed});
  PutLE16(out_, static_cast<uint16_t>(delay));
  out_.push_back(static_cast<uint8_t>(transparentIndex));
  out_.push_back(0);
}

void RasterImageGIF::PutComment() {
  if (comment_.empty()) return;
  const size_t n = std::min<size_t>(comment_.size(), 255);
  out_.insert(out_.end(), {0x21, 0xFE, static_cast<uint8_t>(n)});
  out_.insert(out_.end(), comment_.begin(), comment_.begin() + static_cast<ptrdiff_t>(n));
  out_.push_back(0);
}

void RasterImageGIF::PutImageDescriptor(int32_t left, int32_t top, uint32_t width, uint32_t height,
                                        uint8_t packed) {
  out_.push_back(0x2C);
  PutLE16(out_, static_cast<uint16_t>(left));
  PutLE16(out_, static_cast<uint16_t>(top));
  PutLE16(out_, static_cast<uint16_t>(width));
  PutLE16(out_, static_cast<uint16_t>(height));
  out_.push_back(packed);
}

void RasterImageGIF::WriteImageData(ByteStream* stream, const RasterImage& image) {
  const int k = InitialCodeSize(image.BitsPerPixel());
  out_.push_back(static_cast<uint8_t>(k));
  Flush(stream);
  const uint32_t width = image.Width();
  rowIndices_.resize(width);
  dataEncoder_.Begin(stream, k,
                     GifDataEncoder::MethodFromOption(image.EncoderOption(ImageFormat::Gif)));
  for (uint32_t y = image.Height(); y-- > 0;) {
    UnpackRow(image, y, rowIndices_.data());
    dataEncoder_.PutRow(rowIndices_.data(), width);
  }
  if (!dataEncoder_.Finish()) writesOk_ = false;
  out_.push_back(0);  // block terminator
  Flush(stream);
}

void RasterImageGIF::WriteTileData(ByteStream* stream, const uint8_t* indices, uint32_t width,
                                   uint32_t height) {
  out_.push_back(8);
  Flush(stream);
  dataEncoder_.Begin(stream, 8, GifDataEncoder::MethodFromOption(EncoderOption(ImageFormat::Gif)));
  dataEncoder_.PutRow(indices, size_t{width} * height);
  if (!dataEncoder_.Finish()) writesOk_ = false;
  out_.push_back(0);
  Flush(stream);
}

bool RasterImageGIF::CheckWrites(ByteStream* stream) {
  if (writer_.Stream() != stream) writer_ = CheckedWriter(stream);
  if (writer_.Finish() && writesOk_) return true;
  SetErrorText("Write Error in GIF file");
  return false;
}

bool RasterImageGIF::FitsFormat(const RasterImage& image) {
  if (image.Width() <= kMaxSide && image.Height() <= kMaxSide) return true;
  SetErrorText("GIF cannot hold a " + std::to_string(image.Width()) + " x " +
               std::to_string(image.Height()) + " image: at most " + std::to_string(kMaxSide) +
               " pixels a side");
  return false;
}

// ---- Encoders ----

bool RasterImageGIF::Encode(ByteStream* stream) {
  if (!CheckBeforeEncode(stream)) return false;
  if (BitsPerPixel() > 8) return EncodeTrueColor(stream);

  // A view shares its image's pixels but not its frame list: look at the image itself.
  const RasterImage* owner = ViewedImage() != nullptr ? ViewedImage() : this;
  const auto& frames = owner->FrameList();
  if (Info().frameCount > 1 && !frames.empty()) {
    // A count beyond the list ends in one absent frame, which EncodeFrames reports.
    const size_t count = std::min(static_cast<size_t>(Info().frameCount), frames.size() + 1);
    std::vector<RasterImage*> list(count, nullptr);
    for (size_t i = 0; i < count && i < frames.size(); ++i) list[i] = frames[i].get();
    return EncodeFrames(stream, list.data(), static_cast<int32_t>(count), false, false);
  }
  return EncodeSingleFrame(stream);
}

bool RasterImageGIF::EncodeSingleFrame(ByteStream* stream) {
  if (!FitsFormat(*this)) return false;
  writesOk_ = true;
  PutLogicalScreen(*this);
  PutColorTable(*this);
  PutGraphicControl(TransparentIndex(), Info().frameDelay, Info().disposalMethod);
  PutComment();
  PutImageDescriptor(Info().frameLeft, Info().frameTop, Width(), Height(), 0);
  WriteImageData(stream, *this);
  if (!CheckWrites(stream)) return false;
  out_.push_back(kTrailer);
  Flush(stream);
  return CheckWrites(stream);
}

// Every tile gets its own 256-entry table in which each pixel owns entry i x 17 + j + 1 (i the
// row from the tile's bottom, j the column), so a tile of at most 255 pixels keeps every colour
// exactly. A pixel's index is the lowest entry that holds its colour; entry 0 is the transparent
// colour when the image has one, so pixels of that colour come out transparent.
bool RasterImageGIF::EncodeTrueColor(ByteStream* stream) {
  if (!CheckBeforeEncode(stream)) return false;
  if (!FitsFormat(*this)) return false;
  writesOk_ = true;
  PutLogicalScreen(*this);
  PutComment();
  Flush(stream);

  const uint32_t width = Width();
  const uint32_t height = Height();
  const bool transparent = IsTransparent();
  const RGBQUAD transparentColor = TransparentColorOf();
  std::array<RGBQUAD, 256> palette{};
  std::array<uint32_t, 256> rgb{};
  std::array<uint8_t, kTileWidth * kTileHeight> indices{};

  for (uint32_t top = 0; top < height; top += kTileHeight) {
    const uint32_t tileHeight = std::min(kTileHeight, height - top);
    for (uint32_t left = 0; left < width; left += kTileWidth) {
      const uint32_t tileWidth = std::min(kTileWidth, width - left);
      palette.fill(RGBQUAD{});
      if (transparent) palette[0] = transparentColor;
      rgb[0] = Rgb(palette[0]);
      for (uint32_t i = 0; i < tileHeight; ++i) {
        const uint32_t y = height - top - tileHeight + i;
        // This row's entries start black, as in a fresh table. The search below stops at the
        // pixel's own entry, so it sees entry 0, earlier pixels' entries and black gaps only.
        for (uint32_t e = i * kTileWidth + 1; e <= i * kTileWidth + kTileWidth; ++e) rgb[e] = 0;
        for (uint32_t j = 0; j < tileWidth; ++j) {
          const RGBQUAD c = ColorAtUnchecked(left + j, y, true);
          const uint32_t own = i * kTileWidth + j + 1;
          palette[own] = c;
          rgb[own] = Rgb(c);
          uint32_t index = 0;
          while (rgb[index] != rgb[own]) ++index;
          indices[(tileHeight - 1 - i) * tileWidth + j] = static_cast<uint8_t>(index);
        }
      }
      PutGraphicControl(transparent ? 0 : -1, 0, Info().disposalMethod);
      PutImageDescriptor(static_cast<int32_t>(left), static_cast<int32_t>(top), tileWidth,
                         tileHeight, 0x87);
      for (const RGBQUAD& c : palette) out_.insert(out_.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
      WriteTileData(stream, indices.data(), tileWidth, tileHeight);
    }
  }
  out_.push_back(kTrailer);
  Flush(stream);
  return CheckWrites(stream);
}

bool RasterImageGIF::EncodeFrames(ByteStream* stream, RasterImage* const* images, int32_t count,
                                  bool localColorTables, bool ownDisposal) {
  if (stream == nullptr) {
    SetErrorText("invalid file pointer");
    return false;
  }
  if (images == nullptr || count <= 0 || images[0] == nullptr) {
    SetErrorText("multipage GIF, no images!");
    return false;
  }
  for (int32_t i = 0; i < count; ++i) {
    const RasterImage* image = images[i];
    if (image == nullptr) {
      SetErrorText("Bad image pointer");
      return false;
    }
    if (!image->IsValid()) {
      SetErrorText("Empty image");
      return false;
    }
    if (image->ColorCount() == 0) {
      SetErrorText(
          "RasterImageGIF::Encode cannot create animated GIFs with a true color frame. Use "
          "DecreaseBpp before");
      return false;
    }
    if (!FitsFormat(*image)) return false;
  }

  // The first image gives the logical screen and the global colour table; every frame is read
  // in place, with its own settings.
  writesOk_ = true;
  PutLogicalScreen(*images[0]);
  PutColorTable(*images[0]);
  if (loopCount_ != 1) {
    static constexpr uint8_t kLoop[] = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C',
                                        'A',  'P',  'E', '2', '.', '0', 3,   1};
    out_.insert(out_.end(), std::begin(kLoop), std::end(kLoop));
    PutLE16(out_, static_cast<uint16_t>(std::clamp(loopCount_ - 1, 0, 65535)));
    out_.push_back(0);
  }
  for (int32_t i = 0; i < count; ++i) {
    const RasterImage& frame = *images[i];
    const ImageInfo& info = frame.Info();
    PutGraphicControl(info.transparentIndex, info.frameDelay,
                      ownDisposal ? info.disposalMethod : Info().disposalMethod);
    if (i == 0) PutComment();
    const bool localTable = i > 0 && localColorTables;
    const uint8_t packed = localTable ? static_cast<uint8_t>(0x80 | (frame.BitsPerPixel() - 1)) : 0;
    PutImageDescriptor(info.frameLeft, info.frameTop, frame.Width(), frame.Height(), packed);
    if (localTable) PutColorTable(frame);
    WriteImageData(stream, frame);
    if (!CheckWrites(stream)) return false;
  }
  out_.push_back(kTrailer);
  Flush(stream);
  return CheckWrites(stream);
}

}  // namespace orvalis
