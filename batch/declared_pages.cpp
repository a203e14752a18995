#include "batch/declared_pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

namespace orvalis {

namespace {

constexpr std::string_view kPages = "%%Pages:";
constexpr size_t kHeaderBytes = 64 << 10;
constexpr size_t kTrailerBytes = 4 << 10;

// The next line of `text` (ended by LF, CR or CR LF), which is then moved past it.
std::string_view NextLine(std::string_view& text) {
  const size_t end = text.find_first_of("\r\n");
  const std::string_view line = text.substr(0, end);
  if (end == std::string_view::npos) {
    text = {};
  } else {
    text.remove_prefix(text.substr(end, 2) == "\r\n" ? end + 2 : end + 1);
  }
  return line;
}

// The number after "%%Pages:", "(atend)" as -1, or nullopt when it is neither.
std::optional<int> PagesValue(std::string_view line) {
  std::string_view value = line.substr(kPages.size());
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  if (value.starts_with("(atend)")) return -1;
  int pages = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), pages);
  if (error != std::errc() || end == value.data() || pages < 0) return std::nullopt;
  return pages;
}

}  // namespace

std::optional<int> DeclaredPageCount(std::string_view header, std::string_view trailer) {
  std::string_view text = header;
  const std::string_view first = NextLine(text);
  if (!first.starts_with("%!")) return std::nullopt;
  if (first.find("EPSF") != std::string_view::npos) return 1;
  bool atEnd = false;
  // The header: the comment lines right after the first, up to %%EndComments.
  while (!text.empty()) {
    const std::string_view line = NextLine(text);
    if (!line.starts_with("%%") || line.starts_with("%%EndComments")) break;
    if (!line.starts_with(kPages)) continue;
    const std::optional<int> value = PagesValue(line);
    if (value && *value >= 0) return value;
    atEnd = value.has_value();
  }
  if (!atEnd) return std::nullopt;
  // The trailer's last %%Pages: counts.
  std::optional<int> declared;
  for (std::string_view rest = trailer; !rest.empty();) {
    const std::string_view line = NextLine(rest);
    if (!line.starts_with(kPages)) continue;
    if (const std::optional<int> value = PagesValue(line); value && *value >= 0) declared = value;
  }
  return declared;
}

std::optional<int> DeclaredPageCount(const std::string& path) {
  // Without blocking: a named pipe or a terminal given as a source must not hold the run up
  // here; only a regular file is read.
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0) ::close(fd);
    }
  } file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  struct stat info {};
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const auto readAt = [&](off_t offset, size_t bytes) {
    std::string text(bytes, '\0');
    const ssize_t got = ::pread(file.fd, text.data(), bytes, offset);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
  };
  const std::string header = readAt(0, kHeaderBytes);
  const off_t size = info.st_size;
  const off_t trailerStart = std::max<off_t>(size - static_cast<off_t>(kTrailerBytes), 0);
  return DeclaredPageCount(header, readAt(trailerStart, kTrailerBytes));
}

}  // namespace orvalis
