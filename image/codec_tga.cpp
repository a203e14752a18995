#include "image/codec_tga.h"

#include <string>
#include <vector>

#include "image/checked_writer.h"
#include "platform/byte_order.h"

namespace orvalis {

namespace {

// The 18-byte header, then for an 8-bit image its 256-entry colour map.
std::vector<uint8_t> TgaHead(const RasterImage& image, bool withAlpha) {
  const bool mapped = image.BitsPerPixel() == 8;
  std::vector<uint8_t> head;
  head.reserve(18 + 768);
  head.push_back(0);                               // identification length
  head.push_back(image.ColorCount() > 0 ? 1 : 0);  // colour map type
  head.push_back(mapped ? 1 : 2);                  // uncompressed colour-mapped / true colour
  PutLE16(head, 0);                                // first colour map entry
  PutLE16(head, mapped ? 256 : 0);                 // colour map length
  head.push_back(mapped ? 24 : 0);                 // colour map entry size
  PutLE16(head, 0);                                // X origin
  PutLE16(head, 0);                                // Y origin
  PutLE16(head, static_cast<uint16_t>(image.Width()));
  PutLE16(head, static_cast<uint16_t>(image.Height()));
  head.push_back(withAlpha ? 32 : static_cast<uint8_t>(image.BitsPerPixel()));
  head.push_back(0);  // origin at the lower left, no attribute bits
  if (mapped) {
    for (uint32_t i = 0; i < 256; ++i) {
      const RGBQUAD c = image.PaletteEntryAt(i);
      head.insert(head.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
    }
  }
  return head;
}

}  // namespace

Status EncodeTga(const RasterImage& image, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  if (image.BitsPerPixel() < 8) return Status::Error("Bit depth must be 8 or 24");
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  if (width > kTgaMaxSide || height > kTgaMaxSide) {
    return Status::Error("TGA cannot hold a " + std::to_string(width) + " x " +
                         std::to_string(height) + " image: at most " + std::to_string(kTgaMaxSide) +
                         " pixels a side");
  }
  const bool withAlpha = image.BitsPerPixel() == 24 && image.HasAlpha();
  CheckedWriter writer(&out);
  writer.Write(TgaHead(image, withAlpha));

  // Stored row 0 is the bottom row of the picture, which is where a lower-left origin starts.
  const size_t rowBytes = size_t{width} * (withAlpha ? 4 : image.BitsPerPixel() / 8);
  std::vector<uint8_t> buffer(withAlpha ? rowBytes : 0);
  for (uint32_t y = 0; y < height && writer.Ok(); ++y) {
    const uint8_t* row = image.RowAddress(y);
    if (withAlpha) {
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* p = &buffer[size_t{x} * 4];
        p[0] = row[x * 3];
        p[1] = row[x * 3 + 1];
        p[2] = row[x * 3 + 2];
        p[3] = image.AlphaAtUnchecked(x, y);
      }
      row = buffer.data();
    }
    writer.Write(row, rowBytes);
  }
  return writer.Finish() ? Status::Ok() : Status::Error("cannot write TGA file");
}

bool RasterImageTga::Encode(ByteStream* stream) {
  return EncodeThrough(stream, [this](ByteStream& out) { return EncodeTga(*this, out); });
}

}  // namespace orvalis
