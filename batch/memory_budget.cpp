#include "batch/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "engine/converter.h"

namespace orvalis {

MemoryBudget::Share& MemoryBudget::Share::operator=(Share&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = other.budget_;
    bytes_ = other.bytes_;
    other.budget_ = nullptr;
  }
  return *this;
}

void MemoryBudget::Share::Release() {
  if (budget_ != nullptr) budget_->Give(bytes_);
  budget_ = nullptr;
}

uint64_t MemoryBudget::InUse() {
  std::lock_guard lock(mutex_);
  return inUse_;
}

MemoryBudget::Share MemoryBudget::Take(uint64_t bytes, const std::function<bool()>& giveUp,
                                       std::string* error) {
  if (bytes > total_) {
    if (error != nullptr) {
      *error = "it needs " + std::to_string((bytes + (1 << 20) - 1) >> 20) +
               " MiB of memory, more than the " + std::to_string(total_ >> 20) +
               " MiB the run may use";
    }
    return {};
  }
  std::unique_lock lock(mutex_);
  while (inUse_ + bytes > total_) {
    if (giveUp && giveUp()) return {};
    released_.wait_for(lock, std::chrono::milliseconds(100));
  }
  if (giveUp && giveUp()) return {};
  inUse_ += bytes;
  return Share(this, bytes);
}

MemoryBudget::Share MemoryBudget::TryTake(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  if (bytes > total_ || inUse_ + bytes > total_) return {};
  inUse_ += bytes;
  return Share(this, bytes);
}

void MemoryBudget::Give(uint64_t bytes) {
  {
    std::lock_guard lock(mutex_);
    inUse_ -= std::min(inUse_, bytes);
  }
  released_.notify_all();
}

void MemoryBudget::WakeAll() {
  // Taking the lock orders the wake-up after a waiter's look at its condition.
  { std::lock_guard lock(mutex_); }
  released_.notify_all();
}

uint64_t MemoryBudget::InterpreterCap(int jobs) const {
  const uint64_t part = total_ / 4 * 3 / static_cast<uint64_t>(std::max(jobs, 1));
  return std::clamp(part, kInterpreterFloor, kInterpreterCeiling);
}

uint64_t DefaultMemoryBudget() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  uint64_t available = 0;
  uint64_t total = 0;
  while (std::getline(meminfo, line)) {
    std::istringstream fields(line);
    std::string key;
    uint64_t kib = 0;
    fields >> key >> kib;
    if (key == "MemAvailable:") available = kib << 10;
    if (key == "MemTotal:") total = kib << 10;
  }
  if (available == 0) available = total;
  if (available == 0) {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
      available = static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
  }
  return available == 0 ? uint64_t{1} << 30 : available / 4 * 3;
}

uint64_t PageConversionEstimate(uint64_t decodedPageBytes, OutputFormat engineFormat) {
  // Measured peaks: about seven times the page for JPEG 2000, under three for the others.
  const uint64_t factor =
      engineFormat == OutputFormat::Jp2 || engineFormat == OutputFormat::Jpc ? 8 : 3;
  constexpr uint64_t kJobOverhead = uint64_t{16} << 20;
  return decodedPageBytes * factor + kJobOverhead;
}

}  // namespace orvalis
