#include "batch/page_pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <system_error>

#include "batch/page_files.h"

namespace orvalis {

namespace {

// How often the watcher looks into the page folder when nothing wakes it earlier. A page takes
// tens of milliseconds to render at the least, so a look every few milliseconds hands each page
// out soon after the renderer moves past it and holds the renderer before it writes another.
constexpr std::chrono::milliseconds kLookInterval{5};

}  // namespace

size_t PagePipeline::Summary::Count(PageState state) const {
  size_t count = 0;
  for (const PageRecord& record : pages) count += record.state == state ? 1 : 0;
  return count;
}

std::vector<std::string> PagePipeline::Summary::Outputs() const {
  std::vector<std::string> outputs;
  for (const PageRecord& record : pages) {
    if (!record.outcome.output.empty()) outputs.push_back(record.outcome.output);
  }
  return outputs;
}

PagePipeline::PagePipeline(Setup setup, Hooks hooks, MemoryBudget& memory, ThreadBudget& threads)
    : setup_(std::move(setup)), hooks_(std::move(hooks)), memory_(memory), threads_(threads) {}

PagePipeline::~PagePipeline() {
  if (finished_) return;
  {
    std::lock_guard lock(mutex_);
    taking_ = false;
  }
  ended_ = true;
  Finish();
}

void PagePipeline::Start() {
  for (int i = 0; i < setup_.encoders; ++i) {
    try {
      encoders_.emplace_back([this] { Encode(); });
    } catch (const std::system_error&) {
      break;  // fewer encoders than asked for: the ones there take every page
    }
  }
  if (encoders_.empty()) return;
  try {
    watcher_ = std::thread([this] { Watch(); });
  } catch (const std::system_error&) {
    // Finish watches the folder itself, once the rendering has returned.
  }
}

void PagePipeline::RenderingReturned() {
  {
    std::lock_guard lock(mutex_);
    renderingReturned_ = true;
  }
  changed_.notify_all();
}

PagePipeline::Summary PagePipeline::Finish() {
  RenderingReturned();
  if (encoders_.empty()) {
    // No threads: every page on this one, one at a time.
    std::unique_lock lock(mutex_);
    for (;;) {
      const bool done = Look(lock);
      if (!waiting_.empty()) {
        EncodeNext(lock);
      } else if (done) {
        break;
      }
    }
    handingOutDone_ = true;
  } else if (!watcher_.joinable()) {
    Watch();
  }
  if (watcher_.joinable()) watcher_.join();
  for (std::thread& encoder : encoders_) encoder.join();
  encoders_.clear();
  finished_ = true;

  std::lock_guard lock(mutex_);
  Summary summary;
  summary.pages = std::move(records_);
  summary.leftInFolder = leftInFolder_;
  summary.endReason = endReason_;
  return summary;
}

void PagePipeline::Watch() {
  std::unique_lock lock(mutex_);
  while (!Look(lock)) changed_.wait_for(lock, kLookInterval);
  HoldRenderer(lock, false);
  handingOutDone_ = true;
  changed_.notify_all();
}

bool PagePipeline::Look(std::unique_lock<std::mutex>& lock) {
  const bool returned = renderingReturned_;
  if (!setup_.overlap && !returned) return false;
  lock.unlock();
  const std::vector<std::string> files = CollectPages(setup_.folder);
  lock.lock();

  size_t present = files.size();
  size_t unknown = 0;
  bool encodersBusy = false;
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& file = files[i];
    if (known_.count(file) != 0) continue;
    ++unknown;
    // The last page is still being written until the rendering returns.
    const bool movedPast = returned || i + 1 < files.size();
    if (!movedPast || !taking_) continue;
    // Pages are handed out as encoders come free, so that a stop or the end of the file's time
    // finds most of them still in the folder.
    if (waiting_.size() >= static_cast<size_t>(std::max(setup_.encoders, 1))) {
      encodersBusy = true;
      break;
    }
    if (!hooks_.mayTake()) {
      taking_ = false;
      continue;
    }
    --unknown;
    known_.insert(file);
    PageRecord record{file, PageState::Waiting, {}};
    if (!PageFileIsWhole(file)) {
      // Cut short: the renderer moved on (or ended) without finishing it. It is never converted.
      record.state = PageState::Cut;
      ::unlink(file.c_str());
      --present;
      records_.push_back(std::move(record));
      continue;
    }
    records_.push_back(std::move(record));
    waiting_.push_back(records_.size() - 1);
    changed_.notify_all();
  }

  const bool hold = !returned && taking_ && setup_.holdAt > 0 && present >= setup_.holdAt &&
                    busy_ > 0 && memoryWaits_ == 0;
  HoldRenderer(lock, hold);
  if (!returned) return false;
  if (!taking_) {
    leftInFolder_ = unknown;
    return true;
  }
  return unknown == 0 && !encodersBusy;
}

void PagePipeline::HoldRenderer(std::unique_lock<std::mutex>& lock, bool hold) {
  if (hold == held_) return;
  held_ = hold;
  if (!hooks_.holdRenderer) return;
  lock.unlock();
  hooks_.holdRenderer(hold);
  lock.lock();
}

void PagePipeline::Encode() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !waiting_.empty() || handingOutDone_; });
    if (waiting_.empty()) return;
    EncodeNext(lock);
  }
}

void PagePipeline::EncodeNext(std::unique_lock<std::mutex>& lock) {
  const size_t index = waiting_.front();
  waiting_.pop_front();
  const std::string page = records_[index].page;
  ++busy_;
  changed_.notify_all();  // room for the watcher to hand out the next page
  lock.unlock();

  bool dropped = GiveUp();
  PageOutcome outcome;
  if (!dropped) outcome = ConvertWithin(page, &dropped);
  ::unlink(page.c_str());  // done with: it leaves the folder at once

  bool endsFile = false;
  lock.lock();
  --busy_;
  PageRecord& record = records_[index];
  if (dropped) {
    record.state = PageState::Dropped;
  } else {
    record.state = outcome.error.empty() ? PageState::Converted : PageState::Failed;
    if (outcome.endsFile && endReason_.empty()) {
      endReason_ = outcome.error;
      taking_ = false;
      ended_ = true;
      endsFile = true;
    }
    record.outcome = std::move(outcome);
  }
  changed_.notify_all();
  if (endsFile && hooks_.fileEnded) {
    const std::string reason = endReason_;
    lock.unlock();
    hooks_.fileEnded(reason);
    lock.lock();
  }
}

PageOutcome PagePipeline::ConvertWithin(const std::string& page, bool* dropped) {
  const auto giveUp = [this] { return GiveUp(); };
  ThreadBudget::Slot slot = threads_.Take(giveUp);
  if (!slot.Held()) {
    *dropped = true;
    return {};
  }
  const std::optional<PageFileHeader> header = ReadPageFileHeader(page);
  const uint64_t needed = PageConversionEstimate(header.value_or(PageFileHeader{}), setup_.steps);
  std::string error;
  MemoryBudget::Share share = memory_.TryTake(needed);
  if (!share.Granted()) {
    // Waiting for memory: the renderer is let go meanwhile (see the class comment).
    {
      std::lock_guard lock(mutex_);
      ++memoryWaits_;
    }
    changed_.notify_all();
    share = memory_.Take(needed, giveUp, &error);
    std::lock_guard lock(mutex_);
    --memoryWaits_;
  }
  if (!share.Granted()) {
    if (error.empty()) {
      *dropped = true;
      return {};
    }
    return {"", "Cannot convert " + page + ": " + error, false};
  }
  // A stop or the file's time may have come while the page waited for its thread and memory.
  if (GiveUp()) {
    *dropped = true;
    return {};
  }
  PageOutcome outcome;
  // Whatever goes wrong in one page fails that page, not the program.
  try {
    outcome = hooks_.convert(page);
  } catch (const std::bad_alloc&) {
    outcome = {"", "Out of memory", false};
  } catch (const std::exception& e) {
    outcome = {"", e.what(), false};
  }
  return outcome;
}

}  // namespace orvalis
