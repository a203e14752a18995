#pragma once
// Every fuzzer writes its seed corpus, made in code (tests/support/seed_builders.h), into the
// folder $ORVALIS_WRITE_SEEDS names and then ends; scripts/run-fuzzers.sh asks for it before
// fuzzing.

#include <cstdlib>
#include <vector>

#include "tests/support/seed_builders.h"

namespace orvalis::fuzz {

inline void WriteSeedsWhenAsked(std::vector<test::Seed> (*seeds)()) {
  if (const char* folder = std::getenv("ORVALIS_WRITE_SEEDS")) {
    test::WriteSeedFiles(folder, seeds());
    std::exit(0);
  }
}

}  // namespace orvalis::fuzz
