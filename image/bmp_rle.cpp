#include "image/bmp_rle.h"

#include <algorithm>
#include <cstring>

namespace orvalis {

namespace {

// Reads the stream in chunks so that a run-length stream costs one virtual call per 4 KiB
// instead of one per byte. On destruction it seeks back over the bytes it read ahead, so the
// stream ends where the decoder stopped.
class ChunkReader {
 public:
  explicit ChunkReader(ByteStream& stream) : stream_(stream) {}
  ~ChunkReader() {
    if (next_ < end_) stream_.SeekTo(-static_cast<int64_t>(end_ - next_), kSeekCurrent);
  }
  ChunkReader(const ChunkReader&) = delete;
  ChunkReader& operator=(const ChunkReader&) = delete;

  // The next byte, or -1 when the stream is exhausted.
  int Next() {
    if (next_ == end_ && !Refill()) return -1;
    return buffer_[next_++];
  }

 private:
  bool Refill() {
    if (exhausted_) return false;
    next_ = 0;
    end_ = stream_.ReadBytes(buffer_, 1, sizeof buffer_);
    exhausted_ = end_ == 0;
    return !exhausted_;
  }

  ByteStream& stream_;
  uint8_t buffer_[4096];
  size_t next_ = 0;
  size_t end_ = 0;
  bool exhausted_ = false;
};

// The decoding position. x is a byte offset inside the row and y the row; both only grow, by
// at most 255 per escape, so 64-bit counters cannot overflow on any stream that can exist.
struct Cursor {
  uint64_t x = 0;
  uint64_t y = 0;

  // Address of byte x of row y, or nullptr when it lies outside the pixel memory.
  uint8_t* Byte(const RlePixels& t) const {
    if (y >= t.height) return nullptr;
    const uint64_t offset = y * t.rowStride + x;
    return offset < t.size ? t.pixels + offset : nullptr;
  }
};

// Stores one nibble at the cursor: the high phase starts a byte (clearing its low nibble),
// the low phase completes it and moves to the next byte.
struct NibbleCursor : Cursor {
  bool low = false;

  void Put(const RlePixels& t, int nibble) {
    if (uint8_t* at = Byte(t)) {
      *at = low ? static_cast<uint8_t>(*at | nibble) : static_cast<uint8_t>(nibble << 4);
    }
    if (low) ++x;
    low = !low;
  }

  void MoveRight(uint64_t pixels) {
    const uint64_t nibble = x * 2 + (low ? 1 : 0) + pixels;
    x = nibble / 2;
    low = (nibble & 1) != 0;
  }

  void NextLine() {
    x = 0;
    low = false;
    ++y;
  }
};

}  // namespace

void DecodeRle8(ByteStream& stream, const RlePixels& target) {
  ChunkReader in(stream);
  Cursor at;
  for (;;) {
    const int count = in.Next();
    if (count < 0) return;
    if (count != 0) {
      const int value = in.Next();
      if (value < 0) return;
      const uint64_t room = at.x < target.rowStride ? target.rowStride - at.x : 0;
      const uint64_t stored = std::min<uint64_t>(static_cast<uint64_t>(count), room);
      if (uint8_t* row = at.Byte(target); row != nullptr && stored > 0) {
        std::memset(row, value, static_cast<size_t>(stored));
      }
      at.x += stored;
      continue;
    }
    const int escape = in.Next();
    if (escape < 0 || escape == 1) return;
    if (escape == 0) {
      at.x = 0;
      ++at.y;
    } else if (escape == 2) {
      const int dx = in.Next();
      const int dy = in.Next();
      if (dx < 0 || dy < 0) return;
      at.x += static_cast<uint64_t>(dx);
      at.y += static_cast<uint64_t>(dy);
    } else {
      for (int i = 0; i < escape; ++i) {
        const int value = in.Next();
        if (value < 0) return;
        if (uint8_t* byte = at.Byte(target)) *byte = static_cast<uint8_t>(value);
        ++at.x;
      }
      if ((escape & 1) != 0 && in.Next() < 0) return;
    }
  }
}

void DecodeRle4(ByteStream& stream, const RlePixels& target) {
  ChunkReader in(stream);
  NibbleCursor at;
  for (;;) {
    const int count = in.Next();
    if (count < 0) return;
    if (count != 0) {
      const int value = in.Next();
      if (value < 0) return;
      for (int i = 0; i < count; ++i) at.Put(target, (i & 1) == 0 ? value >> 4 : value & 15);
      continue;
    }
    const int escape = in.Next();
    if (escape < 0 || escape == 1) return;
    if (escape == 0) {
      at.NextLine();
    } else if (escape == 2) {
      const int dx = in.Next();
      const int dy = in.Next();
      if (dx < 0 || dy < 0) return;
      at.MoveRight(static_cast<uint64_t>(dx));
      at.y += static_cast<uint64_t>(dy);
    } else {
      // An absolute run of `escape` nibbles, two per byte, padded to an even number of bytes.
      int data = in.Next();
      if (data < 0) return;
      for (int i = 0; i < escape; ++i) {
        at.Put(target, (i & 1) == 0 ? data >> 4 : data & 15);
        if ((i & 1) != 0 && i != escape - 1) {
          data = in.Next();
          if (data < 0) return;
        }
      }
      if (((escape - 1) & 2) == 0 && in.Next() < 0) return;
    }
  }
}

}  // namespace orvalis
