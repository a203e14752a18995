#include "batch/row_verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvalis {
namespace {

using State = PageSchedule::PageState;

PageSchedule::Page Page(const std::string& name, State state, const std::string& error = "") {
  PageOutcome outcome;
  if (state == State::Converted) outcome.output = name + ".png";
  outcome.error = error;
  return {"/tmp/" + name + ".bmp", state, outcome, false};
}

TEST(RowVerdict, FactsToStatusAndReason) {
  const std::string time = "The file took longer than 5 s and was stopped";
  const struct {
    const char* name;
    std::vector<PageSchedule::Page> pages;
    std::string renderError;
    bool stopped, timeUp, merged;
    std::string endReason;
    RowStatus status;
    std::string reason;
    size_t outputs;
    bool putInPlace;
  } cases[] = {
      {"every page converted",
       {Page("p1", State::Converted), Page("p2", State::Converted)},
       "",
       false,
       false,
       false,
       "",
       RowStatus::Succeed,
       "",
       2,
       false},
      {"a stop keeps what was written",
       {Page("p1", State::Converted), Page("p2", State::Dropped)},
       "",
       true,
       false,
       false,
       "",
       RowStatus::Aborted,
       "",
       1,
       false},
      {"no page at all",
       {},
       "",
       false,
       false,
       false,
       "",
       RowStatus::Failed,
       "The file produced no page",
       0,
       false},
      {"a failed rendering without pages",
       {Page("p1", State::Cut)},
       "Error: /undefined",
       false,
       false,
       false,
       "",
       RowStatus::Failed,
       "Error: /undefined; 1 page cut short by the failure was not converted",
       0,
       false},
      {"a failed rendering keeps the pages before it",
       {Page("p1", State::Converted), Page("p2", State::Cut)},
       "Error: /undefined",
       false,
       false,
       false,
       "",
       RowStatus::Failed,
       "Error: /undefined; 1 page cut short by the failure was not converted",
       1,
       false},
      {"the first failed page in page order",
       {Page("p1", State::Converted), Page("p2", State::Failed, "bad p2"),
        Page("p3", State::Failed, "bad p3")},
       "",
       false,
       false,
       false,
       "",
       RowStatus::Failed,
       "bad p2",
       1,
       false},
      {"a cut page of a clean rendering",
       {Page("p1", State::Cut)},
       "",
       false,
       false,
       false,
       "",
       RowStatus::Failed,
       "The page file /tmp/p1.bmp is incomplete: it holds less than its header promises",
       0,
       false},
      {"time up with pages left",
       {Page("p1", State::Converted), Page("p2", State::Dropped), Page("p3", State::Left)},
       "",
       false,
       true,
       false,
       "",
       RowStatus::Failed,
       time + "; the 2 pages left were not converted",
       1,
       false},
      {"a page that ended the file",
       {Page("p1", State::Converted), Page("p2", State::Failed)},
       "",
       false,
       false,
       false,
       "Cannot write out/p2.png: the disk is full",
       RowStatus::Failed,
       "Cannot write out/p2.png: the disk is full",
       1,
       false},
      {"merged: whole",
       {Page("p1", State::Converted), Page("p2", State::Converted)},
       "",
       false,
       false,
       true,
       "",
       RowStatus::Succeed,
       "",
       1,
       true},
      {"merged: a failed rendering leaves the older document",
       {Page("p1", State::Converted)},
       "Error: /undefined",
       false,
       false,
       true,
       "",
       RowStatus::Failed,
       "Error: /undefined; the 1 page rendered before the failure went nowhere: out/d.tif was "
       "left as it was",
       0,
       false},
      {"merged: a cut page",
       {Page("p1", State::Converted), Page("p2", State::Cut)},
       "",
       false,
       false,
       true,
       "",
       RowStatus::Failed,
       "The page file /tmp/p2.bmp is incomplete; nothing was merged into out/d.tif",
       0,
       false},
      {"merged: a failed page",
       {Page("p1", State::Failed, "bad p1")},
       "",
       false,
       false,
       true,
       "",
       RowStatus::Failed,
       "bad p1; out/d.tif was left as it was",
       0,
       false},
      {"merged: time up",
       {Page("p1", State::Converted)},
       "",
       false,
       true,
       true,
       "",
       RowStatus::Failed,
       time,
       0,
       false},
      {"merged: a page that ended the file lists nothing",
       {Page("p1", State::Converted), Page("p2", State::Failed)},
       "",
       false,
       false,
       true,
       "Cannot write out/d.tif: the disk is full",
       RowStatus::Failed,
       "Cannot write out/d.tif: the disk is full",
       0,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FileFacts facts;
    facts.pages = c.pages;
    facts.renderError = c.renderError;
    facts.stopped = c.stopped;
    facts.timeUp = c.timeUp;
    facts.timeReason = time;
    facts.merged = c.merged;
    facts.mergedOutput = "out/d.tif";
    facts.endReason = c.endReason;
    const Verdict verdict = JudgeFile(facts);
    EXPECT_EQ(verdict.result.status, c.status);
    EXPECT_EQ(verdict.result.reason, c.reason);
    EXPECT_EQ(verdict.result.outputs.size(), c.outputs);
    EXPECT_EQ(verdict.putMergedInPlace, c.putInPlace);
  }
}

// What the interpreter reported while it went on explains a rendering that gave no page (a
// locked PDF), and is no failure when it gave pages.
TEST(RowVerdict, ReportsOfARenderingThatWentOn) {
  FileFacts facts;
  facts.renderNotes = "the interpreter reported: **** This file requires a password for access.";
  EXPECT_EQ(JudgeFile(facts).result.reason, "The file produced no page; " + facts.renderNotes);
  const std::vector<PageSchedule::Page> pages = {Page("p1", State::Converted)};
  facts.pages = pages;
  const Verdict verdict = JudgeFile(facts);
  EXPECT_EQ(verdict.result.status, RowStatus::Succeed);
  EXPECT_EQ(verdict.result.reason, "");
}

}  // namespace
}  // namespace orvalis
