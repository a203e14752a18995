#include "image/checked_writer.h"

namespace orvalis {

bool CheckedWriter::Write(const void* data, size_t count) {
  if (failed_ || stream_ == nullptr) {
    failed_ = true;
    return false;
  }
  if (count != 0 && stream_->WriteBytes(data, 1, count) != count) failed_ = true;
  return !failed_;
}

bool CheckedWriter::Finish() {
  if (stream_ == nullptr) return false;
  // Flushed even after a failure, so that what was written reaches the stream's owner.
  const bool flushed = stream_->FlushBuffers();
  if (!flushed || stream_->HasError() != 0) failed_ = true;
  return !failed_;
}

std::string WithReason(std::string_view message, std::string_view reason) {
  std::string text(message);
  if (!reason.empty()) text.append(": ").append(reason);
  if (text.size() > kMessageLimit) text.resize(kMessageLimit);
  return text;
}

}  // namespace orvalis
