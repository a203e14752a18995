#include "batch/source_type.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace orvalis {

namespace {

constexpr std::array<std::string_view, 7> kExtensions = {".ps.gz", ".eps.gz", ".ps", ".eps",
                                                         ".epsf",  ".epsi",   ".pdf"};

bool EndsWithNoCase(std::string_view text, std::string_view ending) {
  if (text.size() < ending.size()) return false;
  const std::string_view tail = text.substr(text.size() - ending.size());
  return std::equal(tail.begin(), tail.end(), ending.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

// The longest extension of the list that `name` ends in; "" when none.
std::string_view SourceExtension(std::string_view name) {
  for (const std::string_view extension : kExtensions)
    if (EndsWithNoCase(name, extension)) return extension;
  return {};
}

bool StartsWith(std::span<const uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// PDF readers take "%PDF-" anywhere in the first kilobyte: some writers put bytes before it.
bool HoldsPdfMarker(std::span<const uint8_t> head) {
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  return text.find("%PDF-") != std::string_view::npos;
}

}  // namespace

bool HasSourceExtension(std::string_view name) {
  const std::string_view extension = SourceExtension(name);
  return !extension.empty() && name.size() > extension.size();
}

bool HasPdfExtension(std::string_view name) {
  return EndsWithNoCase(name, ".pdf");
}

std::string SourceStem(std::string_view fileName) {
  std::string_view stem = fileName;
  if (const std::string_view extension = SourceExtension(fileName); !extension.empty()) {
    stem.remove_suffix(extension.size());
  } else if (const size_t dot = fileName.rfind('.'); dot != std::string_view::npos && dot > 0) {
    stem = fileName.substr(0, dot);
  }
  if (stem.empty()) return std::string(fileName);
  return std::string(stem);
}

SourceSniff SniffSource(std::span<const uint8_t> head, std::string_view fileName) {
  if (StartsWith(head, "\x1f\x8b")) return {SourceKind::Gzip, {}};
  if (StartsWith(head, "\xc5\xd0\xd3\xc6")) return {SourceKind::DosEps, {}};
  if (StartsWith(head, "%!")) return {SourceKind::PostScript, {}};
  if (HoldsPdfMarker(head)) return {SourceKind::Pdf, {}};
  const std::string_view extension = SourceExtension(fileName);
  if (extension.ends_with(".gz"))
    return {SourceKind::Gzip, "It is not compressed with gzip, although its name ends in .gz"};
  if (extension == ".pdf")
    return {SourceKind::Pdf,
            "It is not a PDF file (it does not begin with %PDF-), although its "
            "name ends in .pdf"};
  // PostScript may begin with anything: a printer's job header, a Ctrl+D, blank lines.
  return {SourceKind::PostScript, {}};
}

}  // namespace orvalis
