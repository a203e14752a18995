// Reads arbitrary bytes as the start and the end of a PostScript file for the page count they
// declare: never outside the bytes, and never a negative count.
#include <cstdlib>
#include <string_view>

#include "batch/declared_pages.h"
#include "fuzz/seed_corpus.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&orvalis::test::DeclaredPagesSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The whole input as both, and the input split in two at a place its first byte picks.
  const size_t split = size == 0 ? 0 : data[0] % (size + 1);
  for (const auto& [header, trailer] :
       {std::pair{bytes, bytes}, std::pair{bytes.substr(0, split), bytes.substr(split)}}) {
    const std::optional<int> pages = orvalis::DeclaredPageCount(header, trailer);
    if (pages && *pages < 0) std::abort();
  }
  return 0;
}
