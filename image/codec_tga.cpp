#include "image/codec_tga.h"

#include <string>
#include <vector>

#include "image/checked_writer.h"
#include "platform/byte_order.h"

namespace orvalis {

bool RasterImageTga::Encode(ByteStream* stream) {
  if (!CheckBeforeEncode(stream)) return false;
  if (BitsPerPixel() < 8) {
    SetErrorText("Bit depth must be 8 or 24");
    return false;
  }
  const uint32_t width = Width();
  const uint32_t height = Height();
  if (width > kMaxSide || height > kMaxSide) {
    SetErrorText("TGA cannot hold a " + std::to_string(width) + " x " + std::to_string(height) +
                 " image: at most " + std::to_string(kMaxSide) + " pixels a side");
    return false;
  }
  const bool mapped = BitsPerPixel() == 8;
  const bool withAlpha = !mapped && HasAlpha();

  std::vector<uint8_t> head;
  head.reserve(18 + 768);
  head.push_back(0);                         // identification length
  head.push_back(ColorCount() > 0 ? 1 : 0);  // colour map type
  head.push_back(mapped ? 1 : 2);            // uncompressed colour-mapped / true colour
  PutLE16(head, 0);                          // first colour map entry
  PutLE16(head, mapped ? 256 : 0);           // colour map length
  head.push_back(mapped ? 24 : 0);           // colour map entry size
  PutLE16(head, 0);                          // X origin
  PutLE16(head, 0);                          // Y origin
  PutLE16(head, static_cast<uint16_t>(width));
  PutLE16(head, static_cast<uint16_t>(height));
  head.push_back(withAlpha ? 32 : static_cast<uint8_t>(BitsPerPixel()));
  head.push_back(0);  // origin at the lower left, no attribute bits
  if (mapped) {
    for (uint32_t i = 0; i < 256; ++i) {
      const RGBQUAD c = PaletteEntryAt(i);
      head.insert(head.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
    }
  }
  CheckedWriter writer(stream);
  writer.Write(head);

  // Stored row 0 is the bottom row of the picture, which is where a lower-left origin starts.
  const size_t rowBytes = size_t{width} * (withAlpha ? 4 : BitsPerPixel() / 8);
  std::vector<uint8_t> buffer(withAlpha ? rowBytes : 0);
  for (uint32_t y = 0; y < height && writer.Ok(); ++y) {
    const uint8_t* row = RowAddress(y);
    if (withAlpha) {
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* p = &buffer[size_t{x} * 4];
        p[0] = row[x * 3];
        p[1] = row[x * 3 + 1];
        p[2] = row[x * 3 + 2];
        p[3] = AlphaAtUnchecked(x, y);
      }
      row = buffer.data();
    }
    writer.Write(row, rowBytes);
  }
  if (!writer.Finish()) {
    SetErrorText("cannot write TGA file");
    return false;
  }
  return true;
}

}  // namespace orvalis
