#include "image/codec_pcx.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "image/checked_writer.h"
#include "platform/byte_order.h"

namespace orvalis {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr int kMaxRun = 63;
constexpr int kEvenWidthEnd = -1;  // end of a line of even width
constexpr int kOddWidthEnd = -2;   // end of a line of odd width: adds the pad byte

// A run of n equal bytes v is 0xC0 | n, v; a single byte below 0xC0 stands for itself.
void PutRun(std::vector<uint8_t>& out, uint8_t value, int count) {
  if (count == 1 && value < 0xC0) {
    out.push_back(value);
  } else {
    out.push_back(static_cast<uint8_t>(0xC0 | count));
    out.push_back(value);
  }
}

// Pixel coder of the 8- and 24-bit lines: values go in one at a time and an end marker closes
// the line, flushing the pending run and, for odd widths, adding the zero pad byte.
class PixelRunCoder {
 public:
  explicit PixelRunCoder(std::vector<uint8_t>& out) : out_(out) {}

  void Put(int a) {
    if (a != value_ && count_ > 0) {
      PutRun(out_, static_cast<uint8_t>(value_), count_);
      count_ = 0;
    }
    if (count_ == kMaxRun) {
      out_.push_back(0xFF);
      out_.push_back(static_cast<uint8_t>(value_));
      count_ = 0;
    }
    if (a == kOddWidthEnd) out_.push_back(0);
    value_ = a;
    ++count_;
  }

  void EndLine(uint32_t width) {
    Put((width & 1) ? kOddWidthEnd : kEvenWidthEnd);
    value_ = 0;
    count_ = 0;
  }

 private:
  std::vector<uint8_t>& out_;
  int value_ = 0;
  int count_ = 0;
};

// Line coder of the 1- and 4-bit planes: a whole line of bytes (padding included) at once.
void EncodeLine(std::vector<uint8_t>& out, const uint8_t* line, size_t length) {
  uint8_t value = line[0];
  int count = 1;
  for (size_t i = 1; i < length; ++i) {
    if (line[i] == value && count < kMaxRun) {
      ++count;
    } else {
      PutRun(out, value, count);
      value = line[i];
      count = 1;
    }
  }
  PutRun(out, value, count);
}

bool Append(ByteStream* body, const std::vector<uint8_t>& bytes) {
  return bytes.empty() || body->WriteBytes(bytes.data(), 1, bytes.size()) == bytes.size();
}

uint32_t Planes(const RasterImage& image) {
  switch (image.BitsPerPixel()) {
    case 8:
      return 1;
    case 24:
      return image.HasAlpha() ? 4 : 3;
    default:
      return image.ColorCount() == 16 ? 4 : 1;
  }
}

uint32_t BytesPerLine(const RasterImage& image) {
  const uint32_t bytes = image.BitsPerPixel() >= 8 ? image.Width() : (image.Width() + 7) / 8;
  return bytes + (bytes & 1);
}

Status CheckFits(const RasterImage& image) {
  const uint32_t maxWidth = RasterImagePcx::MaxWidth(image.BitsPerPixel());
  if (image.Width() <= maxWidth && image.Height() <= RasterImagePcx::kMaxHeight)
    return Status::Ok();
  return Status::Error("PCX cannot hold a " + std::to_string(image.Width()) + " x " +
                       std::to_string(image.Height()) + " image: at most " +
                       std::to_string(maxWidth) + " x " +
                       std::to_string(RasterImagePcx::kMaxHeight) + " pixels at this depth");
}

std::array<uint8_t, kHeaderSize> Header(const RasterImage& image) {
  std::array<uint8_t, kHeaderSize> header{};
  const bool oneBitPlanes = image.BitsPerPixel() < 8;
  header[0] = 0x0A;  // manufacturer
  header[1] = 5;     // version
  header[2] = 1;     // run-length encoding
  header[3] = oneBitPlanes ? 1 : 8;
  StoreLE16(&header[8], static_cast<uint16_t>(image.Width() - 1));
  StoreLE16(&header[10], static_cast<uint16_t>(image.Height() - 1));
  StoreLE16(&header[12], static_cast<uint16_t>(image.ResolutionX()));
  StoreLE16(&header[14], static_cast<uint16_t>(image.ResolutionY()));
  if (oneBitPlanes) {
    uint8_t* map = &header[16];
    if (Planes(image) == 1) {
      map[3] = map[4] = map[5] = 255;  // entry 0 black, entry 1 white
    } else {
      for (uint32_t i = 0; i < 16; ++i) {
        const RGBQUAD c = image.PaletteEntryAt(i);
        map[i * 3] = c.rgbRed;
        map[i * 3 + 1] = c.rgbGreen;
        map[i * 3 + 2] = c.rgbBlue;
      }
    }
  }
  header[65] = static_cast<uint8_t>(Planes(image));
  StoreLE16(&header[66], static_cast<uint16_t>(BytesPerLine(image)));
  StoreLE16(&header[68], image.ColorCount() == 0 ? 1 : 0);
  return header;
}

// Rows from the top of the picture; each row is its red, green, blue (and alpha) planes.
bool EncodeTrueColorRows(const RasterImage& image, ByteStream* body) {
  const uint32_t width = image.Width();
  std::vector<uint8_t> out;
  PixelRunCoder coder(out);
  for (uint32_t y = image.Height(); y-- > 0;) {
    out.clear();
    const uint8_t* row = image.RowAddress(y);
    for (int channel = 2; channel >= 0; --channel) {
      for (uint32_t x = 0; x < width; ++x) coder.Put(row[x * 3 + channel]);
      coder.EndLine(width);
    }
    if (image.HasAlpha()) {
      for (uint32_t x = 0; x < width; ++x) coder.Put(image.AlphaAtUnchecked(x, y));
      coder.EndLine(width);
    }
    if (!Append(body, out)) return false;
  }
  return true;
}

bool EncodeIndexedRows(const RasterImage& image, ByteStream* body) {
  const uint32_t width = image.Width();
  std::vector<uint8_t> out;
  PixelRunCoder coder(out);
  for (uint32_t y = image.Height(); y-- > 0;) {
    out.clear();
    const uint8_t* row = image.RowAddress(y);
    for (uint32_t x = 0; x < width; ++x) coder.Put(row[x]);
    coder.EndLine(width);
    if (!Append(body, out)) return false;
  }
  return true;
}

// 1- and 4-bit images: plane p of a line holds bit p of every pixel's index, packed most
// significant bit first. A 1-bit image is written against the fixed black-and-white map, so its
// indices are inverted when palette entry 0 is the lighter colour.
bool EncodePlanarRows(const RasterImage& image, ByteStream* body) {
  const uint32_t width = image.Width();
  const uint32_t planes = Planes(image);
  const bool invert =
      image.BitsPerPixel() == 1 &&
      RasterImage::LuminanceCompare(image.PaletteEntryAt(0), image.PaletteEntryAt(1)) > 0;
  std::vector<uint8_t> indices(width);
  std::vector<uint8_t> line(BytesPerLine(image));
  std::vector<uint8_t> out;
  for (uint32_t y = image.Height(); y-- > 0;) {
    out.clear();
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t index = image.IndexAtUnchecked(x, y);
      indices[x] = invert ? static_cast<uint8_t>(1 - index) : index;
    }
    for (uint32_t p = 0; p < planes; ++p) {
      std::fill(line.begin(), line.end(), 0);
      for (uint32_t x = 0; x < width; ++x) {
        if ((indices[x] >> p) & 1) line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      }
      EncodeLine(out, line.data(), line.size());
    }
    if (!Append(body, out)) return false;
  }
  return true;
}

// Appends the run-length body of the whole picture; false when the memory stream cannot grow.
bool EncodeBody(const RasterImage& image, ByteStream* body) {
  switch (image.BitsPerPixel()) {
    case 24:
      return EncodeTrueColorRows(image, body);
    case 8:
      return EncodeIndexedRows(image, body);
    default:
      return EncodePlanarRows(image, body);
  }
}

}  // namespace

Status EncodePcx(const RasterImage& image, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  if (Status fits = CheckFits(image); !fits.IsOk()) return fits;

  CheckedWriter writer(&out);
  if (!writer.Write(Header(image))) return Status::Error("cannot write PCX header");

  MemoryStream body;
  if (!body.OpenEmpty() || !EncodeBody(image, &body))
    return Status::Error("cannot allocate memory for the PCX image data");
  const auto bodyLength = static_cast<size_t>(body.Length());
  writer.Write(body.DetachBuffer(false), bodyLength);
  body.CloseStream();

  if (image.BitsPerPixel() == 8) {
    std::vector<uint8_t> palette;
    palette.reserve(769);
    palette.push_back(0x0C);
    for (uint32_t i = 0; i < 256; ++i) {
      const RGBQUAD c = image.PaletteEntryAt(i);
      palette.insert(palette.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
    }
    writer.Write(palette);
  }
  return writer.Finish() ? Status::Ok() : Status::Error("cannot write PCX file");
}

bool RasterImagePcx::Encode(ByteStream* stream) {
  return EncodeThrough(stream, [this](ByteStream& out) { return EncodePcx(*this, out); });
}

}  // namespace orvalis
