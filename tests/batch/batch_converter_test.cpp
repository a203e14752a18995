#include "batch/batch_converter.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "engine/image_converter.h"
#include "tests/support/oracle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pages.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

// A renderer that reads a tiny script instead of PostScript: "pages N" writes N test pages,
// "fail" reports an interpreter error after writing them, "hang" blocks until aborted.
class ScriptRenderer : public PageRenderer {
 public:
  int Open() override { return ++lastHandle_; }
  bool Render(int handle, const std::string& psPath, const std::string& pattern, int xDpi,
              int) override {
    std::ifstream in(psPath);
    std::string word;
    int pages = 0;
    bool fail = false, hang = false;
    while (in >> word) {
      if (word == "pages") in >> pages;
      if (word == "fail") fail = true;
      if (word == "hang") hang = true;
    }
    for (int page = 1; page <= pages; ++page) {
      char name[4096];
      std::snprintf(name, sizeof name, pattern.c_str(), page);
      // Pages differ in width so that their order shows in the outputs.
      test::WriteTestPage(name, static_cast<uint32_t>(10 + page), static_cast<uint32_t>(xDpi / 12));
    }
    if (hang) {
      std::unique_lock lock(mutex_);
      aborted_.wait(lock, [&] { return abortedHandles_.count(handle) != 0; });
      errors_[handle] = "aborted";
      return false;
    }
    std::lock_guard lock(mutex_);  // several files render at once
    errors_[handle] = fail ? "Error: /undefined in foo" : "";
    return !fail;
  }
  void Close(int) override {}
  void Abort(int handle) override {
    {
      std::lock_guard lock(mutex_);
      abortedHandles_.insert(handle);
    }
    aborted_.notify_all();
  }
  std::string LastError(int handle) override {
    std::lock_guard lock(mutex_);
    return errors_[handle];
  }

 private:
  std::atomic<int> lastHandle_{0};
  std::mutex mutex_;
  std::condition_variable aborted_;
  std::set<int> abortedHandles_;
  std::map<int, std::string> errors_;
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
  // Several files at once call from several threads.
  void SelectRow(int row) override {
    std::lock_guard lock(*mutex_);
    selected.push_back(row);
  }
  void SetProgress(int percent) override {
    std::lock_guard lock(*mutex_);
    progress.push_back(percent);
  }
  void SetSelectedLabel(const std::string& text) override { label = text; }
  void SetRunning(bool running) override { runningStates.push_back(running); }

  std::function<void(int, const std::string&)> onStatus;
  std::map<int, std::vector<std::string>> statuses;
  std::map<int, RowResult> results;
  std::vector<int> selected, progress;
  std::vector<bool> runningStates;
  std::string label;

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
                    std::function<void(BatchConverter&, RecordingView&)> prepare = {}) {
    RecordingView view(std::move(rows));
    BatchConverter converter(settings, renderer, view, {kNoPacing, jobs, timeout});
    if (prepare) prepare(converter, view);
    converter.ConvertAll();
    EXPECT_FALSE(converter.IsRunning());
    return view;
  }

  test::TempDir dir;
  ScriptRenderer renderer;
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

TEST(BatchTables, FormatComesFromTheListText) {
  using enum OutputFormat;
  const std::pair<OutputFormat, const char*> expected[] = {
      {Jpeg, ".jpg"}, {Tiff, ".tif"}, {Bmp, ".bmp"}, {Png, ".png"}, {Gif, ".gif"}, {Pcx, ".pcx"},
      {Wmf, ".wmf"},  {Emf, ".emf"},  {Tga, ".tga"}, {Jp2, ".jp2"}, {Jpc, ".jpc"}, {Ras, ".ras"},
  };
  for (int type = 0; type < 12; ++type) {
    const FormatChoice choice = FormatFromType(type);
    EXPECT_EQ(choice.format, expected[type].first) << type;
    EXPECT_EQ(choice.extension, expected[type].second) << type;
  }
  EXPECT_EQ(FormatFromItemText("Pictures").format, Jpeg);
  EXPECT_EQ(FormatFromItemText(".png first").format, Jpeg);  // only after the first character
  EXPECT_EQ(FormatFromType(12).format, Jpeg);
}

TEST(BatchTables, ColourNamesAndCompressionCodes) {
  struct Color {
    const char* name;
    int depth;
    bool gray;
  };
  for (const Color c :
       {Color{"True Color", 24, false}, Color{"256 grays", 8, true}, Color{"256 COLOR", 8, false},
        Color{"16 Color", 4, false}, Color{"16 Grays", 4, true}, Color{"b&w", 1, false},
        Color{"Sepia", 24, false}, Color{"", 24, false}}) {
    const ColorOptions options = ColorOptionsFor(c.name);
    EXPECT_EQ(options.bitDepth, c.depth) << c.name;
    EXPECT_EQ(options.grayscale, c.gray) << c.name;
  }
  const int codes[] = {0, 1, 6, 2, 3, 5, 4};
  for (int index = 0; index < 7; ++index) EXPECT_EQ(EngineCompressionCode(index), codes[index]);
  EXPECT_EQ(EngineCompressionCode(9), 2);
  EXPECT_EQ(EngineCompressionCode(-1), 2);
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
  ConverterDestroy(job);

  s.resize = 0;
  job = ConverterCreate();
  BatchConverter::ApplySettings(job, OutputFormat::Png, s);
  EXPECT_EQ(job->width, 0);
  EXPECT_EQ(job->quality, 75);  // only JPEG and TIFF carry a quality
  EXPECT_EQ(job->requestedDepth, 24);
  ConverterDestroy(job);
}

TEST_F(BatchRun, EmptyListStartsAndEndsAtOnce) {
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({}, s);
  EXPECT_EQ(view.label, "Selected: 1");
  EXPECT_EQ(view.runningStates, std::vector<bool>{false});
  EXPECT_EQ(view.selected, std::vector<int>{0});
  EXPECT_TRUE(view.results.empty());
}

TEST_F(BatchRun, PagesBesideTheSourceOrInASubFolderPerFile) {
  const std::string source = Source("docs/report.ps", "pages 3");
  ConversionSettings s = DefaultSettings(Out());
  s.mode = 0;
  RecordingView beside = Run({source}, s);
  EXPECT_EQ(beside.results[0].status, kStatusSucceed) << beside.results[0].reason;
  for (const char* name : {"report_001.png", "report_002.png", "report_003.png"})
    EXPECT_TRUE(fs::exists(dir.Path() / "docs" / name)) << name;
  EXPECT_EQ(beside.results[0].outputs.size(), 3u);
  EXPECT_EQ(beside.statuses[0],
            (std::vector<std::string>{"Converting.", "Converting..", "Converting...",
                                      "Converting....", "Succeed"}));

  s.mode = 1;
  s.each = 1;
  RecordingView each = Run({source}, s);
  EXPECT_EQ(each.results[0].status, kStatusSucceed);
  EXPECT_TRUE(fs::exists(Out("report/report_002.png")));
  EXPECT_TRUE(PageTmpIsEmpty());
}

TEST_F(BatchRun, MergedTiffHoldsThePagesInOrder) {
  const std::string source = Source("report.ps", "pages 3");
  ConversionSettings s = DefaultSettings(Out());
  s.type = 1;
  s.multpage = 1;
  RecordingView view = Run({source}, s);
  ASSERT_EQ(view.results[0].status, kStatusSucceed) << view.results[0].reason;
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
  EXPECT_EQ(blocked.results[0].status, kStatusFailed);
  EXPECT_NE(blocked.results[0].reason.find("report.tif"), std::string::npos)
      << blocked.results[0].reason;
  EXPECT_TRUE(blocked.results[0].outputs.empty());
  EXPECT_TRUE(PageTmpIsEmpty());
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
  EXPECT_EQ(view.results[0].status, kStatusFailed);
  EXPECT_EQ(view.results[0].reason, "The file produced no page");
  EXPECT_EQ(view.results[1].status, kStatusFailed);
  EXPECT_EQ(view.results[1].reason, "Error: /undefined in foo");
  EXPECT_EQ(view.results[1].outputs.size(), 2u) << "pages before the error are converted";
  EXPECT_EQ(view.results[2].status, kStatusSucceed);
  EXPECT_EQ(view.progress, (std::vector<int>{33, 66, 100}));

  s.output = dir.File("blocker/sub/");
  RecordingView unwritable = Run({good}, s);
  EXPECT_EQ(unwritable.results[0].status, kStatusFailed);
  EXPECT_NE(unwritable.results[0].reason.find("blocker"), std::string::npos)
      << unwritable.results[0].reason;
  EXPECT_TRUE(PageTmpIsEmpty());
}

TEST_F(BatchRun, SameNamesFromDifferentSourcesDoNotOverwriteEachOther) {
  const std::string first = Source("a/report.ps", "pages 1");
  const std::string second = Source("b/report.ps", "pages 2");
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({first, second, first}, s, 2);
  EXPECT_EQ(view.results[0].status, kStatusSucceed);
  EXPECT_EQ(view.results[1].status, kStatusFailed);
  EXPECT_NE(view.results[1].reason.find(first), std::string::npos) << view.results[1].reason;
  EXPECT_EQ(view.results[2].status, kStatusSucceed) << "the same file again is no conflict";
  EXPECT_FALSE(fs::exists(Out("report_002.png")));

  s.each = 1;
  RecordingView separated = Run({first, second}, s);
  EXPECT_EQ(separated.results[1].status, kStatusFailed) << "same sub-folder name, same files";

  // Beside their sources, through a link to the same folder: still one folder.
  fs::create_directory_symlink(dir.Path() / "a", dir.Path() / "alias");
  Source("a/report.eps", "pages 1");
  s.mode = 0;
  s.each = 0;
  RecordingView linked = Run({first, (dir.Path() / "alias" / "report.eps").string()}, s);
  EXPECT_EQ(linked.results[1].status, kStatusFailed) << linked.results[1].reason;
}

TEST_F(BatchRun, StopBetweenPagesAbortsTheRowAndEndsTheRun) {
  const std::string first = Source("first.ps", "pages 3");
  const std::string second = Source("second.ps", "pages 1");
  ConversionSettings s = DefaultSettings(Out());
  // Page by page, and a merged TIFF that stops before its first page is added.
  for (const bool merged : {false, true}) {
    s.type = merged ? 1 : 3;
    s.multpage = merged ? 1 : 0;
    RecordingView view = Run({first, second}, s, 1, 0, [](BatchConverter& c, RecordingView& v) {
      v.onStatus = [&c](int, const std::string& status) {
        if (status == "Converting....") c.RequestStop();
      };
    });
    EXPECT_EQ(view.results[0].status, kStatusAborted) << merged;
    EXPECT_EQ(view.results.count(1), 0u) << "rows after the stop keep their status";
    EXPECT_TRUE(PageTmpIsEmpty());
    EXPECT_EQ(view.runningStates.back(), false);
    EXPECT_FALSE(fs::exists(Out("first.tif"))) << "a stopped merged job writes no file";
    EXPECT_FALSE(fs::exists(Out("first_001.png")));
  }
}

TEST_F(BatchRun, StopEndsARenderingThatNeverFinishes) {
  const std::string hang = Source("hang.ps", "pages 1 hang");
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({hang}, s, 1, 0, [](BatchConverter& c, RecordingView& v) {
    v.onStatus = [&c](int, const std::string& status) {
      if (status == "Converting..") {
        std::thread([&c] {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          c.RequestStop();
        }).detach();
      }
    };
  });
  EXPECT_EQ(view.results[0].status, kStatusAborted);
  EXPECT_TRUE(PageTmpIsEmpty());
  EXPECT_FALSE(fs::exists(Out("hang_001.png")));
}

TEST_F(BatchRun, TimeoutFailsTheFileAndConvertsNothingOfIt) {
  const std::string hang = Source("hang.ps", "pages 1 hang");
  const std::string good = Source("good.ps", "pages 1");
  ConversionSettings s = DefaultSettings(Out());
  RecordingView view = Run({hang, good}, s, 1, 1);
  EXPECT_EQ(view.results[0].status, kStatusFailed);
  EXPECT_NE(view.results[0].reason.find("longer than 1 s"), std::string::npos);
  EXPECT_FALSE(fs::exists(Out("hang_001.png")));
  EXPECT_EQ(view.results[1].status, kStatusSucceed);
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

}  // namespace
}  // namespace orvalis
