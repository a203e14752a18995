#pragma once
// RunWatch: the one thread of a run that acts on time rather than on events: it calls each
// file's deadline when it comes, and the checks that can only be made by looking again (the
// free space of the run's disks, and the page folder of a renderer that does not report its
// pages) at their intervals. It sleeps until the earliest of them is due, or until one is added
// or cancelled.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace orvalis {

class RunWatch {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = uint64_t;

  RunWatch();
  ~RunWatch();
  RunWatch(const RunWatch&) = delete;
  RunWatch& operator=(const RunWatch&) = delete;

  // Calls `due` once, on the watch's thread, at `at`.
  Id At(Clock::time_point at, std::function<void()> due);
  // Calls `check` on the watch's thread every `interval`, the first time one interval from now.
  Id Every(std::chrono::milliseconds interval, std::function<void()> check);
  // Calls nothing more for `id`. When the call is running meanwhile on the watch's thread,
  // waits for it to return (unless called from it): afterwards, nothing it holds is used.
  void Cancel(Id id);

 private:
  struct Entry {
    Clock::time_point next;
    std::chrono::milliseconds interval;  // 0: once
    std::function<void()> call;
  };
  Id Add(Entry entry);
  void Watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<Id, Entry> entries_;
  Id nextId_ = 1;
  Id running_ = 0;  // the entry being called, or 0
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace orvalis
