#pragma once
// The Ghostscript command line: where gs is, how the output pattern is written for it, and the
// exact argument list.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis::renderer {

// The first executable regular file named `program` in the colon-separated `searchPath`. Empty
// and relative entries are skipped, so a gs lying in the working folder is never picked up.
std::optional<std::string> FindProgramOnPath(std::string_view program, std::string_view searchPath);
// The same with $PATH (or "/usr/local/bin:/usr/bin:/bin" when PATH is not set).
std::optional<std::string> FindProgramOnPath(std::string_view program);

// The pattern as Ghostscript must see it: the page-number conversion ("%d" or "%0<n>d", the last
// one in the file-name part) kept, every other '%' doubled so that it is taken literally.
// nullopt when the file-name part has no page-number conversion.
std::optional<std::string> EscapeOutputPattern(std::string_view pattern);

// Pages `first` to `last` of a PDF document, counted from 1.
struct PageRange {
  int first = 1;
  int last = 1;
};

// gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bmp16m -r<x>x<y> -dTextAlphaBits=4
// -dGraphicsAlphaBits=4 [-dEPSCrop] [-dFirstPage=<a> -dLastPage=<b>] -sOutputFile=<escapedPattern>
// -f <psPath>, with `gsPath` as argv[0]; -dEPSCrop when `epsCrop` (eps_bounding_box.h), the page
// range when `pages` is given (for a PDF document only: the interpreter would pick the pages
// of a PostScript program by counting what it prints, which the program controls). Without -q
// when not `quiet`: for a PDF document the interpreter then says which pages it sets out to
// draw and begins each (interpreter_output.h).
std::vector<std::string> GhostscriptArguments(const std::string& gsPath, const std::string& psPath,
                                              const std::string& escapedPattern, int xdpi, int ydpi,
                                              bool epsCrop = false,
                                              std::optional<PageRange> pages = std::nullopt,
                                              bool quiet = true);

// gs -q -dSAFER -dNODISPLAY -dBATCH -dNOPAUSE --permit-file-read=<pdfPath> -sOrvalisPdf=<pdfPath>
// -c "OrvalisPdf (r) file runpdfbegin pdfpagecount = quit": prints the number of pages of the
// PDF document at `pdfPath` (a plain relative name: the interpreter matches the name it may
// read as text), and draws nothing.
std::vector<std::string> PdfPageCountArguments(const std::string& gsPath,
                                               const std::string& pdfPath);

}  // namespace orvalis::renderer
