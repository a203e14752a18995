// The window's responsiveness, measured on the real window and renderer (offscreen when no
// display is set):
//  - Add Folder on a folder of 5,000 .ps files, from the click until the list shows them
//    (aim: at most 1 s);
//  - the longest time the event loop went without running during a run of 100 one-page files
//    (aim: never more than 50 ms), watched by a 5 ms timer, with the preview pane following the
//    row being converted (--no-preview: without it);
//  - for each --preview DOC: the time from selecting its row until its first page is on screen,
//    and until the page as written is beside it, in a fresh window (nothing drawn before), and
//    the event loop's longest gap meanwhile.
// Usage: bench_window [--files N] [--run-files N | --run-docs DIR] [--window-pacing]
// [--no-preview] [--preview DOC]...; the run is over N one-page files written here, or over the
// .ps files of DIR. Google Benchmark's --benchmark_* options are accepted and ignored, so
// run-benchmarks.sh can start it.

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "batch/renderer_loader.h"
#include "ui/window/main_dialog.h"
#include "ui/window/preview_pane.h"

namespace {

using namespace orvalis;
namespace fs = std::filesystem;

constexpr char kPage[] =
    "%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (Kestrune) show showpage\n";

struct Options {
  int files = 5000;
  int runFiles = 100;
  bool windowPacing = false;
  bool preview = true;
  std::string runDocs;
  std::vector<std::string> previewDocs;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--files" && i + 1 < argc) options.files = std::atoi(argv[++i]);
    if (arg == "--run-files" && i + 1 < argc) options.runFiles = std::atoi(argv[++i]);
    if (arg == "--window-pacing") options.windowPacing = true;
    if (arg == "--run-docs" && i + 1 < argc) options.runDocs = argv[++i];
    if (arg == "--no-preview") options.preview = false;
    if (arg == "--preview" && i + 1 < argc) options.previewDocs.push_back(argv[++i]);
  }
  return options;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "orvalis_bench_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

void WriteDocuments(const fs::path& folder, int count) {
  fs::create_directories(folder);
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "doc%05d.ps", i);
    std::ofstream(folder / name) << kPage;
  }
}

// CPU time of the calling thread, in milliseconds: what the GUI thread itself spent, as opposed
// to the time it waited for a processor on a loaded machine.
double ThreadCpuMs() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double LoadAverage() {
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

MainDialog* OpenWindow(PageRenderer& renderer, const ScratchFolder& scratch, const fs::path& folder,
                       bool windowPacing, bool preview = false) {
  std::ofstream(scratch.Path() / "Profile.ini")
      << "[Set]\ntype=3\nmode=1\noutput=" << (scratch.Path() / "out").string()
      << "/\nPreview=" << (preview ? 1 : 0) << "\n";
  WindowServices services = DesktopWindowServices();
  services.notify = nullptr;
  services.renderer = &renderer;
  if (preview) services.previewRenderer = &renderer;
  services.profilePath = (scratch.Path() / "Profile.ini").string();
  services.pacing = windowPacing ? kWindowPacing : kNoPacing;
  services.chooseFolder = [folder](QWidget*, const QString&, const QString&) {
    return QString::fromStdString(folder.string());
  };
  auto* window = new MainDialog(std::move(services));
  window->show();
  return window;
}

QPushButton* Button(MainDialog& window, const char* id) {
  return window.findChild<QPushButton*>(QString::fromLatin1(id));
}

void BenchAddFolder(PageRenderer& renderer, int files) {
  ScratchFolder scratch;
  WriteDocuments(scratch.Path() / "docs", files);
  std::vector<double> times;
  for (int round = 0; round < 5; ++round) {
    MainDialog* window = OpenWindow(renderer, scratch, scratch.Path() / "docs", false);
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    Button(*window, "1008")->click();
    QCoreApplication::processEvents();  // the list paints its rows
    times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    if (window->Model().rowCount() != files) {
      std::fprintf(stderr, "bench_window: %d rows listed, %d expected\n",
                   window->Model().rowCount(), files);
      std::exit(1);
    }
    delete window;
  }
  std::printf(
      "add_folder/%d_files  best %.1f ms  median %.1f ms  worst %.1f ms  (aim: <= 1000 ms)\n",
      files, *std::min_element(times.begin(), times.end()), Median(times),
      *std::max_element(times.begin(), times.end()));
}

void BenchRun(PageRenderer& renderer, const Options& options) {
  ScratchFolder scratch;
  fs::path docs = options.runDocs;
  if (docs.empty()) {
    docs = scratch.Path() / "docs";
    WriteDocuments(docs, options.runFiles);
  }
  const bool windowPacing = options.windowPacing;
  MainDialog* window = OpenWindow(renderer, scratch, docs, windowPacing, options.preview);
  Button(*window, "1008")->click();
  const int files = window->Model().rowCount();

  // A timer due every 5 ms: a gap longer than that is time the event loop was held.
  constexpr int kTickMs = 5;
  QElapsedTimer clock;
  std::vector<double> gaps;
  std::vector<double> busy;  // the GUI thread's own CPU time within each gap
  qint64 last = 0;
  double lastCpu = ThreadCpuMs();
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(kTickMs);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    const double cpu = ThreadCpuMs();
    gaps.push_back(static_cast<double>(now - last) / 1e6);
    busy.push_back(cpu - lastCpu);
    last = now;
    lastCpu = cpu;
  });
  // The event loop runs as the window's own does, sleeping until an event comes; the ticker
  // ends it once the run is over.
  QEventLoop loop;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (!window->IsRunning()) loop.quit();
  });
  QElapsedTimer runTime;
  runTime.start();
  clock.start();
  ticker.start();
  Button(*window, "1002")->click();
  loop.exec();
  ticker.stop();
  const double seconds = static_cast<double>(runTime.nsecsElapsed()) / 1e9;
  window->WaitForWorker();

  int succeeded = 0;
  for (int row = 0; row < window->Model().rowCount(); ++row)
    succeeded += window->Model().Row(row).status == QLatin1String(kStatusSucceed);
  std::sort(gaps.begin(), gaps.end());
  const double worst = gaps.empty() ? 0 : gaps.back();
  const double p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
  const auto over = std::count_if(gaps.begin(), gaps.end(), [](double gap) { return gap > 50; });
  std::sort(busy.begin(), busy.end());
  const double worstBusy = busy.empty() ? 0 : busy.back();
  std::printf(
      "run/%d_files%s%s  %.1f s, %d succeeded; event loop: longest gap %.1f ms, 99th percentile "
      "%.1f ms, %td gaps over 50 ms, %zu ticks of %d ms; longest the GUI thread itself worked "
      "between two ticks %.1f ms; load average %.1f  (aim: no gap over 50 ms)\n",
      files, windowPacing ? "_window_pacing" : "", options.preview ? "_with_preview" : "", seconds,
      succeeded, worst, p99, over, gaps.size(), kTickMs, worstBusy, LoadAverage());
  delete window;
}

// The time from selecting the row of `document` until its first page, then its written side,
// are on screen, in a fresh window; and the event loop's longest gap meanwhile.
void BenchPreview(PageRenderer& renderer, const std::string& document) {
  ScratchFolder scratch;
  std::vector<double> pageTimes, writtenTimes, worstGaps, worstBusy;
  for (int round = 0; round < 3; ++round) {
    MainDialog* window = OpenWindow(renderer, scratch, scratch.Path(), false, true);
    window->AddDroppedFiles({document});
    QCoreApplication::processEvents();
    // Nothing selected: the list's selection was taken by the files added.
    window->findChild<QAbstractItemView*>(QStringLiteral("1001"))->clearSelection();
    QCoreApplication::processEvents();
    PreviewPane* pane = window->Preview();
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    double pageMs = -1, writtenMs = -1;
    double lastCpu = ThreadCpuMs(), busy = 0;
    QObject::connect(pane, &PreviewPane::pageShown, [&] {
      if (pageMs < 0) pageMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    });
    QObject::connect(pane, &PreviewPane::writtenShown, [&] {
      if (writtenMs < 0) writtenMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    });
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QEventLoop loop;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      worst = std::max(worst, now - last);
      last = now;
      const double cpu = ThreadCpuMs();
      busy = std::max(busy, cpu - lastCpu);
      lastCpu = cpu;
      if (writtenMs >= 0 || now > qint64{120} * 1000000000) loop.quit();
    });
    auto* list = window->findChild<QAbstractItemView*>(QStringLiteral("1001"));
    clock.start();
    ticker.start();
    list->selectionModel()->setCurrentIndex(
        window->Model().index(0, 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    loop.exec();
    ticker.stop();
    pageTimes.push_back(pageMs);
    writtenTimes.push_back(writtenMs);
    worstGaps.push_back(static_cast<double>(worst) / 1e6);
    worstBusy.push_back(busy);
    delete window;
  }
  std::printf(
      "preview/%s  first page on screen: median %.0f ms (best %.0f); as written beside it: median "
      "%.0f ms; event loop's longest gap %.1f ms, the GUI thread's own work in it at most %.1f "
      "ms; load average %.1f  (aim: no gap over 50 ms)\n",
      fs::path(document).filename().c_str(), Median(pageTimes),
      *std::min_element(pageTimes.begin(), pageTimes.end()), Median(writtenTimes),
      *std::max_element(worstGaps.begin(), worstGaps.end()),
      *std::max_element(worstBusy.begin(), worstBusy.end()), LoadAverage());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const Options options = ParseOptions(argc, argv);
  QApplication app(argc, argv);
  std::string message, detail;
  const std::unique_ptr<RendererLibrary> renderer = RendererLibrary::Load(&message, &detail);
  if (!renderer) {
    std::fprintf(stderr, "bench_window: %s (%s)\n", message.c_str(), detail.c_str());
    return 1;
  }
  for (const std::string& document : options.previewDocs) BenchPreview(*renderer, document);
  if (!options.previewDocs.empty() && options.files == 0) return 0;
  if (options.files > 0) BenchAddFolder(*renderer, options.files);
  BenchRun(*renderer, options);
  return 0;
}
