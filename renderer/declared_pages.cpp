#include "renderer/declared_pages.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <vector>

#include "platform/file_descriptor.h"

namespace orvalis::renderer {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Reads up to `size` bytes at `offset`; false on a read error.
bool ReadAt(int fd, off_t offset, size_t size, std::string* out) {
  out->resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, out->data() + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out->resize(got);
  return true;
}

}  // namespace

std::optional<int> HeaderPageCount(std::string_view head) {
  if (!head.starts_with("%!PS-Adobe-")) return std::nullopt;
  constexpr std::string_view kPages = "%%Pages:";
  std::optional<int> count;
  // The header is the run of comment lines that opens the file. A header cut by the bytes read
  // (no line break after its last line) is not trusted.
  size_t at = 0;
  while (at < head.size()) {
    const size_t end = head.find_first_of("\r\n", at);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = head.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;
    if (!line.starts_with("%") || line.starts_with("%%EndComments")) break;
    if (!line.starts_with(kPages)) continue;
    // "%%Pages: 87", or "%%Pages: 87 1" with the page order of older headers.
    const std::string_view value = Trimmed(line.substr(kPages.size()));
    int pages = 0;
    const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), pages);
    const std::string_view rest = value.substr(static_cast<size_t>(stop - value.data()));
    if (error != std::errc() || pages < 0 || (!rest.empty() && !IsSpace(rest.front()))) {
      count.reset();  // "(atend)", or no number
      continue;
    }
    count = pages;  // the first one counts in DSC, but a later valid one is no less a promise
    break;
  }
  return count;
}

bool EndsWithEof(std::string_view tail) {
  while (!tail.empty() &&
         (IsSpace(tail.back()) || tail.back() == '\x04' || tail.back() == '\0')) {
    tail.remove_suffix(1);
  }
  return tail.ends_with("%%EOF");
}

std::optional<int> PagesPromisedByCutProgram(const std::string& path) {
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat info {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  std::string head;
  if (!ReadAt(fd.Get(), 0, kDscHeadBytes, &head)) return std::nullopt;
  const std::optional<int> pages = HeaderPageCount(head);
  if (!pages) return std::nullopt;
  const off_t size = info.st_size;
  const off_t tailStart = size > static_cast<off_t>(kDscTailBytes) ? size - kDscTailBytes : 0;
  std::string tail;
  if (!ReadAt(fd.Get(), tailStart, static_cast<size_t>(size - tailStart), &tail))
    return std::nullopt;
  if (EndsWithEof(tail)) return std::nullopt;
  return pages;
}

std::string PageNumbersText(const std::set<int>& pages) {
  std::vector<std::string> runs;
  for (auto it = pages.begin(); it != pages.end();) {
    const int first = *it;
    int last = first;
    for (++it; it != pages.end() && *it == last + 1; ++it) last = *it;
    runs.push_back(first == last ? std::to_string(first)
                                 : std::to_string(first) + "\u2013" + std::to_string(last));
  }
  std::string text = pages.size() == 1 ? "page " : "pages ";
  for (size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) text += i + 1 == runs.size() ? " and " : ", ";
    text += runs[i];
  }
  return text;
}

}  // namespace orvalis::renderer
