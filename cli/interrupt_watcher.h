#pragma once
// Turns Ctrl+C (SIGINT), SIGTERM and a closed terminal (SIGHUP) into a call on an ordinary
// thread, so that the run can be stopped with the driver's own stop request instead of dying
// with half-written files and temporary pages left behind.

#include <atomic>
#include <functional>
#include <thread>

namespace orvalis {

class InterruptWatcher {
 public:
  explicit InterruptWatcher(std::function<void()> onInterrupt);
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  bool Interrupted() const { return interrupted_.load(); }

 private:
  std::function<void()> onInterrupt_;
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

}  // namespace orvalis
