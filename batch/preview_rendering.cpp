#include "batch/preview_rendering.h"

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stop_token>

#include "batch/batch_converter.h"
#include "batch/disk_guard.h"
#include "batch/page_files.h"
#include "batch/page_folder.h"
#include "batch/source_preparation.h"

namespace orvalis {

namespace fs = std::filesystem;

namespace {

constexpr char kPreviewStem[] = "preview";

// The interpreter is given a name of plain characters: a link to the source when its own name
// is not.
std::string PlainSourceOf(const std::string& source, const std::string& folder) {
  if (IsPlainName(source)) return source;
  const std::string link = folder + "source";
  std::error_code ec;
  const fs::path target = fs::absolute(source, ec);
  if (!ec) fs::create_symlink(target, link, ec);
  return ec ? source : link;
}

}  // namespace

PreviewRendering::Outcome PreviewRendering::Render(const std::string& source, int dpi,
                                                   const PageDrawn& pageDrawn,
                                                   std::stop_token stop) {
  Outcome outcome;
  if (stop.stop_requested()) {
    outcome.aborted = true;
    return outcome;
  }
  const int handle = renderer_.Open();
  if (handle <= 0) {
    outcome.error = "The page renderer could not be started";
    return outcome;
  }
  struct Closed {
    PageRenderer& renderer;
    int handle;
    ~Closed() {
      renderer.SetPageListener(handle, {});
      renderer.Close(handle);
    }
  } closed{renderer_, handle};
  // Ends the rendering at once, or before it begins; gone before the handle is closed.
  std::stop_callback onStop(stop, [this, handle] { renderer_.Abort(handle); });
  renderer_.SetMemoryLimit(handle, kPreviewMemoryCap);

  std::string error;
  std::unique_ptr<PageFolder> folder = PageFolder::Create(&error);
  if (!folder) {
    outcome.error = error;
    return outcome;
  }
  const std::string path = folder->Path();
  DiskGuard disk;
  disk.Watch(path);
  const PreparedSource prepared = PrepareSource(source, path, kPreviewUnpackLimit, disk, stop);
  if (prepared.stopped) {
    outcome.aborted = true;
    return outcome;
  }
  if (!prepared.problem.empty() || prepared.path.empty()) {
    outcome.error = prepared.problem.empty() ? "The file cannot be read" : prepared.problem;
    return outcome;
  }

  bool wantsMore = true;
  const auto take = [&](const std::string& page) {
    const std::optional<int> number = PageNumberOf(page, kPreviewStem);
    if (wantsMore && number && PageFileIsWhole(page)) {
      ++outcome.pages;
      wantsMore = pageDrawn(*number, page);
      if (!wantsMore) renderer_.Abort(handle);
    }
    ::unlink(page.c_str());
  };
  const bool reports = renderer_.SetPageListener(handle, take);
  const bool ok = renderer_.Render(handle, PlainSourceOf(prepared.path, path),
                                   PagePattern(path, kPreviewStem), dpi, dpi);
  if (!reports) {
    // A renderer that cannot report its pages: they are taken from the folder afterwards.
    for (const std::string& page : CollectPages(path)) take(page);
  }
  outcome.aborted = stop.stop_requested() || !wantsMore;
  outcome.whole = ok && !outcome.aborted;
  if (!ok && !outcome.aborted) {
    outcome.error = renderer_.LastError(handle);
    if (outcome.error.empty()) outcome.error = "The interpreter could not render the file";
  }
  return outcome;
}

std::string ConvertPreviewPage(const std::string& page, const ConversionSettings& settings,
                               const std::string& output, bool asPng) {
  const ConverterHandle job = ConverterCreate();
  if (job == nullptr) return "Out of memory";
  ConverterSetOption(job, OptOutputPath, output.c_str(), 0);
  ConverterAddFile(job, page.c_str());
  BatchConverter::ApplySettings(job, FormatFromType(settings.type).format, settings);
  if (asPng) ConverterSetOption(job, OptFormat, nullptr, NumberOf(OutputFormat::Png));
  ConverterRun(job);
  std::string error = ConverterGetError(job);
  ConverterDestroy(job);
  return error;
}

}  // namespace orvalis
