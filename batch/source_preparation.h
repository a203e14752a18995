#pragma once
// Before a file is rendered: what the interpreter is given to read. PostScript and PDF are read
// where they are. A DOS EPS file's PostScript section, and a gzip file's unpacked bytes, are
// written into a private folder first; unpacking stops at a limit, at the disk's reserve and at
// a stop, so that a small file that unpacks to a huge one (a "gzip bomb") fails within seconds
// and leaves nothing behind.

#include <cstdint>
#include <stop_token>
#include <string>

namespace orvalis {

class DiskGuard;

// Where the copies go, inside the folder PrepareSource is given, and their names.
inline constexpr char kCopyFolder[] = "document/";
inline constexpr char kUnpackedCopy[] = "unpacked";
inline constexpr char kSectionCopy[] = "section.eps";

// The most a compressed file may unpack to, unless the run says otherwise.
inline constexpr uint64_t kDefaultUnpackLimit = uint64_t{1} << 30;

struct PreparedSource {
  std::string path;     // what the renderer reads; "" when the file is not rendered
  std::string problem;  // why not, "" when it is (or when it was stopped)
  bool stopped = false;
};

// Prepares `source` for rendering. Copies go into `folder` (an existing private folder, ending
// in '/'), which the caller removes with them. A source that cannot be opened or is not a
// regular file is given back as it is: the renderer says what is wrong with it.
PreparedSource PrepareSource(const std::string& source, const std::string& folder,
                             uint64_t unpackLimit, DiskGuard& disk, std::stop_token stop);

}  // namespace orvalis
