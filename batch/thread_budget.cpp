#include "batch/thread_budget.h"

#include <chrono>

namespace orvalis {

ThreadBudget::Slot& ThreadBudget::Slot::operator=(Slot&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = other.budget_;
    other.budget_ = nullptr;
  }
  return *this;
}

void ThreadBudget::Slot::Release() {
  if (budget_ != nullptr) budget_->Give();
  budget_ = nullptr;
}

ThreadBudget::Slot ThreadBudget::Take(const std::function<bool()>& giveUp) {
  std::unique_lock lock(mutex_);
  while (inUse_ >= slots_) {
    if (giveUp && giveUp()) return {};
    released_.wait_for(lock, std::chrono::milliseconds(100));
  }
  ++inUse_;
  return Slot(this);
}

void ThreadBudget::Give() {
  {
    std::lock_guard lock(mutex_);
    --inUse_;
  }
  released_.notify_all();
}

}  // namespace orvalis
