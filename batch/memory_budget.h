#pragma once
// MemoryBudget: the memory a run may use, shared by everything it holds at once: the address
// space each running interpreter is capped to, and the pages being converted. Each file takes a
// share before it renders (its interpreter's cap) and each page a share before it is converted
// (an estimate of what the conversion holds); both are given back afterwards. Waiting for one
// can never deadlock: an interpreter's share goes back when its rendering ends, which waits for
// nothing (a renderer is held only while one of its own pages is being converted and none waits
// for memory), and a page's share when its conversion ends. A share larger than what is free
// waits until others are given back; a share larger than the whole budget can never be granted
// and is refused at once.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>

#include "batch/page_files.h"
#include "engine/output_formats.h"
#include "platform/limits.h"

namespace orvalis {

class MemoryBudget {
 public:
  // An interpreter gets at most the address space its renderer allows it ...
  static constexpr uint64_t kInterpreterCeiling = limits::kInterpreterAddressSpace;
  // ... and at least this much, or it cannot start: below it a file cannot be rendered.
  static constexpr uint64_t kInterpreterFloor = uint64_t{256} << 20;

  explicit MemoryBudget(uint64_t totalBytes) : total_(totalBytes) {}

  uint64_t InUse();

  // A granted share, given back when it goes.
  class Share {
   public:
    Share() = default;
    Share(MemoryBudget* budget, uint64_t bytes) : budget_(budget), bytes_(bytes) {}
    Share(Share&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) {
      other.budget_ = nullptr;
    }
    Share& operator=(Share&& other) noexcept;
    ~Share() { Release(); }
    void Release();
    uint64_t Bytes() const { return budget_ != nullptr ? bytes_ : 0; }
    bool Granted() const { return budget_ != nullptr; }

   private:
    MemoryBudget* budget_ = nullptr;
    uint64_t bytes_ = 0;
  };

  // Takes `bytes`, waiting while they are not free. Gives up (an empty share) as soon as
  // `stop` is requested, or at once, with the reason in `error`, when `bytes` exceeds the whole
  // budget.
  Share Take(uint64_t bytes, std::stop_token stop, std::string* error);
  // Takes `bytes` when they are free now; an empty share otherwise, without waiting.
  Share TryTake(uint64_t bytes);
  // Takes `bytes` without blocking the caller: `granted` gets the share now when they are free,
  // or later, on the thread that gives back what makes them free. Requests are granted in the
  // order they were made. False, with the reason in `error`, when `bytes` exceeds the whole
  // budget (`granted` is then never called).
  bool TakeWhenFree(uint64_t bytes, std::function<void(Share)> granted, std::string* error);

  // The address-space cap of each interpreter when `jobs` files render at once: an equal part
  // of three quarters of the budget, within the floor and the ceiling above. The last quarter
  // is kept for the pages converted while the files render.
  uint64_t InterpreterCap(int jobs) const;

 private:
  struct Request {
    uint64_t bytes;
    std::function<void(Share)> granted;
  };
  void Give(uint64_t bytes);
  bool Refuse(uint64_t bytes, std::string* error) const;

  const uint64_t total_;
  std::mutex mutex_;
  std::condition_variable_any released_;
  uint64_t inUse_ = 0;
  std::deque<Request> queued_;  // TakeWhenFree requests waiting, in order
};

// Three quarters of the memory the system has available now (MemAvailable), or of its total
// memory when that cannot be read; 1 GiB when neither can.
uint64_t DefaultMemoryBudget();

// What a page's conversion does to it beyond loading it, for the memory it takes.
struct PageSteps {
  OutputFormat format = OutputFormat::Bmp;  // the engine format the page becomes
  int angle = 0;                            // degrees clockwise; 0: not turned
  uint32_t width = 0;                       // resized to width x height; 0: kept
  uint32_t height = 0;
};

// What converting one page holds at its peak: the picture loaded from the page file, and at
// each step the copy it builds beside it (a colour step's, the turned picture, the resized
// one: its size is the target's, not the page's), then the picture encoded with the encoder's
// own buffers (JPEG 2000 keeps every sample as a 32-bit integer, several times).
uint64_t PageConversionEstimate(const PageFileHeader& page, const PageSteps& steps);

}  // namespace orvalis
