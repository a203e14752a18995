#include "batch/work_pool.h"

#include <algorithm>
#include <system_error>

namespace orvalis {

WorkPool::WorkPool(int threads) {
  for (int i = 0; i < std::max(threads, 1); ++i) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break;  // fewer threads than asked for: the ones there take every task
    }
  }
}

WorkPool::~WorkPool() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkPool::Submit(std::function<void()> task) {
  if (threads_.empty()) {
    task();
    return;
  }
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_one();
}

void WorkPool::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !tasks_.empty() || ending_; });
    if (tasks_.empty()) return;
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    task = nullptr;  // what the task holds goes before the next one begins
    lock.lock();
  }
}

}  // namespace orvalis
