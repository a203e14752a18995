#pragma once
// One renderer handle: renders PostScript files through a gs child process, can be stopped from
// another thread, and keeps the reason of its last failure. It also counts the pages of a PDF
// document, and renders a range of them, through the same confined interpreter.

#include <sys/types.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/limits.h"
#include "renderer/gs_arguments.h"
#include "renderer/interpreter_output.h"
#include "renderer/kernel_protections.h"
#include "renderer/landlock_rules.h"
#include "renderer/page_reporter.h"
#include "renderer/tavrinx.h"

namespace orvalis::renderer {

// Starts the lines of a failure reason that the interpreter printed (and so the document may
// have written): they are the document's output, not the converter's.
inline constexpr char kInterpreterReported[] = "the interpreter reported: ";

class RenderSession {
 public:
  // Cap on the interpreter's address space.
  static constexpr uint64_t kAddressSpaceLimit = limits::kInterpreterAddressSpace;
  static constexpr uint64_t kMaxPageImageBytes = limits::kMaxPageImageBytes;
  // A page file larger than the 54 bytes of BMP headers and the largest page image could not be
  // converted anyway; the limit stops the interpreter there instead of letting it fill the disk
  // with gigabytes first.
  static constexpr uint64_t kFileSizeLimit = kMaxPageImageBytes + 54;
  // Free space kept on the file system of the pages: a document can render pages without end,
  // hundreds of megabytes each, and would otherwise fill the disk the whole machine depends on.
  // On a disk that has less than twice this free, a rendering may use half of what is free.
  static constexpr uint64_t kFreeSpaceReserve = limits::kDiskReserveBytes;
  // The same for files (inodes): a document can create empty files without end.
  static constexpr uint64_t kFreeFilesReserve = limits::kDiskReserveFiles;
  // Files a document may create in its temporary folder (the interpreter's own few included);
  // past that the rendering is stopped.
  static constexpr uint64_t kMaxScratchFiles = 4000;
  // The smallest address space an interpreter may be capped to: below it gs cannot start.
  static constexpr uint64_t kMinAddressSpace = uint64_t{128} << 20;
  // The last page a range may name.
  static constexpr int kMaxRangePage = 1 << 24;
  // Time the interpreter gets to end after SIGTERM before its group gets SIGKILL.
  static constexpr std::chrono::milliseconds kKillGrace{250};

  explicit RenderSession(std::string gsPath) : gsPath_(std::move(gsPath)) {}
  RenderSession(const RenderSession&) = delete;
  RenderSession& operator=(const RenderSession&) = delete;

  // Renders every page of `psPath` into BMP files named by `pattern`, or, for a PDF document,
  // the pages of `pages`, each under its own number; returns one of the TAVRINX_RENDER_*
  // results.
  int Render(const char* psPath, const char* pattern, int xdpi, int ydpi,
             std::optional<PageRange> pages = std::nullopt);
  // Counts the pages of the PDF document at `pdfPath` through an interpreter confined as a
  // rendering's is, whose private folder goes into `workFolder`: one of the TAVRINX_RENDER_*
  // results, and the count (at least 1) in `*count` on success, else -1.
  int CountPages(const char* pdfPath, const char* workFolder, int* count);
  // Ends the running rendering at once, and refuses later ones. Callable from any thread.
  void Abort();
  // Holds the running interpreter where it is (true) or lets it go on (false). Callable from
  // any thread; a rendering that starts while held starts held.
  void Pause(bool paused);
  // Sets the free space below which a rendering is stopped, in place of the reserve above
  // (tests use it to simulate a disk that fills). Call before Render.
  void SetFreeSpaceFloor(uint64_t bytes) { freeSpaceFloor_ = bytes; }
  // Caps the interpreter's address space of the next renderings (at least kMinAddressSpace);
  // kAddressSpaceLimit until set.
  void SetAddressSpaceLimit(uint64_t bytes) {
    addressSpaceLimit_ = std::max(bytes, kMinAddressSpace);
  }
  // Reports each page file later renderings finish to `listener` (RendererSetPageListener);
  // nullptr stops the reports.
  void SetPageListener(RendererPageListener listener, void* context) {
    std::lock_guard lock(mutex_);
    listener_ = listener;
    listenerContext_ = context;
  }
  // The reason of the last failure or stop; after a success, what the interpreter reported
  // while it went on, if anything.
  const char* LastError() const { return lastError_.c_str(); }
  // The pages the last rendering was held to, -1 when it was held to none (a PostScript program
  // that ended as it should, a rendering that did not finish).
  int ExpectedPages() const {
    std::lock_guard lock(mutex_);
    return expectedPages_;
  }

#ifdef ORVALIS_INTERPRETER_TEST_HOOK
  // Only in the test build of the renderer's core (tests/renderer): the shipped library has no
  // way to run an interpreter with less than its full confinement. `withoutSafer` starts gs
  // with -dNOSAFER, as a document that defeated SAFER would have it; `unconfined` leaves out
  // the kernel's confinement; `kernel` stands for a kernel that offers less.
  struct TestHook {
    bool withoutSafer = false;
    bool unconfined = false;
    std::optional<KernelProtections> kernel;
  };
  void SetTestHook(TestHook hook) {
    testHook_ = std::move(hook);
  }
#endif

 private:
  struct Outcome {
    int result;
    std::string message;
    int expectedPages = -1;  // the pages the rendering was held to, -1 when none
  };
  // The pages a rendering is held to: a PDF document's as the interpreter counts them, or the
  // pages a PostScript program cut short promises (declared_pages.h).
  struct Promise {
    bool pdf = false;
    std::optional<int> cutProgramPages;
  };

  // How a confined interpreter ended.
  struct Ended {
    int status = 0;             // its wait status
    bool stopped = false;       // Abort ended it
    std::string diskFull;       // what was left when the disk's reserve ended it, else ""
    bool tooManyFiles = false;  // it created more temporary files than it may
  };

  // Runs `body` as the handle's one interpreter at a time: refused while another runs, and
  // once the handle is aborted. `body` gets the descriptor Abort wakes; its message becomes
  // LastError.
  int RunExclusive(const std::function<Outcome(int wakeFd)>& body);
  // Starts gs with `arguments`, confined to `paths`, and follows it until it has ended (see
  // FollowChild); nullopt, with the result in `failure`, when it could not start.
  std::optional<Ended> RunConfined(std::vector<std::string> arguments,
                                   const InterpreterPaths& paths, int wakeFd, PageReporter* pages,
                                   InterpreterOutput& output, Outcome* failure);
  Outcome RunInterpreter(const std::string& psPath, const std::string& pattern, int xdpi, int ydpi,
                         std::optional<PageRange> range, int wakeFd);
  // What a rendering into `pageFolder` that ended so gave.
  // `pagePattern`: the escaped path pattern of the pages.
  static Outcome JudgeRendering(const Ended& ended, const InterpreterOutput& output,
                                const Promise& promise, const PageReporter* pages,
                                const std::string& pagePattern, int xdpi, int ydpi);
  // A rendering that ended well, held to what the document promised: `drawn` pages.
  static Outcome JudgeFinished(const InterpreterOutput& output, const Promise& promise,
                               size_t drawn);
  Outcome RunPageCount(const std::string& pdfPath, const std::string& workFolder, int wakeFd,
                       int* count);

  const std::string gsPath_;
  std::optional<uint64_t> freeSpaceFloor_;
  std::atomic<uint64_t> addressSpaceLimit_{kAddressSpaceLimit};
  mutable std::mutex mutex_;
  bool busy_ = false;
  bool aborted_ = false;
  int wakeFd_ = -1;       // eventfd that wakes the running rendering, or -1
  pid_t childGroup_ = 0;  // the running interpreter's process group until it is reaped, or 0
  bool paused_ = false;
  std::string lastError_;
  int expectedPages_ = -1;
  RendererPageListener listener_ = nullptr;
  void* listenerContext_ = nullptr;
#ifdef ORVALIS_INTERPRETER_TEST_HOOK
  TestHook testHook_;
#endif
};

}  // namespace orvalis::renderer
