#pragma once
// GIF89a writer: palette images as one frame with a global colour table, true-colour images as a
// mosaic of 17 x 15 tiles that each carry a local 256-colour table (so every colour survives),
// and several palette images as one animation.
// Format: https://www.w3.org/Graphics/GIF/spec-gif89a.txt

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "image/gif_lzw.h"
#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

struct GifOptions {
  // The data encoding; the option word (EncoderOption of format 2) picks it: 1 literal codes,
  // 2 run-length codes, anything else LZW.
  GifDataEncoder::Method method = GifDataEncoder::Method::Lzw;
  // Written as a comment extension when not empty; cut to 255 bytes.
  std::string comment;
  // Animation loop setting: 1 writes no loop extension, otherwise the extension's count is
  // loopCount - 1 (0 = endless).
  int32_t loopCount = 0;
};

// The options an image's own settings ask for.
GifOptions GifOptionsOf(const RasterImage& image);

// Sides above this many pixels do not fit the format's 16-bit fields.
inline constexpr uint32_t kGifMaxSide = 65535;

// A true-colour image as tiles, an image whose frame list holds more than one frame (frameCount)
// as an animation of those frames, any other palette image as one frame.
Status EncodeGif(const RasterImage& image, const GifOptions& options, ByteStream& out);
Status EncodeGifTrueColor(const RasterImage& image, const GifOptions& options, ByteStream& out);

// Palette images as one animation. The first gives the logical screen and the global colour
// table; each frame is written with its own position, delay, transparency and data encoding
// (its option word), and with its own disposal method or the shared one.
struct GifAnimation {
  std::span<const RasterImage* const> frames;
  bool localColorTables = false;  // every frame after the first carries its own table
  bool ownDisposal = false;
  uint8_t sharedDisposal = 0;  // the disposal method of every frame without ownDisposal
};
Status EncodeGifFrames(const GifAnimation& animation, const GifOptions& options, ByteStream& out);

// The library's GIF object: its encoders are the functions above over itself, with its own
// option word, comment and loop count.
class RasterImageGIF : public RasterImage {
 public:
  RasterImageGIF() : RasterImage(ImageFormat::Gif) {}

  bool Encode(ByteStream* stream);
  bool EncodeTrueColor(ByteStream* stream);
  bool EncodeFrames(ByteStream* stream, RasterImage* const* images, int32_t count,
                    bool localColorTables, bool ownDisposal);

  void SetComment(std::string_view text) { comment_.assign(text); }
  const std::string& Comment() const { return comment_; }
  void SetLoopCount(int32_t count) { loopCount_ = count; }
  int32_t LoopCount() const { return loopCount_; }

  static constexpr uint32_t kMaxSide = kGifMaxSide;

 private:
  GifOptions Options() const;

  std::string comment_;
  int32_t loopCount_ = 0;
};

}  // namespace orvalis
