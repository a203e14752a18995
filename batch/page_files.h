#pragma once
// The page files a renderer leaves in a page folder: their names, their order, what their
// headers promise, and when a page is complete enough to be converted.
//
// Completeness is the one rule every reader of page files goes by (the converter after a
// rendering, and anything that converts pages while the renderer is still writing): a page is
// complete when
//   - it is whole: the file holds every byte its headers promise (file header, info header,
//     palette and the pixel data up to its pixel offset plus biSizeImage), and
//   - the renderer has finished it: it said so (PageRenderer::SetPageListener), or, for a
//     renderer that does not say, it has moved past it: the rendering has returned, or the file
//     of a later page exists (the interpreter writes one page at a time, in page order, and
//     closes a page's file before it starts the next).
// A page cut short by a full disk, a signal or the file-size limit fails the first test; a page
// still being written fails the second even when its size happens to look right.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvalis {

// What the renderer puts after the base name: "_" and the page number in at least three digits,
// and the extension. Page 7 of "report" is report_007.bmp; page 1000 is report_1000.bmp.
inline constexpr char kPageSuffixPattern[] = "_%03d.bmp";

// The pattern handed to the renderer: folder + baseName + kPageSuffixPattern. `folder` ends in
// '/'. The base name is taken literally (the renderer treats any other '%' as text).
std::string PagePattern(const std::string& folder, const std::string& baseName);

// The file the renderer writes for page `page` (counted from 1) under that pattern.
std::string PageFileName(const std::string& folder, const std::string& baseName, int page);

// Page files in page order: by file name, whatever their folder, a shorter name first (page
// numbers past 999 have more digits: "_1000" comes after "_999").
bool ComesBeforeInPageOrder(const std::string& a, const std::string& b);

// Every regular file of `folder` (not folders, not links), in page order.
std::vector<std::string> CollectPages(const std::string& folder);

// The interpreter reads the names on its command line as UTF-8 and drops the bytes that are
// not. Names are bytes, so what the driver hands it is kept to plain printable ASCII: a name
// that is not is replaced by one of these in the page folder (a link to the source, a plain
// stem for its pages), and the outputs still take the source's own name.
inline constexpr char kPlainSourceLink[] = "source.ps";
inline constexpr char kPlainPageStem[] = "page";

// Where the second part of a document drawn in two parts, and a document drawn once more, put
// their pages, inside the file's page folder.
inline constexpr char kSecondPartFolder[] = "second/";
inline constexpr char kAgainFolder[] = "again/";
bool IsPlainName(std::string_view name);

// The page number in the name of `page`, written under `stem`: 7 for report_007.bmp; nullopt
// for a name that holds none.
std::optional<int> PageNumberOf(const std::string& page, const std::string& stem);

// What a page file's headers say about it.
struct PageFileHeader {
  uint64_t promisedBytes = 0;  // the file's size when whole
  uint64_t actualBytes = 0;    // its size now
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitsPerPixel = 0;
  // Bytes of the picture once decoded (16- and 32-bit pixels become 24-bit rows; a 32-bit
  // page may also carry an alpha plane, counted too).
  uint64_t DecodedBytes() const;
};

// The headers of a BMP page file ("BM" file header and an info header); nullopt when the file
// cannot be read or its headers are cut or not those of a BMP file.
std::optional<PageFileHeader> ReadPageFileHeader(const std::string& path);

// True when the file holds everything its headers promise.
bool PageFileIsWhole(const std::string& path);

// The pages of `pages` (in page order, as CollectPages gives them) that the renderer has moved
// past: every one once the rendering has returned, else all but the last. Each is then
// complete when it is whole (PageFileIsWhole), and was cut short when it is not.
std::vector<std::string> PagesMovedPast(std::vector<std::string> pages, bool renderingReturned);

}  // namespace orvalis
