#pragma once
// Turns Ctrl+C (SIGINT), SIGTERM and a closed terminal (SIGHUP) into a call on an ordinary
// thread, so that the run can be stopped with the driver's own stop request instead of dying
// with half-written files and temporary pages left behind.
//
// With `onSuspend`, Ctrl+Z (SIGTSTP) is passed on too: the watcher calls onSuspend(true) (the
// interpreters, in process groups of their own, do not get the terminal's signal), stops the
// program as the signal would have, and once it is continued calls onSuspend(false).

#include <atomic>
#include <functional>
#include <thread>

namespace orvalis {

class InterruptWatcher {
 public:
  explicit InterruptWatcher(std::function<void()> onInterrupt,
                            std::function<void(bool)> onSuspend = {});
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  bool Interrupted() const { return interrupted_.load(); }

 private:
  void Suspend();

  std::function<void()> onInterrupt_;
  std::function<void(bool)> onSuspend_;
  std::atomic<bool> interrupted_{false};
  std::thread thread_;
};

}  // namespace orvalis
