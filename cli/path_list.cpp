#include "cli/path_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/bounded_records.h"
#include "platform/file_descriptor.h"

namespace orvalis {

namespace {

std::string Failure(const std::string& name, const std::string& why) {
  return "cannot read the list " + name + ": " + why;
}

}  // namespace

std::optional<std::vector<std::string>> ReadPathList(const std::string& file, bool nullSeparated,
                                                     std::string* error) {
  const std::string name = file == "-" ? "on standard input" : file;
  // Standard input stays open; a file named is closed when read.
  const FileDescriptor opened(file == "-" ? -1 : ::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (file != "-" && !opened.IsOpen()) {
    *error = Failure(name, std::strerror(errno));
    return std::nullopt;
  }
  const int fd = file == "-" ? STDIN_FILENO : opened.Get();
  struct stat info {};
  if (::fstat(fd, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      *error = Failure(name, "it is a folder");
      return std::nullopt;
    }
    if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > kLargestList) {
      *error = Failure(name, "it is larger than the 1 GiB a list may hold");
      return std::nullopt;
    }
  }

  BoundedRecordReader reader(fd, nullSeparated ? '\0' : '\n',
                             {kLongestListEntry + 1, kLargestList});  // room for a '\r'
  std::vector<std::string> paths;
  std::string entry;
  for (;;) {
    const BoundedRecordReader::Result result = reader.Next(&entry);
    if (result == BoundedRecordReader::Result::End) return paths;
    if (result == BoundedRecordReader::Result::TooMuch) {
      *error = Failure(name, "it is larger than the 1 GiB a list may hold");
      return std::nullopt;
    }
    if (result == BoundedRecordReader::Result::ReadFailed) {
      *error = Failure(name, std::strerror(reader.ErrorNumber()));
      return std::nullopt;
    }
    if (!nullSeparated && entry.ends_with('\r')) entry.pop_back();
    if (result == BoundedRecordReader::Result::TooLong || entry.size() > kLongestListEntry) {
      *error = Failure(name, "entry " + std::to_string(reader.RecordNumber()) + " is longer than " +
                                 std::to_string(kLongestListEntry) +
                                 " bytes, the longest a path may be");
      return std::nullopt;
    }
    if (!nullSeparated && entry.find('\0') != std::string::npos) {
      *error = Failure(name, "line " + std::to_string(reader.RecordNumber()) +
                                 " holds a NUL byte, which no path may hold (a list separated "
                                 "by NUL bytes needs --null)");
      return std::nullopt;
    }
    if (!entry.empty()) paths.push_back(std::move(entry));
  }
}

}  // namespace orvalis
