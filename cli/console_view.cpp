#include "cli/console_view.h"

#include <filesystem>

namespace orvalis {

ConsoleView::ConsoleView(std::vector<std::string> sources, bool quiet, bool progressBar)
    : sources_(std::move(sources)),
      results_(sources_.size()),
      quiet_(quiet),
      progressBar_(progressBar && !quiet) {}

namespace {

// A file name may hold a line break or other control characters; printed as they are, they would
// split a file's line or drive the terminal. Each becomes '?'.
std::string PrintablePath(const std::string& path) {
  std::string text = path;
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

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

void ConsoleView::RowFinished(int row, const RowResult& result) {
  std::lock_guard lock(mutex_);
  results_[static_cast<size_t>(row)] = result;
  ++finished_;
  const std::string source = PrintablePath(sources_[static_cast<size_t>(row)]);
  if (result.status == kStatusSucceed) {
    if (!quiet_) PrintLine("Succeed  " + source + " -> " + DescribeOutputs(result.outputs), stdout);
  } else if (result.status == kStatusFailed) {
    std::string line = "Failed   " + source + ": " + PrintablePath(OneLine(result.reason));
    if (!result.outputs.empty()) line += " (written: " + DescribeOutputs(result.outputs) + ")";
    PrintLine(line, stdout);
  } else {
    PrintLine("Aborted  " + source, stdout);
  }
  DrawProgress();
}

void ConsoleView::PrintLine(const std::string& line, FILE* stream) {
  if (progressBar_) std::fputs("\r\033[K", stderr);
  std::fprintf(stream, "%s\n", line.c_str());
  std::fflush(stream);
}

void ConsoleView::DrawProgress() {
  if (!progressBar_) return;
  constexpr int kWidth = 30;
  const int total = RowCount();
  const int filled = total == 0 ? kWidth : kWidth * finished_ / total;
  std::fprintf(stderr, "\r[%s%s] %d/%d files",
               std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(kWidth - filled), ' ').c_str(), finished_, total);
  std::fflush(stderr);
}

void ConsoleView::PrintSummary(double seconds) {
  std::lock_guard lock(mutex_);
  int succeeded = 0, failed = 0, aborted = 0;
  size_t images = 0;
  for (size_t row = 0; row < results_.size(); ++row) {
    RowResult& result = results_[row];
    if (result.status.empty()) {
      result.status = kStatusAborted;
      PrintLine("Aborted  " + PrintablePath(sources_[row]) + " (not started)", stdout);
    }
    images += result.outputs.size();
    if (result.status == kStatusSucceed)
      ++succeeded;
    else if (result.status == kStatusFailed)
      ++failed;
    else
      ++aborted;
  }
  if (progressBar_) std::fputs("\r\033[K", stderr);
  if (quiet_) return;
  char line[256];
  std::snprintf(line, sizeof line,
                "%zu file%s: %d succeeded, %d failed, %d aborted; %zu image%s written in %.1f s",
                results_.size(), results_.size() == 1 ? "" : "s", succeeded, failed, aborted,
                images, images == 1 ? "" : "s", seconds);
  std::printf("%s\n", line);
}

bool ConsoleView::AllSucceeded() const {
  std::lock_guard lock(mutex_);
  for (const RowResult& result : results_)
    if (result.status != kStatusSucceed) return false;
  return true;
}

}  // namespace orvalis
