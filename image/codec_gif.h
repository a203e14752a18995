#pragma once
// GIF89a writer: palette images as one frame with a global colour table, true-colour images as a
// mosaic of 17 x 15 tiles that each carry a local 256-colour table (so every colour survives),
// and several palette images as one animation.
// Format: https://www.w3.org/Graphics/GIF/spec-gif89a.txt

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/checked_writer.h"
#include "image/gif_lzw.h"
#include "image/raster_image.h"

namespace orvalis {

class RasterImageGIF : public RasterImage {
 public:
  RasterImageGIF() : RasterImage(ImageFormat::Gif) {}

  // The GIF option word (EncoderOption of format 2) picks the data encoding: 1 literal codes,
  // 2 run-length codes, anything else LZW.
  bool Encode(ByteStream* stream);
  bool EncodeTrueColor(ByteStream* stream);
  bool EncodeFrames(ByteStream* stream, RasterImage* const* images, int32_t count,
                    bool localColorTables, bool ownDisposal);

  // Written as a comment extension when not empty; cut to 255 bytes.
  void SetComment(std::string_view text) { comment_.assign(text); }
  const std::string& Comment() const { return comment_; }
  // Animation loop setting: 1 writes no loop extension, otherwise the extension's count is
  // loopCount - 1 (0 = endless).
  void SetLoopCount(int32_t count) { loopCount_ = count; }
  int32_t LoopCount() const { return loopCount_; }

  // Sides above this many pixels do not fit the format's 16-bit fields.
  static constexpr uint32_t kMaxSide = 65535;

 private:
  bool FitsFormat(const RasterImage& image);
  bool EncodeSingleFrame(ByteStream* stream);

  // Each Put* appends to out_; Flush writes it to the stream in one call.
  void PutLogicalScreen(const RasterImage& image);
  void PutColorTable(const RasterImage& image);
  void PutGraphicControl(int32_t transparentIndex, uint32_t delay, uint8_t disposal);
  void PutComment();
  void PutImageDescriptor(int32_t left, int32_t top, uint32_t width, uint32_t height,
                          uint8_t packed);
  void Flush(ByteStream* stream);

  // Writes the initial code size, the data sub-blocks of the image's indices (rows from the top
  // of the picture) and the block terminator.
  void WriteImageData(ByteStream* stream, const RasterImage& image);
  void WriteTileData(ByteStream* stream, const uint8_t* indices, uint32_t width, uint32_t height);
  // Flushes the stream; false with "Write Error in GIF file" when any write failed.
  bool CheckWrites(ByteStream* stream);

  std::string comment_;
  int32_t loopCount_ = 0;
  GifDataEncoder dataEncoder_;
  std::vector<uint8_t> out_;
  std::vector<uint8_t> rowIndices_;
  CheckedWriter writer_{nullptr};  // the stream of the encode under way
  bool writesOk_ = true;           // false once the data encoder lost a write
};

}  // namespace orvalis
