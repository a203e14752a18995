#pragma once
// RasterImage: the page image every part of the converter works on.
//
// The pixels live in one block laid out as a packed Windows device-independent bitmap
// (https://learn.microsoft.com/en-us/windows/win32/gdi/device-independent-bitmaps):
// a 40-byte BITMAPINFOHEADER, the palette as RGBQUAD entries, then the pixel rows bottom-up,
// each padded to a multiple of 4 bytes. Depths are 1, 4, 8 (palette of exactly 2, 16, 256
// entries) or 24 (blue, green, red; no palette). Row 0 is the bottom row of the picture and all
// y coordinates count from it. An optional alpha plane holds one opacity byte per pixel.
//
// The object's methods report errors as false (or nullptr) plus a short English message in
// ErrorText(). The encoders are functions over a const image that return a Status (codec_*.h).

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "image/byte_stream.h"
#include "image/image_format.h"
#include "platform/status.h"

namespace orvalis {

struct RGBQUAD {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;

  uint32_t Packed() const {
    return rgbBlue | (rgbGreen << 8) | (rgbRed << 16) | (static_cast<uint32_t>(rgbReserved) << 24);
  }
  static RGBQUAD FromPacked(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
  }
  friend bool operator==(const RGBQUAD&, const RGBQUAD&) = default;
};

// The 40-byte header at the start of every bitmap block. In memory it is a plain record; it is
// serialised field by field, little-endian (WriteTo / ReadFrom).
struct BITMAPINFOHEADER {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;

  static constexpr uint32_t kSize = 40;
  void WriteTo(uint8_t* at) const;
  static BITMAPINFOHEADER ReadFrom(const uint8_t* at);
};

class RasterImage;

// The settings and state that travel with an image through every operation.
struct ImageInfo {
  uint32_t rowStride = 0;
  uint8_t* pixelRows = nullptr;
  ImageFormat sourceFormat = ImageFormat::None;
  std::string errorText;
  int32_t transparentIndex = -1;
  RGBQUAD transparentColor{};
  float quality = 90.0f;
  int encoderThreads = 0;  // 0: the encoder's own choice
  int32_t dpiX = 96;
  int32_t dpiY = 96;
  std::array<uint32_t, kImageFormatSlots> encoderOptions{};
  struct NearestCache {
    RGBQUAD color{};
    uint8_t index = 0;
    bool valid = false;
  } nearestCache;
  // Set by a decoder when the file held less pixel data than its header promised; the rows it
  // did not supply read as 0.
  bool truncated = false;
  int32_t frameCount = 0;
  uint32_t frameDelay = 0;
  uint8_t disposalMethod = 0;
  int32_t frameLeft = 0;
  int32_t frameTop = 0;
  uint8_t paletteAlpha = 0;
};

// Pixel data above this many bits (256 MiB) is refused by Create.
inline constexpr uint64_t RASTERIMAGE_MAX_MEMORY_BITS = 2147483648ull;

class RasterImage {
 public:
  explicit RasterImage(ImageFormat format = ImageFormat::None);
  virtual ~RasterImage();
  RasterImage(const RasterImage&) = delete;
  RasterImage& operator=(const RasterImage&) = delete;

  // ---- Lifetime and ownership ----
  uint8_t* Create(uint32_t width, uint32_t height, uint32_t bitsPerPixel, ImageFormat format);
  bool Release();
  void CopyInfoFrom(const RasterImage& other);
  bool TakeOver(RasterImage& other);
  bool IsValid() const { return block_ != nullptr; }

  // ---- Queries ----
  uint32_t Width() const { return static_cast<uint32_t>(header_.biWidth); }
  uint32_t Height() const { return static_cast<uint32_t>(header_.biHeight); }
  uint32_t BitsPerPixel() const { return header_.biBitCount; }
  uint32_t ColorCount() const { return header_.biClrUsed; }
  uint32_t RowStride() const { return info_.rowStride; }
  ImageFormat SourceFormat() const { return info_.sourceFormat; }
  uint32_t BlockSize() const;
  RGBQUAD* PaletteData() const;
  uint32_t PaletteBytes() const { return ColorCount() * 4; }
  uint8_t* RowAddress(uint32_t y) const;
  bool Contains(int64_t x, int64_t y) const;
  const std::string& ErrorText() const { return info_.errorText; }
  uint32_t SignificantColors() const { return header_.biClrImportant; }
  const BITMAPINFOHEADER& Header() const { return header_; }
  uint8_t* BitmapBlock() const { return block_.get(); }
  uint8_t* PixelRows() const { return info_.pixelRows; }
  const ImageInfo& Info() const { return info_; }
  // Stores a message (cut to 255 characters) in the error text.
  void SetErrorText(std::string_view message);

  // ---- Palette ----
  RGBQUAD PaletteEntryAt(uint32_t index) const;
  bool PaletteRgbAt(uint32_t index, uint8_t* red, uint8_t* green, uint8_t* blue) const;
  void SetPaletteEntry(uint32_t index, uint8_t red, uint8_t green, uint8_t blue,
                       uint8_t reserved = 0);
  void SetPaletteEntryPacked(uint32_t index, RGBQUAD color);
  void ReplacePalette(const RGBQUAD* entries, uint32_t count);
  void ApplyGrayRamp();
  bool HasGrayRamp() const;
  void ApplyStandardPalette();  // colour_reduction.cpp
  void SwapPaletteEntries(uint8_t i, uint8_t j);
  void SetSignificantColors(uint32_t n);
  uint8_t ClosestPaletteIndex(RGBQUAD color);
  static int LuminanceCompare(RGBQUAD a, RGBQUAD b);

  // ---- Pixels (y counts from the bottom row) ----
  uint8_t IndexAt(int64_t x, int64_t y) const;
  uint8_t IndexAtUnchecked(uint32_t x, uint32_t y) const;
  void SetIndexAt(int64_t x, int64_t y, uint8_t index);
  void SetIndexAtUnchecked(uint32_t x, uint32_t y, uint8_t index);
  RGBQUAD ColorAt(int64_t x, int64_t y, bool withAlpha = false) const;
  RGBQUAD ColorAtUnchecked(uint32_t x, uint32_t y, bool withAlpha = false) const;
  void SetColorAt(int64_t x, int64_t y, RGBQUAD color, bool setAlpha = false);
  void SetColorAtUnchecked(uint32_t x, uint32_t y, RGBQUAD color, bool setAlpha = false);
  void FillBytes(uint8_t value);
  bool FlipRows(bool alsoAlpha);
  void SwapRedBlueInRow(uint8_t* buffer, uint32_t length) const;

  // ---- Alpha plane: width x height bytes, no padding, row 0 at the bottom ----
  bool HasAlpha() const { return alpha_ != nullptr; }
  bool AllocateAlpha();
  void ZeroAlpha();
  void DropAlpha();
  void InvertAlpha();
  void CopyAlphaFrom(const RasterImage& other);
  uint8_t AlphaAt(int64_t x, int64_t y) const;
  uint8_t AlphaAtUnchecked(uint32_t x, uint32_t y) const;
  void SetAlphaAt(int64_t x, int64_t y, uint8_t value);
  uint8_t* AlphaAddress(int64_t x, int64_t y) const;
  uint8_t* AlphaPlane() const { return alpha_.get(); }

  // ---- Transparency ----
  int32_t TransparentIndex() const { return info_.transparentIndex; }
  bool IsTransparent() const { return info_.transparentIndex >= 0; }
  void SetTransparentIndex(int32_t index);
  void SetTransparentColor(RGBQUAD color);
  RGBQUAD TransparentColorOf() const;

  // ---- Resolution, quality, encoder options ----
  void SetResolutionX(int32_t dpi);
  void SetResolutionY(int32_t dpi);
  int32_t ResolutionX() const { return info_.dpiX; }
  int32_t ResolutionY() const { return info_.dpiY; }
  void SetQuality(uint32_t quality);
  int32_t Quality() const { return static_cast<int32_t>(info_.quality + 0.5f); }
  void SetEncoderOption(uint32_t word, ImageFormat format);
  // Threads an encoder that has them may use for this picture; 0: its own choice.
  void SetEncoderThreads(int threads) { info_.encoderThreads = threads < 0 ? 0 : threads; }
  int EncoderThreads() const { return info_.encoderThreads; }
  uint32_t EncoderOption(ImageFormat format) const;

  // ---- Files and streams ----
  bool Load(const std::string& path, ImageFormat format);
  bool Save(const std::string& path, ImageFormat format);
  // Encodes through the codec table (codec_table.h) with the image's own settings.
  bool Encode(ByteStream* stream, ImageFormat format);
  bool Decode(ByteStream* stream, ImageFormat format);

  // ---- Animation frames: the images an animated picture carries (frameCount of them). Nothing
  // in the converter fills the list; the GIF encoder writes it as an animation when present ----
  const std::vector<std::unique_ptr<RasterImage>>& FrameList() const { return frameList_; }
  void AppendFrame(std::unique_ptr<RasterImage> frame) {
    frameList_.push_back(std::move(frame));
    info_.frameCount = static_cast<int32_t>(frameList_.size());
  }

  // ---- Colour reduction (colour_reduction.cpp) ----
  bool ToGrayscale();
  bool DecreaseBpp(uint32_t bitsPerPixel, bool errorDiffusion, const RGBQUAD* palette = nullptr,
                   uint32_t colorCount = 0);

  // ---- Geometry (geometry.cpp) ----
  bool RotateRight90(RasterImage* destination = nullptr);
  bool RotateLeft90(RasterImage* destination = nullptr);
  bool RotateByAngle(float degrees, RasterImage* destination = nullptr);
  bool Resize(uint32_t width, uint32_t height, int mode = 1, RasterImage* destination = nullptr);

 protected:
  // Keeps a failure's message as the error text; true for a success.
  bool Report(const Status& status);
  // Runs `encode` (ByteStream& -> Status) on `stream`, after refusing a null stream, and keeps
  // its failure as the error text: the format classes' Encode.
  template <class Encoder>
  bool EncodeThrough(ByteStream* stream, Encoder&& encode) {
    if (stream == nullptr) return Report(Status::Error("null file handler"));
    return Report(encode(*stream));
  }
  BITMAPINFOHEADER& MutableHeader() { return header_; }
  ImageInfo& MutableInfo() { return info_; }

 private:
  void InvalidateNearestCache() { info_.nearestCache.valid = false; }
  bool DecodeFile(const std::string& path, ImageFormat format, bool* opened);

  std::unique_ptr<uint8_t[]> block_;
  std::unique_ptr<uint8_t[]> alpha_;
  BITMAPINFOHEADER header_{};
  ImageInfo info_;
  std::vector<std::unique_ptr<RasterImage>> frameList_;
};

// The depth an image gets for a requested number of bits per pixel: 1, 4, 8 or 24.
uint32_t RoundedDepth(uint32_t bitsPerPixel);

// Success for an image with pixels; "null image!!!" for one without. Every encoder starts here.
Status CheckEncodable(const RasterImage& image);

// The palette index of pixel x in a stored row of 1, 4 or 8 bits per pixel, and its setter.
uint8_t IndexInRow(const uint8_t* row, uint32_t bitsPerPixel, uint32_t x);
void SetIndexInRow(uint8_t* row, uint32_t bitsPerPixel, uint32_t x, uint8_t index);

// floor(dpi x 39.37007874015748 + 0.5): the header's pixels per metre for a resolution.
int32_t PelsPerMeterFromDpi(int32_t dpi);

}  // namespace orvalis
