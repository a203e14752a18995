#pragma once
// PageSchedule: what happens to the pages of one file while its renderer writes them, as a
// machine with no threads and no files of its own. Events go in (a page finished, the rendering
// returned, a page converted, its memory waited for or granted, a stop, the file's time run
// out); each returns the actions the caller carries out (convert a page, remove a page file,
// hold or release the renderer, end the rendering, conclude the file).
//
// The rules:
// - A finished page that is whole is handed out for conversion, in page order, as long as
//   fewer than `inFlight` pages of the file are handed out and not done. A finished page that is
//   not whole was cut short by the end of the rendering: it is never converted.
// - Without overlap, pages are handed out only once the rendering has returned.
// - The renderer is held while the folder holds `holdAt` page files or more (the one being
//   written included), while one of the file's pages has its memory and none waits for memory:
//   a page with its memory is sure to be converted, but memory may be held by interpreters,
//   this one among them, that give it back only when their rendering ends.
// - A document drawn by two interpreters at once (a PDF: its first pages by one, the rest by the
//   other) has a second part. Its pages are held back, never handed out, until the caller has
//   checked that the first part came out with every page it was to have, and released them; or
//   the caller drops them, and they are removed, never converted. Its renderer is held while
//   `pileAt` of its pages are held back (or, once released, by the rule above for its own pages).
// - A stop, or a page whose outcome ends the file (a full disk), takes no more pages and drops
//   those not begun. When the file's time runs out, `lateAllowance` more pages may still be
//   handed out; when the late start is over too, no page begins any more.
// - Every page file is removed through a `remove` action once it is done with: converted,
//   failed, cut, dropped or left. The file is done once the rendering has returned and no page
//   is handed out and not done.

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch/page_files.h"

namespace orvalis {

// What converting one page gave.
struct PageOutcome {
  std::string output;     // the file written, "" when none
  std::string error;      // why the page was not converted, "" when it was
  bool endsFile = false;  // the error ends the file: no further page is taken (a full disk)
};

class PageSchedule {
 public:
  struct Limits {
    size_t inFlight = 1;       // pages of the file handed out and not done, at most
    size_t holdAt = 0;         // page files in the folder at which the renderer is held; 0: never
    bool overlap = true;       // false: pages are handed out only once the rendering has returned
    size_t lateAllowance = 0;  // pages still handed out after the file's time ran out
    size_t pileAt = 0;         // second-part pages held back at which its renderer is held
  };

  // The rendering a page comes from: the file's only one, or the first of two that draw a
  // document in parts; or the second of those.
  enum class Part { First, Second };

  enum class PageState {
    Found,      // finished and whole, not handed out yet
    Handed,     // handed out, not begun
    Began,      // being converted
    Converted,  // done: written
    Failed,     // done: its conversion failed
    Cut,        // done: cut short, not converted
    Dropped,    // done: handed out but never begun (a stop, the time run out)
    Left,       // done: finished after pages stopped being taken, never handed out
    Discarded,  // done: drawn by a second part that was dropped; no page of the document
  };
  struct Page {
    std::string path;
    PageState state = PageState::Found;
    PageOutcome outcome;
    bool waitsForMemory = false;
    Part part = Part::First;
  };

  struct Actions {
    std::vector<size_t> convert;      // pages to convert (indexes into Pages())
    std::vector<std::string> remove;  // page files done with
    std::optional<bool> hold;         // hold (true) or release (false) the renderer
    std::optional<bool> holdSecond;   // the same for the second part's renderer
    bool endRendering = false;        // nothing more of the file is wanted: end its renderings
    bool concluded = false;           // the file is done: every page has its outcome
    void Add(Actions&& more);
  };

  explicit PageSchedule(Limits limits) : limits_(limits) {}

  // The renderer finished the page file at `path` (it closed it, or moved past it); `whole`
  // tells whether the file holds all its headers promise. A path seen before is ignored.
  Actions PageFinished(const std::string& path, bool whole, Part part = Part::First);
  // The rendering has returned; the pages it left were all reported before.
  Actions RenderingReturned();
  // Page `index` is about to be converted: true when it may begin (it was not dropped).
  bool Begin(size_t index);
  // Page `index` waits for its memory (true) or has it (false).
  Actions WaitsForMemory(size_t index, bool waits);
  // Page `index` has been converted, or its conversion failed.
  Actions Converted(size_t index, PageOutcome outcome);
  // The first part came out as counted: the second part's pages are handed out from now on.
  Actions ReleaseSecondPart();
  // The first part did not: the second part's pages, those held back and those still to come,
  // are removed and never converted.
  Actions DropSecondPart();
  Actions Stop();
  Actions TimeUp();
  Actions LateStartOver();

  const std::vector<Page>& Pages() const { return pages_; }
  // Whether the page file at `path` has been finished before.
  bool Knows(const std::string& path) const;
  bool Concluded() const { return concluded_; }
  // Whether the renderer of `part` is to be held now.
  bool Held(Part part = Part::First) const { return part == Part::First ? held_ : heldSecond_; }
  // Pages `part` has finished, whole or not.
  size_t FinishedBy(Part part) const;
  bool RenderingHasReturned() const { return returned_; }
  // The error of the page that ended the file, "" when none did.
  const std::string& EndReason() const { return endReason_; }
  // Pages in `state`.
  size_t Count(PageState state) const;
  // The files written, in page order.
  std::vector<std::string> Outputs() const;
  // Pages done (converted, or their conversion failed), and the pages of the document: once the
  // rendering has returned, those it finished whole; before, `counted` (the document's count
  // when it is known in advance, else 0: not known yet).
  struct Progress {
    size_t done = 0;
    size_t total = 0;
  };
  Progress PagesDone(size_t counted = 0) const;

 private:
  // Hands out what may be, holds or releases the renderer, and concludes when done.
  Actions Advance();
  // No more pages are handed out; those handed out and not begun are dropped too when
  // `dropHanded`.
  void StopTaking(Actions& actions, bool dropHanded);
  bool IsHandedOut(const Page& page) const;
  bool MayBeHandedOut(const Page& page) const;
  size_t HandedOut() const;
  // Whether the renderer of `part` is to be held, by the page files it left waiting.
  bool ShouldHold(Part part) const;

  const Limits limits_;
  std::vector<Page> pages_;      // in the order they finished
  std::set<std::string> known_;  // their paths
  bool returned_ = false;
  bool taking_ = true;
  bool timeUp_ = false;
  size_t takenLate_ = 0;
  bool held_ = false;
  bool heldSecond_ = false;
  enum class SecondPart { HeldBack, Released, Dropped } second_ = SecondPart::HeldBack;
  bool concluded_ = false;
  std::string endReason_;
};

}  // namespace orvalis
