#pragma once
// What the interpreter prints, kept within fixed bounds (a hostile document may print without
// end), and the few lines of it that say why a rendering failed.

#include <deque>
#include <string>
#include <string_view>

namespace orvalis::renderer {

class InterpreterOutput {
 public:
  static constexpr size_t kKeptLines = 64;
  static constexpr size_t kMaxLineBytes = 400;
  static constexpr size_t kMaxSummaryLines = 6;

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

 private:
  void EndLine();

  std::string partial_;
  size_t lineBytes_ = 0;   // bytes of the current line, the dropped ones included
  size_t errorMatch_ = 0;  // bytes of the error report's start seen at the end of the line
  std::deque<std::string> lines_;
  std::string firstError_;
};

// `text` with control characters (other than tab) and bytes that are not valid UTF-8 replaced
// by '?', so it can be shown on a terminal or in a window as it is.
std::string PrintableText(std::string_view text);

}  // namespace orvalis::renderer
