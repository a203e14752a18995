#pragma once
// ThreadBudget: how many pages a run converts at once, across all of its files. Every page
// conversion holds one slot while it runs, whichever file it belongs to, so that several long
// files converted at once (--jobs) do not oversubscribe the machine: the files' renderings run
// side by side, but their pages share the same few encoders.

#include <condition_variable>
#include <functional>
#include <mutex>

namespace orvalis {

class ThreadBudget {
 public:
  explicit ThreadBudget(int count) : slots_(count < 1 ? 1 : count) {}

  int Slots() const { return slots_; }

  // A slot held, given back when it goes.
  class Slot {
   public:
    Slot() = default;
    explicit Slot(ThreadBudget* budget) : budget_(budget) {}
    Slot(Slot&& other) noexcept : budget_(other.budget_) { other.budget_ = nullptr; }
    Slot& operator=(Slot&& other) noexcept;
    ~Slot() { Release(); }
    void Release();
    bool Held() const { return budget_ != nullptr; }

   private:
    ThreadBudget* budget_ = nullptr;
  };

  // Waits for a free slot. Gives up (an empty slot) when `giveUp` turns true, which is looked
  // at least every 100 ms and whenever a slot is given back.
  Slot Take(const std::function<bool()>& giveUp);

 private:
  void Give();

  const int slots_;
  std::mutex mutex_;
  std::condition_variable released_;
  int inUse_ = 0;
};

}  // namespace orvalis
