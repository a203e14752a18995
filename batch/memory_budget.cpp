#include "batch/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <sstream>
#include <utility>
#include <vector>

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
  // Let go first: giving back may grant queued requests, whose callers may do anything.
  MemoryBudget* budget = std::exchange(budget_, nullptr);
  if (budget != nullptr) budget->Give(bytes_);
}

uint64_t MemoryBudget::InUse() {
  std::lock_guard lock(mutex_);
  return inUse_;
}

bool MemoryBudget::Refuse(uint64_t bytes, std::string* error) const {
  if (bytes <= total_) return false;
  if (error != nullptr) {
    *error = "it needs " + std::to_string((bytes + (1 << 20) - 1) >> 20) +
             " MiB of memory, more than the " + std::to_string(total_ >> 20) +
             " MiB the run may use";
  }
  return true;
}

MemoryBudget::Share MemoryBudget::Take(uint64_t bytes, std::stop_token stop, std::string* error) {
  if (Refuse(bytes, error)) return {};
  std::unique_lock lock(mutex_);
  // Queued requests come first: they were made earlier.
  if (!released_.wait(lock, stop, [&] { return queued_.empty() && inUse_ + bytes <= total_; }))
    return {};
  inUse_ += bytes;
  return Share(this, bytes);
}

MemoryBudget::Share MemoryBudget::TryTake(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  if (bytes > total_ || !queued_.empty() || inUse_ + bytes > total_) return {};
  inUse_ += bytes;
  return Share(this, bytes);
}

bool MemoryBudget::TakeWhenFree(uint64_t bytes, std::function<void(Share)> granted,
                                std::string* error) {
  if (Refuse(bytes, error)) return false;
  {
    std::lock_guard lock(mutex_);
    if (!queued_.empty() || inUse_ + bytes > total_) {
      queued_.push_back({bytes, std::move(granted)});
      return true;
    }
    inUse_ += bytes;
  }
  granted(Share(this, bytes));
  return true;
}

void MemoryBudget::Give(uint64_t bytes) {
  std::vector<Request> grantable;
  {
    std::lock_guard lock(mutex_);
    inUse_ -= std::min(inUse_, bytes);
    while (!queued_.empty() && inUse_ + queued_.front().bytes <= total_) {
      inUse_ += queued_.front().bytes;
      grantable.push_back(std::move(queued_.front()));
      queued_.pop_front();
    }
  }
  released_.notify_all();
  for (Request& request : grantable) request.granted(Share(this, request.bytes));
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

namespace {

// What an encoder holds beside the picture it encodes (the format table says).
uint64_t EncoderBytes(uint64_t pictureBytes, OutputFormat format) {
  return pictureBytes * InfoOf(format).recipe.encoderEighths / 8;
}

// The bytes of `bytes` at the area of `width` x `height` instead of the page's.
uint64_t AtArea(uint64_t bytes, const PageFileHeader& page, double width, double height) {
  const double pageArea = std::max(1.0, double(page.width) * double(page.height));
  return static_cast<uint64_t>(std::ceil(double(bytes) * (width * height / pageArea)));
}

}  // namespace

uint64_t PageConversionEstimate(const PageFileHeader& page, const PageSteps& steps) {
  constexpr uint64_t kJobOverhead = uint64_t{16} << 20;
  const uint64_t loaded = page.DecodedBytes();
  // A colour step builds its result beside the picture.
  uint64_t peak = loaded * 2;
  uint64_t picture = loaded;
  if (steps.angle % 360 != 0) {
    // Turned by a right angle the picture keeps its size; by another, it takes the box around it.
    const double radians = steps.angle * std::numbers::pi / 180.0;
    const double c = std::abs(std::cos(radians));
    const double s = std::abs(std::sin(radians));
    const double w = page.width;
    const double h = page.height;
    const uint64_t turned =
        steps.angle % 90 == 0 ? loaded : AtArea(loaded, page, w * c + h * s, w * s + h * c);
    peak = std::max(peak, picture + turned);
    picture = turned;
  }
  if (steps.width > 0 && steps.height > 0) {
    const uint64_t resized = AtArea(loaded, page, steps.width, steps.height);
    peak = std::max(peak, picture + resized);
    picture = resized;
  }
  peak = std::max(peak, picture + EncoderBytes(picture, steps.format));
  return peak + kJobOverhead;
}

}  // namespace orvalis
