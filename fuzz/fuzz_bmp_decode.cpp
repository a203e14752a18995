// Decodes arbitrary bytes as a BMP file, and through format detection when that fails.
// With ORVALIS_WRITE_SEEDS set, writes a seed corpus of one small file per variant and exits.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/seed_corpus.h"
#include "image/codec_bmp.h"
#include "image/raster_image.h"
#include "platform/byte_order.h"

namespace {

using orvalis::PutLE16;
using orvalis::PutLE32;
using Bytes = std::vector<uint8_t>;

Bytes Dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t colors) {
  Bytes b;
  PutLE32(b, 40);
  PutLE32(b, static_cast<uint32_t>(width));
  PutLE32(b, static_cast<uint32_t>(height));
  PutLE16(b, 1);
  PutLE16(b, bits);
  PutLE32(b, compression);
  for (uint32_t v : {0u, 2835u, 2835u, colors, 0u}) PutLE32(b, v);
  return b;
}

// A file header in front of `dib`, whose pixels start `pixelOffset` bytes into it.
Bytes File(const Bytes& dib, const Bytes& tail, size_t pixelOffset) {
  Bytes b{'B', 'M'};
  PutLE32(b, static_cast<uint32_t>(14 + dib.size() + tail.size()));
  PutLE32(b, 0);
  PutLE32(b, static_cast<uint32_t>(14 + pixelOffset));
  b.insert(b.end(), dib.begin(), dib.end());
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

void WriteSeeds(const std::string& folder) {
  const Bytes palette4{0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0};
  Bytes core{12, 0, 0, 0, 3, 0, 2, 0, 1, 0, 1, 0, 0, 0, 0, 255, 255, 255};
  core.insert(core.end(), {0x80, 0, 0, 0, 0x40, 0, 0, 0});
  const Bytes rle8{3, 1, 0, 3, 2, 3, 1, 0, 0, 0, 0, 2, 1, 1, 2, 2, 0, 1};
  const Bytes rle4{5, 0x12, 0, 0, 0, 3, 0x12, 0x30, 0, 2, 3, 0, 4, 0x33, 0, 1};
  const Bytes masks{0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
  const Bytes pixels16{0xFF, 0xFF, 0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8};
  const Bytes pixels32{1, 2, 3, 0, 4, 5, 6, 128, 7, 8, 9, 255, 10, 11, 12, 0};
  const Bytes pixels24{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  const struct {
    const char* name;
    Bytes bytes;
  } seeds[] = {
      {"core.bmp", File(core, {}, 18)},
      {"rle8.bmp", File(Concat(Dib(5, 3, 8, 1, 4), palette4), rle8, 56)},
      {"rle4.bmp", File(Concat(Dib(7, 3, 4, 2, 4), palette4), rle4, 56)},
      {"bitfields16.bmp", File(Concat(Dib(2, 2, 16, 3, 0), masks), pixels16, 52)},
      {"rgb32.bmp", File(Dib(2, 2, 32, 0, 0), pixels32, 40)},
      {"topdown24.bmp", File(Dib(2, -2, 24, 0, 0), pixels24, 40)},
      {"headerless8.dib", Concat(Concat(Dib(3, 2, 8, 0, 4), palette4), {0, 1, 2, 0, 3, 2, 1, 0})},
  };
  for (const auto& seed : seeds) {
    std::ofstream out(folder + "/" + seed.name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.bytes.data()),
              static_cast<std::streamsize>(seed.bytes.size()));
  }
}

// True when the header claims a picture that fits in memory but is large (over 4 M pixels):
// such an input costs a clear of up to 256 MiB and tells the fuzzer nothing new, so it is
// skipped to keep the run fast. Claims beyond the memory ceiling still run; they fail early.
bool ClaimsALargePicture(Bytes& bytes) {
  orvalis::MemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') stream.SeekTo(14, 0);
  orvalis::BITMAPINFOHEADER h;
  if (!orvalis::RasterImageBmp::ReadInfoHeader(&stream, &h)) return false;
  const uint64_t pixels = static_cast<uint64_t>(std::abs(static_cast<int64_t>(h.biWidth))) *
                          static_cast<uint64_t>(std::abs(static_cast<int64_t>(h.biHeight)));
  return pixels > (uint64_t{1} << 22) && pixels <= (uint64_t{1} << 31);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes copy(data, data + size);
  if (ClaimsALargePicture(copy)) return 0;
  orvalis::MemoryStream stream(copy.data(), static_cast<int64_t>(copy.size()));
  orvalis::RasterImage image;
  // Detection tries the BMP decoder first, so it only adds anything when that one refused.
  if (!image.Decode(&stream, orvalis::ImageFormat::Bmp)) {
    stream.SeekTo(0, orvalis::kSeekStart);
    image.Decode(&stream, orvalis::ImageFormat::None);
  }
  return 0;
}
