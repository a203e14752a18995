// Converts PostScript files with a given memory budget, number of files at once, output format
// (the index of the format list: 3 PNG, 9 JPEG 2000) and resolution, printing each file's
// result: for measuring the run-wide memory budget with real documents, e.g.
//   /usr/bin/time -v memory_probe 0 4 3 72 bomb1.ps bomb2.ps bomb3.ps bomb4.ps
// (a budget of 0 is the default: three quarters of the memory available at start).

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "batch/batch_converter.h"
#include "batch/renderer_loader.h"

namespace {

using namespace orvalis;

class PrintingView : public BatchView {
 public:
  explicit PrintingView(std::vector<std::string> rows) : rows_(std::move(rows)) {}
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  std::string RowPath(int row) const override { return rows_[static_cast<size_t>(row)]; }
  void SetRowStatus(int, const std::string&) override {}
  void RowFinished(int row, const RowResult& result) override {
    std::lock_guard lock(mutex_);
    std::printf("%s %s: %s\n", StatusText(result.status), rows_[static_cast<size_t>(row)].c_str(),
                result.reason.c_str());
  }
  void SelectRow(int) override {}
  void SetProgress(int) override {}
  void SetRunning(bool) override {}

 private:
  std::vector<std::string> rows_;
  std::mutex mutex_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s BUDGET_BYTES JOBS TYPE DPI FILE.ps...\n", argv[0]);
    return 2;
  }
  std::string message, detail;
  const std::unique_ptr<RendererLibrary> renderer = RendererLibrary::Load(&message, &detail);
  if (!renderer) {
    std::fprintf(stderr, "%s (%s)\n", message.c_str(), detail.c_str());
    return 1;
  }
  ConversionSettings settings;
  settings.type = std::atoi(argv[3]);
  settings.mode = 1;
  settings.output = "probe-out/";
  settings.xdpi = settings.ydpi = std::atoi(argv[4]);
  BatchOptions options;
  options.memoryBudget = std::strtoull(argv[1], nullptr, 10);
  options.jobs = std::atoi(argv[2]);
  PrintingView view(std::vector<std::string>(argv + 5, argv + argc));
  std::printf(
      "budget %llu MiB\n",
      static_cast<unsigned long long>(
          (options.memoryBudget != 0 ? options.memoryBudget : DefaultMemoryBudget()) >> 20));
  BatchConverter(settings, *renderer, view, options).ConvertAll();
  return 0;
}
