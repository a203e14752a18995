#pragma once
// How one file of the list went, from what is known once its last page is done: the status,
// the reason the row shows and the files it lists. A function of these facts alone, so that
// every combination can be checked as a table.

#include <span>
#include <string>
#include <vector>

#include "batch/batch_view.h"
#include "batch/page_schedule.h"

namespace orvalis {

struct FileFacts {
  bool stopped = false;     // the run was stopped
  std::string renderError;  // why the rendering failed or could not begin; "" when it finished
  std::string renderNotes;  // what the renderer reported about a rendering that finished
  std::span<const PageSchedule::Page> pages;  // every page the rendering left, in page order
  std::string endReason;     // the page error that ended the file, "" when none did
  bool timeUp = false;       // the file's time has run out
  std::string timeReason;    // what to say when it has
  bool merged = false;       // the pages go into one TIFF document
  std::string mergedOutput;  // its name
};

struct Verdict {
  RowResult result;
  // Every page went into the merged document: it is to be put in place, and the row succeeds
  // when that succeeds.
  bool putMergedInPlace = false;
};

Verdict JudgeFile(const FileFacts& facts);

// "1 page", "3 pages".
std::string PageCount(size_t pages);

}  // namespace orvalis
