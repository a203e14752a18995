#include "batch/batch_converter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "batch/renderer_loader.h"
#include "engine/image_converter.h"
#include "platform/file_descriptor.h"
#include "tests/support/oracle.h"
#include "tests/support/stateful_documents.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// How long a test waits for something it needs to happen before it gives up: only a guard
// against a hang, long enough for the busiest machine. Verdicts never depend on it.
constexpr auto kHangGuard = std::chrono::minutes(3);

// Things that happen on the run's threads, counted under one lock, for a test to wait for.
class Happenings {
 public:
  // Changes the counts under the lock (`change` may be empty) and wakes the waiters.
  void Note(const std::function<void(std::map<std::string, int>&)>& change) {
    {
      std::lock_guard lock(mutex_);
      change(counts_);
    }
    changed_.notify_all();
  }
  void Add(const std::string& what, int by = 1) {
    Note([&](auto& counts) { counts[what] += by; });
  }
  int Count(const std::string& what) {
    std::lock_guard lock(mutex_);
    return counts_[what];
  }
  // Waits until `condition` holds over the counts; false when the hang guard ran out first.
  bool WaitUntil(const std::function<bool(std::map<std::string, int>&)>& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, [&] { return condition(counts_); });
  }
  bool WaitFor(const std::string& what, int atLeast = 1) {
    return WaitUntil([&](auto& counts) { return counts[what] >= atLeast; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, int> counts_;
};

// Keeps the time of a run's files in a test's hands (BatchOptions::fileTimeKeeper): a file's
// time runs out, and its late start ends, when the test says so, not when a clock on a
// machine of unknown speed does.
class TestClock {
 public:
  void Install(BatchOptions& options) {
    options.fileTimeKeeper = [this](int row, BatchOptions::FileTime calls) {
      {
        std::lock_guard lock(mutex_);
        files_[row] = std::move(calls);
      }
      begun_.notify_all();
    };
  }
  // Once row `row` has begun: its time runs out.
  void TimeUp(int row) {
    if (const auto calls = CallsOf(row)) calls->timeUp();
  }
  void LateStartOver(int row) {
    if (const auto calls = CallsOf(row)) calls->lateStartOver();
  }

 private:
  std::optional<BatchOptions::FileTime> CallsOf(int row) {
    std::unique_lock lock(mutex_);
    if (!begun_.wait_for(lock, kHangGuard, [&] { return files_.count(row) != 0; })) {
      ADD_FAILURE() << "hang guard: row " << row << " never began";
      return std::nullopt;
    }
    return files_[row];
  }
  std::mutex mutex_;
  std::condition_variable begun_;
  std::map<int, BatchOptions::FileTime> files_;
};

// A renderer that reads a tiny script instead of PostScript (a "fail" text runs to the end of
// its line):
//   "pages N"      writes N test pages ("size W H" sets their size, else 10+page x dpi/12);
//   "cut K"        cuts the last page written to K bytes, as an interpreter ended while writing
//                  it leaves it;
//   "fail [text]"  reports an interpreter error (the text, or "Error: /undefined in foo") after
//                  writing the pages; "{source}" in the text stands for the path it was given,
//                  as an interpreter quotes the file it could not read;
//   "sleep MS"     takes that long before writing;
//   "delay MS"     takes that long before each page, as an interpreter rendering it would;
//   "hang"         blocks until aborted, after the pages;
//   "noprocess"    its first rendering fails as one that could not start a process would.
//   "starved"      every rendering of it does.
//   "meet N of T"  waits, before "sleep", until N renderings run at once, or until T have
//                  begun in all (so that the last ones never wait for company that cannot come);
//   "independent"  its pages do not depend on one another (a PDF document's): PageCount
//                  counts them, and RenderPages renders a range of them;
//   "skip K"       page K gives no page file, and the pages after it come one number earlier,
//                  as an interpreter that passes over a damaged page numbers them.
// It can be held (Pause) between two pages, and an abort ends it there too, as the real one.
// With `reportsPages` it reports each page it finished to the listener, as the real one does
// (the last one once it is cut, when it is). Without, with `waitsForLooks`, it writes no page
// before the driver's look into the folder has found the pages before the last one written,
// as an interpreter slow enough for the watch would: it waits, after each page, until the
// folder has been opened twice since (the looks run one after the other on one thread, so the
// second begins once the first, which saw the page, has done all it does).
class ScriptRenderer : public PageRenderer {
 public:
  int Open() override {
    {
      std::lock_guard lock(mutex_);
      tmpWasEmptyAtOpen.push_back(TmpIsEmpty());
    }
    return openFails ? 0 : ++lastHandle_;
  }
  bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
              int) override {
    return Draw(handle, psPath, pattern, xDpi, 1, INT_MAX);
  }
  std::optional<int> PageCount(int, const std::string& path, const std::string&) override {
    const Script script = Read(path);
    if (!script.independent) return std::nullopt;
    return script.pages;
  }
  bool RenderPages(int handle, const std::string& path, const std::string& pattern, int xDpi, int,
                   int first, int last) override {
    if (!Read(path).independent) return false;
    {
      std::lock_guard lock(mutex_);
      ranges.emplace_back(first, last);
    }
    return Draw(handle, path, pattern, xDpi, first, last);
  }

  // The script of a source.
  struct Script {
    int pages = 0, width = 0, height = 0, sleepMs = 0, delayMs = 0, skip = 0;
    int meet = 0, meetOf = 0;
    long cut = -1;
    std::optional<std::string> failure;
    bool hang = false;
    bool noProcess = false;
    bool starved = false;
    bool independent = false;
  };
  static Script Read(const std::string& path) {
    Script script;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      for (std::string word; words >> word;) {
        if (word == "pages") words >> script.pages;
        if (word == "size") words >> script.width >> script.height;
        if (word == "cut") words >> script.cut;
        if (word == "sleep") words >> script.sleepMs;
        if (word == "delay") words >> script.delayMs;
        if (word == "skip") words >> script.skip;
        if (word == "meet") {
          std::string of;
          words >> script.meet >> of >> script.meetOf;
        }
        if (word == "hang") script.hang = true;
        if (word == "noprocess") script.noProcess = true;
        if (word == "starved") script.starved = true;
        if (word == "independent") script.independent = true;
        if (word == "fail") {
          std::string text;
          std::getline(words >> std::ws, text);
          script.failure = text.empty() ? "Error: /undefined in foo" : text;
        }
      }
    }
    return script;
  }

  // Pages `first` to `last` of the script's document, numbered from `first`.
  bool Draw(int handle, const std::string& psPath, const std::string& pattern, int xDpi, int first,
            int last) {
    const Script script = Read(psPath);
    const int width = script.width, height = script.height, delayMs = script.delayMs;
    const bool noProcess = script.noProcess, starved = script.starved;
    {
      std::unique_lock lock(mutex_);
      maxActive = std::max(maxActive, ++active_);
      ++begun_;
      changed_.notify_all();
      if (script.meet > 0 && !changed_.wait_for(lock, kHangGuard, [&] {
            return active_ >= script.meet || begun_ >= script.meetOf;
          })) {
        ADD_FAILURE() << "hang guard: " << script.meet << " renderings never ran at once";
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(script.sleepMs));
    {
      std::lock_guard lock(mutex_);
      lackedProcess_[handle] =
          starved || (noProcess && triedWithoutProcess_.insert(psPath).second);
      if (lackedProcess_[handle]) {
        errors_[handle] = "cannot start a child process: Resource temporarily unavailable";
        --active_;
        ++lacked_;
        changed_.notify_all();
        return false;
      }
    }
    const fs::path folder = fs::path(pattern).parent_path();
    FileDescriptor looks;
    if (waitsForLooks && !reportsPages) {
      looks.Reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
      EXPECT_GE(::inotify_add_watch(looks.Get(), folder.c_str(), IN_OPEN), 0);
    }
    std::string written;
    int number = first;
    for (int page = first; page <= std::min(last, script.pages); ++page) {
      if (page == script.skip) continue;
      {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(delayMs),
                          [&] { return abortedHandles_.count(handle) != 0; });
        changed_.wait(lock, [&] {
          return abortedHandles_.count(handle) != 0 || heldHandles_.count(handle) == 0;
        });
        if (abortedHandles_.count(handle) != 0) {
          errors_[handle] = "aborted";
          --active_;
          return false;
        }
      }
      char name[4096];
      std::snprintf(name, sizeof name, pattern.c_str(), number++);
      // Pages differ in width so that their order shows in the outputs; pages of a given size
      // are all the same, linked to the first (so that many are written at once).
      if (width > 0 && !written.empty()) {
        fs::create_hard_link(written, name);
      } else {
        test::WriteTestPage(name, width > 0 ? width : static_cast<uint32_t>(10 + page),
                            height > 0 ? height : static_cast<uint32_t>(xDpi / 12));
      }
      if (!written.empty()) Report(handle, written);
      written = name;
      {
        // What the folder holds now, counted independently of the driver.
        std::lock_guard lock(mutex_);
        maxPageFiles = std::max(
            maxPageFiles, static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})));
      }
      if (onPage) onPage(page);
      if (looks.IsOpen()) WaitForTwoLooks(looks.Get());
    }
    if (script.cut >= 0 && !written.empty()) {
      if (fs::hard_link_count(written) > 1) {  // cut this page only
        fs::copy_file(written, written + ".own");
        fs::rename(written + ".own", written);
      }
      fs::resize_file(written, static_cast<uintmax_t>(script.cut));
    }
    if (!written.empty()) Report(handle, written);
    std::unique_lock lock(mutex_);
    if (script.hang) {
      ++hanging_;
      changed_.notify_all();
      changed_.wait(lock, [&] { return abortedHandles_.count(handle) != 0; });
      --hanging_;
      errors_[handle] = "aborted";
      --active_;
      return false;
    }
    --active_;
    std::string failure = script.failure.value_or("");
    if (const size_t at = failure.find("{source}"); at != std::string::npos)
      failure.replace(at, 8, psPath);
    errors_[handle] = failure;
    renderEnded = std::chrono::steady_clock::now();
    return !script.failure;
  }
  void Close(int) override {}
  void Abort(int handle) override {
    {
      std::lock_guard lock(mutex_);
      abortedHandles_.insert(handle);
    }
    changed_.notify_all();
  }
  void Pause(int handle, bool paused) override {
    {
      std::lock_guard lock(mutex_);
      if (paused) {
        heldHandles_.insert(handle);
        ++holds;
      } else {
        heldHandles_.erase(handle);
      }
    }
    changed_.notify_all();
  }
  bool SetPageListener(int handle, PageListener listener) override {
    if (!reportsPages) return false;
    std::lock_guard lock(mutex_);
    listeners_[handle] = std::move(listener);
    return true;
  }
  bool LackedProcess(int handle) override {
    std::lock_guard lock(mutex_);
    return lackedProcess_[handle];
  }
  std::string LastError(int handle) override {
    std::lock_guard lock(mutex_);
    return errors_[handle];
  }
  void SetMemoryLimit(int, uint64_t bytes) override {
    std::lock_guard lock(mutex_);
    memoryLimits.push_back(bytes);
  }

  // Waits until `count` renderings hang after their pages, until `count` (not ended) are held, or
  // until a rendering found no process; false when the hang guard ran out first.
  bool WaitUntilHanging(int count) {
    return WaitUntil([&] { return hanging_ >= count; });
  }
  bool WaitUntilHeld(size_t count) {
    return WaitUntil([&] {
      return static_cast<size_t>(
                 std::count_if(heldHandles_.begin(), heldHandles_.end(),
                               [&](int h) { return abortedHandles_.count(h) == 0; })) >= count;
    });
  }
  bool WaitUntilLackedProcess() {
    return WaitUntil([&] { return lacked_ > 0; });
  }
  bool WaitUntilHeldOnce() {
    return WaitUntil([&] { return holds > 0; });
  }
  // Counts renderings begun ("meet") from none again.
  void ResetBegun() {
    std::lock_guard lock(mutex_);
    begun_ = 0;
  }

  bool openFails = false;
  bool reportsPages = false;
  bool waitsForLooks = false;
  // Written under the renderer's lock; read after the run.
  std::vector<bool> tmpWasEmptyAtOpen;
  std::vector<uint64_t> memoryLimits;
  int maxActive = 0;
  size_t maxPageFiles = 0;  // the most files its page folders held at once
  int holds = 0;            // times the driver held it
  std::chrono::steady_clock::time_point renderEnded;  // when the last clean rendering returned
  std::function<void(int page)> onPage;               // after each page is written
  std::vector<std::pair<int, int>> ranges;            // the page ranges rendered, in order

 private:
  void Report(int handle, const std::string& page) {
    PageListener listener;
    {
      std::lock_guard lock(mutex_);
      listener = listeners_[handle];
    }
    if (listener) listener(page);
  }
  bool WaitUntil(const std::function<bool()>& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kHangGuard, condition);
  }
  // The opens of the watched folder itself (not of a file in it) that `fd` has to tell.
  static int FolderOpens(int fd) {
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if ((event->mask & IN_ISDIR) != 0 && event->len == 0) ++opens;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return opens;
  }
  static void WaitForTwoLooks(int fd) {
    FolderOpens(fd);  // this thread's own count of the folder, and looks that may precede the page
    const auto until = std::chrono::steady_clock::now() + kHangGuard;
    for (int opens = 0; opens < 2;) {
      pollfd ready{fd, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1) {
        ADD_FAILURE() << "hang guard: the driver never looked into the page folder";
        return;
      }
      opens += FolderOpens(fd);
    }
  }
  static bool TmpIsEmpty() {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    return tmp == nullptr || fs::is_empty(tmp, ec);
  }

  std::atomic<int> lastHandle_{0};
  std::mutex mutex_;
  std::condition_variable changed_;  // aborted, or held or let go
  std::set<int> abortedHandles_;
  std::set<int> heldHandles_;
  std::map<int, std::string> errors_;
  std::map<int, PageListener> listeners_;
  std::map<int, bool> lackedProcess_;
  std::set<std::string> triedWithoutProcess_;
  int active_ = 0;
  int begun_ = 0;    // renderings begun
  int hanging_ = 0;  // renderings hanging after their pages
  int lacked_ = 0;   // renderings that found no process
};

// Records what the driver shows; `onStatus` may act on a status (a stop click, say).
class RecordingView : public BatchView {
 public:
  explicit RecordingView(std::vector<std::string> rows) : rows_(std::move(rows)) {}
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  std::string RowPath(int row) const override { return rows_[static_cast<size_t>(row)]; }
  void SetRowStatus(int row, const std::string& status) override {
    {
      std::lock_guard lock(*mutex_);
      statuses[row].push_back(status);
    }
    if (onStatus) onStatus(row, status);
  }
  void RowFinished(int row, const RowResult& result) override {
    std::lock_guard lock(*mutex_);
    results[row] = result;
  }
  void RowPages(int row, int done, int total) override {
    std::lock_guard lock(*mutex_);
    pages[row].emplace_back(done, total);
  }
  // Several files at once call from several threads.
  void SelectRow(int row) override {
    std::lock_guard lock(*mutex_);
    selected.push_back(row);
  }
  void SetProgress(int percent) override {
    std::lock_guard lock(*mutex_);
    progress.push_back(percent);
  }
  void SetRunning(bool running) override { runningStates.push_back(running); }

  std::function<void(int, const std::string&)> onStatus;
  std::map<int, std::vector<std::string>> statuses;
  std::map<int, RowResult> results;
  std::map<int, std::vector<std::pair<int, int>>> pages;  // (done, total) as told
  std::vector<int> selected, progress;
  std::vector<bool> runningStates;

 private:
  std::vector<std::string> rows_;
  std::unique_ptr<std::mutex> mutex_ = std::make_unique<std::mutex>();  // movable view
};

ConversionSettings DefaultSettings(const std::string& output) {
  ConversionSettings s;
  s.type = 3;  // PNG
  s.mode = 1;
  s.output = output;
  s.xdpi = s.ydpi = 120;
  s.width = 594;
  s.height = 842;
  s.bmpc = s.pngc = s.pcxc = s.tgac = s.jp2c = s.rasc = s.jpcc = s.jpgc = s.tifc = "True Color";
  s.gifc = "256 Color";
  s.JQu = s.TJQu = 75;
  s.compress = 3;
  return s;
}

class BatchRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    fs::create_directories(pageTmp());
    setenv("TMPDIR", pageTmp().c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_.empty())
      unsetenv("TMPDIR");
    else
      setenv("TMPDIR", oldTmp_.c_str(), 1);
  }
  std::string pageTmp() const { return dir.File("tmp"); }
  std::string Source(const std::string& relative, const std::string& script) {
    const fs::path path = dir.Path() / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << script;
    return path.string();
  }
  std::string Out(const std::string& name = "") const { return dir.File("out/" + name); }
  bool PageTmpIsEmpty() const { return fs::is_empty(pageTmp()); }

  RecordingView Run(std::vector<std::string> rows, const ConversionSettings& settings, int jobs = 1,
                    int timeout = 0,
                    std::function<void(BatchConverter&, RecordingView&)> prepare = {},
                    uint64_t memoryBudget = 0, PageRenderer* with = nullptr) {
    RecordingView view(std::move(rows));
    BatchOptions options;
    options.jobs = jobs;
    options.timeoutSeconds = timeout;
    options.memoryBudget = memoryBudget;
    if (tuneOptions) tuneOptions(options);
    BatchConverter converter(settings, with != nullptr ? *with : renderer, view, options);
    if (prepare) prepare(converter, view);
    converter.ConvertAll();
    EXPECT_FALSE(converter.IsRunning());
    return view;
  }

  test::TempDir dir;
  ScriptRenderer renderer;
  std::function<void(BatchOptions&)> tuneOptions;  // options beyond those Run takes
  std::string oldTmp_;
};

// Pages come in page order past page 999, where the numbers outgrow three digits.
TEST(BatchTables, CollectPagesInPageOrder) {
  test::TempDir dir;
  const char* names[] = {"r_1000.bmp", "r_002.bmp",  "r_10000.bmp", "r_999.bmp",
                         "r_001.bmp",  "r_1001.bmp", "r_100.bmp"};
  for (const char* name : names) std::ofstream(dir.Path() / name) << "x";
  std::vector<std::string> expected;
  for (const char* name : {"r_001.bmp", "r_002.bmp", "r_100.bmp", "r_999.bmp", "r_1000.bmp",
                           "r_1001.bmp", "r_10000.bmp"})
    expected.push_back(dir.File(name));
  EXPECT_EQ(CollectPages(dir.Path().string()), expected);
}

TEST(BatchTables, ApplySettingsSetsTheJobOptions) {
  ConversionSettings s = DefaultSettings("/tmp/");
  s.resize = 1;
  s.width = 800;
  s.height = 600;
  s.angle = 90;
  s.compress = 2;
  s.TJQu = 33;
  s.tifc = "16 grays";
  ConverterHandle job = ConverterCreate();
  BatchConverter::ApplySettings(job, OutputFormat::Tiff, s);
  EXPECT_EQ(job->width, 800);
  EXPECT_EQ(job->angle, 90);
  EXPECT_EQ(job->xDpi, 120);
  EXPECT_EQ(job->format, OutputFormat::Tiff);
  EXPECT_EQ(job->compression, 6);
  EXPECT_EQ(job->quality, 33);
  EXPECT_TRUE(job->grayscale);
  EXPECT_EQ(job->requestedDepth, 4);
  EXPECT_EQ(job->encoderThreads, 1) << "pages are converted side by side on the run's threads";
  ConverterDestroy(job);

  s.resize = 0;
  job = ConverterCreate();
  BatchConverter::ApplySettings(job, OutputFormat::Png, s);
  EXPECT_EQ(job->width, 0);
  EXPECT_EQ(job->quality, 75);  // only JPEG and TIFF carry a quality
  EXPECT_EQ(job->requestedDepth, 24);
  ConverterDestroy(job);
}

// The driver appends the pages of a merged TIFF as they come: a job run again takes the pages
// added since its last run, and the document is the one a single run over all pages writes.
TEST(BatchTables, MergedJobRunAgainAppendsThePagesAddedSince) {
  test::TempDir dir;
  std::vector<std::string> pages;
  for (int k = 1; k <= 3; ++k) {
    pages.push_back(dir.File("p" + std::to_string(k) + ".bmp"));
    ASSERT_TRUE(test::WriteTestPage(pages.back(), 20 + k, 15));
  }
  ConversionSettings s = DefaultSettings(dir.File(""));
  s.compress = 1;  // LZW
  const auto merge = [&](const std::string& output, bool pageByPage) {
    ConverterHandle job = ConverterCreate();
    ConverterSetOption(job, OptMultiPagePath, output.c_str(), 0);
    ConverterSetOption(job, OptMultiPage, nullptr, 1);
    BatchConverter::ApplySettings(job, OutputFormat::Tiff, s);
    for (const std::string& page : pages) {
      ConverterAddFile(job, page.c_str());
      if (pageByPage) ConverterRun(job);
    }
    if (!pageByPage) ConverterRun(job);
    const std::string error = ConverterGetError(job);
    ConverterDestroy(job);
    return error;
  };
  ASSERT_EQ(merge(dir.File("once.tif"), false), "");
  ASSERT_EQ(merge(dir.File("by_page.tif"), true), "");
  EXPECT_EQ(test::ReadFileBytes(dir.File("once.tif")),
            test::ReadFileBytes(dir.File("by_page.tif")));
  const auto last = test::PillowDecode(dir.File("by_page.tif"), 2);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->frames, 3);
  EXPECT_EQ(last->width, 23);
}

TEST_F(BatchRun, EmptyListStartsAndEndsAtOnce) {
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({}, s);
  EXPECT_EQ(view.runningStates, std::vector<bool>{false});
  EXPECT_EQ(view.selected, std::vector<int>{0});
  EXPECT_TRUE(view.results.empty());
}

TEST_F(BatchRun, PagesBesideTheSourceOrInASubFolderPerFile) {
  const std::string source = Source("docs/report.ps", "pages 3");
  ConversionSettings s = DefaultSettings(Out());
  s.mode = 0;
  RecordingView beside = Run({source}, s);
  EXPECT_EQ(beside.results[0].status, RowStatus::Succeed) << beside.results[0].reason;
  for (const char* name : {"report_001.png", "report_002.png", "report_003.png"})
    EXPECT_TRUE(fs::exists(dir.Path() / "docs" / name)) << name;
  EXPECT_EQ(beside.results[0].outputs.size(), 3u);
  EXPECT_EQ(beside.statuses[0],
            (std::vector<std::string>{"Converting.", "Converting..", "Converting...",
                                      "Converting....", "Succeed"}));

  s.mode = 1;
  s.each = 1;
  RecordingView each = Run({source}, s);
  EXPECT_EQ(each.results[0].status, RowStatus::Succeed);
  EXPECT_TRUE(fs::exists(Out("report/report_002.png")));
  EXPECT_TRUE(PageTmpIsEmpty());
}

TEST_F(BatchRun, MergedTiffHoldsThePagesInOrder) {
  const std::string source = Source("report.ps", "pages 3");
  ConversionSettings s = DefaultSettings(Out());
  s.type = 1;
  s.multpage = 1;
  RecordingView view = Run({source}, s);
  ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
  EXPECT_EQ(view.results[0].outputs, std::vector<std::string>{Out("report.tif")});
  for (int page = 0; page < 3; ++page) {
    const auto tif = test::PillowDecode(Out("report.tif"), page);
    ASSERT_TRUE(tif);
    EXPECT_EQ(tif->frames, 3);
    EXPECT_EQ(tif->width, 11 + page);
  }
  // The merge setting means nothing for other formats.
  s.type = 3;
  RecordingView png = Run({source}, s);
  EXPECT_EQ(png.results[0].outputs.size(), 3u);

  // A folder standing under the merged file's name: the document cannot be put in place.
  s.type = 1;
  s.output = dir.File("blocked/");
  fs::create_directories(dir.File("blocked/report.tif/keep"));
  RecordingView blocked = Run({source}, s);
  EXPECT_EQ(blocked.results[0].status, RowStatus::Failed);
  EXPECT_NE(blocked.results[0].reason.find("report.tif"), std::string::npos)
      << blocked.results[0].reason;
  EXPECT_TRUE(blocked.results[0].outputs.empty());
  EXPECT_TRUE(PageTmpIsEmpty());
}

// The merged document is written under one temporary name beside the final one, which it
// replaces when complete: while the pages go in, the output folder holds that file alone.
TEST_F(BatchRun, MergedTiffIsStagedOnce) {
  const std::string source = Source("report.ps", "pages 3 delay 20");
  ConversionSettings s = DefaultSettings(Out());
  s.type = 1;
  s.multpage = 1;
  std::mutex mutex;
  std::set<std::string> seen;
  tuneOptions = [&](BatchOptions& options) {
    options.conversionObserver = [&](int delta) {
      if (delta > 0) return;
      std::lock_guard lock(mutex);
      std::vector<std::string> names;
      for (const auto& entry : fs::directory_iterator(Out()))
        names.push_back(entry.path().filename().string());
      EXPECT_EQ(names.size(), 1u) << "more than one staging file";
      seen.insert(names.begin(), names.end());
    };
  };
  RecordingView view = Run({source}, s);
  ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen.begin()->starts_with(".report.tif.")) << *seen.begin();
  EXPECT_EQ(test::PillowDecode(Out("report.tif"))->frames, 3);
  EXPECT_EQ(std::distance(fs::directory_iterator(Out()), {}), 1);
}

// An empty or relative destination is the current folder, never the root folder.
TEST_F(BatchRun, EmptyDestinationMeansTheCurrentFolder) {
  const std::string source = Source("report.ps", "pages 1");
  fs::create_directories(dir.File("cwd"));
  const fs::path previous = fs::current_path();
  fs::current_path(dir.File("cwd"));
  ConversionSettings s = DefaultSettings("");
  RecordingView empty = Run({source}, s);
  s.output = "rel";
  RecordingView relative = Run({source}, s);
  fs::current_path(previous);
  EXPECT_EQ(empty.results[0].outputs, std::vector<std::string>{dir.File("cwd/report_001.png")});
  EXPECT_EQ(relative.results[0].outputs,
            std::vector<std::string>{dir.File("cwd/rel/report_001.png")});
}

TEST_F(BatchRun, FailuresAreReportedAndTheRunGoesOn) {
  const std::string none = Source("none.ps", "pages 0");
  const std::string partial = Source("partial.ps", "pages 2 fail");
  const std::string good = Source("good.ps", "pages 1");
  std::ofstream(dir.File("blocker")) << "a file where a folder should be";
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({none, partial, good}, s);
  EXPECT_EQ(view.results[0].status, RowStatus::Failed);
  EXPECT_EQ(view.results[0].reason, "The file produced no page");
  EXPECT_EQ(view.results[1].status, RowStatus::Failed);
  EXPECT_EQ(view.results[1].reason, "Error: /undefined in foo");
  EXPECT_EQ(view.results[1].outputs.size(), 2u) << "pages before the error are converted";
  EXPECT_EQ(view.results[2].status, RowStatus::Succeed);
  EXPECT_EQ(view.progress, (std::vector<int>{33, 66, 100}));

  s.output = dir.File("blocker/sub/");
  RecordingView unwritable = Run({good}, s);
  EXPECT_EQ(unwritable.results[0].status, RowStatus::Failed);
  EXPECT_NE(unwritable.results[0].reason.find("blocker"), std::string::npos)
      << unwritable.results[0].reason;
  EXPECT_TRUE(PageTmpIsEmpty());
}

TEST_F(BatchRun, SameNamesFromDifferentSourcesDoNotOverwriteEachOther) {
  const std::string first = Source("a/report.ps", "pages 1");
  const std::string second = Source("b/report.ps", "pages 2");
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({first, second, first}, s, 2);
  EXPECT_EQ(view.results[0].status, RowStatus::Succeed);
  EXPECT_EQ(view.results[1].status, RowStatus::Failed);
  EXPECT_NE(view.results[1].reason.find(first), std::string::npos) << view.results[1].reason;
  EXPECT_EQ(view.results[2].status, RowStatus::Succeed) << "the same file again is no conflict";
  EXPECT_FALSE(fs::exists(Out("report_002.png")));

  s.each = 1;
  RecordingView separated = Run({first, second}, s);
  EXPECT_EQ(separated.results[1].status, RowStatus::Failed) << "same sub-folder name, same files";

  // Beside their sources, through a link to the same folder: still one folder.
  fs::create_directory_symlink(dir.Path() / "a", dir.Path() / "alias");
  Source("a/report.eps", "pages 1");
  s.mode = 0;
  s.each = 0;
  RecordingView linked = Run({first, (dir.Path() / "alias" / "report.eps").string()}, s);
  EXPECT_EQ(linked.results[1].status, RowStatus::Failed) << linked.results[1].reason;

  // Two kinds of one name are told of full names, with the name the later one's image would
  // then take; with full names, each merged TIFF keeps its whole file name.
  const std::string eps = dir.File("a/report.eps");
  s.mode = 1;
  s.type = 1;
  s.multpage = 1;
  RecordingView kinds = Run({first, eps}, s);
  EXPECT_EQ(kinds.results[1].status, RowStatus::Failed);
  EXPECT_TRUE(kinds.results[1].reason.ends_with(
      "; name the images after the full file names (report.eps.tif)"))
      << kinds.results[1].reason;
  s.fullnames = 1;
  RecordingView full = Run({first, eps}, s);
  EXPECT_EQ(full.results[0].outputs, std::vector<std::string>{Out("report.ps.tif")});
  EXPECT_EQ(full.results[1].outputs, std::vector<std::string>{Out("report.eps.tif")});
  EXPECT_EQ(test::PillowDecode(Out("report.ps.tif"))->frames, 1);
  EXPECT_TRUE(PageTmpIsEmpty());
}

// Every file of a folder with its bytes, to show that a run left older outputs untouched.
std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
  return files;
}

// A stop while the file renders and its first pages are being converted: the rendering ends at
// once, the row shows "Aborted", the images already written stay whole, no later page is
// written, the page folder goes, and the rows after it keep their status. A merged TIFF is
// whole or nothing: it writes no file.
TEST_F(BatchRun, StopDuringRenderingKeepsTheImagesWritten) {
  const std::string first = Source("first.ps", "pages 12 delay 40");
  const std::string second = Source("second.ps", "pages 1");
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "per page");
    ConversionSettings s = DefaultSettings(Out(merged ? "merged/" : "pages/"));
    s.type = merged ? 1 : 3;
    s.multpage = merged ? 1 : 0;
    Happenings happened;
    tuneOptions = [&](BatchOptions& options) {
      options.conversionObserver = [&](int delta) {
        if (delta < 0) happened.Add("converted");
      };
    };
    RecordingView view = Run({first, second}, s, 1, 0, [&](BatchConverter& c, RecordingView&) {
      // Stopped while page 6 is written, once a page before it has been converted.
      renderer.onPage = [&](int page) {
        if (page != 6) return;
        EXPECT_TRUE(happened.WaitFor("converted")) << "hang guard: no page was converted";
        c.RequestStop();
      };
    });
    renderer.onPage = {};
    tuneOptions = {};
    const RowResult& result = view.results[0];
    EXPECT_EQ(result.status, RowStatus::Aborted);
    EXPECT_EQ(view.results.count(1), 0u) << "rows after the stop keep their status";
    EXPECT_EQ(view.runningStates.back(), false);
    EXPECT_TRUE(PageTmpIsEmpty());
    std::set<std::string> written;
    if (fs::exists(s.output)) {
      for (const auto& entry : fs::directory_iterator(s.output))
        written.insert(entry.path().string());
    }
    EXPECT_EQ(written, std::set<std::string>(result.outputs.begin(), result.outputs.end()))
        << "only whole images, and no temporary file, are left";
    if (merged) {
      EXPECT_TRUE(result.outputs.empty());
      continue;
    }
    EXPECT_FALSE(result.outputs.empty()) << "a page was converted before the stop";
    EXPECT_LE(result.outputs.size(), 5u) << "page 6 was being written; no page after it";
    EXPECT_TRUE(std::is_sorted(result.outputs.begin(), result.outputs.end()));
    for (const std::string& output : result.outputs) EXPECT_TRUE(test::PillowDecode(output));
  }
}

TEST_F(BatchRun, StopEndsARenderingThatNeverFinishes) {
  const std::string hang = Source("hang.ps", "pages 1 hang");
  ConversionSettings s = DefaultSettings(Out());
  std::thread stopper;
  RecordingView view = Run({hang}, s, 1, 0, [&](BatchConverter& c, RecordingView&) {
    // Stopped once the rendering hangs, from another thread, as the window's Stop is.
    stopper = std::thread([this, converter = &c] {
      EXPECT_TRUE(renderer.WaitUntilHanging(1)) << "hang guard: the rendering never began";
      converter->RequestStop();
    });
  });
  stopper.join();
  EXPECT_EQ(view.results[0].status, RowStatus::Aborted);
  EXPECT_TRUE(PageTmpIsEmpty());
  EXPECT_FALSE(fs::exists(Out("hang_001.png")));
}

// A time limit that runs out while the interpreter is stuck after page 2 is a partial rendering:
// the two complete pages are converted, the row fails with the reason, and the run goes on. A
// merged TIFF is whole or nothing: its pages go nowhere. The time runs out once the interpreter
// is stuck, whatever the machine's speed.
TEST_F(BatchRun, TimeoutKeepsThePagesCompleteByThen) {
  const std::string hang = Source("hang.ps", "pages 2 delay 20 hang");
  const std::string good = Source("good.ps", "pages 1");
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "per page");
    ConversionSettings s = DefaultSettings(Out(merged ? "merged/" : "pages/"));
    s.type = merged ? 1 : 3;
    s.multpage = merged ? 1 : 0;
    TestClock clock;
    tuneOptions = [&](BatchOptions& options) { clock.Install(options); };
    std::thread timer([&] {
      EXPECT_TRUE(renderer.WaitUntilHanging(1)) << "hang guard: the rendering never got stuck";
      clock.TimeUp(0);
    });
    RecordingView view = Run({hang, good}, s, 1, 1);
    timer.join();
    tuneOptions = {};
    const RowResult& result = view.results[0];
    EXPECT_EQ(result.status, RowStatus::Failed);
    EXPECT_NE(result.reason.find("longer than 1 s"), std::string::npos) << result.reason;
    EXPECT_EQ(view.results[1].status, RowStatus::Succeed);
    if (merged) {
      EXPECT_TRUE(result.outputs.empty());
      EXPECT_NE(result.reason.find("2 pages rendered before the failure went nowhere"),
                std::string::npos)
          << result.reason;
      EXPECT_FALSE(fs::exists(s.output + "hang.tif"));
    } else {
      EXPECT_EQ(result.outputs,
                (std::vector<std::string>{s.output + "hang_001.png", s.output + "hang_002.png"}));
      for (const std::string& output : result.outputs) EXPECT_TRUE(test::PillowDecode(output));
    }
    EXPECT_TRUE(PageTmpIsEmpty());
  }
}

// The same with the run's own clock: whatever the interpreter managed before its second ran
// out, the file fails with the reason and keeps only whole images of its first pages. (A file
// after it would have its second too, which a busy machine may need.)
TEST_F(BatchRun, TimeoutOfTheRunsClockEndsAStuckRendering) {
  const std::string hang = Source("hang.ps", "pages 2 hang");
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "per page");
    ConversionSettings s = DefaultSettings(Out(merged ? "merged/" : "pages/"));
    s.type = merged ? 1 : 3;
    s.multpage = merged ? 1 : 0;
    RecordingView view = Run({hang}, s, 1, 1);
    const RowResult& result = view.results[0];
    EXPECT_EQ(result.status, RowStatus::Failed);
    EXPECT_NE(result.reason.find("longer than 1 s"), std::string::npos) << result.reason;
    const std::vector<std::string> firstPages = {s.output + "hang_001.png",
                                                 s.output + "hang_002.png"};
    if (merged) {
      EXPECT_TRUE(result.outputs.empty());
      EXPECT_FALSE(fs::exists(s.output + "hang.tif"));
    } else {
      EXPECT_LE(result.outputs.size(), 2u);
      for (size_t k = 0; k < result.outputs.size(); ++k) {
        EXPECT_EQ(result.outputs[k], firstPages[k]);
        EXPECT_TRUE(test::PillowDecode(result.outputs[k]));
      }
    }
    EXPECT_TRUE(PageTmpIsEmpty());
  }
}

// Pages converted while the next ones render, several at once, give the same files as the plain
// path (the whole file rendered first, then its pages converted one at a time), per page and
// merged, and a merged TIFF takes its pages in page order.
TEST_F(BatchRun, OverlappedConversionGivesThePlainPathsFiles) {
  const std::string source = Source("doc.ps", "pages 12 delay 15");
  const struct {
    const char* name;
    int type;
    int multpage;
  } cases[] = {{"png", 3, 0}, {"jpeg", 0, 0}, {"gif", 4, 0}, {"merged tiff", 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionSettings s = DefaultSettings("");
    s.type = c.type;
    s.multpage = c.multpage;
    std::map<bool, std::vector<std::string>> names;
    for (const bool overlap : {false, true}) {
      s.output = Out(std::string(c.name) + (overlap ? "/overlap/" : "/plain/"));
      std::mutex mutex;
      std::optional<std::chrono::steady_clock::time_point> firstConversion;
      Happenings happened;
      tuneOptions = [&](BatchOptions& options) {
        options.overlap = overlap;
        options.threads = 3;
        options.conversionObserver = [&](int delta) {
          {
            std::lock_guard lock(mutex);
            if (delta > 0 && !firstConversion) firstConversion = std::chrono::steady_clock::now();
          }
          if (delta > 0) happened.Add("begun");
        };
      };
      // Overlapped, the last page is not written before a page has begun to be converted,
      // however slowly the conversion threads get to run: the moments are then ordered by the
      // events, not by the machine's speed. (The plain path converts nothing before the
      // rendering has returned, and cannot be waited for here.)
      renderer.onPage = [&](int page) {
        if (overlap && page == 12) {
          EXPECT_TRUE(happened.WaitFor("begun")) << "hang guard: no page converted while rendering";
        }
      };
      RecordingView view = Run({source}, s);
      renderer.onPage = {};
      ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
      ASSERT_TRUE(firstConversion);
      if (overlap) {
        EXPECT_LT(*firstConversion, renderer.renderEnded) << "no page converted while rendering";
      } else {
        EXPECT_GT(*firstConversion, renderer.renderEnded);
      }
      for (const std::string& output : view.results[0].outputs)
        names[overlap].push_back(fs::path(output).filename().string());
    }
    tuneOptions = {};
    EXPECT_EQ(names[false], names[true]);
    EXPECT_EQ(names[false].size(), c.multpage == 1 ? 1u : 12u);
    EXPECT_EQ(Snapshot(Out(std::string(c.name) + "/plain/")),
              Snapshot(Out(std::string(c.name) + "/overlap/")));
  }
  const std::string merged = Out("merged tiff/overlap/doc.tif");
  for (int page = 0; page < 12; ++page) {
    const auto tif = test::PillowDecode(merged, page);
    ASSERT_TRUE(tif);
    EXPECT_EQ(tif->frames, 12);
    EXPECT_EQ(tif->width, 11 + page) << "page order";
  }
}

// The half-written images a killed run left in an output folder go when a run writes there
// again; a temporary still being written by another program stays.
TEST_F(BatchRun, HalfWrittenImagesOfAKilledRunAreRemoved) {
  fs::create_directories(Out());
  const std::string left = Out(".doc_001.png.k1ll3d.part");
  const std::string recent = Out(".doc_002.png.n0wxyz.part");
  test::WriteFileBytes(left, {1, 2, 3});
  test::WriteFileBytes(recent, {1, 2, 3});
  const timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, left.c_str(), old, 0), 0);
  // "A moment ago" however long the run takes to get to the folder: its time is ahead.
  const timespec ahead[2] = {{::time(nullptr) + 600, 0}, {::time(nullptr) + 600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, recent.c_str(), ahead, 0), 0);
  RecordingView view = Run({Source("doc.ps", "pages 2")}, DefaultSettings(Out()));
  ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
  EXPECT_FALSE(fs::exists(left));
  EXPECT_TRUE(fs::exists(recent)) << "it changed a moment ago: its writer may still be at work";
}

// An output folder reached through a link that is pointed elsewhere in the middle of a file:
// every image of the file still lands in one folder, the one the link named first, and nothing
// half-written is left in either.
TEST_F(BatchRun, EveryImageOfAFileLandsInOneFolderWhenItsLinkIsSwapped) {
  fs::create_directories(dir.File("a"));
  fs::create_directories(dir.File("b"));
  fs::create_directory_symlink(dir.File("a"), dir.File("link"));
  renderer.onPage = [&](int page) {
    if (page != 4) return;
    fs::create_directory_symlink(dir.File("b"), dir.File("link.new"));
    fs::rename(dir.File("link.new"), dir.File("link"));
  };
  RecordingView view =
      Run({Source("doc.ps", "pages 8 delay 30")}, DefaultSettings(dir.File("link") + "/"));
  renderer.onPage = {};
  ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
  const auto count = [](const std::string& folder) {
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
  };
  EXPECT_EQ(count(dir.File("a")) + count(dir.File("b")), 8);
  EXPECT_TRUE(count(dir.File("a")) == 8 || count(dir.File("b")) == 8)
      << count(dir.File("a")) << " in the first folder, " << count(dir.File("b"))
      << " in the second";
  for (const std::string& output : view.results[0].outputs)
    EXPECT_EQ(fs::path(output).parent_path(), fs::path(dir.File("link"))) << "named as given";
}

// A file that finds no process to start its interpreter with (the user's process limit) waits
// for one of the run's own interpreters to end and tries again; with none running, it fails.
TEST_F(BatchRun, OutOfProcessesWaitsForOneOfItsOwn) {
  const std::string slow = Source("slow.ps", "pages 2 delay 150");
  const std::string starved = Source("starved.ps", "sleep 50 pages 1 noprocess");
  // The slow file still renders when the other finds no process, however the two threads run.
  renderer.onPage = [&](int) {
    EXPECT_TRUE(renderer.WaitUntilLackedProcess()) << "hang guard: no file lacked a process";
  };
  RecordingView view = Run({slow, starved}, DefaultSettings(Out()), 2);
  renderer.onPage = {};
  EXPECT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
  EXPECT_EQ(view.results[1].status, RowStatus::Succeed) << view.results[1].reason;
  EXPECT_TRUE(fs::exists(Out("starved_001.png")));

  const std::string alone = Source("alone.ps", "pages 1 noprocess");
  view = Run({alone}, DefaultSettings(Out()));
  EXPECT_EQ(view.results[0].status, RowStatus::Failed);
  EXPECT_NE(view.results[0].reason.find("cannot start a child process"), std::string::npos)
      << view.results[0].reason;

  // Files that all find no process do not wait for each other's wait: they fail. (This hung.)
  const std::vector<std::string> starvedAll = {Source("s1.ps", "pages 1 starved sleep 20"),
                                               Source("s2.ps", "pages 1 starved sleep 20"),
                                               Source("s3.ps", "pages 1 starved sleep 20")};
  view = Run(starvedAll, DefaultSettings(Out()), 3);
  for (size_t row = 0; row < starvedAll.size(); ++row) {
    EXPECT_EQ(view.results[row].status, RowStatus::Failed) << row;
    EXPECT_NE(view.results[row].reason.find("cannot start a child process"), std::string::npos)
        << view.results[row].reason;
  }
}

// A renderer that reports the pages it finished and one whose pages are found by looking into
// its folder give the same rows: statuses, reasons (but for the page folder's name), and
// images, byte for byte.
TEST_F(BatchRun, ReportedPagesGiveWhatTheLookFinds) {
  const struct {
    const char* script;
    int type, multpage, timeout;
  } cases[] = {
      {"pages 7 delay 5", 3, 0, 0}, {"pages 4 cut 30 fail", 3, 0, 0},
      {"pages 3 cut 30", 0, 0, 0},  {"pages 5 fail Error: /foo", 4, 0, 0},
      {"pages 6 delay 5", 1, 1, 0}, {"pages 3 cut 30", 1, 1, 0},
      {"pages 0", 3, 0, 0},         {"pages 3 hang", 3, 0, 1},
  };
  const std::regex runFolders("mtmp_[^/]*|out/(reported|looked)/");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.script) + " type " + std::to_string(c.type));
    const std::string source = Source("doc.ps", c.script);
    std::map<bool, RowResult> results;
    for (const bool reports : {false, true}) {
      const std::string out = Out(reports ? "reported/" : "looked/");
      fs::remove_all(out);
      ConversionSettings s = DefaultSettings(out);
      s.type = c.type;
      s.multpage = c.multpage;
      renderer.reportsPages = reports;
      // A file that hangs runs out of time once it hangs, for both alike.
      TestClock clock;
      tuneOptions = [&](BatchOptions& options) { clock.Install(options); };
      std::thread timer;
      if (c.timeout > 0) {
        timer = std::thread([&] {
          EXPECT_TRUE(renderer.WaitUntilHanging(1)) << "hang guard: the rendering never hung";
          clock.TimeUp(0);
        });
      }
      RowResult result = Run({source}, s, 1, c.timeout).results[0];
      if (timer.joinable()) timer.join();
      tuneOptions = {};
      result.reason = std::regex_replace(result.reason, runFolders, "*");
      for (std::string& output : result.outputs) output = fs::path(output).filename().string();
      results[reports] = result;
    }
    renderer.reportsPages = false;
    EXPECT_EQ(results[true].status, results[false].status);
    EXPECT_EQ(results[true].reason, results[false].reason);
    EXPECT_EQ(results[true].outputs, results[false].outputs);
    EXPECT_EQ(fs::exists(Out("reported/")), fs::exists(Out("looked/")));
    if (fs::exists(Out("looked/"))) {
      EXPECT_EQ(Snapshot(Out("reported/")), Snapshot(Out("looked/")));
    }
    EXPECT_TRUE(PageTmpIsEmpty());
  }
}

// While the encoders are behind, the renderer is held: the page folder never holds more than the
// pages being converted, the one waiting for the next encoder and the one being written.
TEST_F(BatchRun, PageFolderHoldsOnlyThePagesInFlight) {
  // The conversions wait until the renderer has been held, so that the encoders are behind on
  // any machine; a renderer whose pages are looked for waits for the driver's looks.
  const std::string source = Source("long.ps", "pages 10 size 1400 1400");
  ConversionSettings s = DefaultSettings(Out());
  s.type = 9;
  renderer.waitsForLooks = true;
  for (const auto& [threads, reports] : {std::pair{1, false}, {2, false}, {2, true}}) {
    SCOPED_TRACE(std::to_string(threads) + (reports ? " reported" : " looked"));
    renderer.reportsPages = reports;
    tuneOptions = [this, threads](BatchOptions& options) {
      options.threads = threads;
      options.conversionObserver = [this](int delta) {
        if (delta > 0) {
          EXPECT_TRUE(renderer.WaitUntilHeldOnce()) << "hang guard: the renderer was never held";
        }
      };
    };
    renderer.maxPageFiles = 0;
    renderer.holds = 0;
    RecordingView view = Run({source}, s);
    ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
    EXPECT_EQ(view.results[0].outputs.size(), 10u);
    EXPECT_LE(renderer.maxPageFiles, static_cast<size_t>(threads) + 2);
    EXPECT_GT(renderer.holds, 0) << "the encoders were never behind: the case was not shown";
  }
  renderer.reportsPages = false;
  renderer.waitsForLooks = false;
  tuneOptions = {};
}

// A document whose pages do not depend on one another (a PDF document's) is drawn by two
// interpreters at once when the run has one to spare: its first half and the rest, into the
// images one interpreter gives. A first half that comes out short (a damaged page passed over)
// has the rest dropped unconverted, and the document is drawn once more by one interpreter; a
// second half that comes out short is what one interpreter gives there too; so is a part for
// which no process could be started, drawn once more by one interpreter. Never drawn in parts: a
// PostScript program, a merged TIFF, one page, a run without an interpreter to spare.
TEST_F(BatchRun, IndependentPagesDrawnInTwoPartsGiveTheImagesOfOne) {
  using Ranges = std::vector<std::pair<int, int>>;
  constexpr int kPng = 3, kTga = 8;
  const struct {
    const char* name;
    const char* script;
    int jobs;
    int rows;
    bool merged;
    Ranges ranges;
    int processors = 4;
    int type = kPng;
  } cases[] = {
      {"halves", "independent pages 9 delay 5", 2, 1, false, {{1, 5}, {6, 9}}},
      {"first half short", "independent pages 9 skip 3", 2, 1, false, {{1, 5}, {6, 9}}},
      {"second half short", "independent pages 9 skip 7", 2, 1, false, {{1, 5}, {6, 9}}},
      {"two pages", "independent pages 2", 3, 1, false, {{1, 1}, {2, 2}}},
      {"no process for a part", "independent pages 9 noprocess", 2, 1, false, {{1, 5}, {6, 9}}},
      {"a cheap format on two processors",
       "independent pages 9",
       2,
       1,
       false,
       {{1, 5}, {6, 9}},
       2,
       kTga},
      {"a format dearer to write than to draw on two processors",
       "independent pages 9",
       2,
       1,
       false,
       {},
       2,
       kPng},
      {"one processor", "independent pages 9", 2, 1, false, {}, 1, kTga},
      {"a postscript program", "pages 9", 2, 1, false, {}},
      {"one interpreter at a time", "independent pages 9", 1, 1, false, {}},
      {"two files at once", "independent pages 9", 2, 2, false, {}},
      {"merged", "independent pages 9", 2, 1, true, {}},
      {"one page", "independent pages 1", 2, 1, false, {}},
  };
  renderer.reportsPages = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> sources;
    for (int row = 0; row < c.rows; ++row)
      sources.push_back(Source(std::string(c.name) + "/" + std::to_string(row) + ".ps", c.script));
    ConversionSettings s = DefaultSettings("");
    s.type = c.merged ? 1 : c.type;
    s.multpage = c.merged ? 1 : 0;
    tuneOptions = [&c](BatchOptions& options) { options.processors = c.processors; };
    std::map<std::string, std::vector<uint8_t>> images[2];
    for (const bool one : {false, true}) {
      s.output = Out(std::string(c.name) + (one ? "/one/" : "/asked/"));
      renderer.ranges.clear();
      RecordingView view = Run(sources, s, one ? 1 : c.jobs);
      for (int row = 0; row < c.rows; ++row)
        ASSERT_EQ(view.results[row].status, RowStatus::Succeed) << view.results[row].reason;
      std::sort(renderer.ranges.begin(), renderer.ranges.end());
      EXPECT_EQ(renderer.ranges, one ? Ranges{} : c.ranges);
      images[one ? 1 : 0] = Snapshot(s.output);
    }
    EXPECT_FALSE(images[1].empty());
    EXPECT_TRUE(images[0] == images[1]) << "the images differ";
    EXPECT_TRUE(PageTmpIsEmpty());
  }
  tuneOptions = {};
}

// A row tells its pages as they are converted: never more than its count once that is known,
// the count known while it renders when the document is drawn in two parts (counted first),
// and at the end every page of it, counted. A rendering that failed after its pages still
// counts the pages it gave.
TEST_F(BatchRun, RowPagesCountTheConvertedPages) {
  const struct {
    const char* name;
    const char* script;
    int jobs;
    int pages;
    bool countedWhileRendering;
  } cases[] = {
      {"a postscript program", "pages 4 delay 5", 1, 4, false},
      {"drawn in two parts", "independent pages 9 delay 20", 2, 9, true},
      {"failed after its pages", "pages 3 fail", 1, 3, false},
  };
  renderer.reportsPages = true;
  tuneOptions = [](BatchOptions& options) { options.processors = 4; };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionSettings s = DefaultSettings(Out(c.name));
    RecordingView view = Run({Source(std::string(c.name) + ".ps", c.script)}, s, c.jobs);
    const std::vector<std::pair<int, int>>& told = view.pages[0];
    ASSERT_FALSE(told.empty());
    int most = 0;
    bool countedEarly = false, countedAtTheEnd = false;
    for (const auto& [done, total] : told) {
      EXPECT_TRUE(total == 0 || total == c.pages) << done << " of " << total;
      most = std::max(most, done);
      countedEarly = countedEarly || (total == c.pages && done < c.pages);
      countedAtTheEnd = countedAtTheEnd || (total == c.pages && done == c.pages);
    }
    EXPECT_EQ(most, c.pages);
    EXPECT_TRUE(countedAtTheEnd);
    EXPECT_TRUE(countedEarly || !c.countedWhileRendering);
  }
  tuneOptions = {};
}

// The time, or a stop, ends both interpreters of a document drawn in two parts: the first
// half's pages complete by then are kept, the second half's are dropped (it never came out
// whole), and nothing is left behind.
TEST_F(BatchRun, TimeOrAStopEndsBothPartsOfADocument) {
  renderer.reportsPages = true;
  tuneOptions = [](BatchOptions& options) { options.processors = 4; };
  const std::string source = Source("both.ps", "independent pages 4 hang");
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "time");
    ConversionSettings s = DefaultSettings(Out(stop ? "stop/" : "time/"));
    renderer.ranges.clear();
    TestClock clock;
    tuneOptions = [&](BatchOptions& options) {
      options.processors = 4;
      clock.Install(options);
    };
    // Stopped, or out of time, once both interpreters have written all their pages and hang.
    std::thread ender;
    RecordingView view = Run({source}, s, 2, stop ? 0 : 1, [&](BatchConverter& converter, auto&) {
      ender = std::thread([&, stop, running = &converter] {
        EXPECT_TRUE(renderer.WaitUntilHanging(2)) << "hang guard: both halves never hung";
        if (stop) {
          running->RequestStop();
        } else {
          clock.TimeUp(0);
        }
      });
    });
    ender.join();
    std::sort(renderer.ranges.begin(), renderer.ranges.end());
    EXPECT_EQ(renderer.ranges, (std::vector<std::pair<int, int>>{{1, 2}, {3, 4}}));
    const RowResult& result = view.results[0];
    EXPECT_EQ(result.status, stop ? RowStatus::Aborted : RowStatus::Failed) << result.reason;
    if (!stop) {
      EXPECT_NE(result.reason.find("longer than 1 s"), std::string::npos) << result.reason;
      EXPECT_EQ(result.outputs,
                (std::vector<std::string>{s.output + "both_001.png", s.output + "both_002.png"}));
    }
    EXPECT_FALSE(fs::exists(s.output + "both_003.png"));
    EXPECT_TRUE(PageTmpIsEmpty());
  }
  tuneOptions = {};
}

// Several long files at once share the run's conversion threads: three files with --jobs 8
// never convert more pages at once than the machine has processors (8 at most), however many
// wait, and use more than one thread between them; with a budget of 2, never more than 2.
TEST_F(BatchRun, FilesShareOneThreadBudget) {
  std::vector<std::string> sources;
  for (int i = 0; i < 3; ++i)
    sources.push_back(Source("long" + std::to_string(i) + ".ps", "pages 24 size 300 300"));
  ConversionSettings s = DefaultSettings(Out());
  s.type = 9;
  const struct {
    int jobs;
    int threads;
    int limit;
  } cases[] = {{8, 0, std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8)},
               {3, 2, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.jobs);
    std::atomic<int> running{0};
    std::atomic<int> peak{0};
    Happenings happened;
    tuneOptions = [&](BatchOptions& options) {
      options.threads = c.threads;
      options.conversionObserver = [&](int delta) {
        const int now = running += delta;
        for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
        // Where two may convert at once, the first waits for a second to begin, so that how
        // the threads happen to be scheduled decides nothing.
        if (delta > 0 && c.limit > 1) {
          happened.Add("begun");
          EXPECT_TRUE(happened.WaitFor("begun", 2)) << "hang guard: no second page converted";
        }
      };
    };
    RecordingView view = Run(sources, s, c.jobs);
    for (int row = 0; row < 3; ++row) EXPECT_EQ(view.results[row].status, RowStatus::Succeed);
    EXPECT_LE(peak.load(), c.limit);
    if (c.limit > 1) {
      EXPECT_GT(peak.load(), 1);
    }
  }
  tuneOptions = {};
}

TEST_F(BatchRun, ParallelFilesGiveTheSameOutputsAsOneAtATime) {
  std::vector<std::string> sources;
  for (int i = 0; i < 5; ++i)
    sources.push_back(Source("s" + std::to_string(i) + ".ps", "pages " + std::to_string(i + 1)));
  ConversionSettings s = DefaultSettings(dir.File("one/"));
  Run(sources, s, 1);
  s.output = dir.File("many/");
  RecordingView view = Run(sources, s, 3);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir.File("one"))) {
    ++files;
    EXPECT_EQ(test::ReadFileBytes(entry.path()),
              test::ReadFileBytes(dir.Path() / "many" / entry.path().filename()));
  }
  EXPECT_EQ(files, 15u);
  EXPECT_EQ(view.results.size(), 5u);
}

// A tmpfs of `size` mounted at `folder` for one scope (root only).
class SmallDisk {
 public:
  SmallDisk(const std::string& folder, const char* size) : folder_(folder) {
    fs::create_directories(folder);
    mounted_ =
        std::system(
            ("mount -t tmpfs -o size=" + std::string(size) + " tmpfs '" + folder + "'").c_str()) ==
        0;
  }
  ~SmallDisk() {
    if (mounted_) std::system(("umount '" + folder_ + "'").c_str());
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

// The interpreter is ended while it writes page 3, however that happens. The cut page is never
// converted, and the outputs of an earlier good run stay byte for byte: the cut page's own
// output, and a merged TIFF (whose pages went nowhere, as the reason says).
TEST_F(BatchRun, AnInterpreterEndedDuringAPageLeavesOlderOutputsAlone) {
  const struct {
    const char* what;
    const char* script;
    const char* reason;
  } cases[] = {
      {"disk full", "pages 3 cut 300 fail Error: /ioerror in --showpage--", "ioerror"},
      {"signal", "pages 3 cut 453 fail Ghostscript was ended by signal 9 (Killed)", "signal 9"},
      {"file-size limit", "pages 3 cut 54 fail the document tried to write a file larger than",
       "larger than"},
      {"header cut", "pages 3 cut 20 fail Error: /ioerror", "ioerror"},
      // A renderer that claims success over a cut page: the engine refuses the page.
      {"truncated, no error", "pages 3 cut 300", "is incomplete"},
  };
  // At once, and paced so that the first pages are converted while the third renders.
  for (const char* pacing : {"", "delay 25 "})
    for (const bool merged : {false, true}) {
      for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (merged ? ", merged" : ", per page") + ", " + pacing);
        ConversionSettings s = DefaultSettings(
            Out(std::string(c.what) + (merged ? "m" : "p") + (*pacing != 0 ? "d/" : "/")));
        s.type = merged ? 1 : 3;
        s.multpage = merged ? 1 : 0;
        const std::string source = Source("many.ps", "pages 3");
        ASSERT_EQ(Run({source}, s).results[0].status, RowStatus::Succeed);
        const auto before = Snapshot(s.output);

        Source("many.ps", pacing + std::string(c.script));
        RecordingView view = Run({source}, s);
        const RowResult& result = view.results[0];
        EXPECT_EQ(result.status, RowStatus::Failed);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(Snapshot(s.output), before) << "older outputs changed, or files left behind";
        if (merged) {
          EXPECT_TRUE(result.outputs.empty());
          EXPECT_NE(result.reason.find("many.tif"), std::string::npos) << result.reason;
        } else if (std::string(c.script).find("fail") != std::string::npos) {
          EXPECT_EQ(result.outputs, (std::vector<std::string>{s.output + "many_001.png",
                                                              s.output + "many_002.png"}));
          EXPECT_NE(result.reason.find("1 page cut short"), std::string::npos) << result.reason;
        }
        EXPECT_TRUE(PageTmpIsEmpty());
      }
    }
}

// The merged TIFF is put in place by the driver, by the rule every image follows: only a
// writable regular file (whose permission bits it keeps) or a link (the link itself, its target
// kept) is replaced, and a new file gets 0666 less the umask; a named pipe, a device or a
// read-only file stays, and the row says why.
TEST_F(BatchRun, MergedTiffReplacesOnlyFilesAndLinks) {
  const std::string source = Source("report.ps", "pages 2");
  ConversionSettings s = DefaultSettings(Out());
  s.type = 1;
  s.multpage = 1;
  const std::string target = Out("report.tif");
  const std::string kept = dir.File("kept.tif");
  const mode_t mask = ::umask(022);
  ::umask(mask);
  const auto newFileMode = static_cast<fs::perms>(0666 & ~mask);
  const struct {
    const char* what;
    std::function<bool()> make;
    const char* reason;                // nullptr: replaced
    fs::perms mode = fs::perms::none;  // of the file put in place
  } cases[] = {
      {"nothing", [] { return true; }, nullptr, newFileMode},
      {"file of mode 0644",
       [&] {
         std::ofstream(target) << "old";
         fs::permissions(target, static_cast<fs::perms>(0644));
         return true;
       },
       nullptr, static_cast<fs::perms>(0644)},
      {"file of mode 0604",
       [&] {
         std::ofstream(target) << "old";
         fs::permissions(target, static_cast<fs::perms>(0604));
         return true;
       },
       nullptr, static_cast<fs::perms>(0604)},
      {"named pipe", [&] { return ::mkfifo(target.c_str(), 0600) == 0; }, "is a named pipe"},
      {"device", [&] { return ::mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
       "is a device"},
      {"read-only file",
       [&] {
         std::ofstream(target) << "old";
         fs::permissions(target, fs::perms::owner_read);
         return true;
       },
       "read-only"},
      {"link",
       [&] {
         std::ofstream(kept) << "old";
         fs::create_symlink(kept, target);
         return true;
       },
       nullptr, newFileMode},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_directories(Out());
    if (!c.make()) {
      if (::geteuid() == 0) ADD_FAILURE() << "cannot make a " << c.what;
      continue;  // devices need root
    }
    const fs::file_type before = fs::symlink_status(target).type();
    RecordingView view = Run({source}, s);
    const RowResult& result = view.results[0];
    if (c.reason != nullptr) {
      EXPECT_EQ(result.status, RowStatus::Failed);
      EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
      EXPECT_EQ(fs::symlink_status(target).type(), before);
    } else {
      EXPECT_EQ(result.status, RowStatus::Succeed) << result.reason;
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(target)));
      EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, c.mode);
      if (fs::exists(kept)) {
        EXPECT_EQ(test::ReadFileText(kept), "old");
      }
      EXPECT_EQ(test::PillowDecode(target)->frames, 2);
    }
    // Nothing of the staging is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(Out()), {}), 1);
    fs::permissions(Out(), fs::perms::owner_all);
    std::error_code ec;
    fs::remove_all(Out(), ec);
  }
}

// A renderer that cannot start fails the row with the reason, and no page folder is made.
TEST_F(BatchRun, RendererThatCannotStartMakesNoPageFolder) {
  const std::string source = Source("report.ps", "pages 1");
  renderer.openFails = true;
  RecordingView view = Run({source}, DefaultSettings(Out()));
  EXPECT_EQ(view.results[0].status, RowStatus::Failed);
  EXPECT_EQ(view.results[0].reason, "The page renderer could not be started");
  EXPECT_EQ(renderer.tmpWasEmptyAtOpen, std::vector<bool>{true});
  EXPECT_TRUE(PageTmpIsEmpty());
}

// The time limit bounds the whole file: it runs out once the rendering has returned, while its
// first pages are being converted; the row fails with the reason, the outputs written so far
// stay, and the page not begun is not converted. The conversions are held until the time has
// run out, so that the machine's speed decides nothing.
TEST_F(BatchRun, TimeoutCoversConversionToo) {
  // Three conversion threads take the first three pages; the fourth waits for one of them.
  const std::string source = Source("long.ps", "pages 4");
  ConversionSettings s = DefaultSettings(Out());
  s.type = 9;
  TestClock clock;
  Happenings happened;
  tuneOptions = [&](BatchOptions& options) {
    options.threads = 3;
    clock.Install(options);
    options.conversionObserver = [&](int delta) {
      if (delta < 0) return;
      happened.Add("begun");
      EXPECT_TRUE(happened.WaitFor("released")) << "hang guard: the time never ran out";
    };
  };
  std::thread timer;
  RecordingView view = Run({source}, s, 1, 1, [&](BatchConverter&, RecordingView& v) {
    v.onStatus = [&](int, const std::string& status) {
      if (status == "Converting...") happened.Add("rendered");
    };
    timer = std::thread([&] {
      EXPECT_TRUE(happened.WaitFor("rendered")) << "hang guard: the rendering never returned";
      EXPECT_TRUE(happened.WaitFor("begun", 3)) << "hang guard: three pages never began";
      clock.TimeUp(0);
      clock.LateStartOver(0);
      happened.Add("released");
    });
  });
  timer.join();
  tuneOptions = {};
  const RowResult& result = view.results[0];
  EXPECT_EQ(result.status, RowStatus::Failed);
  EXPECT_NE(result.reason.find("longer than 1 s"), std::string::npos) << result.reason;
  EXPECT_EQ(result.outputs, (std::vector<std::string>{Out("long_001.jp2"), Out("long_002.jp2"),
                                                      Out("long_003.jp2")}));
  EXPECT_EQ(happened.Count("begun"), 3) << "a page began after the time ran out";
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(Out()), {})),
            result.outputs.size());
  for (const std::string& output : result.outputs) EXPECT_TRUE(test::PillowDecode(output));
  EXPECT_TRUE(PageTmpIsEmpty());
}

// Many conversions at once do not stretch the time limit: the pages waiting for a thread when
// it runs out, or taken after it, begin before the late start is over (a second after it) or
// not at all, and the files fail with the pages left. Per page and merged. Two files share the
// run's conversion threads, so that pages handed out wait for one; every conversion is held
// until the test lets it go, so that it knows, on any machine, which pages had begun when.
TEST_F(BatchRun, TimeoutHoldsWithManyConversionsAtOnce) {
  const std::string sources[] = {Source("long.ps", "pages 60"), Source("more.ps", "pages 60")};
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "per page");
    ConversionSettings s = DefaultSettings(Out(merged ? "merged/" : "pages/"));
    s.type = merged ? 1 : 9;
    s.multpage = merged ? 1 : 0;
    // Each file hands out as many pages as there are threads: half of them wait for one.
    const int threads = merged ? 1 : 2;
    TestClock clock;
    Happenings happened;
    tuneOptions = [&](BatchOptions& options) {
      options.threads = threads;
      clock.Install(options);
      options.conversionObserver = [&](int delta) {
        if (delta < 0) return;
        int begun = 0;
        happened.Note([&](auto& counts) { begun = ++counts["begun"]; });
        EXPECT_TRUE(happened.WaitUntil([&](auto& counts) { return counts["released"] >= begun; }))
            << "hang guard: a conversion was never let go";
      };
    };
    int begunBeforeTheEnd = 0;
    std::thread timer([&] {
      // Every thread converts, and both renderings are held: pages handed out wait.
      EXPECT_TRUE(happened.WaitFor("begun", threads)) << "hang guard: the threads never converted";
      EXPECT_TRUE(renderer.WaitUntilHeld(2)) << "hang guard: the renderings were never held";
      clock.TimeUp(0);
      clock.TimeUp(1);
      if (!merged) {
        // In the late start, a page that waited for a thread may still begin.
        happened.Add("released");
        EXPECT_TRUE(happened.WaitFor("begun", threads + 1)) << "hang guard: no page began late";
      }
      // Every thread is held in a conversion: no page can begin while the late start ends.
      clock.LateStartOver(0);
      clock.LateStartOver(1);
      begunBeforeTheEnd = happened.Count("begun");
      happened.Add("released", 1000);
    });
    RecordingView view = Run({sources[0], sources[1]}, s, 2, 1);
    timer.join();
    tuneOptions = {};
    EXPECT_EQ(happened.Count("begun"), begunBeforeTheEnd) << "a page began after its time";
    for (int row = 0; row < 2; ++row) {
      const RowResult& result = view.results[row];
      EXPECT_EQ(result.status, RowStatus::Failed);
      EXPECT_NE(result.reason.find("longer than 1 s"), std::string::npos) << result.reason;
      if (merged) {
        EXPECT_TRUE(result.outputs.empty());
      } else {
        EXPECT_LT(result.outputs.size(), 60u);
        EXPECT_NE(result.reason.find("not converted"), std::string::npos) << result.reason;
      }
    }
    if (merged) {
      EXPECT_FALSE(fs::exists(s.output + "long.tif"));
      EXPECT_FALSE(fs::exists(s.output + "more.tif"));
    }
    if (fs::exists(s.output)) {
      for (const auto& entry : fs::directory_iterator(s.output))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "staging left behind";
    }
    EXPECT_TRUE(PageTmpIsEmpty());
  }
}

// Interpreters share the run's memory budget: each gets an equal part of three quarters of it as
// its cap (never below what one needs; the last quarter is for the pages converted meanwhile),
// files wait while the budget is taken, and a budget too small for even one
// interpreter fails the files with the reason instead of waiting for ever.
TEST_F(BatchRun, InterpretersShareTheMemoryBudget) {
  // Each rendering waits for company (as many as may run at once, but never for more than can
  // come), so that the interpreters run side by side however the row threads are scheduled,
  // and then lingers.
  const auto sourcesMeeting = [&](int meet) {
    std::vector<std::string> sources;
    for (int i = 0; i < 4; ++i)
      sources.push_back(Source("s" + std::to_string(i) + ".ps",
                               "meet " + std::to_string(meet) + " of 4 sleep 200 pages 1"));
    return sources;
  };
  std::vector<std::string> sources = sourcesMeeting(4);
  ConversionSettings s = DefaultSettings(Out());
  constexpr uint64_t MiB = uint64_t{1} << 20;

  RecordingView roomy = Run(sources, s, 4, 0, {}, 4096 * MiB);
  EXPECT_EQ(renderer.memoryLimits, std::vector<uint64_t>(4, 768 * MiB));
  EXPECT_EQ(renderer.maxActive, 4);

  renderer.memoryLimits.clear();
  renderer.maxActive = 0;
  renderer.ResetBegun();
  sources = sourcesMeeting(2);
  RecordingView tight = Run(sources, s, 4, 0, {}, 600 * MiB);
  EXPECT_EQ(renderer.memoryLimits, std::vector<uint64_t>(4, MemoryBudget::kInterpreterFloor));
  EXPECT_EQ(renderer.maxActive, 2) << "two caps of 256 MiB fit in 600 MiB, not three";
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(roomy.results[row].status, RowStatus::Succeed);
    EXPECT_EQ(tight.results[row].status, RowStatus::Succeed) << tight.results[row].reason;
  }

  // One file with four jobs allowed: its interpreter gets all the interpreters may have.
  renderer.memoryLimits.clear();
  Run({sources[0]}, s, 4, 0, {}, 2048 * MiB);
  EXPECT_EQ(renderer.memoryLimits, std::vector<uint64_t>{1536 * MiB});

  RecordingView tiny = Run({sources[0]}, s, 1, 0, {}, 100 * MiB);
  EXPECT_EQ(tiny.results[0].status, RowStatus::Failed);
  EXPECT_NE(tiny.results[0].reason.find("more than the 100 MiB"), std::string::npos)
      << tiny.results[0].reason;
  EXPECT_TRUE(PageTmpIsEmpty());
}

// What a conversion really adds at its peak, measured in a child process (its peak resident
// size less what it held before): the engine job the driver runs for one page.
uint64_t MeasuredConversionPeak(const std::string& page, const std::string& output,
                                const PageSteps& steps) {
  int channel[2];
  if (::pipe(channel) != 0) return UINT64_MAX;
  const pid_t child = ::fork();
  if (child == 0) {
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    ConverterHandle job = ConverterCreate();
    ConverterSetOption(job, OptOutputPath, output.c_str(), 0);
    ConverterSetOption(job, OptFormat, nullptr, NumberOf(steps.format));
    if (steps.width > 0) {
      ConverterSetOption(job, OptWidth, nullptr, static_cast<int>(steps.width));
      ConverterSetOption(job, OptHeight, nullptr, static_cast<int>(steps.height));
    }
    if (steps.angle > 0) ConverterSetOption(job, OptAngle, nullptr, steps.angle);
    ConverterAddFile(job, page.c_str());
    ConverterRun(job);
    const bool ok = ConverterGetError(job)[0] == '\0';
    ConverterDestroy(job);
    ::getrusage(RUSAGE_SELF, &after);
    const uint64_t grown = ok ? uint64_t(after.ru_maxrss - before.ru_maxrss) << 10 : UINT64_MAX;
    [[maybe_unused]] ssize_t written = ::write(channel[1], &grown, sizeof grown);
    ::_exit(0);
  }
  ::close(channel[1]);
  uint64_t grown = UINT64_MAX;
  if (::read(channel[0], &grown, sizeof grown) != sizeof grown) grown = UINT64_MAX;
  ::close(channel[0]);
  ::waitpid(child, nullptr, 0);
  return grown;
}

// A page's memory share covers what its conversion really allocates: the resized picture (at
// the target's size, not the page's), the turned one, and the encoder's buffers.
TEST(MemoryBudgetShares, PageEstimateCoversTheConversion) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's own heap keeps freed memory";
#endif
  test::TempDir dir;
  using enum OutputFormat;
  const struct {
    uint32_t width, height;
    PageSteps steps;
  } cases[] = {
      {300, 400, {Png, 0, 3000, 3000}},  {300, 400, {Jpeg, 0, 3000, 3000}},
      {300, 400, {Bmp, 90, 3000, 2000}}, {200, 200, {Jp2, 0, 1000, 1000}},
      {1500, 1500, {Tiff, 90, 0, 0}},    {1500, 1500, {Png, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const std::string page = dir.File("page.bmp");
    ASSERT_TRUE(test::WriteTestPage(page, c.width, c.height));
    const std::optional<PageFileHeader> header = ReadPageFileHeader(page);
    ASSERT_TRUE(header);
    const std::string output = dir.File("out" + std::string(InfoOf(c.steps.format).extension));
    const uint64_t peak = MeasuredConversionPeak(page, output, c.steps);
    SCOPED_TRACE(std::string(InfoOf(c.steps.format).extension) + " " +
                 std::to_string(c.steps.width) + "x" + std::to_string(c.steps.height) + " " +
                 std::to_string(c.steps.angle));
    ASSERT_NE(peak, UINT64_MAX) << "the conversion failed";
    EXPECT_GE(PageConversionEstimate(*header, c.steps), peak);
  }
}

TEST(MemoryBudgetShares, WaitGiveUpAndRefuse) {
  MemoryBudget budget(1000);
  std::string error;
  MemoryBudget::Share first = budget.Take(600, {}, &error);
  ASSERT_TRUE(first.Granted());
  // 600 + 500 do not fit: the wait ends when a stop comes...
  std::stop_source stop;
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.request_stop();
  });
  EXPECT_FALSE(budget.Take(500, stop.get_token(), &error).Granted());
  stopper.join();
  EXPECT_TRUE(error.empty()) << "a stop is no refusal";
  // Without waiting: what fits now is granted, what does not is not.
  EXPECT_FALSE(budget.TryTake(500).Granted());
  EXPECT_TRUE(budget.TryTake(400).Granted());
  EXPECT_EQ(budget.InUse(), 600u) << "the share went back when it went";
  // ... or when the first share is given back.
  std::thread release([&first] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    first.Release();
  });
  MemoryBudget::Share second = budget.Take(500, {}, &error);
  release.join();
  EXPECT_TRUE(second.Granted());
  EXPECT_EQ(budget.InUse(), 500u);
  EXPECT_FALSE(budget.Take(1001, {}, &error).Granted());
  EXPECT_NE(error.find("more than"), std::string::npos) << error;
  second.Release();
  EXPECT_EQ(budget.InUse(), 0u);
}

// Requests that may not block their thread are granted in the order they were made, by the
// release that makes room for them; nothing jumps the queue meanwhile.
TEST(MemoryBudgetShares, QueuedRequestsAreGrantedInOrder) {
  MemoryBudget budget(1000);
  std::string error;
  std::vector<MemoryBudget::Share> granted;
  granted.reserve(4);
  std::vector<int> order;
  const auto request = [&](int id, uint64_t bytes) {
    return budget.TakeWhenFree(
        bytes,
        [&, id](MemoryBudget::Share share) {
          order.push_back(id);
          granted.push_back(std::move(share));
        },
        &error);
  };
  ASSERT_TRUE(request(1, 700));
  ASSERT_TRUE(request(2, 600));  // waits for 1
  ASSERT_TRUE(request(3, 100));  // fits, but comes after 2
  EXPECT_EQ(order, std::vector<int>{1});
  EXPECT_FALSE(budget.TryTake(100).Granted()) << "a request waits before it";
  EXPECT_FALSE(request(4, 1001));
  EXPECT_NE(error.find("more than"), std::string::npos) << error;
  granted[0].Release();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(budget.InUse(), 700u);
  granted.clear();
  EXPECT_EQ(budget.InUse(), 0u);
}

// The guard counts a file system once however many folders of the run it holds, and refuses a
// write that would eat into the reserve, naming the disk and what is left.
TEST(DiskGuardChecks, OneFileSystemOneReserve) {
  test::TempDir dir;
  fs::create_directories(dir.File("pages"));
  fs::create_directories(dir.File("out"));
  struct statvfs info {};
  ASSERT_EQ(statvfs(dir.File("out").c_str(), &info), 0);
  const uint64_t free = uint64_t{info.f_bavail} * info.f_frsize;
  ASSERT_GT(free, uint64_t{64} << 20);

  DiskGuard guard;
  ASSERT_TRUE(guard.Watch(dir.File("pages")));
  guard.SetReserve(dir.File("out"), free - (uint64_t{32} << 20), 0);  // the same disk
  EXPECT_EQ(guard.Check(), "");
  EXPECT_EQ(guard.CheckWrite(dir.File("pages"), uint64_t{1} << 20), "");
  const std::string refused = guard.CheckWrite(dir.File("out"), uint64_t{64} << 20);
  EXPECT_NE(refused.find("the disk holding " + dir.File("pages") + " is nearly full ("),
            std::string::npos)
      << refused;
  guard.SetReserve(dir.File("pages"), free + (uint64_t{1} << 30), 0);
  EXPECT_NE(guard.Check().find(" left)"), std::string::npos);
  // Files are counted too, where the file system counts them.
  if (info.f_files != 0) {
    guard.SetReserve(dir.File("pages"), 0, uint64_t{info.f_favail} + 1000);
    EXPECT_NE(guard.Check().find("more files left)"), std::string::npos) << guard.Check();
  }
}

// With the outputs on a small disk, conversion stops before the disk is full: the guard
// refuses the output that would eat into the reserve (half of what was free).
TEST_F(BatchRun, OutputsStopShortOfFillingTheirDisk) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::string mount = dir.File("small");
  const SmallDisk disk(mount, "3m");
  ASSERT_TRUE(disk.Mounted());

  // 600 x 400 pages: 720 KB each as 24-bit BMP files.
  const std::string source = Source("big.ps", "pages 4 size 600 400");
  ConversionSettings s = DefaultSettings(mount + "/");
  s.type = 2;  // BMP
  RecordingView view = Run({source}, s);
  const RowResult& result = view.results[0];
  EXPECT_EQ(result.status, RowStatus::Failed);
  EXPECT_NE(result.reason.find("the disk holding " + mount), std::string::npos) << result.reason;
  EXPECT_NE(result.reason.find("is nearly full ("), std::string::npos) << result.reason;
  EXPECT_GE(result.outputs.size(), 1u);
  EXPECT_LT(result.outputs.size(), 4u);
  struct statvfs info {};
  ASSERT_EQ(statvfs(mount.c_str(), &info), 0);
  EXPECT_GT(uint64_t{info.f_bavail} * info.f_frsize, uint64_t{1} << 20);
  for (const std::string& output : result.outputs) EXPECT_TRUE(test::PillowDecode(output));
}

// The same driver over the real plug-in and Ghostscript.
class RealInterpreter : public BatchRun {
 protected:
  void SetUp() override {
    BatchRun::SetUp();
    std::string message, detail;
    library_ = RendererLibrary::Load(&message, &detail);
    ASSERT_NE(library_, nullptr) << message << ": " << detail;
  }
  RecordingView RunReal(std::vector<std::string> rows, const ConversionSettings& settings,
                        int jobs = 1, uint64_t memoryBudget = 0) {
    return Run(std::move(rows), settings, jobs, 0, {}, memoryBudget, library_.get());
  }
  std::unique_ptr<RendererLibrary> library_;
};

// A document converted once, then again with its pages on a disk too small for them: the
// interpreter runs out of space in the middle of a page (or the guard stops it first), and
// neither the per-page images nor a merged TIFF of the first run are touched.
TEST_F(RealInterpreter, PagesOnAFullDiskLeaveEarlierImagesAlone) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const std::string small = dir.File("small");
  // Letter pages at 72 dpi: 1.4 MB each as BMP files, so the second one cannot fit.
  std::string ps = "%!PS\n";
  for (int k = 1; k <= 4; ++k)
    ps += std::to_string(k * 50) + " 255 div setgray 0 0 612 792 rectfill showpage\n";
  const std::string source = Source("many.ps", ps);
  ConversionSettings s = DefaultSettings(Out());
  s.xdpi = s.ydpi = 72;
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged" : "per page");
    s.type = merged ? 1 : 3;
    s.multpage = merged ? 1 : 0;
    s.output = Out(merged ? "merged/" : "pages/");
    ASSERT_EQ(RunReal({source}, s).results[0].status, RowStatus::Succeed);
    const auto before = Snapshot(s.output);
    ASSERT_EQ(before.size(), merged ? 1u : 4u);

    const SmallDisk disk(small, "2m");
    ASSERT_TRUE(disk.Mounted());
    setenv("TMPDIR", small.c_str(), 1);
    RecordingView second = RunReal({source}, s);
    setenv("TMPDIR", pageTmp().c_str(), 1);
    EXPECT_EQ(second.results[0].status, RowStatus::Failed);
    EXPECT_FALSE(second.results[0].reason.empty());
    EXPECT_EQ(Snapshot(s.output), before) << second.results[0].reason;
    EXPECT_TRUE(fs::is_empty(small));
  }
}

// Memory bombs run with the interpreters capped to their share of the run's memory budget:
// two at once in 768 MiB get 288 MiB each, and fail there with the interpreter's reason.
TEST_F(RealInterpreter, MemoryBombsFailWithinTheRunsBudget) {
  const std::string bombs[] = {
      Source("bomb1.ps", "%!PS\n/a 1 array def { /a [ a 1000000 array ] def } loop\n"),
      Source("bomb2.ps", "%!PS\n/d 10 dict def 0 { d 1 index 65536 string put 1 add } loop\n")};
  RecordingView view = RunReal({bombs[0], bombs[1]}, DefaultSettings(Out()), 2, 768 << 20);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(view.results[row].status, RowStatus::Failed);
    EXPECT_EQ(view.results[row].reason.rfind("the interpreter reported: Error: /VMerror", 0), 0u)
        << view.results[row].reason;
  }
  // No child grew past its cap. A child counts this process's pages too until it starts gs,
  // which matters only when this process is larger than the cap (under a sanitizer).
  struct rusage children {};
  struct rusage self {};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
  ASSERT_EQ(getrusage(RUSAGE_SELF, &self), 0);
  EXPECT_LE(static_cast<uint64_t>(children.ru_maxrss) << 10,
            std::max(uint64_t{288} << 20, static_cast<uint64_t>(self.ru_maxrss) << 10));
}

// The real plug-in, with the moments its renderings return and how often it was held; with
// `beforeSecondPage`, it calls that before it passes on the report of a rendering's second page
// (on the thread that follows the interpreter, so that the rendering has not returned).
class WatchedRenderer : public PageRenderer {
 public:
  explicit WatchedRenderer(PageRenderer& inner) : inner_(inner) {}
  int Open() override { return inner_.Open(); }
  bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
              int yDpi) override {
    const bool ok = inner_.Render(handle, psPath, pattern, xDpi, yDpi);
    renderEnded = std::chrono::steady_clock::now();
    return ok;
  }
  void Close(int handle) override { inner_.Close(handle); }
  void Abort(int handle) override { inner_.Abort(handle); }
  bool SetPageListener(int handle, PageListener listener) override {
    if (!listener || !beforeSecondPage) return inner_.SetPageListener(handle, std::move(listener));
    auto reported = std::make_shared<int>(0);
    return inner_.SetPageListener(handle, [this, reported, listener](const std::string& page) {
      if (++*reported == 2) beforeSecondPage();
      listener(page);
    });
  }
  std::string LastError(int handle) override { return inner_.LastError(handle); }
  void SetMemoryLimit(int handle, uint64_t bytes) override { inner_.SetMemoryLimit(handle, bytes); }
  void Pause(int handle, bool paused) override {
    holds += paused ? 1 : 0;
    inner_.Pause(handle, paused);
  }
  bool LackedProcess(int handle) override { return inner_.LackedProcess(handle); }
  std::optional<int> PageCount(int handle, const std::string& path,
                               const std::string& workFolder) override {
    return inner_.PageCount(handle, path, workFolder);
  }
  std::optional<int> ExpectedPages(int handle) override { return inner_.ExpectedPages(handle); }
  bool RenderPages(int handle, const std::string& path, const std::string& pattern, int xDpi,
                   int yDpi, int first, int last) override {
    {
      std::lock_guard lock(mutex_);
      ranges.emplace_back(first, last);
    }
    return inner_.RenderPages(handle, path, pattern, xDpi, yDpi, first, last);
  }
  std::chrono::steady_clock::time_point renderEnded;
  std::atomic<int> holds{0};
  std::function<void()> beforeSecondPage;
  std::mutex mutex_;
  std::vector<std::pair<int, int>> ranges;  // the page ranges rendered, under the mutex

 private:
  PageRenderer& inner_;
};

// A 40-page document through Ghostscript, converted while it renders, gives the images of the
// plain path byte for byte, per page (PNG) and merged into one TIFF, whose pages keep their
// order.
TEST_F(RealInterpreter, FortyPagesConvertedWhileTheyRenderMatchThePlainPath) {
  // Pages of 4 x 3 inches; page k is filled with its own grey and carries its number.
  std::string ps =
      "%!PS\n<< /PageSize [288 216] >> setpagedevice\n/Helvetica findfont 60 scalefont setfont\n";
  for (int k = 1; k <= 40; ++k) {
    ps += std::to_string(k * 6) + " 255 div setgray 0 0 288 216 rectfill 1 0 0 setrgbcolor " +
          "40 80 moveto (" + std::to_string(k) + ") show showpage\n";
  }
  const std::string source = Source("forty.ps", ps);
  WatchedRenderer watched(*library_);
  ConversionSettings s = DefaultSettings("");
  s.xdpi = s.ydpi = 100;
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "merged tiff" : "png");
    s.type = merged ? 1 : 3;
    s.multpage = merged ? 1 : 0;
    for (const bool overlap : {false, true}) {
      s.output = Out(std::string(merged ? "tif" : "png") + (overlap ? "/overlap/" : "/plain/"));
      std::atomic<bool> converted{false};
      std::chrono::steady_clock::time_point firstConversion;
      Happenings happened;
      tuneOptions = [&](BatchOptions& options) {
        options.overlap = overlap;
        options.conversionObserver = [&](int delta) {
          if (delta > 0 && !converted.exchange(true)) {
            firstConversion = std::chrono::steady_clock::now();
            happened.Add("begun");
          }
        };
      };
      // Overlapped, the rendering goes on past its first page only once that page has begun
      // to be converted, however slowly the conversion threads get to run.
      watched.beforeSecondPage = [&] {
        if (overlap) {
          EXPECT_TRUE(happened.WaitFor("begun")) << "hang guard: no page converted while rendering";
        }
      };
      RecordingView view = Run({source}, s, 1, 0, {}, 0, &watched);
      watched.beforeSecondPage = {};
      ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
      EXPECT_EQ(view.results[0].outputs.size(), merged ? 1u : 40u);
      if (overlap) {
        EXPECT_LT(firstConversion, watched.renderEnded) << "no page converted while rendering";
      }
    }
    tuneOptions = {};
    const std::string name = merged ? "tif" : "png";
    const auto plain = Snapshot(Out(name + "/plain/"));
    EXPECT_EQ(plain.size(), merged ? 1u : 40u);
    EXPECT_TRUE(plain == Snapshot(Out(name + "/overlap/"))) << "the images differ";
  }
  // Page order in the merged file, read by Pillow: the grey of page k is k * 6.
  for (const int page : {0, 1, 19, 39}) {
    const auto tif = test::PillowDecode(Out("tif/overlap/forty.tif"), page);
    ASSERT_TRUE(tif);
    EXPECT_EQ(tif->frames, 40);
    EXPECT_NEAR(tif->pixels[0], (page + 1) * 6, 1) << page;
  }
  EXPECT_TRUE(PageTmpIsEmpty());
}

// A PDF document drawn by two interpreters at once gives the images one interpreter gives, byte
// for byte: a sound one, one with a page whose drawing fails (the interpreter goes on), and
// one whose page tree names a page that is not there in its first half (the interpreter ends
// there: the first half comes out short, and the document is drawn once more) or in its second.
TEST_F(RealInterpreter, PdfDrawnInTwoPartsGivesTheImagesOfOneInterpreter) {
  std::string ps = "%!PS\n<< /PageSize [216 144] >> setpagedevice\n";
  ps += "/Helvetica findfont 60 scalefont setfont\n";
  for (int k = 1; k <= 7; ++k) {
    ps += std::to_string(k * 30) + " 255 div setgray 0 0 216 144 rectfill 1 0 0 setrgbcolor " +
          "30 50 moveto (" + std::to_string(k) + ") show showpage\n";
  }
  Source("seven.ps", ps);
  ASSERT_EQ(test::RunCommand({"ps2pdf", dir.File("seven.ps"), dir.File("seven.pdf")}).exitCode, 0);
  ASSERT_EQ(test::RunCommand({"qpdf", "--qdf", "--object-streams=disable", dir.File("seven.pdf"),
                              dir.File("open.pdf")})
                .exitCode,
            0);
  const std::string open = test::ReadFileText(dir.File("open.pdf"));
  // The page objects in page order, as the page tree lists them ("6 0 R ...").
  const size_t kids = open.find("/Kids [");
  ASSERT_NE(kids, std::string::npos);
  std::vector<size_t> references;
  for (size_t at = open.find(" 0 R", kids); at < open.find(']', kids);
       at = open.find(" 0 R", at + 1))
    references.push_back(at);
  ASSERT_EQ(references.size(), 7u);
  // A page left out: its reference names an object that is not there (the interpreter
  // rebuilds the cross-reference table the longer name puts out of place).
  const auto missingPage = [&](size_t page) {
    std::string pdf = open;
    const size_t number = open.rfind(' ', references[page - 1] - 1) + 1;
    pdf.insert(number, "9");
    return pdf;
  };
  // A page whose contents are not there.
  std::string undrawable = open;
  const size_t contents = undrawable.find("/Contents ");
  ASSERT_NE(contents, std::string::npos);
  undrawable.replace(undrawable.find(" 0 R", contents), 4, " 7 R");
  // A page the interpreter cannot find ends its rendering there: the file fails, the pages
  // before it kept.
  const struct {
    const char* name;
    std::string bytes;
    size_t images;
    RowStatus status;
  } documents[] = {{"sound.pdf", test::ReadFileText(dir.File("seven.pdf")), 7, RowStatus::Succeed},
                   {"undrawable.pdf", undrawable, 7, RowStatus::Succeed},
                   {"missing2.pdf", missingPage(2), 1, RowStatus::Failed},
                   {"missing6.pdf", missingPage(6), 5, RowStatus::Failed}};
  WatchedRenderer watched(*library_);
  ConversionSettings s = DefaultSettings("");
  s.xdpi = s.ydpi = 72;
  // Room for two interpreters beside the PNG conversions.
  tuneOptions = [](BatchOptions& options) { options.processors = 4; };
  for (const auto& [name, bytes, count, status] : documents) {
    SCOPED_TRACE(name);
    const std::string source = Source(name, bytes);
    std::map<std::string, std::vector<uint8_t>> images[2];
    std::string reasons[2];
    for (const int jobs : {2, 1}) {
      s.output = Out(std::string(name) + "/" + std::to_string(jobs) + "/");
      watched.ranges.clear();
      RecordingView view = Run({source}, s, jobs, 0, {}, 0, &watched);
      ASSERT_EQ(view.results[0].status, status) << view.results[0].reason;
      EXPECT_EQ(view.results[0].pagesExpected, 7);
      EXPECT_EQ(view.results[0].outputs.size(), count);
      reasons[jobs - 1] = view.results[0].reason;
      std::sort(watched.ranges.begin(), watched.ranges.end());
      using Ranges = std::vector<std::pair<int, int>>;
      const Ranges expected = jobs == 1 ? Ranges{} : Ranges{{1, 4}, {5, 7}};
      EXPECT_EQ(watched.ranges, expected);
      images[jobs - 1] = Snapshot(s.output);
    }
    EXPECT_EQ(images[0].size(), count);
    EXPECT_TRUE(images[0] == images[1]) << "the images differ";
    EXPECT_EQ(reasons[0], reasons[1]);
    if (status == RowStatus::Failed) {
      EXPECT_NE(reasons[0].find("pages " + std::to_string(count + 1) + "\u20137 were not drawn"),
                std::string::npos)
          << reasons[0];
    }
  }
  // The sound document's pages in order: page k is grey k * 30.
  for (int page = 1; page <= 7; ++page) {
    const auto image =
        test::PillowDecode(Out("sound.pdf/2/sound_00" + std::to_string(page) + ".png"));
    ASSERT_TRUE(image);
    EXPECT_NEAR(image->At(2, 2)[0], page * 30, 1) << page;
  }
  EXPECT_TRUE(PageTmpIsEmpty());
  tuneOptions = {};
}

// Names are bytes: a source whose name is not UTF-8 (or holds a control character) renders
// like any other, its pages converted while the next ones render, and its outputs take its
// own name.
TEST_F(RealInterpreter, SourceNamesThatAreNotTextKeepThePipeline) {
  std::string ps = "%!PS\n<< /PageSize [288 216] >> setpagedevice\n";
  for (int k = 1; k <= 12; ++k)
    ps += std::to_string(k * 20) + " 255 div setgray 0 0 288 216 rectfill showpage\n";
  WatchedRenderer watched(*library_);
  ConversionSettings s = DefaultSettings(Out());
  s.xdpi = s.ydpi = 100;
  for (const std::string name : {"caf\xe9 menu", "tab\there", "\xff\xfe"}) {
    SCOPED_TRACE(name);
    const std::string source = Source(name + ".ps", ps);
    std::atomic<bool> converted{false};
    std::chrono::steady_clock::time_point firstConversion;
    Happenings happened;
    tuneOptions = [&](BatchOptions& options) {
      options.conversionObserver = [&](int delta) {
        if (delta > 0 && !converted.exchange(true)) {
          firstConversion = std::chrono::steady_clock::now();
          happened.Add("begun");
        }
      };
    };
    // The rendering goes on past its first page only once that page has begun to be converted.
    watched.beforeSecondPage = [&] {
      EXPECT_TRUE(happened.WaitFor("begun")) << "hang guard: no page converted while rendering";
    };
    RecordingView view = Run({source}, s, 1, 0, {}, 0, &watched);
    watched.beforeSecondPage = {};
    ASSERT_EQ(view.results[0].status, RowStatus::Succeed) << view.results[0].reason;
    ASSERT_EQ(view.results[0].outputs.size(), 12u);
    EXPECT_EQ(view.results[0].outputs[11], Out(name + "_012.png"));
    EXPECT_NEAR(test::PillowDecode(Out(name + "_012.png"))->pixels[0], 240, 1);
    EXPECT_LT(firstConversion, watched.renderEnded) << "no page converted while rendering";
    EXPECT_TRUE(PageTmpIsEmpty());
  }
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "caf\xe9 menu.ps")) << "the source stays";
}

// Documents whose pages depend on the whole run that draws them (copies, page counters brought
// back by restore, a clock seed) give the images of one run, numbered in its order: at every
// number of files and pages converted at once, page by page or merged, converted while they
// render or after, one file at a time or all together.
TEST_F(RealInterpreter, StatefulDocumentsGiveThePagesOfOneRun) {
  std::string error;
  const std::vector<test::StatefulDocument> documents =
      test::WriteStatefulDocuments(dir.Path().string(), &error);
  ASSERT_FALSE(documents.empty()) << error;
  const struct {
    const char* name;
    int jobs;
    bool overlap;
    bool merged;
    bool together;  // every document in one run
  } modes[] = {{"jobs 1", 1, true, false, false},
               {"jobs 2", 2, true, false, false},
               {"jobs 4", 4, true, false, false},
               {"merged, jobs 2", 2, true, true, false},
               {"plain path, jobs 2", 2, false, false, false},
               {"together, jobs 4", 4, true, false, true}};
  for (const auto& mode : modes) {
    SCOPED_TRACE(mode.name);
    tuneOptions = [&mode](BatchOptions& options) { options.overlap = mode.overlap; };
    ConversionSettings s = DefaultSettings(Out(std::string(mode.name) + "/"));
    s.xdpi = s.ydpi = 72;
    s.type = mode.merged ? 1 : 3;
    s.multpage = mode.merged ? 1 : 0;
    std::vector<RowResult> results;
    if (mode.together) {
      std::vector<std::string> rows;
      for (const test::StatefulDocument& document : documents) rows.push_back(document.path);
      RecordingView view = Run(rows, s, mode.jobs, 0, {}, 0, library_.get());
      for (size_t row = 0; row < rows.size(); ++row)
        results.push_back(view.results[static_cast<int>(row)]);
    } else {
      for (const test::StatefulDocument& document : documents)
        results.push_back(Run({document.path}, s, mode.jobs, 0, {}, 0, library_.get()).results[0]);
    }
    std::set<std::string> expected;
    for (size_t i = 0; i < documents.size(); ++i) {
      const test::StatefulDocument& document = documents[i];
      SCOPED_TRACE(document.name);
      ASSERT_EQ(results[i].status, RowStatus::Succeed) << results[i].reason;
      const std::vector<std::string> images =
          mode.merged ? std::vector<std::string>{s.output + document.stem + ".tif"}
                      : test::ImagesOf(document, s.output, ".png");
      EXPECT_EQ(results[i].outputs, images);
      EXPECT_EQ(test::CheckImages(document, results[i].outputs), "");
      expected.insert(images.begin(), images.end());
    }
    std::set<std::string> written;
    for (const auto& entry : fs::directory_iterator(s.output))
      written.insert(entry.path().string());
    EXPECT_EQ(written, expected) << "images beyond the documents' pages";
  }
  tuneOptions = {};
  EXPECT_TRUE(PageTmpIsEmpty());
}

// What the renderer and the engine say of the page folder's files reaches the row in the
// user's words: the source as listed (the interpreter read it through a link of a plain name),
// "page 2" for a page file, and never the page folder.
TEST_F(BatchRun, ReasonsNameTheSourceAndPagesNotThePageFolder) {
  const struct {
    const char* name;
    const char* script;
    bool merged;
    const char* says;  // "{source}" stands for the source as listed
  } cases[] = {
      {"the interpreter quotes the file", "pages 1 fail cannot open {source}: gone", false,
       "cannot open {source}: gone"},
      {"a page cut short", "pages 2 cut 100", false,
       "The file of page 2 is incomplete: it holds less than its header promises"},
      {"a page cut short, merged", "pages 2 cut 100", true,
       "The file of page 2 is incomplete; nothing was merged into "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source =
        Source("caf\xc3\xa9 " + std::to_string(&c - cases) + ".ps", c.script);
    ConversionSettings s = DefaultSettings(Out());
    if (c.merged) {
      s.type = 1;
      s.multpage = 1;
    }
    const RowResult result = Run({source}, s).results[0];
    std::string says = c.says;
    if (const size_t at = says.find("{source}"); at != std::string::npos)
      says.replace(at, 8, source);
    EXPECT_EQ(result.status, RowStatus::Failed);
    EXPECT_NE(result.reason.find(says), std::string::npos) << result.reason;
    EXPECT_EQ(result.reason.find("mtmp_"), std::string::npos) << result.reason;
    EXPECT_EQ(result.reason.find(pageTmp()), std::string::npos) << result.reason;
  }
  EXPECT_TRUE(PageTmpIsEmpty());
}

// The real renderer, with a hook just before the driver hands it a document.
class HookedRenderer : public PageRenderer {
 public:
  explicit HookedRenderer(PageRenderer& real) : real_(real) {}
  int Open() override { return real_.Open(); }
  bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
              int yDpi) override {
    if (beforeRender) beforeRender(psPath);
    return real_.Render(handle, psPath, pattern, xDpi, yDpi);
  }
  void Close(int handle) override { real_.Close(handle); }
  void Abort(int handle) override { real_.Abort(handle); }
  std::string LastError(int handle) override { return real_.LastError(handle); }
  void SetMemoryLimit(int handle, uint64_t bytes) override { real_.SetMemoryLimit(handle, bytes); }
  void Pause(int handle, bool paused) override { real_.Pause(handle, paused); }
  bool SetPageListener(int handle, PageListener listener) override {
    return real_.SetPageListener(handle, std::move(listener));
  }
  bool LackedProcess(int handle) override { return real_.LackedProcess(handle); }
  std::function<void(const std::string& psPath)> beforeRender;

 private:
  PageRenderer& real_;
};

// A file that changes after it was put on the list fails with a reason naming it as the list
// does, whatever the interpreter was given to read: the file itself, a link of a plain name in
// the page folder (a name that is not plain ASCII), or an unpacked copy.
TEST_F(RealInterpreter, AFileThatChangesAfterItWasListedIsNamedAsListed) {
  const std::string page = "%!PS\n0 0 100 100 rectfill showpage\n";
  const auto gone = [](const std::string& path) { fs::remove(path); };
  const struct {
    const char* name;
    bool gzip;
    std::function<void(const std::string& source)> atStart;  // when its row begins
    bool removeWhatIsRead;  // the file the interpreter is given goes just before it reads it
    const char* says;       // after the source's name
  } cases[] = {
      {"deleted", false, gone, false, ": No such file or directory"},
      {"replaced by a folder", false,
       [&](const std::string& path) {
         fs::remove(path);
         fs::create_directory(path);
       },
       false, " is a folder, not a PostScript file"},
      {"a dangling link", false,
       [&](const std::string& path) {
         fs::remove(path);
         fs::create_symlink(path + ".missing", path);
       },
       false, ": No such file or directory"},
      {"vanishes before the interpreter reads it", false, {}, true, ": No such file or directory"},
      {"its unpacked copy vanishes", true, {}, true, ": No such file or directory"},
  };
  for (const auto& c : cases) {
    for (const char* stem : {"plain", "caf\xc3\xa9"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + stem);
      const std::string source = dir.File(std::string(stem) + " " + std::to_string(&c - cases) +
                                          (c.gzip ? ".ps.gz" : ".ps"));
      if (c.gzip) {
        gzFile packed = gzopen(source.c_str(), "wb");
        ASSERT_NE(packed, nullptr);
        gzputs(packed, page.c_str());
        gzclose(packed);
      } else {
        std::ofstream(source) << page;
      }
      HookedRenderer hooked(*library_);
      if (c.removeWhatIsRead)
        hooked.beforeRender = c.gzip ? std::function<void(const std::string&)>(gone)
                                     : [&](const std::string&) { fs::remove(source); };
      RecordingView view = Run(
          {source}, DefaultSettings(Out()), 1, 0,
          [&](BatchConverter&, RecordingView& v) {
            v.onStatus = [&](int, const std::string& status) {
              if (status == "Converting." && c.atStart) c.atStart(source);
            };
          },
          0, &hooked);
      const RowResult& result = view.results[0];
      EXPECT_EQ(result.status, RowStatus::Failed);
      const std::string named =
          c.gzip ? "the unpacked copy of " + source + c.says : source + c.says;
      EXPECT_NE(result.reason.find(named), std::string::npos) << result.reason;
      EXPECT_EQ(result.reason.find(pageTmp()), std::string::npos) << result.reason;
      EXPECT_TRUE(PageTmpIsEmpty());
      fs::remove_all(source);
    }
  }
}

}  // namespace
}  // namespace orvalis
