#include "renderer/render_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/file_descriptor.h"
#include "renderer/child_process.h"
#include "renderer/declared_pages.h"
#include "renderer/eps_bounding_box.h"
#include "renderer/gs_arguments.h"
#include "renderer/interpreter_output.h"
#include "renderer/interpreter_sandbox.h"
#include "renderer/page_reporter.h"
#include "renderer/tavrinx.h"

extern char** environ;

namespace orvalis::renderer {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using limits::kMaxResolution;
using limits::kMinResolution;
constexpr const char* kStoppedMessage = "the rendering was stopped";

// A private folder beside the pages for everything the interpreter writes besides them (its
// temporary files, and whatever a document writes into its temporary folder), removed with its
// contents when the rendering ends, so the page folder holds only pages.
class ScratchFolder {
 public:
  static std::unique_ptr<ScratchFolder> Create(const fs::path& parent, std::string* error) {
    std::string name = (parent / ".tavrinx_XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) {
      *error = "cannot create a private folder in " + parent.string() + ": " + std::strerror(errno);
      return nullptr;
    }
    return std::make_unique<ScratchFolder>(std::move(name));
  }
  explicit ScratchFolder(std::string path) : path_(std::move(path)) {}
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The caller's environment, with the temporary folder pointed at `scratch` and GS_OPTIONS
// dropped (it could switch SAFER off).
std::vector<std::string> ChildEnvironment(const std::string& scratch) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (name == "TMPDIR" || name == "TMP" || name == "TEMP" || name == "GS_OPTIONS") continue;
    environment.emplace_back(text);
  }
  for (const char* name : {"TMPDIR=", "TMP=", "TEMP="}) environment.push_back(name + scratch);
  return environment;
}

// Longest file name the file systems we write to take (NAME_MAX on Linux).
constexpr size_t kMaxNameBytes = 255;

// The longest page name the pattern can give: the page number grows past three digits, up to
// the largest number the interpreter counts to.
std::string LongestPageName(const std::string& escapedPattern) {
  return PageName(fs::path(escapedPattern).filename().string(), INT_MAX);
}

// Why the pages cannot be written under `pattern` (escaped: its escaped form, nullopt when it
// has no page number), or nullopt when they can.
std::optional<std::string> PatternProblem(const std::string& pattern,
                                          const std::optional<std::string>& escaped) {
  if (!escaped) return "the output pattern " + pattern + " has no page number (%d or %03d)";
  const std::string longest = LongestPageName(*escaped);
  if (longest.size() <= kMaxNameBytes) return std::nullopt;
  return "the page files would be named up to " + longest + ", " + std::to_string(longest.size()) +
         " bytes, longer than the " + std::to_string(kMaxNameBytes) +
         " a file name may have; rename the file";
}

// Ghostscript reads the names on its command line as UTF-8 and drops the bytes that are not
// (a name like "caf\xe9.ps" from an older system becomes "caf.ps"), so such a source is
// given through a link, and its pages are written under plain names, both in the
// interpreter's working folder, and renamed afterwards.
constexpr const char* kPlainSource = "source";
constexpr std::string_view kPlainPagePrefix = "page_";
constexpr std::string_view kPlainPageSuffix = ".bmp";

bool NeedsPlainNames(const std::string& path) {
  return PrintableText(path) != path;
}

// Moves the pages written under plain names in `scratch` to the names of `escapedPattern`, page
// n to the name of page n + `numberOffset`.
void MovePlainPages(const std::string& scratch, const std::string& escapedPattern,
                    int numberOffset) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() <= kPlainPagePrefix.size() + kPlainPageSuffix.size() ||
        !name.starts_with(kPlainPagePrefix) || !name.ends_with(kPlainPageSuffix)) {
      continue;
    }
    const std::string digits = name.substr(
        kPlainPagePrefix.size(), name.size() - kPlainPagePrefix.size() - kPlainPageSuffix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code moveError;
    fs::rename(entry.path(), PageName(escapedPattern, std::stoi(digits) + numberOffset), moveError);
  }
}

// Links `source` into `scratch` under the plain name kPlainSource; the reason when it cannot,
// naming the folder the caller gave rather than our private one.
std::optional<std::string> LinkSource(const std::string& source, const ScratchFolder& scratch) {
  std::error_code linkError;
  fs::create_symlink(source, fs::path(scratch.Path()) / kPlainSource, linkError);
  if (!linkError) return std::nullopt;
  return "cannot link " + source + " into a private folder in " +
         fs::path(scratch.Path()).parent_path().string() + ": " + linkError.message();
}

// The interpreter names a file it cannot open as it was given it, "(source)" for the link to
// `source`: the caller knows it by the name it gave.
std::string NamedAsGiven(std::string message, const std::string& source) {
  const std::string link = "(" + std::string(kPlainSource) + ")";
  const std::string given = "(" + source + ")";
  for (size_t at = message.find(link); at != std::string::npos;
       at = message.find(link, at + given.size()))
    message.replace(at, link.size(), given);
  return message;
}

// Whether the file at `path` begins as a PDF document does. Only such a document's pages are
// counted or drawn in parts: they do not depend on one another, where a PostScript program's
// pages are whatever the program prints, in whatever order and number.
bool BeginsAsPdf(const std::string& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  char start[5] = {};
  ssize_t n = -1;
  do {
    n = fd.Get() >= 0 ? ::pread(fd.Get(), start, sizeof start, 0) : -1;
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof start) && std::memcmp(start, "%PDF-", sizeof start) == 0;
}

std::string NotPdfMessage(const std::string& path) {
  return path +
         " does not begin with %PDF-: only a PDF document's pages are counted or drawn "
         "in parts";
}

// What kind of file a non-regular file is, in words.
const char* FileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

// Whether `path` is an EPS figure to draw on a page of its bounding box.
bool IsEpsToCrop(const std::string& path, int xdpi, int ydpi) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.Get() < 0) return false;
  std::string start;
  bool whole = false;
  char buffer[1 << 16];
  while (start.size() <= kEpsHeaderBytes) {
    // The first bytes say whether it is EPS at all: most files are not read further.
    const size_t want = start.empty() ? 32 : sizeof buffer;
    const ssize_t n = ::read(fd.Get(), buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      whole = n == 0;
      break;
    }
    start.append(buffer, static_cast<size_t>(n));
    if (!start.starts_with("%!PS-Adobe-")) break;
  }
  if (start.size() > kEpsHeaderBytes) start.resize(kEpsHeaderBytes);
  return CropsToBoundingBox(start, whole, xdpi, ydpi);
}

// Checks that the source can be read and is a regular file, for a clearer message than the
// interpreter's. A named pipe or a terminal would keep the interpreter waiting for input that
// may never come, and a device like /dev/zero never ends.
std::optional<std::string> SourceProblem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return "cannot open " + path + ": " + std::strerror(errno);
  struct stat info {};
  const int statResult = ::fstat(fd, &info);
  const int statError = errno;
  ::close(fd);
  if (statResult != 0) return "cannot read " + path + ": " + std::strerror(statError);
  if (!S_ISREG(info.st_mode)) {
    return path + " is " + FileKind(info.st_mode) + ", not a PostScript file";
  }
  return std::nullopt;
}

// Removes the page files in `folder` that reached the file size limit: the interpreter was
// stopped while writing them, so they are cut short.
// True when there was one.
bool RemoveCutPages(const fs::path& folder) {
  bool removed = false;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    std::error_code sizeError;
    if (entry.is_regular_file(sizeError) &&
        entry.file_size(sizeError) >= RenderSession::kFileSizeLimit && !sizeError) {
      removed = fs::remove(entry.path(), sizeError) || removed;
    }
  }
  return removed;
}

// Removes the page file the interpreter was writing when it was ended: the one of the highest
// number (it writes them in order; two pages may carry the same modification time).
void RemoveNewestPage(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  fs::path newest;
  int highest = -1;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const int page = PageNumberOf(entry.path().filename().string(), name);
    if (page > highest) {
      highest = page;
      newest = entry.path();
    }
  }
  if (!newest.empty()) fs::remove(newest, ec);
}

std::string DiskFullMessage(const fs::path& folder, const std::string& left) {
  return "the disk holding " + folder.string() + " is nearly full (" + left +
         " left); the rendering was stopped: free some space, or use a lower resolution or "
         "fewer pages";
}

std::string TooManyFilesMessage() {
  return "the document created more than " + std::to_string(RenderSession::kMaxScratchFiles) +
         " temporary files and was stopped";
}

std::string PageTooLargeMessage(int xdpi, int ydpi) {
  return "a page is too large: at " + std::to_string(xdpi) + " x " + std::to_string(ydpi) +
         " dpi its image would take more than the " +
         std::to_string(RenderSession::kMaxPageImageBytes >> 20) +
         " MiB a page may have; use a lower resolution";
}

// The page files in `folder` that the escaped file-name pattern `name` numbers.
size_t PagesIn(const fs::path& folder, const std::string& name) {
  size_t count = 0;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    if (PageNumberOf(entry.path().filename().string(), name) >= 0) ++count;
  }
  return count;
}

// Why a PDF rendering that ended well still failed: it drew fewer pages than it set out to.
// The pages are named where those it never began account for every one missing.
std::string PdfPagesMissingMessage(const PdfProgress& progress, size_t drawn,
                                   const std::string& reported) {
  const int expected = *progress.Expected();
  const size_t missing = static_cast<size_t>(expected) - drawn;
  std::string text;
  const std::optional<std::set<int>> notBegun = progress.NotBegun();
  if (notBegun && notBegun->size() == missing) {
    text = PageNumbersText(*notBegun) + (missing == 1 ? " was" : " were") + " not drawn";
  } else {
    const std::string of = *progress.first == 1
                               ? "the " + std::to_string(expected) + " pages"
                               : "pages " + std::to_string(*progress.first) + "\u2013" +
                                     std::to_string(*progress.last);
    text = std::to_string(missing) + " of " + of + (missing == 1 ? " was" : " were") +
           " not drawn";
  }
  return text + (reported.empty() ? "" : ": " + reported);
}

// Reads what is waiting in the output pipe. False once the pipe is closed.
bool DrainOutput(int fd, InterpreterOutput& output) {
  char buffer[8192];
  for (int round = 0; round < 64; ++round) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      output.Append(std::string_view(buffer, static_cast<size_t>(n)));
    } else if (n == 0) {
      return false;
    } else if (errno != EINTR) {
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
  }
  return true;
}

// Free bytes and files of the file system holding `folder`, for an unprivileged user. A file
// system without an inode count reports no files left to count.
struct FreeSpace {
  uint64_t bytes = 0;
  uint64_t files = 0;
  bool countsFiles = false;
};
std::optional<FreeSpace> FreeSpaceOf(const std::string& folder) {
  struct statvfs info {};
  if (::statvfs(folder.c_str(), &info) != 0) return std::nullopt;
  return FreeSpace{static_cast<uint64_t>(info.f_bavail) * info.f_frsize, info.f_favail,
                   info.f_files != 0};
}

// Watches the free space of the file system the pages go to, in bytes and in files.
class FreeSpaceGuard {
 public:
  // `floor`: the free space below which the rendering stops; by default the reserve, or half
  // of what is free now when that is less than twice the reserve; the same for files.
  FreeSpaceGuard(std::string folder, std::optional<uint64_t> floor) : folder_(std::move(folder)) {
    const std::optional<FreeSpace> free = FreeSpaceOf(folder_);
    if (floor) {
      floor_ = *floor;
    } else if (free) {
      floor_ = std::min(RenderSession::kFreeSpaceReserve, free->bytes / 2);
    }
    if (free && free->countsFiles)
      fileFloor_ = std::min(RenderSession::kFreeFilesReserve, free->files / 2);
  }
  // What is left ("12 MiB", "40 files") once the free space has fallen below a floor, else "";
  // looks at most every 100 ms.
  std::string Exhausted() {
    const Clock::time_point now = Clock::now();
    if (now < nextCheck_) return "";
    nextCheck_ = now + std::chrono::milliseconds(100);
    const std::optional<FreeSpace> free = FreeSpaceOf(folder_);
    if (!free) return "";
    if (free->bytes < floor_) return std::to_string(free->bytes >> 20) + " MiB";
    if (free->countsFiles && free->files < fileFloor_)
      return std::to_string(free->files) + " files";
    return "";
  }

 private:
  std::string folder_;
  uint64_t floor_ = 0;
  uint64_t fileFloor_ = 0;
  Clock::time_point nextCheck_{};
};

// Counts the files created in the scratch folder (the document's temporary folder and the
// interpreter's working folder), through inotify, so that a document creating files without
// end is seen at once rather than at the next look at the disk. A file moved out of it (a page
// written under a plain name, renamed into place once finished) no longer counts.
class FileCreationCounter {
 public:
  explicit FileCreationCounter(const std::string& folder) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 &&
        ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileCreationCounter() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileCreationCounter(const FileCreationCounter&) = delete;
  FileCreationCounter& operator=(const FileCreationCounter&) = delete;
  int Fd() const { return fd_; }
  // Reads the waiting events; returns the files created so far.
  uint64_t Drain() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
      const ssize_t n = fd_ >= 0 ? ::read(fd_, buffer, sizeof buffer) : -1;
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        // A lost count (the queue overflowed) means many files at once.
        if ((event->mask & IN_Q_OVERFLOW) != 0) {
          count_ += RenderSession::kMaxScratchFiles;
        } else if ((event->mask & IN_MOVED_FROM) != 0) {
          count_ -= std::min<uint64_t>(count_, 1);
        } else {
          ++count_;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return count_;
  }

 private:
  int fd_ = -1;
  uint64_t count_ = 0;
};

// Asks the child's group to end; a group held by Pause is let go, so that it can.
void Terminate(ChildProcess& child) {
  child.SignalGroup(SIGTERM);
  child.SignalGroup(SIGCONT);
}

// Follows the child until it ends: collects its output, reports the pages it finishes (when
// `pages` is given), and on a wake-up from Abort, when the disk of the pages runs short of
// space or files, or when the document creates more temporary files than it may, ends its
// process group (SIGTERM, then SIGKILL after the grace). Leaves the ended child unreaped;
// `diskFull` gets what was left on the disk, and `tooManyFiles` is set when the document went
// past the cap on its temporary files.
void FollowChild(ChildProcess& child, int wakeFd, InterpreterOutput& output, FreeSpaceGuard& space,
                 FileCreationCounter& files, PageReporter* pages, bool* stopped,
                 std::string* diskFull, bool* tooManyFiles) {
  bool outputOpen = true;
  bool killed = false;
  Clock::time_point killAt{};
  for (;;) {
    const bool ending = *stopped || !diskFull->empty() || *tooManyFiles;
    if (!ending) {
      *diskFull = space.Exhausted();
      *tooManyFiles = files.Drain() > RenderSession::kMaxScratchFiles;
      if (!diskFull->empty() || *tooManyFiles) {
        // The page being written is cut short by the end: the caller never gets it.
        if (pages != nullptr) pages->Withhold();
        Terminate(child);
        killAt = Clock::now() + RenderSession::kKillGrace;
      }
    }
    pollfd fds[4] = {{outputOpen ? child.OutputFd() : -1, POLLIN, 0},
                     {wakeFd, POLLIN, 0},
                     {ending ? -1 : files.Fd(), POLLIN, 0},
                     {pages != nullptr ? pages->Fd() : -1, POLLIN, 0}};
    int timeout = outputOpen ? 50 : 5;
    if (ending && !killed) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(killAt - Clock::now());
      timeout = static_cast<int>(std::clamp<int64_t>(left.count(), 0, timeout));
    }
    ::poll(fds, 4, timeout);
    if ((fds[3].revents & POLLIN) != 0) pages->Drain();
    if ((fds[1].revents & POLLIN) != 0) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wakeFd, &count, sizeof count);
      if (!*stopped) {
        *stopped = true;
        Terminate(child);
        if (!ending) killAt = Clock::now() + RenderSession::kKillGrace;
      }
    }
    if (outputOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      outputOpen = DrainOutput(child.OutputFd(), output);
    }
    if ((*stopped || !diskFull->empty() || *tooManyFiles) && !killed && Clock::now() >= killAt) {
      child.SignalGroup(SIGKILL);
      killed = true;
    }
    if (child.HasExited()) {
      if (outputOpen) DrainOutput(child.OutputFd(), output);
      // The files of an ended process are closed before it is seen to end.
      if (pages != nullptr) pages->Drain();
      break;
    }
  }
  output.Finish();
}

// The interpreter's lines are marked as such: they carry whatever the document printed, which
// may look like our own messages.
std::string FailureMessage(int status, const std::string& summary) {
  const std::string ending = "Ghostscript " + DescribeWaitStatus(status);
  if (summary.empty()) return ending;
  const std::string reported = std::string(kInterpreterReported) + summary;
  if (WIFEXITED(status) && summary.find("Unrecoverable error") != std::string::npos) {
    return reported;
  }
  return reported + "\n" + ending;
}

}  // namespace

int RenderSession::Render(const char* psPath, const char* pattern, int xdpi, int ydpi,
                          std::optional<PageRange> pages) {
  return RunExclusive([&](int wakeFd) -> Outcome {
    if (psPath == nullptr || psPath[0] == '\0')
      return {TAVRINX_RENDER_FAILED, "no PostScript file given"};
    if (pattern == nullptr || pattern[0] == '\0')
      return {TAVRINX_RENDER_FAILED, "no output file pattern given"};
    if (pages && (pages->first < 1 || pages->first > pages->last || pages->last > kMaxRangePage))
      return {TAVRINX_RENDER_FAILED, "no such page range: " + std::to_string(pages->first) +
                                         " to " + std::to_string(pages->last)};
    return RunInterpreter(psPath, pattern, xdpi, ydpi, pages, wakeFd);
  });
}

int RenderSession::CountPages(const char* pdfPath, const char* workFolder, int* count) {
  *count = -1;
  return RunExclusive([&](int wakeFd) -> Outcome {
    if (pdfPath == nullptr || pdfPath[0] == '\0')
      return {TAVRINX_RENDER_FAILED, "no PDF file given"};
    if (workFolder == nullptr || workFolder[0] == '\0')
      return {TAVRINX_RENDER_FAILED, "no folder to work in given"};
    return RunPageCount(pdfPath, workFolder, wakeFd, count);
  });
}

int RenderSession::RunExclusive(const std::function<Outcome(int wakeFd)>& body) {
  int wakeFd = -1;
  {
    std::lock_guard lock(mutex_);
    if (busy_) return TAVRINX_RENDER_FAILED;  // the running one keeps its own message
    if (aborted_) {
      lastError_ = kStoppedMessage;
      return TAVRINX_RENDER_ABORTED;
    }
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
      lastError_ = std::string("cannot create an event descriptor: ") + std::strerror(errno);
      return TAVRINX_RENDER_FAILED;
    }
    busy_ = true;
    wakeFd_ = wakeFd;
    lastError_.clear();
    expectedPages_ = -1;
  }
  Outcome outcome = body(wakeFd);
  std::lock_guard lock(mutex_);
  ::close(wakeFd);
  wakeFd_ = -1;
  busy_ = false;
  lastError_ = std::move(outcome.message);
  expectedPages_ = outcome.expectedPages;
  return outcome.result;
}

std::optional<RenderSession::Ended> RenderSession::RunConfined(std::vector<std::string> arguments,
                                                               const InterpreterPaths& paths,
                                                               int wakeFd, PageReporter* pages,
                                                               InterpreterOutput& output,
                                                               Outcome* failure) {
  SpawnRequest request;
  request.arguments = std::move(arguments);
  request.environment = ChildEnvironment(paths.scratchFolder);
  request.workingFolder = paths.scratchFolder;
  request.addressSpaceLimit = addressSpaceLimit_;
  request.fileSizeLimit = kFileSizeLimit;
  KernelProtections kernel = ThisKernelProtections();
#ifdef ORVALIS_INTERPRETER_TEST_HOOK
  if (testHook_.withoutSafer)
    std::replace(request.arguments.begin(), request.arguments.end(), std::string("-dSAFER"),
                 std::string("-dNOSAFER"));
  if (testHook_.kernel) kernel = *testHook_.kernel;
  if (testHook_.unconfined) kernel = KernelProtections{};
#endif
  std::string error;
  const std::optional<InterpreterSandbox> sandbox =
      InterpreterSandbox::Prepare(kernel, paths, &error);
  if (!sandbox) {
    *failure = {TAVRINX_RENDER_FAILED, "cannot confine the interpreter: " + error};
    return std::nullopt;
  }
  request.confinement = sandbox->ForChild();
  // Watched before the interpreter starts, so that no file it creates goes uncounted.
  FileCreationCounter files(paths.scratchFolder);
  bool outOfProcesses = false;
  std::unique_ptr<ChildProcess> child;
  {
    // Held from before the fork until the group is known, so that a Pause meanwhile waits and
    // then reaches the interpreter: Ctrl+Z holds the renderings and then stops this process,
    // which could otherwise stop between the fork and the check below, leaving the new
    // interpreter running.
    std::lock_guard lock(mutex_);
    child = ChildProcess::Start(request, &error, &outOfProcesses);
    if (child) {
      childGroup_ = child->Pid();
      if (paused_) ::kill(-childGroup_, SIGSTOP);
    }
  }
  if (!child) {
    *failure = {outOfProcesses ? TAVRINX_RENDER_NO_PROCESS : TAVRINX_RENDER_FAILED, error};
    return std::nullopt;
  }
  Ended ended;
  FreeSpaceGuard space(paths.pageFolder, freeSpaceFloor_);
  FollowChild(*child, wakeFd, output, space, files, pages, &ended.stopped, &ended.diskFull,
              &ended.tooManyFiles);
  {
    // No signal from Pause may reach the group once its id can be reused.
    std::lock_guard lock(mutex_);
    childGroup_ = 0;
  }
  ended.status = child->Reap();
  return ended;
}

RenderSession::Outcome RenderSession::RunInterpreter(const std::string& psPath,
                                                     const std::string& pattern, int xdpi, int ydpi,
                                                     std::optional<PageRange> range, int wakeFd) {
  // Absolute paths: a name starting with '-' or '@' is then never read as an option, and the
  // child can work in its own folder.
  std::error_code sourceError;
  std::error_code patternError;
  const std::string source = fs::absolute(psPath, sourceError).string();
  const fs::path outputPattern = fs::absolute(pattern, patternError);
  if (sourceError || patternError) {
    return {TAVRINX_RENDER_FAILED, "cannot make the paths absolute: " +
                                       (sourceError ? sourceError : patternError).message()};
  }
  if (std::optional<std::string> problem = SourceProblem(source)) {
    return {TAVRINX_RENDER_FAILED, *problem};
  }
  Promise promise;
  promise.pdf = BeginsAsPdf(source);
  if (range && !promise.pdf) return {TAVRINX_RENDER_FAILED, NotPdfMessage(source)};
  if (!promise.pdf) promise.cutProgramPages = PagesPromisedByCutProgram(source);
  const std::optional<std::string> escaped = EscapeOutputPattern(outputPattern.string());
  if (std::optional<std::string> problem = PatternProblem(outputPattern.string(), escaped)) {
    return {TAVRINX_RENDER_FAILED, *problem};
  }
  std::string error;
  const std::unique_ptr<ScratchFolder> scratch =
      ScratchFolder::Create(outputPattern.parent_path(), &error);
  if (!scratch) return {TAVRINX_RENDER_FAILED, error};

  xdpi = std::clamp(xdpi, kMinResolution, kMaxResolution);
  ydpi = std::clamp(ydpi, kMinResolution, kMaxResolution);
  std::string gsSource = source;
  std::string gsPattern = *escaped;
  // The interpreter numbers the pages of a range from 1: they are written under plain names
  // too, and renamed to their own numbers.
  const bool plainNames =
      NeedsPlainNames(source) || NeedsPlainNames(outputPattern.string()) || range.has_value();
  const int numberOffset = range ? range->first - 1 : 0;
  if (plainNames) {
    if (std::optional<std::string> problem = LinkSource(source, *scratch)) {
      return {TAVRINX_RENDER_FAILED, *problem};
    }
    // Relative to the working folder: its own path may hold such bytes too.
    gsSource = kPlainSource;
    gsPattern = std::string(kPlainPagePrefix) + "%d" + std::string(kPlainPageSuffix);
  }
  RendererPageListener listener = nullptr;
  void* listenerContext = nullptr;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
    listenerContext = listenerContext_;
  }
  // Watched before the interpreter starts, so that no page it finishes goes unreported.
  std::unique_ptr<PageReporter> pages;
  // Pages under plain names are renamed into place as they are finished, reported or not, so
  // that they never pile up in the scratch folder. Without inotify, the pages are found and
  // renamed once the interpreter has ended.
  if (listener != nullptr || plainNames) {
    pages = PageReporter::Start(plainNames ? scratch->Path() : outputPattern.parent_path().string(),
                                plainNames ? gsPattern : fs::path(*escaped).filename().string(),
                                *escaped, numberOffset, kFileSizeLimit, listener, listenerContext,
                                &error);
  }
  // A PDF rendering is not quiet: the interpreter then says how many pages it draws.
  InterpreterOutput output(promise.pdf);
  Outcome failure;
  const std::optional<Ended> ended =
      RunConfined(GhostscriptArguments(gsPath_, gsSource, gsPattern, xdpi, ydpi,
                                       !range && IsEpsToCrop(source, xdpi, ydpi), range,
                                       /*quiet=*/!promise.pdf),
                  {gsPath_, source, outputPattern.parent_path().string(), scratch->Path()}, wakeFd,
                  pages.get(), output, &failure);
  if (!ended) return failure;
  if (plainNames) MovePlainPages(scratch->Path(), *escaped, numberOffset);
  Outcome judged = JudgeRendering(*ended, output, promise, pages.get(), *escaped, xdpi, ydpi);
  if (plainNames) judged.message = NamedAsGiven(std::move(judged.message), source);
  return judged;
}

RenderSession::Outcome RenderSession::JudgeRendering(const Ended& ended,
                                                     const InterpreterOutput& output,
                                                     const Promise& promise,
                                                     const PageReporter* pages,
                                                     const std::string& pagePattern, int xdpi,
                                                     int ydpi) {
  const std::string pageFolder = fs::path(pagePattern).parent_path().string();
  const int status = ended.status;
  if (ended.stopped) return {TAVRINX_RENDER_ABORTED, kStoppedMessage};
  if (!ended.diskFull.empty() || ended.tooManyFiles) {
    // The pages before the one being written are whole and stay (a listener never got it).
    if (pages == nullptr) RemoveNewestPage(pageFolder, fs::path(pagePattern).filename().string());
    return {TAVRINX_RENDER_FAILED, ended.tooManyFiles
                                       ? TooManyFilesMessage()
                                       : DiskFullMessage(pageFolder, ended.diskFull)};
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    const size_t drawn = pages != nullptr
                             ? pages->Finished()
                             : PagesIn(pageFolder, fs::path(pagePattern).filename().string());
    return JudgeFinished(output, promise, drawn);
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) {
    // The pages before the big one are whole and stay. Without a cut page, the document wrote
    // a file of that size into its temporary folder.
    const bool pageCut = pages != nullptr ? pages->CutAtSizeLimit() : RemoveCutPages(pageFolder);
    if (pageCut) return {TAVRINX_RENDER_FAILED, PageTooLargeMessage(xdpi, ydpi)};
    return {TAVRINX_RENDER_FAILED, "the document tried to write a file larger than " +
                                       std::to_string(kFileSizeLimit >> 20) +
                                       " MiB and was stopped"};
  }
  return {TAVRINX_RENDER_FAILED, FailureMessage(status, output.Summary())};
}

RenderSession::Outcome RenderSession::JudgeFinished(const InterpreterOutput& output,
                                                    const Promise& promise, size_t drawn) {
  // What went wrong in a rendering that went on (a damaged or locked PDF opens to no page).
  const std::string reported =
      output.HasReports() ? kInterpreterReported + output.Summary() : std::string();
  if (promise.pdf) {
    const PdfProgress& progress = output.Progress();
    const std::optional<int> expected = progress.Expected();
    if (!expected) return {TAVRINX_RENDER_SUCCEEDED, reported};
    if (drawn >= static_cast<size_t>(*expected))
      return {TAVRINX_RENDER_SUCCEEDED, reported, *expected};
    return {TAVRINX_RENDER_FAILED, PdfPagesMissingMessage(progress, drawn, reported), *expected};
  }
  if (!promise.cutProgramPages) return {TAVRINX_RENDER_SUCCEEDED, reported};
  const int promised = *promise.cutProgramPages;
  if (drawn >= static_cast<size_t>(promised)) return {TAVRINX_RENDER_SUCCEEDED, reported, promised};
  // The pages after the last one drawn: a header may promise a billion of them.
  const int first = static_cast<int>(drawn) + 1;
  const std::string missing = first == promised ? "page " + std::to_string(first) + " was"
                                                : "pages " + std::to_string(first) + "\u2013" +
                                                      std::to_string(promised) + " were";
  return {TAVRINX_RENDER_FAILED,
          missing + " not drawn: the file ends before its last page (its header promises " +
              std::to_string(promised) + " pages, and it has no %%EOF)" +
              (reported.empty() ? "" : "; " + reported),
          promised};
}

RenderSession::Outcome RenderSession::RunPageCount(const std::string& pdfPath,
                                                   const std::string& workFolder, int wakeFd,
                                                   int* count) {
  std::error_code ec;
  const std::string source = fs::absolute(pdfPath, ec).string();
  if (ec) return {TAVRINX_RENDER_FAILED, "cannot make the path absolute: " + ec.message()};
  if (std::optional<std::string> problem = SourceProblem(source)) {
    return {TAVRINX_RENDER_FAILED, *problem};
  }
  if (!BeginsAsPdf(source)) return {TAVRINX_RENDER_FAILED, NotPdfMessage(source)};
  std::string error;
  const std::unique_ptr<ScratchFolder> scratch = ScratchFolder::Create(workFolder, &error);
  if (!scratch) return {TAVRINX_RENDER_FAILED, error};
  // Read through a link of a plain name: the interpreter is told by name what it may read.
  if (std::optional<std::string> problem = LinkSource(source, *scratch)) {
    return {TAVRINX_RENDER_FAILED, *problem};
  }
  InterpreterOutput output;
  Outcome failure;
  // Nothing is drawn: the scratch folder is the only one written.
  const std::optional<Ended> ended = RunConfined(
      PdfPageCountArguments(gsPath_, kPlainSource),
      {gsPath_, source, scratch->Path(), scratch->Path()}, wakeFd, nullptr, output, &failure);
  if (!ended) return failure;
  if (ended->stopped) return {TAVRINX_RENDER_ABORTED, kStoppedMessage};
  if (!ended->diskFull.empty() || ended->tooManyFiles) {
    return {TAVRINX_RENDER_FAILED, ended->tooManyFiles
                                       ? TooManyFilesMessage()
                                       : DiskFullMessage(workFolder, ended->diskFull)};
  }
  if (!WIFEXITED(ended->status) || WEXITSTATUS(ended->status) != 0)
    return {TAVRINX_RENDER_FAILED,
            NamedAsGiven(FailureMessage(ended->status, output.Summary()), source)};
  // The count is the last line; a document the interpreter cannot open gives none, or 0 after
  // its reports.
  const std::deque<std::string>& lines = output.LastLines();
  const std::optional<int> pages = lines.empty() ? std::nullopt : WholeNumber(lines.back());
  if (!pages || *pages <= 0 || output.HasReports()) {
    return {TAVRINX_RENDER_FAILED,
            NamedAsGiven("the interpreter could not count the pages" +
                             (output.HasReports()
                                  ? "; " + std::string(kInterpreterReported) + output.Summary()
                                  : std::string()),
                         source)};
  }
  *count = *pages;
  return {TAVRINX_RENDER_SUCCEEDED, ""};
}

void RenderSession::Pause(bool paused) {
  std::lock_guard lock(mutex_);
  if (paused == paused_) return;
  paused_ = paused;
  if (childGroup_ > 0) ::kill(-childGroup_, paused ? SIGSTOP : SIGCONT);
}

void RenderSession::Abort() {
  std::lock_guard lock(mutex_);
  aborted_ = true;
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
  }
}

}  // namespace orvalis::renderer
