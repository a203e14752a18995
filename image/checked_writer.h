#pragma once
// The one way encoders write: every byte goes through a CheckedWriter, which remembers the first
// write the stream did not take whole (a full disk, a closed pipe) and skips what follows, and
// every encoder ends with Finish, which flushes the stream and checks it. A short write can thus
// never end in a success, whatever the encoder or the library under it.
//
// Encoders over a library (libjpeg, libpng, libtiff, OpenJPEG) give the library callbacks that
// write through the writer, and report a failure as their own message followed by ": " and the
// library's reason (WithReason).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "image/byte_stream.h"

namespace orvalis {

class CheckedWriter {
 public:
  explicit CheckedWriter(ByteStream* stream) : stream_(stream) {}

  // Writes all `count` bytes; false (and every later write skipped) once a write fell short.
  bool Write(const void* data, size_t count);
  bool Write(std::span<const uint8_t> bytes) { return Write(bytes.data(), bytes.size()); }
  bool Put(uint8_t byte) { return Write(&byte, 1); }

  // True while every write arrived whole.
  bool Ok() const { return !failed_; }
  // Flushes the stream and checks its error state; true when every byte arrived.
  bool Finish();

  ByteStream* Stream() const { return stream_; }

 private:
  ByteStream* stream_;
  bool failed_ = false;
};

// The image library's messages are at most this many characters long.
inline constexpr size_t kMessageLimit = 255;

// "message: reason", or the message alone when the library gave no reason; cut to
// kMessageLimit characters, as a library's reason may be of any length.
std::string WithReason(std::string_view message, std::string_view reason);

}  // namespace orvalis
