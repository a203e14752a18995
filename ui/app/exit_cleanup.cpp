#include "ui/app/exit_cleanup.h"

#include <cstdlib>
#include <utility>

namespace orvalis {

namespace {

std::function<void()>& Pending() {
  static std::function<void()> pending;
  return pending;
}

int& PendingStatus() {
  static int status = 0;
  return status;
}

void RunPending() {
  // Taken out first: a clean-up that exits again does not run twice.
  std::function<void()> cleanup = std::exchange(Pending(), nullptr);
  if (!cleanup) return;
  cleanup();
  // The exit that brought us here was not the program's: it ends as an ending signal ends it.
  std::_Exit(PendingStatus());
}

}  // namespace

ExitCleanup::ExitCleanup(std::function<void()> cleanup, int status) {
  static const bool registered = std::atexit(RunPending) == 0;
  (void)registered;
  Pending() = std::move(cleanup);
  PendingStatus() = status;
}

ExitCleanup::~ExitCleanup() {
  Pending() = nullptr;
}

}  // namespace orvalis
