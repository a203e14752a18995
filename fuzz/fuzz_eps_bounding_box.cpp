// Reads arbitrary bytes as the start of an EPS file. Only a file that says it is EPS is ever
// cropped, and what a whole header allows, a longer read of the same header allows too.
#include <cstdlib>
#include <string_view>

#include "fuzz/seed_corpus.h"
#include "renderer/eps_bounding_box.h"

namespace {

orvalis::test::Bytes BytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

std::vector<orvalis::test::Seed> HeaderSeeds() {
  return {{"box", BytesOf("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 200 100\n%%EndComments\n")},
          {"hires", BytesOf("%!PS-Adobe-3.0 EPSF-3.0\r%%BoundingBox: (atend)\r"
                            "%%HiResBoundingBox: 0.5 1e1 99.5 .5E2\r%%BeginProlog\r")}};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&HeaderSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view start(reinterpret_cast<const char*>(data), size);
  const bool whole = orvalis::renderer::CropsToBoundingBox(start, true, 72, 72);
  if (whole && !start.starts_with("%!PS-Adobe-")) std::abort();
  // A header that ended within the bytes read gives the same answer read in part.
  if (orvalis::renderer::CropsToBoundingBox(start, false, 72, 72) && !whole) std::abort();
  return 0;
}
