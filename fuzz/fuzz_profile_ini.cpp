// Parses arbitrary bytes as a settings file, reads every settings key, sets one key and checks
// that the rewritten file reads back with that value and with every other key unchanged.
#include <cstdlib>

#include "fuzz/seed_corpus.h"
#include "platform/profile_ini.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvalis::fuzz::WriteSeedsWhenAsked(&orvalis::test::ProfileSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > orvalis::ProfileDocument::kMaxFileBytes) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!orvalis::test::ProfileRewriteKeepsOtherKeys(bytes)) std::abort();
  return 0;
}
