#pragma once
// The pages a document promises, where the renderer can hold the rendering to them.
//
// A PostScript program's pages are whatever it prints: a DSC header's "%%Pages: 87" is a
// comment, and a program may print more or fewer (copies, several pages on a sheet). But a
// program that ends before its promised pages *and* lacks the "%%EOF" a DSC document ends with
// was cut short (an interrupted download, a full disk): its last pages are missing, not
// unprinted. Only then is the header's count held against the pages drawn.

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace orvalis::renderer {

// Bytes of a file's start looked through for its header comments, and of its end for "%%EOF".
inline constexpr size_t kDscHeadBytes = size_t{64} << 10;
inline constexpr size_t kDscTailBytes = 4096;

// The page count of a DSC header ("%%Pages: N" among the comments that open the file, before
// "%%EndComments"), nullopt when there is none or it is deferred to the trailer ("(atend)").
std::optional<int> HeaderPageCount(std::string_view head);

// Whether `tail`, the file's last bytes, ends with "%%EOF" (after white space, a Ctrl+D or NULs).
bool EndsWithEof(std::string_view tail);

// The pages the PostScript file at `path` promises when it was cut short: a DSC page count
// in its header, and no "%%EOF" at its end; nullopt otherwise or when it cannot be read.
std::optional<int> PagesPromisedByCutProgram(const std::string& path);

// "page 7", "pages 28–50", "pages 3, 5 and 9–12": the numbers of `pages` (not empty), runs of
// consecutive numbers joined.
std::string PageNumbersText(const std::set<int>& pages);

}  // namespace orvalis::renderer
