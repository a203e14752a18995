#include "batch/row_verdict.h"

#include <algorithm>

namespace orvalis {

namespace {

using State = PageSchedule::PageState;

size_t Count(std::span<const PageSchedule::Page> pages, State state) {
  return static_cast<size_t>(std::count_if(
      pages.begin(), pages.end(), [state](const auto& page) { return page.state == state; }));
}

std::vector<std::string> Outputs(std::span<const PageSchedule::Page> pages) {
  std::vector<std::string> outputs;
  for (const PageSchedule::Page& page : pages) {
    if (!page.outcome.output.empty()) outputs.push_back(page.outcome.output);
  }
  return outputs;
}

const char* WasOrWere(size_t count) {
  return count == 1 ? "was" : "were";
}

Verdict JudgeMerged(const FileFacts& facts, const std::string& cutNote, size_t whole,
                    size_t notConverted) {
  const std::string& output = facts.mergedOutput;
  // A merged file replaces an older one only when it holds the whole document.
  if (!facts.renderError.empty()) {
    return {{RowStatus::Failed,
             facts.renderError + cutNote + "; the " + PageCount(whole) +
                 " rendered before the failure went nowhere: " + output + " was left as it was",
             {}}};
  }
  for (const PageSchedule::Page& page : facts.pages) {
    if (page.state == State::Cut) {
      return {{RowStatus::Failed,
               "The page file " + page.path + " is incomplete; nothing was merged into " + output,
               {}}};
    }
    if (page.state == State::Failed)
      return {{RowStatus::Failed, page.outcome.error + "; " + output + " was left as it was", {}}};
  }
  if (notConverted > 0 || facts.timeUp) return {{RowStatus::Failed, facts.timeReason, {}}};
  return {{RowStatus::Succeed, "", {output}}, true};
}

}  // namespace

std::string PageCount(size_t pages) {
  return std::to_string(pages) + (pages == 1 ? " page" : " pages");
}

Verdict JudgeFile(const FileFacts& facts) {
  const std::vector<std::string> outputs = Outputs(facts.pages);
  // A stop keeps the outputs already written, as between two pages.
  if (facts.stopped) return {{RowStatus::Aborted, "", outputs}};
  // A page whose outcome ended the file (a full disk, say) also stopped the rendering: the
  // rendering's own "stopped" follows from it, and the page's reason is the file's.
  if (!facts.endReason.empty())
    return {
        {RowStatus::Failed, facts.endReason, facts.merged ? std::vector<std::string>{} : outputs}};

  const size_t cut = Count(facts.pages, State::Cut);
  const size_t whole = facts.pages.size() - cut;
  const bool failed = !facts.renderError.empty();
  std::string cutNote;
  if (failed && cut > 0) {
    cutNote =
        "; " + PageCount(cut) + " cut short by the failure " + WasOrWere(cut) + " not converted";
  }
  if (facts.pages.empty() && !failed) {
    std::string reason = "The file produced no page";
    if (!facts.renderNotes.empty()) reason += "; " + facts.renderNotes;
    return {{RowStatus::Failed, reason, {}}};
  }
  if (failed && whole == 0) return {{RowStatus::Failed, facts.renderError + cutNote, {}}};
  // Pages left when the file's time ran out.
  const size_t notConverted = Count(facts.pages, State::Left) + Count(facts.pages, State::Dropped);
  if (facts.merged) return JudgeMerged(facts, cutNote, whole, notConverted);

  const std::string leftNote = notConverted == 0 ? ""
                                                 : "; the " + PageCount(notConverted) + " left " +
                                                       WasOrWere(notConverted) + " not converted";
  // The first page that failed, in page order, as when the pages are converted one by one.
  for (const PageSchedule::Page& page : facts.pages) {
    if (page.state == State::Failed) return {{RowStatus::Failed, page.outcome.error, outputs}};
    if (page.state == State::Cut && !failed) {
      return {
          {RowStatus::Failed,
           "The page file " + page.path + " is incomplete: it holds less than its header promises",
           outputs}};
    }
  }
  // Pages an interpreter left before it failed are converted, but the file did not convert.
  if (failed) return {{RowStatus::Failed, facts.renderError + cutNote + leftNote, outputs}};
  if (notConverted > 0) return {{RowStatus::Failed, facts.timeReason + leftNote, outputs}};
  return {{RowStatus::Succeed, "", outputs}};
}

}  // namespace orvalis
