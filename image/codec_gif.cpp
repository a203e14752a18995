#include "image/codec_gif.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "image/checked_writer.h"
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
  const uint32_t bits = image.BitsPerPixel();
  if (bits == 8) {
    std::memcpy(out, row, width);
    return;
  }
  for (uint32_t x = 0; x < width; ++x) out[x] = IndexInRow(row, bits, x);
}

uint32_t Rgb(RGBQUAD c) {
  return c.Packed() & 0xFFFFFFu;
}

// One encode: the pieces of the stream collect in `pending_` and go to the stream in one write
// each time image data follows or the file ends.
class GifWriter {
 public:
  GifWriter(ByteStream& out, const GifOptions& options) : out_(out), options_(options) {}

  void PutLogicalScreen(const RasterImage& image);
  void PutColorTable(const RasterImage& image);
  void PutGraphicControl(int32_t transparentIndex, uint32_t delay, uint8_t disposal);
  void PutComment();
  void PutLoop();
  void PutImageDescriptor(int32_t left, int32_t top, uint32_t width, uint32_t height,
                          uint8_t packed);
  void PutTrailer() { pending_.push_back(kTrailer); }
  void PutTile(const std::array<RGBQUAD, 256>& palette) {
    for (const RGBQUAD& c : palette)
      pending_.insert(pending_.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
  }
  void Flush();

  // Writes the initial code size, the data sub-blocks of the image's indices (rows from the top
  // of the picture) and the block terminator.
  void WriteImageData(const RasterImage& image);
  void WriteTileData(const uint8_t* indices, uint32_t width, uint32_t height);
  // Flushes the stream; "Write Error in GIF file" when any write failed.
  Status CheckWrites();

 private:
  ByteStream& out_;
  const GifOptions& options_;
  CheckedWriter writer_{&out_};
  bool writesOk_ = true;  // false once the data encoder lost a write
  GifDataEncoder dataEncoder_;
  std::vector<uint8_t> pending_;
  std::vector<uint8_t> rowIndices_;
};

void GifWriter::Flush() {
  if (pending_.empty()) return;
  writer_.Write(pending_.data(), pending_.size());
  pending_.clear();
}

void GifWriter::PutLogicalScreen(const RasterImage& image) {
  const uint32_t b = image.BitsPerPixel();
  const uint8_t packed =
      image.ColorCount() == 0 ? 0x11 : static_cast<uint8_t>(((b + 7) * 32) | (b - 1) | 0x80);
  pending_.insert(pending_.end(), std::begin(kSignature), std::end(kSignature));
  PutLE16(pending_, static_cast<uint16_t>(image.Width()));
  PutLE16(pending_, static_cast<uint16_t>(image.Height()));
  pending_.push_back(packed);
  pending_.push_back(0);  // background colour index
  pending_.push_back(0);  // pixel aspect ratio
}

void GifWriter::PutColorTable(const RasterImage& image) {
  for (uint32_t i = 0; i < image.ColorCount(); ++i) {
    const RGBQUAD c = image.PaletteEntryAt(i);
    pending_.insert(pending_.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
  }
}

void GifWriter::PutGraphicControl(int32_t transparentIndex, uint32_t delay, uint8_t disposal) {
  const auto packed =
      static_cast<uint8_t>((transparentIndex != -1 ? 1 : 0) | ((disposal & 7) << 2));
  pending_.insert(pending_.end(), {0x21, 0xF9, 4, packed});
  PutLE16(pending_, static_cast<uint16_t>(delay));
  pending_.push_back(static_cast<uint8_t>(transparentIndex));
  pending_.push_back(0);
}

void GifWriter::PutComment() {
  const std::string& comment = options_.comment;
  if (comment.empty()) return;
  const size_t n = std::min<size_t>(comment.size(), 255);
  pending_.insert(pending_.end(), {0x21, 0xFE, static_cast<uint8_t>(n)});
  pending_.insert(pending_.end(), comment.begin(), comment.begin() + static_cast<ptrdiff_t>(n));
  pending_.push_back(0);
}

void GifWriter::PutLoop() {
  if (options_.loopCount == 1) return;
  static constexpr uint8_t kLoop[] = {0x21, 0xFF, 11,  'N', 'E', 'T', 'S', 'C',
                                      'A',  'P',  'E', '2', '.', '0', 3,   1};
  pending_.insert(pending_.end(), std::begin(kLoop), std::end(kLoop));
  PutLE16(pending_, static_cast<uint16_t>(std::clamp(options_.loopCount - 1, 0, 65535)));
  pending_.push_back(0);
}

void GifWriter::PutImageDescriptor(int32_t left, int32_t top, uint32_t width, uint32_t height,
                                   uint8_t packed) {
  pending_.push_back(0x2C);
  PutLE16(pending_, static_cast<uint16_t>(left));
  PutLE16(pending_, static_cast<uint16_t>(top));
  PutLE16(pending_, static_cast<uint16_t>(width));
  PutLE16(pending_, static_cast<uint16_t>(height));
  pending_.push_back(packed);
}

void GifWriter::WriteImageData(const RasterImage& image) {
  const int k = InitialCodeSize(image.BitsPerPixel());
  pending_.push_back(static_cast<uint8_t>(k));
  Flush();
  const uint32_t width = image.Width();
  rowIndices_.resize(width);
  dataEncoder_.Begin(&out_, k,
                     GifDataEncoder::MethodFromOption(image.EncoderOption(ImageFormat::Gif)));
  for (uint32_t y = image.Height(); y-- > 0;) {
    UnpackRow(image, y, rowIndices_.data());
    dataEncoder_.PutRow(rowIndices_.data(), width);
  }
  if (!dataEncoder_.Finish()) writesOk_ = false;
  pending_.push_back(0);  // block terminator
  Flush();
}

void GifWriter::WriteTileData(const uint8_t* indices, uint32_t width, uint32_t height) {
  pending_.push_back(8);
  Flush();
  dataEncoder_.Begin(&out_, 8, options_.method);
  dataEncoder_.PutRow(indices, size_t{width} * height);
  if (!dataEncoder_.Finish()) writesOk_ = false;
  pending_.push_back(0);
  Flush();
}

Status GifWriter::CheckWrites() {
  if (writer_.Finish() && writesOk_) return Status::Ok();
  return Status::Error("Write Error in GIF file");
}

Status CheckFits(const RasterImage& image) {
  if (image.Width() <= kGifMaxSide && image.Height() <= kGifMaxSide) return Status::Ok();
  return Status::Error("GIF cannot hold a " + std::to_string(image.Width()) + " x " +
                       std::to_string(image.Height()) + " image: at most " +
                       std::to_string(kGifMaxSide) + " pixels a side");
}

Status EncodeSingleFrame(const RasterImage& image, const GifOptions& options, ByteStream& out) {
  if (Status fits = CheckFits(image); !fits.IsOk()) return fits;
  const ImageInfo& info = image.Info();
  GifWriter writer(out, options);
  writer.PutLogicalScreen(image);
  writer.PutColorTable(image);
  writer.PutGraphicControl(image.TransparentIndex(), info.frameDelay, info.disposalMethod);
  writer.PutComment();
  writer.PutImageDescriptor(info.frameLeft, info.frameTop, image.Width(), image.Height(), 0);
  writer.WriteImageData(image);
  if (Status written = writer.CheckWrites(); !written.IsOk()) return written;
  writer.PutTrailer();
  writer.Flush();
  return writer.CheckWrites();
}

// Fills the tile's table and indices: each pixel owns entry i x 17 + j + 1 (i the row from the
// tile's bottom, j the column), so a tile of at most 255 pixels keeps every colour exactly. A
// pixel's index is the lowest entry that holds its colour; entry 0 is the transparent colour
// when the image has one, so pixels of that colour come out transparent.
struct Tile {
  uint32_t left, top, width, height;
};
void FillTile(const RasterImage& image, const Tile& tile, std::array<RGBQUAD, 256>& palette,
              std::array<uint8_t, kTileWidth * kTileHeight>& indices) {
  std::array<uint32_t, 256> rgb{};
  palette.fill(RGBQUAD{});
  if (image.IsTransparent()) palette[0] = image.TransparentColorOf();
  rgb[0] = Rgb(palette[0]);
  for (uint32_t i = 0; i < tile.height; ++i) {
    const uint32_t y = image.Height() - tile.top - tile.height + i;
    // Entries not yet owned are black, as in a fresh table. The search below stops at the
    // pixel's own entry, so it sees entry 0, earlier pixels' entries and black gaps only.
    for (uint32_t j = 0; j < tile.width; ++j) {
      const RGBQUAD c = image.ColorAtUnchecked(tile.left + j, y, true);
      const uint32_t own = i * kTileWidth + j + 1;
      palette[own] = c;
      rgb[own] = Rgb(c);
      uint32_t index = 0;
      while (rgb[index] != rgb[own]) ++index;
      indices[(tile.height - 1 - i) * tile.width + j] = static_cast<uint8_t>(index);
    }
  }
}

}  // namespace

GifOptions GifOptionsOf(const RasterImage& image) {
  GifOptions options;
  options.method = GifDataEncoder::MethodFromOption(image.EncoderOption(ImageFormat::Gif));
  return options;
}

Status EncodeGif(const RasterImage& image, const GifOptions& options, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  if (image.BitsPerPixel() > 8) return EncodeGifTrueColor(image, options, out);
  const auto& frames = image.FrameList();
  if (image.Info().frameCount > 1 && !frames.empty()) {
    // A count beyond the list ends in one absent frame, which EncodeGifFrames reports.
    const size_t count = std::min(static_cast<size_t>(image.Info().frameCount), frames.size() + 1);
    std::vector<const RasterImage*> list(count, nullptr);
    for (size_t i = 0; i < count && i < frames.size(); ++i) list[i] = frames[i].get();
    return EncodeGifFrames({list, false, false, image.Info().disposalMethod}, options, out);
  }
  return EncodeSingleFrame(image, options, out);
}

Status EncodeGifTrueColor(const RasterImage& image, const GifOptions& options, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  if (Status fits = CheckFits(image); !fits.IsOk()) return fits;
  GifWriter writer(out, options);
  writer.PutLogicalScreen(image);
  writer.PutComment();
  writer.Flush();

  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  const bool transparent = image.IsTransparent();
  std::array<RGBQUAD, 256> palette{};
  std::array<uint8_t, kTileWidth * kTileHeight> indices{};
  for (uint32_t top = 0; top < height; top += kTileHeight) {
    const uint32_t tileHeight = std::min(kTileHeight, height - top);
    for (uint32_t left = 0; left < width; left += kTileWidth) {
      const Tile tile{left, top, std::min(kTileWidth, width - left), tileHeight};
      FillTile(image, tile, palette, indices);
      writer.PutGraphicControl(transparent ? 0 : -1, 0, image.Info().disposalMethod);
      writer.PutImageDescriptor(static_cast<int32_t>(left), static_cast<int32_t>(top), tile.width,
                                tile.height, 0x87);
      writer.PutTile(palette);
      writer.WriteTileData(indices.data(), tile.width, tile.height);
    }
  }
  writer.PutTrailer();
  writer.Flush();
  return writer.CheckWrites();
}

namespace {

Status CheckFrames(std::span<const RasterImage* const> frames) {
  if (frames.empty() || frames[0] == nullptr) return Status::Error("multipage GIF, no images!");
  for (const RasterImage* image : frames) {
    if (image == nullptr) return Status::Error("Bad image pointer");
    if (!image->IsValid()) return Status::Error("Empty image");
    if (image->ColorCount() == 0) {
      return Status::Error(
          "RasterImageGIF::Encode cannot create animated GIFs with a true color frame. Use "
          "DecreaseBpp before");
    }
    if (Status fits = CheckFits(*image); !fits.IsOk()) return fits;
  }
  return Status::Ok();
}

}  // namespace

Status EncodeGifFrames(const GifAnimation& animation, const GifOptions& options, ByteStream& out) {
  if (Status valid = CheckFrames(animation.frames); !valid.IsOk()) return valid;
  const RasterImage& first = *animation.frames[0];
  GifWriter writer(out, options);
  writer.PutLogicalScreen(first);
  writer.PutColorTable(first);
  writer.PutLoop();
  for (size_t i = 0; i < animation.frames.size(); ++i) {
    const RasterImage& frame = *animation.frames[i];
    const ImageInfo& info = frame.Info();
    writer.PutGraphicControl(
        info.transparentIndex, info.frameDelay,
        animation.ownDisposal ? info.disposalMethod : animation.sharedDisposal);
    if (i == 0) writer.PutComment();
    const bool localTable = i > 0 && animation.localColorTables;
    const uint8_t packed = localTable ? static_cast<uint8_t>(0x80 | (frame.BitsPerPixel() - 1)) : 0;
    writer.PutImageDescriptor(info.frameLeft, info.frameTop, frame.Width(), frame.Height(), packed);
    if (localTable) writer.PutColorTable(frame);
    writer.WriteImageData(frame);
    if (Status written = writer.CheckWrites(); !written.IsOk()) return written;
  }
  writer.PutTrailer();
  writer.Flush();
  return writer.CheckWrites();
}

// ---- The library's GIF object ----

GifOptions RasterImageGIF::Options() const {
  GifOptions options = GifOptionsOf(*this);
  options.comment = comment_;
  options.loopCount = loopCount_;
  return options;
}

bool RasterImageGIF::Encode(ByteStream* stream) {
  return EncodeThrough(stream,
                       [this](ByteStream& out) { return EncodeGif(*this, Options(), out); });
}

bool RasterImageGIF::EncodeTrueColor(ByteStream* stream) {
  return EncodeThrough(
      stream, [this](ByteStream& out) { return EncodeGifTrueColor(*this, Options(), out); });
}

bool RasterImageGIF::EncodeFrames(ByteStream* stream, RasterImage* const* images, int32_t count,
                                  bool localColorTables, bool ownDisposal) {
  if (stream == nullptr) return Report(Status::Error("invalid file pointer"));
  const size_t frames = images == nullptr || count <= 0 ? 0 : static_cast<size_t>(count);
  const GifAnimation animation{
      {images, frames}, localColorTables, ownDisposal, Info().disposalMethod};
  return Report(EncodeGifFrames(animation, Options(), *stream));
}

}  // namespace orvalis
