#pragma once
// What the interpreter prints, kept within fixed bounds (a hostile document may print without
// end), and the few lines of it that say why a rendering failed.

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace orvalis::renderer {

// What the interpreter says of a PDF document's pages when it is not told to be quiet:
// "Processing pages 1 through 50.", then "Page 1", "Page 2", ... as it begins each page it
// found. A PDF document prints nothing itself, so these lines are the interpreter's own.
struct PdfProgress {
  // Pages whose beginnings are remembered: past them the pages not begun are not named.
  static constexpr size_t kMaxPagesKept = size_t{1} << 16;
  std::optional<int> first, last;  // the pages it set out to draw
  std::set<int> begun;             // the pages it began, while there are at most kMaxPagesKept
  bool allBegunKept = true;
  // The number of pages it set out to draw, when it said.
  std::optional<int> Expected() const;
  // The pages it set out to draw and never began, when every one is known.
  std::optional<std::set<int>> NotBegun() const;
};

class InterpreterOutput {
 public:
  static constexpr size_t kKeptLines = 64;
  static constexpr size_t kMaxLineBytes = 400;
  static constexpr size_t kMaxSummaryLines = 6;

  // `pdfProgress`: the output of a PDF rendering, whose progress lines are read into Progress()
  // and not kept, nor are the interpreter's banner and font loading notes.
  explicit InterpreterOutput(bool pdfProgress = false) : pdfProgress_(pdfProgress) {}

  // Takes the next bytes of output; lines end at '\n', and the interpreter's error report
  // ("Error: /...") always starts a line, even right after text a document printed.
  void Append(std::string_view bytes);
  // Ends the last line when the output did not end with a line break.
  void Finish();

  // The last lines, oldest first (each cut to kMaxLineBytes and made printable).
  const std::deque<std::string>& LastLines() const { return lines_; }

  // The lines that explain a failure: the first "Error: ..." line, then the interpreter's
  // closing and system messages ("... Unrecoverable error ...", "Last OS error: ...",
  // "**** ..." warnings), in order, at most kMaxSummaryLines; when there is none of those, the
  // last three non-blank lines. Joined with '\n'.
  std::string Summary() const;
  // Whether the interpreter reported an error or a warning of its own, even if it went on.
  bool HasReports() const;
  const PdfProgress& Progress() const { return progress_; }

 private:
  void EndLine();
  // Takes a line of a PDF rendering's progress; false for a line to keep.
  bool TakeProgress(std::string_view line);

  const bool pdfProgress_;
  PdfProgress progress_;

  std::string partial_;
  size_t lineBytes_ = 0;   // bytes of the current line, the dropped ones included
  size_t errorMatch_ = 0;  // bytes of the error report's start seen at the end of the line
  std::deque<std::string> lines_;
  std::string firstError_;
};

// The whole of `text` as a number of at most 9 digits, and nothing else; nullopt otherwise.
std::optional<int> WholeNumber(std::string_view text);

// `text` with control characters (other than tab) and bytes that are not valid UTF-8 replaced
// by '?', so it can be shown on a terminal or in a window as it is.
std::string PrintableText(std::string_view text);

}  // namespace orvalis::renderer
