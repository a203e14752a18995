#pragma once
// A memory stream that behaves like a disk filling up: it accepts bytes until a limit, then
// writes only what still fits and reports the short count, as fwrite does. It can also refuse to
// flush. What it accepted stays readable through Bytes().

#include <algorithm>
#include <cstdint>
#include <vector>

#include "image/byte_stream.h"

namespace orvalis::test {

class FailingStream : public MemoryStream {
 public:
  explicit FailingStream(int64_t limit, bool flushFails = false)
      : limit_(limit), flushFails_(flushFails) {
    OpenEmpty();
  }

  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override {
    if (itemSize == 0) return 0;
    const int64_t room = std::max<int64_t>(limit_ - Position(), 0);
    const size_t items = std::min<size_t>(itemCount, static_cast<size_t>(room) / itemSize);
    if (items == 0) return 0;
    return MemoryStream::WriteBytes(source, itemSize, items);
  }
  bool PutByte(uint8_t value) override {
    return Position() < limit_ && MemoryStream::PutByte(value);
  }
  bool FlushBuffers() override { return !flushFails_ && MemoryStream::FlushBuffers(); }

  std::vector<uint8_t> Bytes() {
    const uint8_t* data = DetachBuffer(false);
    const int64_t length = Length();
    if (data == nullptr || length <= 0) return {};
    return {data, data + length};
  }

 private:
  int64_t limit_;
  bool flushFails_;
};

}  // namespace orvalis::test
