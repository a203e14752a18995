#pragma once
// What the batch driver needs from a page renderer: open a handle, render one PostScript file
// into numbered BMP pages, close, and stop a rendering from another thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace orvalis {

class PageRenderer {
 public:
  virtual ~PageRenderer() = default;
  // A handle greater than 0, or 0 / a negative value on failure.
  virtual int Open() = 0;
  // Renders every page of `psPath` into files named by `pattern` (one "%03d" for the page
  // number, counted from 1). True when the interpreter finished without error.
  virtual bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
                      int yDpi) = 0;
  virtual void Close(int handle) = 0;
  // Ends a running Render at once; callable from any thread.
  virtual void Abort(int handle) = 0;
  // What the interpreter reported when the last Render failed; after a Render that succeeded,
  // what it reported while it went on ("" when nothing).
  virtual std::string LastError(int handle) = 0;
  // Caps the memory (address space) the interpreter of this handle may use in later Render
  // calls. A renderer that cannot cap it ignores the call.
  virtual void SetMemoryLimit(int /*handle*/, uint64_t /*bytes*/) {}
  // Holds the interpreter of a running Render where it is (true) or lets it go on (false);
  // callable from any thread. Abort ends a held rendering too. A renderer that cannot hold its
  // interpreter ignores the call.
  virtual void Pause(int /*handle*/, bool /*paused*/) {}
  // Reports the page files each later Render of `handle` finishes, on the thread running
  // Render, in page order; the file belongs to the listener from then on (it may be cut
  // short: the listener checks). False when this renderer cannot report pages: the caller
  // then finds the complete pages itself. An empty listener stops the reports.
  using PageListener = std::function<void(const std::string& page)>;
  virtual bool SetPageListener(int /*handle*/, PageListener /*listener*/) { return false; }
  // True when the last Render of `handle` failed only because no process could be started
  // (the user's process limit): nothing was rendered, and the same call may succeed once
  // another process has ended.
  virtual bool LackedProcess(int /*handle*/) { return false; }
  // The number of pages of the document at `path` when this renderer can render parts of it
  // (RenderPages): only a PDF document, whose pages do not depend on one another. nullopt for
  // any other document, when the count fails, or when the renderer cannot. `workFolder`: a
  // private folder it may use meanwhile. Stopped by Abort, like Render.
  virtual std::optional<int> PageCount(int /*handle*/, const std::string& /*path*/,
                                       const std::string& /*workFolder*/) {
    return std::nullopt;
  }
  // The pages the last Render or RenderPages of `handle` was held to: a PDF document's pages
  // (or the range's), or those a PostScript program cut short promised. A rendering that drew
  // fewer failed, its pages kept. nullopt when it was held to none, or the renderer cannot say.
  virtual std::optional<int> ExpectedPages(int /*handle*/) { return std::nullopt; }
  // Renders pages `first` to `last` (counted from 1) of such a document as Render renders all
  // of it, each page under its own number in `pattern`. False when it failed, or cannot.
  virtual bool RenderPages(int /*handle*/, const std::string& /*path*/,
                           const std::string& /*pattern*/, int /*xDpi*/, int /*yDpi*/,
                           int /*first*/, int /*last*/) {
    return false;
  }
};

}  // namespace orvalis
