#include "renderer/page_reporter.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvalis::renderer {

std::string PageName(const std::string& escapedPattern, int page) {
  const int length = std::snprintf(nullptr, 0, escapedPattern.c_str(), page);
  if (length <= 0) return {};
  std::string name(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(name.data(), name.size(), escapedPattern.c_str(), page);
  name.pop_back();
  return name;
}

int PageNumberOf(const std::string& name, const std::string& pattern) {
  // The pattern's text before and after its one conversion, with its '%' undoubled.
  std::string prefix, suffix;
  std::string* text = &prefix;
  for (size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] != '%') {
      *text += pattern[at];
    } else if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
      *text += '%';
      ++at;
    } else {
      at = pattern.find('d', at);
      if (at == std::string::npos) return -1;
      text = &suffix;
    }
  }
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix))
    return -1;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  const int page = std::stoi(digits);
  // The same padding as the interpreter's: "_07" is no page of "_%03d".
  return page > 0 && PageName(pattern, page) == name ? page : -1;
}

std::unique_ptr<PageReporter> PageReporter::Start(const std::string& folder,
                                                  std::string writtenName, std::string finalPattern,
                                                  int numberOffset, uint64_t cutSize,
                                                  RendererPageListener listener, void* context,
                                                  std::string* error) {
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || ::inotify_add_watch(fd, folder.c_str(), IN_CLOSE_WRITE) < 0) {
    *error = "cannot watch " + folder + " for pages: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<PageReporter>(new PageReporter(fd, folder, std::move(writtenName),
                                                        std::move(finalPattern), numberOffset,
                                                        cutSize, listener, context));
}

PageReporter::PageReporter(int fd, std::string folder, std::string writtenName,
                           std::string finalPattern, int numberOffset, uint64_t cutSize,
                           RendererPageListener listener, void* context)
    : fd_(fd),
      folder_(std::move(folder)),
      writtenName_(std::move(writtenName)),
      finalPattern_(std::move(finalPattern)),
      numberOffset_(numberOffset),
      cutSize_(cutSize),
      listener_(listener),
      context_(context) {}

PageReporter::~PageReporter() {
  ::close(fd_);
}

void PageReporter::Drain() {
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & IN_CLOSE_WRITE) != 0 && event->len > 0) Closed(event->name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

void PageReporter::Withhold() {
  Drain();
  withholding_ = true;
}

void PageReporter::Closed(const std::string& name) {
  const int page = PageNumberOf(name, writtenName_);
  if (page < 0 || !reported_.insert(page).second) return;
  const std::string written = folder_ + "/" + name;
  struct stat info {};
  const bool tooLarge = ::lstat(written.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                        static_cast<uint64_t>(info.st_size) >= cutSize_;
  cutAtSizeLimit_ = cutAtSizeLimit_ || tooLarge;
  if (tooLarge || withholding_) {
    ::unlink(written.c_str());
    return;
  }
  const std::string final = PageName(finalPattern_, page + numberOffset_);
  if (final != written && ::rename(written.c_str(), final.c_str()) != 0) return;
  if (listener_ != nullptr) listener_(context_, final.c_str());
}

}  // namespace orvalis::renderer
