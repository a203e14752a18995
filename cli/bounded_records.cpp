#include "cli/bounded_records.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvalis {

namespace {
constexpr size_t kChunk = 64 * 1024;
}  // namespace

BoundedRecordReader::BoundedRecordReader(int fd, char separator, Limits limits)
    : fd_(fd), separator_(separator), limits_(limits), buffer_(kChunk) {
  separatorRun_.fill(separator);
}

bool BoundedRecordReader::Fill() {
  if (ended_ || tooMuch_ || errorNumber_ != 0) return false;
  ssize_t got;
  do {
    got = ::read(fd_, buffer_.data(), buffer_.size());
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    errorNumber_ = errno;
    return false;
  }
  if (got == 0) {
    ended_ = true;
    return false;
  }
  total_ += static_cast<uint64_t>(got);
  if (total_ > limits_.mostInTotal) {
    tooMuch_ = true;
    return false;
  }
  position_ = 0;
  filled_ = static_cast<size_t>(got);
  return true;
}

BoundedRecordReader::Result BoundedRecordReader::Next(std::string* record) {
  record->clear();
  bool any = false;
  for (;;) {
    if (position_ == filled_ && !Fill()) {
      if (tooMuch_) return Result::TooMuch;
      if (errorNumber_ != 0) return Result::ReadFailed;
      skipping_ = false;
      return any ? Result::Record : Result::End;  // the last one, without its separator
    }
    if (!any && !skipping_) {
      // Empty records, separators in a row, are passed over in one go.
      const size_t first = position_;
      while (filled_ - position_ >= kRun &&
             std::memcmp(buffer_.data() + position_, separatorRun_.data(), kRun) == 0)
        position_ += kRun;
      while (position_ < filled_ && buffer_[position_] == separator_) ++position_;
      separators_ += position_ - first;
      if (position_ == filled_) continue;
      recordNumber_ = separators_ + 1;
    }
    const char* start = buffer_.data() + position_;
    const size_t available = filled_ - position_;
    const void* found = std::memchr(start, separator_, available);
    const size_t piece =
        found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - start) : available;
    position_ += piece;
    if (found != nullptr) ++position_, ++separators_;
    if (skipping_) {  // the rest of a record that was too long
      skipping_ = found == nullptr;
      continue;
    }
    any = true;
    if (record->size() + piece > limits_.longestRecord) {
      skipping_ = found == nullptr;
      record->clear();
      return Result::TooLong;
    }
    record->append(start, piece);
    if (found != nullptr) return Result::Record;
  }
}

}  // namespace orvalis
