#include "image/codec_ras.h"

#include <algorithm>
#include <vector>

#include "image/checked_writer.h"
#include "platform/byte_order.h"

namespace orvalis {

namespace {

constexpr uint32_t kRasMagic = 0x59a66a95;
constexpr uint32_t kRasHeaderSize = 32;
constexpr uint32_t kRtStandard = 1;
constexpr uint32_t kRmtNone = 0;

std::vector<uint8_t> RasHeader(uint32_t width, uint32_t height, uint32_t depth,
                               uint32_t dataLength) {
  std::vector<uint8_t> header;
  header.reserve(kRasHeaderSize);
  PutBE32(header, kRasMagic);
  PutBE32(header, width);
  PutBE32(header, height);
  PutBE32(header, depth);
  PutBE32(header, dataLength);
  PutBE32(header, kRtStandard);
  PutBE32(header, kRmtNone);
  PutBE32(header, 0);  // colour map length
  return header;
}

}  // namespace

Status EncodeRas(const RasterImage& image, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  const bool gray = image.ColorCount() != 0;
  if (gray && !image.HasGrayRamp())
    return Status::Error("Sun raster can save only RGB or GrayScale images");
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  const uint32_t depth = gray ? 8 : 24;
  const uint64_t stride = (uint64_t{width} * depth + 15) / 16 * 2;
  const uint64_t dataLength = stride * height;
  if (dataLength > UINT32_MAX)
    return Status::Error("Sun raster: image data exceeds the 4 GiB the header can describe");

  CheckedWriter writer(&out);
  writer.Write(RasHeader(width, height, depth, static_cast<uint32_t>(dataLength)));
  // The padding bytes at the end of a row stay zero.
  std::vector<uint8_t> line(stride, 0);
  for (uint32_t top = 0; top < height && writer.Ok(); ++top) {
    const uint32_t y = height - 1 - top;
    const uint8_t* row = image.RowAddress(y);
    if (!gray) {
      std::copy(row, row + size_t{width} * 3, line.begin());
    } else if (image.BitsPerPixel() == 8) {
      std::copy(row, row + width, line.begin());
    } else {
      for (uint32_t x = 0; x < width; ++x) line[x] = image.IndexAtUnchecked(x, y);
    }
    writer.Write(line);
  }
  return writer.Finish() ? Status::Ok() : Status::Error("error: cannot encode image");
}

bool RasterImageRas::Encode(ByteStream* stream) {
  return EncodeThrough(stream, [this](ByteStream& out) { return EncodeRas(*this, out); });
}

}  // namespace orvalis
