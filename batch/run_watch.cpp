#include "batch/run_watch.h"

#include <algorithm>

namespace orvalis {

RunWatch::RunWatch() : thread_([this] { Watch(); }) {}

RunWatch::~RunWatch() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

RunWatch::Id RunWatch::At(Clock::time_point at, std::function<void()> due) {
  return Add({at, std::chrono::milliseconds(0), std::move(due)});
}

RunWatch::Id RunWatch::Every(std::chrono::milliseconds interval, std::function<void()> check) {
  return Add({Clock::now() + interval, std::max(interval, std::chrono::milliseconds(1)),
              std::move(check)});
}

RunWatch::Id RunWatch::Add(Entry entry) {
  Id id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    entries_.emplace(id, std::move(entry));
  }
  changed_.notify_all();
  return id;
}

void RunWatch::Cancel(Id id) {
  std::unique_lock lock(mutex_);
  entries_.erase(id);
  if (std::this_thread::get_id() == thread_.get_id()) return;
  changed_.wait(lock, [&] { return running_ != id; });
}

void RunWatch::Watch() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    const auto due = std::min_element(entries_.begin(), entries_.end(), [](auto& a, auto& b) {
      return a.second.next < b.second.next;
    });
    if (due == entries_.end()) {
      changed_.wait(lock);
      continue;
    }
    // A copy: the entry may be cancelled while the watch sleeps.
    if (const Clock::time_point next = due->second.next; Clock::now() < next) {
      changed_.wait_until(lock, next);
      continue;
    }
    const Id id = due->first;
    std::function<void()> call = due->second.call;
    if (due->second.interval.count() == 0) {
      entries_.erase(due);
    } else {
      due->second.next = Clock::now() + due->second.interval;
    }
    running_ = id;
    lock.unlock();
    call();
    call = nullptr;
    lock.lock();
    running_ = 0;
    changed_.notify_all();
  }
}

}  // namespace orvalis
