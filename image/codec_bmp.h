#pragma once
// Windows BMP reader and writer.
// Format: https://learn.microsoft.com/en-us/windows/win32/gdi/bitmap-storage
//
// The reader accepts the core (12-byte), info (40-byte), OS/2 (64-byte) and larger headers,
// files without the 14-byte file header (a packed DIB), palette images stored plainly or with
// RLE8/RLE4, 16- and 32-bit images with colour masks, 24-bit images and top-down files. 16-
// and 32-bit files become 24-bit images; a 32-bit file without masks also gives an alpha plane.
// The writer stores the image's own block (1, 4, 8 or 24 bits), or a 32-bit file for a 24-bit
// image with an alpha plane.

#include <cstddef>
#include <cstdint>

#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// Writes the image as a BMP file; it has no options.
Status EncodeBmp(const RasterImage& image, ByteStream& out);

// The library's BMP object: its Encode is EncodeBmp over itself; it also decodes.

class RasterImageBmp : public RasterImage {
 public:
  RasterImageBmp() : RasterImage(ImageFormat::Bmp) {}

  bool Decode(ByteStream* stream);
  bool Encode(ByteStream* stream);  // EncodeBmp(*this, *stream)

  // Reads the DIB header at the stream's position into `header` and normalises it (a zero
  // biSizeImage is computed, a zero biClrUsed of a palette depth becomes 2^depth). A core header
  // is widened and keeps biSize 12. False when the header is short or of a kind not accepted.
  static bool ReadInfoHeader(ByteStream* stream, BITMAPINFOHEADER* header);

  // Expands masked 16- or 32-bit pixels into this 24-bit image's rows. Source rows follow each
  // other bottom-up: 32-bit rows of width x 4 bytes, 16-bit rows padded to 4 bytes. The source
  // may be this image's own pixel rows for 16 bits (rows are expanded from the top down, each
  // from its right end, so no source byte is overwritten before it is read).
  void UnpackMaskedPixels(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                          uint32_t blueMask, uint32_t bitsPerPixel);
  // The same for `rowCount` rows starting at row `firstRow`; `source` holds those rows only.
  void UnpackMaskedPixels(const uint8_t* source, uint32_t redMask, uint32_t greenMask,
                          uint32_t blueMask, uint32_t bitsPerPixel, uint32_t firstRow,
                          uint32_t rowCount);

 private:
  struct FileLayout;
  // Byte indices of red, green and blue in a 32-bit pixel, and where the fourth bytes go.
  struct PixelRun32 {
    uint32_t index[3] = {2, 1, 0};
    uint8_t* alpha = nullptr;
    uint8_t alphaSeen = 0;  // OR of every fourth byte stored
  };

  void ReadPalette(ByteStream* stream, const BITMAPINFOHEADER& file, const FileLayout& layout);
  bool ReadPixels(ByteStream* stream, const BITMAPINFOHEADER& file, const FileLayout& layout);
  void ReadPlainRows(ByteStream* stream);
  void ReadRle(ByteStream* stream, uint32_t compression);
  uint32_t Read16BitRows(ByteStream* stream, const uint32_t masks[3]);
  bool Read32BitRows(ByteStream* stream, const uint32_t masks[3], bool withAlpha);
  void UnpackPixelRun32(const uint8_t* source, uint64_t first, uint64_t count, PixelRun32& run);
  uint8_t* FileRow(uint32_t row) const;
  void ClearFileRowsFrom(uint8_t* plane, size_t stride, uint32_t row, size_t byteInRow) const;

  bool topDown_ = false;  // while decoding: the file stores its top row first
};

}  // namespace orvalis
