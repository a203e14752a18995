#include "batch/page_pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
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
    : setup_(std::move(setup)), hooks_(std::move(hooks)), memory_(memory), threads_(threads) {
  const int parts = std::max(setup_.parts, 1);
  for (int part = 1; part <= parts; ++part) {
    parts_.push_back({});
    parts_.back().folder = PartFolder(setup_.folder, part, parts);
  }
}

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
    // Finish watches the folders itself, once every rendering has returned.
  }
}

void PagePipeline::PartReturned(int part, std::string error) {
  {
    std::lock_guard lock(mutex_);
    Part& returned = parts_.at(static_cast<size_t>(part - 1));
    returned.returned = true;
    returned.error = std::move(error);
  }
  changed_.notify_all();
}

void PagePipeline::RenderingReturned() {
  {
    std::lock_guard lock(mutex_);
    for (Part& part : parts_) part.returned = true;
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
  // The failure the document ended at: the one earliest in the document.
  int earliest = INT_MAX;
  for (const Part& part : parts_) {
    if (part.error.empty()) continue;
    const int at = part.failedAt > 0 ? part.failedAt : INT_MAX - 1;
    if (at < earliest) {
      earliest = at;
      summary.renderError = part.error;
    }
  }
  return summary;
}

void PagePipeline::Watch() {
  std::unique_lock lock(mutex_);
  while (!Look(lock)) changed_.wait_for(lock, kLookInterval);
  SteerRenderers(lock, std::vector<bool>(parts_.size(), false), {});
  handingOutDone_ = true;
  changed_.notify_all();
}

bool PagePipeline::Look(std::unique_lock<std::mutex>& lock) {
  // Whether each renderer had returned is taken before its folder is read: one that returns
  // meanwhile has its last page looked at the next time.
  std::vector<bool> returned;
  for (const Part& part : parts_) returned.push_back(part.returned);
  const bool allReturned = std::find(returned.begin(), returned.end(), false) == returned.end();
  if (!setup_.overlap && !allReturned) return false;
  lock.unlock();
  std::vector<std::vector<std::string>> found;
  for (const Part& part : parts_) found.push_back(CollectPages(part.folder));
  lock.lock();

  for (size_t i = 0; i < parts_.size(); ++i) {
    Part& part = parts_[i];
    part.settled = returned[i];
    part.files.clear();
    for (std::string& file : found[i]) {
      if (known_.count(file) == 0) part.files.push_back(std::move(file));
    }
    if (part.settled && !part.error.empty() && part.failedAt == 0) {
      // It failed at its last page when that is cut short, else at the page after it.
      const size_t written = part.taken + part.files.size();
      const bool lastCut = !part.files.empty() && !PageFileIsWhole(part.files.back());
      part.failedAt = PageOf(static_cast<int>(i) + 1, lastCut ? written : written + 1);
      endPage_ = std::min(endPage_, part.failedAt);
    }
  }

  bool encodersBusy = false;
  int awaitedPart = 0;
  const bool done = HandOut(&encodersBusy, &awaitedPart);

  size_t present = waiting_.size() + static_cast<size_t>(busy_);
  for (const Part& part : parts_) present += part.files.size();
  const bool holdAll =
      taking_ && setup_.holdAt > 0 && present >= setup_.holdAt && busy_ > 0 && memoryWaits_ == 0;
  std::vector<bool> hold(parts_.size(), false);
  std::vector<int> stop;
  for (size_t i = 0; i < parts_.size(); ++i) {
    Part& part = parts_[i];
    const int number = static_cast<int>(i) + 1;
    hold[i] = holdAll && !part.returned && !(parts_.size() > 1 && awaitedPart == number);
    // The page it is writing, or the first it will write, lies past where another one failed.
    const size_t written = part.taken + part.files.size();
    if (!part.returned && !part.stopped &&
        PageOf(number, std::max<size_t>(written, 1)) > endPage_) {
      part.stopped = true;
      stop.push_back(number);
    }
  }
  SteerRenderers(lock, hold, stop);

  if (!allReturned) return false;
  if (!taking_) {
    leftInFolder_ = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
      const Part& part = parts_[i];
      for (size_t k = 1; k <= part.files.size(); ++k) {
        leftInFolder_ += PageOf(static_cast<int>(i) + 1, part.taken + k) < endPage_ ? 1 : 0;
      }
    }
    return true;
  }
  return done && !encodersBusy;
}

bool PagePipeline::HandOut(bool* encodersBusy, int* awaitedPart) {
  for (;;) {
    const int page = nextPage_;
    if (page > endPage_) return true;
    const int owner = OwnerOf(page);
    Part& part = parts_[static_cast<size_t>(owner - 1)];
    if (part.files.empty()) {
      if (!part.settled) {
        *awaitedPart = owner;
        return false;
      }
      if (page == endPage_) return true;
      // Its renderer ended without this page: the document has no more, unless another
      // renderer still has some to give.
      bool more = false;
      for (const Part& other : parts_) more = more || !other.settled || !other.files.empty();
      if (!more) return true;
      ++nextPage_;
      continue;
    }
    // A page is still being written until its renderer writes the next or returns.
    if (!part.settled && part.files.size() < 2) {
      *awaitedPart = owner;
      return false;
    }
    if (!taking_) return false;
    // The page a failed renderer cut short is recorded, but takes no place among the pages.
    const bool failedHere = page == endPage_;
    if (!failedHere) {
      // Pages are handed out as encoders come free, so that a stop or the end of the file's
      // time finds most of them still in the folders. With several renderers, each of which
      // keeps a page the pipeline cannot take yet, a page is handed out only to an encoder
      // that is free: the encoder wakes the watcher as it ends a page.
      const size_t handedOut =
          parts_.size() > 1 ? waiting_.size() + static_cast<size_t>(busy_) : waiting_.size();
      if (handedOut >= static_cast<size_t>(std::max(setup_.encoders, 1))) {
        *encodersBusy = true;
        return false;
      }
      if (!hooks_.mayTake()) {
        taking_ = false;
        return false;
      }
    }
    std::string file = std::move(part.files.front());
    part.files.erase(part.files.begin());
    ++part.taken;
    ++nextPage_;
    known_.insert(file);
    PageRecord record{file, PageState::Waiting, {}};
    if (parts_.size() > 1) {
      // Named as a lone renderer would have named it.
      record.page = PageFileName(setup_.folder, setup_.baseName, page);
      if (::rename(file.c_str(), record.page.c_str()) != 0) {
        record.state = PageState::Failed;
        record.outcome.error = "Cannot take the page file " + file + ": " + std::strerror(errno);
        ::unlink(file.c_str());
        records_.push_back(std::move(record));
        continue;
      }
    }
    if (failedHere || !PageFileIsWhole(record.page)) {
      // Cut short: the renderer moved on (or ended) without finishing it. It is never converted.
      ::unlink(record.page.c_str());
      record.state = PageState::Cut;
      records_.push_back(std::move(record));
      if (failedHere) return true;
      continue;
    }
    records_.push_back(std::move(record));
    waiting_.push_back(records_.size() - 1);
    changed_.notify_all();
  }
}

void PagePipeline::SteerRenderers(std::unique_lock<std::mutex>& lock, const std::vector<bool>& hold,
                                  const std::vector<int>& stop) {
  std::vector<std::pair<int, bool>> changes;
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (parts_[i].held == hold[i]) continue;
    parts_[i].held = hold[i];
    changes.emplace_back(static_cast<int>(i) + 1, hold[i]);
  }
  if (changes.empty() && stop.empty()) return;
  lock.unlock();
  for (const auto& [part, held] : changes) {
    if (hooks_.holdRenderer) hooks_.holdRenderer(part, held);
  }
  for (int part : stop) {
    if (hooks_.stopRenderer) hooks_.stopRenderer(part);
  }
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
  const uint64_t needed =
      PageConversionEstimate(header ? header->DecodedBytes() : 0, setup_.engineFormat);
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
