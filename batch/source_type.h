#pragma once
// The documents the converter reads: PostScript, EPS (with or without the binary header of DOS
// EPS files), PostScript or EPS compressed with gzip, and PDF. Which files are taken is decided
// by their names; what a file is, by its first bytes where they say it, and by its name where
// they do not.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvalis {

enum class SourceKind {
  PostScript,  // also EPS: the renderer crops an EPS to its bounding box
  DosEps,      // the PostScript section of a DOS EPS file is taken out first
  Gzip,        // unpacked first, then told apart again
  Pdf,
};

// True when the name ends in one of the extensions the converter takes, in any case: .ps, .eps,
// .epsf, .epsi, .ps.gz, .eps.gz, .pdf.
bool HasSourceExtension(std::string_view name);

// True when the name ends in .pdf, in any case.
bool HasPdfExtension(std::string_view name);

// The name of a source without the extensions that say its type, the name its images are given:
// "report.ps.gz" and "report.ps" give "report". A name that would be left empty keeps its whole
// name (a file named ".ps" is a hidden file, not an extension).
std::string SourceStem(std::string_view fileName);

// Bytes read from the start of a file to tell its kind.
inline constexpr size_t kSourceHeadBytes = 1024;

struct SourceSniff {
  SourceKind kind = SourceKind::PostScript;
  std::string problem;  // why the file is not converted, "" when it is
};

// The kind of a file named `fileName` that begins with `head` (its first kSourceHeadBytes or
// fewer). A name that promises PDF or gzip while the bytes say neither that nor another kind the
// converter reads gets a problem instead of a guess.
SourceSniff SniffSource(std::span<const uint8_t> head, std::string_view fileName);

}  // namespace orvalis
