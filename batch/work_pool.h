#pragma once
// WorkPool: the run's conversion threads. Every file of a run hands its pages to the same few
// threads, in the order they were handed in, so that several files converted at once never
// run more conversions than the pool has threads. A task never waits for another task.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orvalis {

class WorkPool {
 public:
  // Starts up to `threads` threads (at least one is asked for). When not even one can be
  // started, tasks run on the thread that hands them in.
  explicit WorkPool(int threads);
  // Runs the tasks still queued, then ends the threads.
  ~WorkPool();
  WorkPool(const WorkPool&) = delete;
  WorkPool& operator=(const WorkPool&) = delete;

  int Threads() const { return static_cast<int>(threads_.size()); }
  void Submit(std::function<void()> task);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> tasks_;
  bool ending_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace orvalis
