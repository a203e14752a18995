#include "renderer/interpreter_output.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace orvalis::renderer {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsErrorLine(std::string_view line) {
  return StartsWith(line, "Error:");
}

// The interpreter indents the reports it makes while it goes on ("   **** Error: ...").
bool IsSummaryLine(std::string_view line) {
  const size_t text = std::min(line.find_first_not_of(" \t"), line.size());
  return IsErrorLine(line) || line.find("Unrecoverable error") != std::string_view::npos ||
         StartsWith(line, "Last OS error:") || StartsWith(line.substr(text), "****");
}

// The interpreter's notes that say nothing of the document: its banner and the fonts it loads.
bool IsInterpreterNote(std::string_view line) {
  for (std::string_view note :
       {"GPL Ghostscript ", "Copyright (C) ", "This software is supplied under the GNU ",
        "see the file COPYING for details.", "Loading font ", "Querying operating system for "}) {
    if (StartsWith(line, note)) return true;
  }
  return false;
}

bool IsBlankLine(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// Length of the valid UTF-8 sequence starting at `at`, or 0.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t minimum = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    minimum = 0x80;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    minimum = 0x800;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    minimum = 0x10000;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  return (code < minimum || code > 0x10FFFF || surrogate) ? 0 : length;
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      out += (c >= 0x20 && c != 0x7F) || c == '\t' ? static_cast<char>(c) : '?';
      ++at;
      continue;
    }
    const size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      out += '?';
      ++at;
    } else {
      out += text.substr(at, length);
      at += length;
    }
  }
  return out;
}

// The interpreter's error report starts with this. A document that prints text without a final
// line break puts the report on the same line, after its own text.
constexpr std::string_view kErrorStart = "Error: /";

std::optional<int> WholeNumber(std::string_view text) {
  int value = 0;
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos)
    return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> PdfProgress::Expected() const {
  if (!first || !last) return std::nullopt;
  return *last >= *first ? *last - *first + 1 : 0;
}

std::optional<std::set<int>> PdfProgress::NotBegun() const {
  const std::optional<int> expected = Expected();
  if (!expected || !allBegunKept || static_cast<size_t>(*expected) > kMaxPagesKept)
    return std::nullopt;
  std::set<int> pages;
  for (int page = *first; page <= *last; ++page) {
    if (begun.count(page) == 0) pages.insert(page);
  }
  return pages;
}

bool InterpreterOutput::TakeProgress(std::string_view line) {
  constexpr std::string_view kProcessing = "Processing pages ";
  constexpr std::string_view kThrough = " through ";
  constexpr std::string_view kPage = "Page ";
  if (StartsWith(line, kPage)) {
    const std::optional<int> page = WholeNumber(line.substr(kPage.size()));
    if (!page) return false;
    if (progress_.begun.size() < PdfProgress::kMaxPagesKept) {
      progress_.begun.insert(*page);
    } else {
      progress_.allBegunKept = false;
    }
    return true;
  }
  if (StartsWith(line, kProcessing) && line.ends_with('.')) {
    const std::string_view range =
        line.substr(kProcessing.size(), line.size() - kProcessing.size() - 1);
    const size_t through = range.find(kThrough);
    if (through == std::string_view::npos) return false;
    const std::optional<int> first = WholeNumber(range.substr(0, through));
    const std::optional<int> last = WholeNumber(range.substr(through + kThrough.size()));
    if (!first || !last) return false;
    progress_.first = first;
    progress_.last = last;
    return true;
  }
  return IsInterpreterNote(line);
}

void InterpreterOutput::Append(std::string_view bytes) {
  // Bytes past the limit of a line are dropped; the line itself is kept.
  constexpr size_t kKeptBytes = kMaxLineBytes + 4;
  for (const char c : bytes) {
    if (c == '\n') {
      EndLine();
      continue;
    }
    if (partial_.size() < kKeptBytes) partial_ += c;
    ++lineBytes_;
    errorMatch_ = c == kErrorStart[errorMatch_] ? errorMatch_ + 1 : (c == kErrorStart[0] ? 1 : 0);
    if (errorMatch_ < kErrorStart.size()) continue;
    errorMatch_ = 0;
    if (lineBytes_ == kErrorStart.size()) continue;  // already at the start of a line
    // The report begins a line of its own, whether or not the text before it was kept.
    const size_t before = lineBytes_ - kErrorStart.size();
    if (partial_.size() > before) partial_.resize(before);
    EndLine();
    partial_ = kErrorStart;
    lineBytes_ = kErrorStart.size();
  }
}

void InterpreterOutput::Finish() {
  if (!partial_.empty()) EndLine();
}

void InterpreterOutput::EndLine() {
  if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
  std::string line = PrintableText(partial_);
  if (line.size() > kMaxLineBytes) {
    // Cut at a character boundary (continuation bytes are 10xxxxxx).
    size_t cut = kMaxLineBytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
  }
  partial_.clear();
  lineBytes_ = 0;
  errorMatch_ = 0;
  if (pdfProgress_ && TakeProgress(line)) return;
  if (firstError_.empty() && IsErrorLine(line)) firstError_ = line;
  lines_.push_back(std::move(line));
  if (lines_.size() > kKeptLines) lines_.pop_front();
}

bool InterpreterOutput::HasReports() const {
  return !firstError_.empty() || std::any_of(lines_.begin(), lines_.end(),
                                             [](const auto& line) { return IsSummaryLine(line); });
}

std::string InterpreterOutput::Summary() const {
  std::vector<std::string_view> chosen;
  if (!firstError_.empty()) chosen.push_back(firstError_);
  for (const std::string& line : lines_) {
    if (chosen.size() >= kMaxSummaryLines) break;
    const std::string_view text =
        std::string_view(line).substr(std::min(line.find_first_not_of(" \t"), line.size()));
    if (IsSummaryLine(line) && std::find(chosen.begin(), chosen.end(), text) == chosen.end()) {
      chosen.push_back(text);
    }
  }
  if (chosen.empty()) {
    for (auto it = lines_.rbegin(); it != lines_.rend() && chosen.size() < 3; ++it) {
      if (!IsBlankLine(*it)) chosen.insert(chosen.begin(), *it);
    }
  }
  std::string summary;
  for (std::string_view line : chosen) {
    if (!summary.empty()) summary += '\n';
    summary += line;
  }
  return summary;
}

}  // namespace orvalis::renderer
