// Decodes arbitrary bytes as a BMP file, and through format detection when that fails. Large
// pictures that fit in memory are skipped unless ORVALIS_FUZZ_LARGE_CLAIMS is set: clearing them
// costs time, so only the long runs that look for memory faults take them.
#include <cstdlib>

#include "fuzz/seed_corpus.h"
#include "image/raster_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&orvalis::test::BmpSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvalis::test::Bytes copy(data, data + size);
  static const bool largeClaims = std::getenv("ORVALIS_FUZZ_LARGE_CLAIMS") != nullptr;
  if (!largeClaims && orvalis::test::ClaimsALargeBmpPicture(copy)) return 0;
  orvalis::MemoryStream stream(copy.data(), static_cast<int64_t>(copy.size()));
  orvalis::RasterImage image;
  // Detection tries the BMP decoder first, so it only adds anything when that one refused.
  if (!image.Decode(&stream, orvalis::ImageFormat::Bmp) && stream.SeekTo(0, orvalis::kSeekStart))
    image.Decode(&stream, orvalis::ImageFormat::None);
  return 0;
}
