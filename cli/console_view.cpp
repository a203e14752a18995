#include "cli/console_view.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

#include "cli/name_encoding.h"

namespace orvalis {

ConsoleView::ConsoleView(std::vector<std::string> sources, bool quiet, bool progressBar)
    : sources_(std::move(sources)),
      results_(sources_.size()),
      starts_(sources_.size()),
      quiet_(quiet),
      progressBar_(progressBar && !quiet),
      progress_(static_cast<int>(sources_.size())) {}

namespace {

bool IsHiddenCodePoint(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string PrintablePath(const std::string& path) {
  std::string text;
  text.reserve(path.size());
  for (size_t at = 0; at < path.size();) {
    const unsigned char c = static_cast<unsigned char>(path[at]);
    if (c < 0x80) {
      text += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
      ++at;
      continue;
    }
    char32_t codePoint = 0;
    const size_t length = DecodeUtf8(path, at, &codePoint);
    if (length > 0) {
      if (IsHiddenCodePoint(codePoint))
        text += '?';
      else
        text.append(path, at, length);
      at += length;
    } else {
      // A byte that is not UTF-8: those of 0x80 to 0x9F are C1 controls to a Latin terminal.
      text += c <= 0x9F ? '?' : static_cast<char>(c);
      ++at;
    }
  }
  return text;
}

namespace {

// The interpreter's message may span lines; each file keeps to one line of output.
std::string OneLine(const std::string& text) {
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      if (!line.empty()) line += "; ";
    } else if (c != '\r') {
      line += c;
    }
  }
  while (line.size() >= 2 && line.compare(line.size() - 2, 2, "; ") == 0)
    line.resize(line.size() - 2);
  return line;
}

}  // namespace

std::string DescribeOutputs(const std::vector<std::string>& outputs) {
  if (outputs.empty()) return "nothing written";
  if (outputs.size() <= 3) {
    std::string text;
    for (const std::string& output : outputs)
      text += (text.empty() ? "" : ", ") + PrintablePath(output);
    return text;
  }
  return PrintablePath(outputs.front()) + " ... " +
         PrintablePath(std::filesystem::path(outputs.back()).filename().string()) + " (" +
         std::to_string(outputs.size()) + " files)";
}

void ConsoleView::KeepReport(ReportWriter* report, std::string settingsDigest) {
  std::lock_guard lock(mutex_);
  report_ = report;
  settingsDigest_ = std::move(settingsDigest);
}

// Called with the mutex held. The first failed write is said once; the run goes on, and its
// exit status tells that the record is not whole.
void ConsoleView::Record(const ReportRecord& record) {
  if (report_ == nullptr) return;
  std::string error;
  if (report_->Append(record, &error) || reportFailed_) return;
  reportFailed_ = true;
  PrintLine("orvalis-cli: " + PrintablePath(error), stderr);
}

void ConsoleView::ShowSkipped(const std::vector<ReportRecord>& skipped) {
  std::lock_guard lock(mutex_);
  for (const ReportRecord& record : skipped) {
    ++skipped_;
    if (!quiet_)
      PrintLine("Skipped  " + PrintablePath(record.source) + ": " + record.reason, stdout);
    Record(record);
  }
}

void ConsoleView::SetRowStatus(int row, const std::string&) {
  std::lock_guard lock(mutex_);
  RowStart& start = starts_[static_cast<size_t>(row)];
  if (start.started) return;
  start.started = true;
  start.time = std::chrono::steady_clock::now();
  start.stamp = StampOf(sources_[static_cast<size_t>(row)]);
  DrawProgress();
}

void ConsoleView::RowFinished(int row, const RowResult& result) {
  // Looks at every image: not under the lock.
  const int pages = result.pagesWritten;
  std::vector<std::optional<FileStamp>> outputStamps = StampsOf(result.outputs);
  std::lock_guard lock(mutex_);
  results_[static_cast<size_t>(row)] = result;
  ++finished_;
  progress_.Finished(row);
  const std::string source = PrintablePath(sources_[static_cast<size_t>(row)]);
  if (result.status == RowStatus::Succeed) {
    if (!quiet_) PrintLine("Succeed  " + source + " -> " + DescribeOutputs(result.outputs), stdout);
  } else if (result.status == RowStatus::Failed) {
    std::string line = "Failed   " + source + ": " + PrintablePath(OneLine(result.reason));
    if (!result.outputs.empty()) line += " (written: " + DescribeOutputs(result.outputs) + ")";
    PrintLine(line, stdout);
  } else {
    PrintLine("Aborted  " + source, stdout);
  }
  const RowStart& start = starts_[static_cast<size_t>(row)];
  const std::chrono::duration<double> seconds = start.started
                                                    ? std::chrono::steady_clock::now() - start.time
                                                    : std::chrono::duration<double>(0);
  Record({sources_[static_cast<size_t>(row)], start.stamp, StatusText(result.status), result.reason,
          result.outputs, pages, result.pagesExpected, seconds.count(), settingsDigest_,
          std::move(outputStamps)});
  DrawProgress();
}

void ConsoleView::PrintLine(const std::string& line, FILE* stream) {
  if (progressBar_) std::fputs("\r\033[K", stderr);
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
}

void ConsoleView::RowPages(int row, int done, int total) {
  std::lock_guard lock(mutex_);
  const bool firstPage = row >= 0 && row < progress_.Rows() && progress_.RowAt(row).done == 0;
  if (!progress_.Pages(row, done, total) || !progressBar_) return;
  // Pages come faster than anyone reads: the line is drawn anew at most ten times a second,
  // and as a file's first page is done.
  constexpr auto kRedraw = std::chrono::milliseconds(100);
  if (firstPage || std::chrono::steady_clock::now() - drawn_ >= kRedraw) DrawProgress();
}

namespace {

// The width of `text` on a terminal, counting each UTF-8 character once.
size_t Columns(const std::string& text) {
  size_t columns = 0;
  for (char c : text) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return columns;
}

// `text` cut to `columns` characters, ending in "~" when it was cut.
std::string CutTo(const std::string& text, size_t columns) {
  if (Columns(text) <= columns) return text;
  if (columns == 0) return {};
  std::string cut;
  size_t taken = 0;
  for (char c : text) {
    const bool starts = (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (starts && ++taken > columns - 1) break;
    cut += c;
  }
  return cut + "~";
}

size_t TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

std::string ProgressLineOf(const RunProgress& progress, const std::vector<std::string>& sources,
                           const std::vector<int>& running, int finished,
                           std::chrono::steady_clock::time_point now, size_t columns) {
  constexpr int kWidth = 20;
  const int total = static_cast<int>(sources.size());
  const int filled = static_cast<int>(kWidth * progress.Share());
  std::string head = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kWidth - filled), ' ') + "] " +
                     std::to_string(finished) + "/" + std::to_string(total) + " files";
  std::string tail;
  if (const std::optional<double> rate = progress.PagesPerSecond(now)) {
    char text[48];
    std::snprintf(text, sizeof text, ", %.1f pages/s", *rate);
    tail += text;
  }
  if (const std::optional<std::chrono::seconds> left = progress.TimeLeft(now))
    tail += ", " + DurationText(*left) + " left";
  // Each file being converted, its name cut so that the line fits; those that do not fit are
  // counted.
  std::vector<std::string> files;
  for (int row : running) {
    const RunProgress::Row& pages = progress.RowAt(row);
    std::string name =
        PrintablePath(std::filesystem::path(sources[static_cast<size_t>(row)]).filename().string());
    const std::string done = PagesText(pages.done, pages.total);
    files.push_back(CutTo(name, 24) + (done.empty() ? "" : " " + done));
  }
  std::string middle;
  size_t shown = 0;
  for (const std::string& file : files) {
    const std::string more =
        shown + 1 < files.size() ? " +" + std::to_string(files.size() - shown - 1) : "";
    if (Columns(head + middle + ", " + file + more + tail) > columns) break;
    middle += ", " + file;
    ++shown;
  }
  if (shown < files.size()) middle += " +" + std::to_string(files.size() - shown);
  return CutTo(head + middle + tail, columns);
}

std::string ConsoleView::ProgressLine(size_t columns) const {
  std::vector<int> running;
  for (int row = 0; row < RowCount(); ++row) {
    if (starts_[static_cast<size_t>(row)].started && !results_[static_cast<size_t>(row)])
      running.push_back(row);
  }
  return ProgressLineOf(progress_, sources_, running, finished_, std::chrono::steady_clock::now(),
                        columns);
}

// Called with the mutex held. The line never reaches the terminal's last column, so that it
// never wraps and "\r" always goes back to its start.
void ConsoleView::DrawProgress() {
  if (!progressBar_) return;
  drawn_ = std::chrono::steady_clock::now();
  const size_t columns = TerminalColumns();
  std::fprintf(stderr, "\r\033[K%s", ProgressLine(columns > 1 ? columns - 1 : 1).c_str());
  std::fflush(stderr);
}

void ConsoleView::PrintSummary(double seconds) {
  std::lock_guard lock(mutex_);
  int succeeded = 0, failed = 0, aborted = 0;
  size_t images = 0;
  for (size_t row = 0; row < results_.size(); ++row) {
    if (!results_[row]) {
      results_[row] = RowResult{RowStatus::Aborted, "", {}};
      PrintLine("Aborted  " + PrintablePath(sources_[row]) + " (not started)", stdout);
    }
    const RowResult& result = *results_[row];
    images += result.outputs.size();
    if (result.status == RowStatus::Succeed)
      ++succeeded;
    else if (result.status == RowStatus::Failed)
      ++failed;
    else
      ++aborted;
  }
  if (progressBar_) std::fputs("\r\033[K", stderr);
  if (quiet_) return;
  const size_t files = results_.size() + skipped_;
  const std::string skipped = skipped_ == 0 ? "" : ", " + std::to_string(skipped_) + " skipped";
  char line[256];
  std::snprintf(line, sizeof line,
                "%zu file%s: %d succeeded%s, %d failed, %d aborted; %zu image%s written in %.1f s",
                files, files == 1 ? "" : "s", succeeded, skipped.c_str(), failed, aborted, images,
                images == 1 ? "" : "s", seconds);
  std::printf("%s\n", line);
}

bool ConsoleView::AllSucceeded() const {
  std::lock_guard lock(mutex_);
  if (reportFailed_) return false;
  for (const std::optional<RowResult>& result : results_)
    if (!result || result->status != RowStatus::Succeed) return false;
  return true;
}

}  // namespace orvalis
