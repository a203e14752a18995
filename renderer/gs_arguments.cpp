#include "renderer/gs_arguments.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace orvalis::renderer {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of a page-number conversion "%d" / "%<digits>d" starting at `at`, or 0.
size_t ConversionLength(std::string_view text, size_t at) {
  size_t end = at + 1;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return (end < text.size() && text[end] == 'd') ? end + 1 - at : 0;
}

}  // namespace

std::optional<std::string> FindProgramOnPath(std::string_view program,
                                             std::string_view searchPath) {
  for (;;) {
    const size_t colon = searchPath.find(':');
    const std::string_view folder = searchPath.substr(0, colon);
    if (!folder.empty() && folder.front() == '/') {
      std::string candidate(folder);
      if (candidate.back() != '/') candidate += '/';
      candidate += program;
      if (IsExecutableFile(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    searchPath.remove_prefix(colon + 1);
  }
}

std::optional<std::string> FindProgramOnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  return FindProgramOnPath(program, path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
}

std::optional<std::string> EscapeOutputPattern(std::string_view pattern) {
  const size_t lastSlash = pattern.rfind('/');
  const size_t nameStart = lastSlash == std::string_view::npos ? 0 : lastSlash + 1;
  size_t conversion = std::string_view::npos;
  size_t length = 0;
  for (size_t at = pattern.find('%', nameStart); at != std::string_view::npos;
       at = pattern.find('%', at + 1)) {
    const size_t n = ConversionLength(pattern, at);
    if (n > 0) {
      conversion = at;
      length = n;
    }
  }
  if (conversion == std::string_view::npos) return std::nullopt;
  std::string escaped;
  escaped.reserve(pattern.size() + 8);
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (at == conversion) {
      escaped += pattern.substr(at, length);
      at += length - 1;
    } else {
      escaped += pattern[at];
      if (pattern[at] == '%') escaped += '%';
    }
  }
  return escaped;
}

std::vector<std::string> GhostscriptArguments(const std::string& gsPath, const std::string& psPath,
                                              const std::string& escapedPattern, int xdpi, int ydpi,
                                              bool epsCrop, std::optional<PageRange> pages,
                                              bool quiet) {
  std::vector<std::string> arguments = {gsPath,
                                        "-q",
                                        "-dSAFER",
                                        "-dBATCH",
                                        "-dNOPAUSE",
                                        "-sDEVICE=bmp16m",
                                        "-r" + std::to_string(xdpi) + "x" + std::to_string(ydpi),
                                        "-dTextAlphaBits=4",
                                        "-dGraphicsAlphaBits=4"};
  if (!quiet) arguments.erase(arguments.begin() + 1);
  if (epsCrop) arguments.push_back("-dEPSCrop");
  if (pages) {
    arguments.push_back("-dFirstPage=" + std::to_string(pages->first));
    arguments.push_back("-dLastPage=" + std::to_string(pages->last));
  }
  arguments.insert(arguments.end(), {"-sOutputFile=" + escapedPattern, "-f", psPath});
  return arguments;
}

std::vector<std::string> PdfPageCountArguments(const std::string& gsPath,
                                               const std::string& pdfPath) {
  return {gsPath,
          "-q",
          "-dSAFER",
          "-dNODISPLAY",
          "-dBATCH",
          "-dNOPAUSE",
          "--permit-file-read=" + pdfPath,
          "-sOrvalisPdf=" + pdfPath,
          "-c",
          "OrvalisPdf (r) file runpdfbegin pdfpagecount = quit"};
}

}  // namespace orvalis::renderer
