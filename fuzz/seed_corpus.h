#pragma once
// Every fuzzer writes its seed corpus, made in code, into the folder $ORVALIS_WRITE_SEEDS names
// and then ends; scripts/run-fuzzers.sh asks for it before fuzzing.

#include <cstdlib>
#include <string>

namespace orvalis::fuzz {

inline void WriteSeedsWhenAsked(void (*writeSeeds)(const std::string& folder)) {
  if (const char* folder = std::getenv("ORVALIS_WRITE_SEEDS")) {
    writeSeeds(folder);
    std::exit(0);
  }
}

}  // namespace orvalis::fuzz
