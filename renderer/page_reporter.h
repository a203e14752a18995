#pragma once
// Tells the caller of a rendering each page file the interpreter has finished, as soon as it
// has closed it (inotify IN_CLOSE_WRITE on the folder the pages are written to), in the order it
// closed them: page order. A page written under a plain stand-in name (see render_session.cpp)
// is first renamed to the name the caller asked for; so is each page of a rendering that began
// past the document's first page, whose pages the interpreter numbers from 1. Each page is reported
// once; from then on it belongs to the caller, and the renderer never touches it again.
//
// Pages the renderer itself cut short are not reported but removed, as a renderer without a
// listener removes them: one that reached the file-size limit, and any closed once the
// renderer has begun to end the interpreter for lack of disk space or for too many files.

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "renderer/tavrinx.h"

namespace orvalis::renderer {

class PageReporter {
 public:
  // Watches `folder`, where the interpreter writes the files named by `writtenName` (an escaped
  // file-name pattern: one page number, '%' doubled), and reports the page it numbers n as the
  // file `finalPattern` (an escaped full path pattern) names for page n + `numberOffset`; with
  // no listener, the pages are only renamed. nullptr, with the reason in `error`, when the
  // folder cannot be watched.
  static std::unique_ptr<PageReporter> Start(const std::string& folder, std::string writtenName,
                                             std::string finalPattern, int numberOffset,
                                             uint64_t cutSize, RendererPageListener listener,
                                             void* context, std::string* error);
  ~PageReporter();
  PageReporter(const PageReporter&) = delete;
  PageReporter& operator=(const PageReporter&) = delete;

  int Fd() const { return fd_; }
  // Reads the events waiting and reports the pages they finished.
  void Drain();
  // From now on, pages closed are the interpreter's last, cut short by its end: they are
  // removed, not reported. Drains what is waiting first.
  void Withhold();
  // The pages the interpreter has finished so far, reported or not.
  size_t Finished() const { return reported_.size(); }
  // Whether a page reached the file-size limit (and was removed).
  bool CutAtSizeLimit() const { return cutAtSizeLimit_; }

 private:
  PageReporter(int fd, std::string folder, std::string writtenName, std::string finalPattern,
               int numberOffset, uint64_t cutSize, RendererPageListener listener, void* context);
  void Closed(const std::string& name);

  const int fd_;
  const std::string folder_;
  const std::string writtenName_;
  const std::string finalPattern_;
  const int numberOffset_;
  const uint64_t cutSize_;
  const RendererPageListener listener_;
  void* const context_;
  std::set<int> reported_;
  bool withholding_ = false;
  bool cutAtSizeLimit_ = false;
};

// The page number of `name` when the escaped file-name pattern `pattern` makes that very name
// for it; -1 otherwise.
int PageNumberOf(const std::string& name, const std::string& pattern);

// The name an escaped pattern makes for page `page`.
std::string PageName(const std::string& escapedPattern, int page);

}  // namespace orvalis::renderer
