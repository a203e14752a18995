#include "ui/app/exit_cleanup.h"

#include <cstdlib>
#include <utility>

namespace orvalis {

namespace {

std::function<void()>& Pending() {
  static std::function<void()> pending;
  return pending;
}

void RunPending() {
  // Taken out first: a clean-up that exits again does not run twice.
  std::function<void()> cleanup = std::exchange(Pending(), nullptr);
  if (cleanup) cleanup();
}

}  // namespace

ExitCleanup::ExitCleanup(std::function<void()> cleanup) {
  static const bool registered = std::atexit(RunPending) == 0;
  (void)registered;
  Pending() = std::move(cleanup);
}

ExitCleanup::~ExitCleanup() {
  Pending() = nullptr;
}

}  // namespace orvalis
