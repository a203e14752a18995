#include "batch/page_schedule.h"

#include <algorithm>

namespace orvalis {

void PageSchedule::Actions::Add(Actions&& more) {
  convert.insert(convert.end(), more.convert.begin(), more.convert.end());
  remove.insert(remove.end(), std::make_move_iterator(more.remove.begin()),
                std::make_move_iterator(more.remove.end()));
  if (more.hold) hold = more.hold;
  if (more.holdSecond) holdSecond = more.holdSecond;
  endRendering = endRendering || more.endRendering;
  concluded = concluded || more.concluded;
}

bool PageSchedule::Knows(const std::string& path) const {
  return known_.count(path) != 0;
}

PageSchedule::Actions PageSchedule::PageFinished(const std::string& path, bool whole, Part part) {
  if (Knows(path) || concluded_) return {};
  Actions actions;
  Page page{path, PageState::Found, {}, false, part};
  if (part == Part::Second && second_ == SecondPart::Dropped) {
    page.state = PageState::Discarded;
  } else if (!taking_) {
    page.state = PageState::Left;
  } else if (!whole) {
    page.state = PageState::Cut;
  }
  if (page.state != PageState::Found) actions.remove.push_back(path);
  known_.insert(path);
  pages_.push_back(std::move(page));
  actions.Add(Advance());
  return actions;
}

PageSchedule::Actions PageSchedule::RenderingReturned() {
  returned_ = true;
  return Advance();
}

bool PageSchedule::Begin(size_t index) {
  Page& page = pages_.at(index);
  if (page.state != PageState::Handed) return false;
  page.state = PageState::Began;
  return true;
}

PageSchedule::Actions PageSchedule::WaitsForMemory(size_t index, bool waits) {
  pages_.at(index).waitsForMemory = waits;
  return Advance();
}

PageSchedule::Actions PageSchedule::Converted(size_t index, PageOutcome outcome) {
  Page& page = pages_.at(index);
  Actions actions;
  page.waitsForMemory = false;
  if (page.state == PageState::Handed || page.state == PageState::Began) {
    page.state = outcome.error.empty() ? PageState::Converted : PageState::Failed;
    actions.remove.push_back(page.path);
    const bool endsFile = outcome.endsFile && !outcome.error.empty();
    page.outcome = std::move(outcome);
    if (endsFile && endReason_.empty()) {
      endReason_ = page.outcome.error;
      StopTaking(actions, true);
      actions.endRendering = true;
    }
  }
  actions.Add(Advance());
  return actions;
}

PageSchedule::Actions PageSchedule::ReleaseSecondPart() {
  if (second_ == SecondPart::HeldBack) second_ = SecondPart::Released;
  return Advance();
}

PageSchedule::Actions PageSchedule::DropSecondPart() {
  Actions actions;
  if (second_ != SecondPart::HeldBack) return actions;
  second_ = SecondPart::Dropped;
  for (Page& page : pages_) {
    if (page.part != Part::Second || page.state != PageState::Found) continue;
    page.state = PageState::Discarded;
    actions.remove.push_back(page.path);
  }
  actions.Add(Advance());
  return actions;
}

PageSchedule::Actions PageSchedule::Stop() {
  Actions actions;
  StopTaking(actions, true);
  actions.endRendering = !returned_;
  actions.Add(Advance());
  return actions;
}

PageSchedule::Actions PageSchedule::TimeUp() {
  Actions actions;
  timeUp_ = true;
  actions.endRendering = !returned_;
  if (limits_.lateAllowance == 0) StopTaking(actions, true);
  actions.Add(Advance());
  return actions;
}

PageSchedule::Actions PageSchedule::LateStartOver() {
  Actions actions;
  timeUp_ = true;
  StopTaking(actions, true);
  actions.endRendering = !returned_;
  actions.Add(Advance());
  return actions;
}

void PageSchedule::StopTaking(Actions& actions, bool dropHanded) {
  taking_ = false;
  for (Page& page : pages_) {
    if (page.state == PageState::Found) {
      page.state = PageState::Left;
    } else if (page.state == PageState::Handed && dropHanded) {
      page.state = PageState::Dropped;
      page.waitsForMemory = false;
    } else {
      continue;
    }
    actions.remove.push_back(page.path);
  }
}

bool PageSchedule::MayBeHandedOut(const Page& page) const {
  return page.state == PageState::Found &&
         (page.part == Part::First || second_ == SecondPart::Released);
}

bool PageSchedule::IsHandedOut(const Page& page) const {
  return page.state == PageState::Handed || page.state == PageState::Began;
}

size_t PageSchedule::HandedOut() const {
  return static_cast<size_t>(std::count_if(pages_.begin(), pages_.end(),
                                           [this](const Page& page) { return IsHandedOut(page); }));
}

PageSchedule::Actions PageSchedule::Advance() {
  Actions actions;
  if (concluded_) return actions;
  const size_t inFlight = std::max<size_t>(limits_.inFlight, 1);
  // Handing out drops nothing (StopTaking below keeps what is handed), so one count serves.
  for (size_t handed = HandedOut(); taking_ && (limits_.overlap || returned_) && handed < inFlight;
       ++handed) {
    // The earliest page found and not handed out yet.
    size_t next = pages_.size();
    for (size_t i = 0; i < pages_.size(); ++i) {
      if (MayBeHandedOut(pages_[i]) &&
          (next == pages_.size() || ComesBeforeInPageOrder(pages_[i].path, pages_[next].path)))
        next = i;
    }
    if (next == pages_.size()) break;
    pages_[next].state = PageState::Handed;
    actions.convert.push_back(next);
    if (timeUp_ && ++takenLate_ >= limits_.lateAllowance) StopTaking(actions, false);
  }

  const bool hold = ShouldHold(Part::First);
  if (hold != held_) {
    held_ = hold;
    actions.hold = hold;
  }
  const bool holdSecond = ShouldHold(Part::Second);
  if (holdSecond != heldSecond_) {
    heldSecond_ = holdSecond;
    actions.holdSecond = holdSecond;
  }

  // A second part still held back when the renderings have returned is the caller's to
  // release or drop.
  if (returned_ && HandedOut() == 0 &&
      (!taking_ || std::none_of(pages_.begin(), pages_.end(),
                                [](const Page& page) { return page.state == PageState::Found; }))) {
    concluded_ = true;
    actions.concluded = true;
  }
  return actions;
}

bool PageSchedule::ShouldHold(Part part) const {
  if (returned_ || !taking_) return false;
  if (part == Part::Second && second_ == SecondPart::HeldBack) {
    const size_t heldBack =
        static_cast<size_t>(std::count_if(pages_.begin(), pages_.end(), [](const Page& page) {
          return page.part == Part::Second && page.state == PageState::Found;
        }));
    return limits_.pileAt > 0 && heldBack >= limits_.pileAt;
  }
  size_t inFolder = 1;  // the page being written
  bool oneHasMemory = false;
  bool oneWaits = false;
  for (const Page& page : pages_) {
    if (page.part != part) continue;
    if (page.state == PageState::Found || IsHandedOut(page)) ++inFolder;
    if (IsHandedOut(page)) {
      oneWaits = oneWaits || page.waitsForMemory;
      oneHasMemory = oneHasMemory || !page.waitsForMemory;
    }
  }
  return limits_.holdAt > 0 && inFolder >= limits_.holdAt && oneHasMemory && !oneWaits;
}

size_t PageSchedule::FinishedBy(Part part) const {
  return static_cast<size_t>(std::count_if(pages_.begin(), pages_.end(),
                                           [part](const Page& page) { return page.part == part; }));
}

size_t PageSchedule::Count(PageState state) const {
  return static_cast<size_t>(std::count_if(
      pages_.begin(), pages_.end(), [state](const Page& page) { return page.state == state; }));
}

PageSchedule::Progress PageSchedule::PagesDone(size_t counted) const {
  Progress progress;
  progress.done = Count(PageState::Converted) + Count(PageState::Failed);
  if (returned_) {
    progress.total = pages_.size() - Count(PageState::Cut) - Count(PageState::Discarded);
  } else {
    progress.total = counted;
  }
  // A count that came out short of the pages done is no count.
  if (progress.total < progress.done) progress.total = 0;
  return progress;
}

std::vector<std::string> PageSchedule::Outputs() const {
  std::vector<const Page*> written;
  for (const Page& page : pages_) {
    if (!page.outcome.output.empty()) written.push_back(&page);
  }
  std::sort(written.begin(), written.end(),
            [](const Page* a, const Page* b) { return ComesBeforeInPageOrder(a->path, b->path); });
  std::vector<std::string> outputs;
  for (const Page* page : written) outputs.push_back(page->outcome.output);
  return outputs;
}

}  // namespace orvalis
