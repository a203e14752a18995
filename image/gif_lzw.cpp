#include "image/gif_lzw.h"

#include <algorithm>
#include <cmath>

namespace orvalis {

namespace {

constexpr int kMaxBits = 12;
constexpr int kTableLimit = 1 << kMaxBits;  // 4096 codes

int HighestCodeOfWidth(int width) {
  return width >= kMaxBits ? kTableLimit : (1 << width) - 1;
}

}  // namespace

// ---- GifBitPacker ----

void GifBitPacker::Start(ByteStream* stream, int k, size_t blockLimit) {
  writer_ = CheckedWriter(stream);
  initialBits_ = k + 1;
  clearCode_ = 1 << k;
  nextFreeCode = clearCode_ + 2;
  clearPending = false;
  width_ = initialBits_;
  maxCode_ = HighestCodeOfWidth(width_);
  accumulator_ = 0;
  pendingBits_ = 0;
  blockLimit_ = std::min<size_t>(blockLimit, 255);
  blockLength_ = 0;
}

void GifBitPacker::WriteBlock() {
  if (blockLength_ == 0) return;
  // The length byte sits in front of the data so that a block is one write.
  std::array<uint8_t, 256> out;
  out[0] = static_cast<uint8_t>(blockLength_);
  std::copy_n(block_.begin(), blockLength_, out.begin() + 1);
  writer_.Write(out.data(), blockLength_ + 1);
  blockLength_ = 0;
}

void GifBitPacker::PutByte(uint8_t byte) {
  block_[blockLength_++] = byte;
  if (blockLength_ >= blockLimit_) WriteBlock();
}

void GifBitPacker::EmitWithWidth(int code, int width) {
  accumulator_ |= static_cast<uint32_t>(code) << pendingBits_;
  pendingBits_ += width;
  while (pendingBits_ >= 8) {
    PutByte(static_cast<uint8_t>(accumulator_));
    accumulator_ >>= 8;
    pendingBits_ -= 8;
  }
}

void GifBitPacker::Emit(int code) {
  EmitWithWidth(code, width_);
  // A decoder widens its codes when its next free code passes the highest code of the width;
  // after a clear it starts over at k + 1 bits.
  if (nextFreeCode > maxCode_ || clearPending) {
    if (clearPending) {
      width_ = initialBits_;
      clearPending = false;
    } else {
      ++width_;
    }
    maxCode_ = HighestCodeOfWidth(width_);
  }
  if (code == EndCode()) FlushPending();
}

void GifBitPacker::FlushPending() {
  while (pendingBits_ > 0) {
    PutByte(static_cast<uint8_t>(accumulator_));
    accumulator_ >>= 8;
    pendingBits_ -= 8;
  }
  pendingBits_ = 0;
  accumulator_ = 0;
  WriteBlock();
}

// ---- GifDataEncoder ----

GifDataEncoder::GifDataEncoder() : hashKeys_(kHashSize, -1), hashCodes_(kHashSize, 0) {}

GifDataEncoder::Method GifDataEncoder::MethodFromOption(uint32_t option) {
  if (option == 1) return Method::Literal;
  if (option == 2) return Method::RunLength;
  return Method::Lzw;
}

void GifDataEncoder::Begin(ByteStream* stream, int k, Method method) {
  method_ = method;
  packer_.Start(stream, k, method == Method::RunLength ? 255 : 254);
  switch (method_) {
    case Method::Lzw:
      LzwBegin();
      break;
    case Method::Literal:
      packer_.Emit(packer_.ClearCode());
      break;
    case Method::RunLength:
      rleK_ = k;
      RleReset();
      packer_.EmitWithWidth(packer_.ClearCode(), rleWidth_);
      rlePixel_ = -1;
      rleTablePixel_ = -1;
      rleLength_ = 0;
      break;
  }
}

void GifDataEncoder::PutRow(const uint8_t* pixels, size_t count) {
  switch (method_) {
    case Method::Lzw:
      for (size_t i = 0; i < count; ++i) LzwPut(pixels[i]);
      break;
    case Method::Literal:
      for (size_t i = 0; i < count; ++i) LiteralPut(pixels[i]);
      break;
    case Method::RunLength:
      for (size_t i = 0; i < count; ++i) RlePut(pixels[i]);
      break;
  }
}

bool GifDataEncoder::Finish() {
  switch (method_) {
    case Method::Lzw:
      LzwFinish();
      break;
    case Method::Literal:
      packer_.Emit(packer_.EndCode());
      break;
    case Method::RunLength:
      RleFinish();
      break;
  }
  return packer_.WritesSucceeded();
}

// ---- LZW: the classic open-addressed hash of 5003 slots ----

void GifDataEncoder::ClearTable() {
  std::fill(hashKeys_.begin(), hashKeys_.end(), -1);
}

void GifDataEncoder::LzwBegin() {
  ClearTable();
  prefix_ = -1;
  packer_.Emit(packer_.ClearCode());
}

void GifDataEncoder::LzwPut(int pixel) {
  if (prefix_ < 0) {
    prefix_ = pixel;
    return;
  }
  const int32_t key = (pixel << kMaxBits) + prefix_;
  int slot = (pixel << 4) ^ prefix_;
  if (hashKeys_[slot] == key) {
    prefix_ = hashCodes_[slot];
    return;
  }
  if (hashKeys_[slot] >= 0) {
    const int step = slot == 0 ? 1 : kHashSize - slot;
    do {
      slot -= step;
      if (slot < 0) slot += kHashSize;
      if (hashKeys_[slot] == key) {
        prefix_ = hashCodes_[slot];
        return;
      }
    } while (hashKeys_[slot] >= 0);
  }
  packer_.Emit(prefix_);
  prefix_ = pixel;
  if (packer_.nextFreeCode < kTableLimit) {
    hashCodes_[slot] = static_cast<uint16_t>(packer_.nextFreeCode++);
    hashKeys_[slot] = key;
  } else {
    ClearTable();
    packer_.nextFreeCode = packer_.ClearCode() + 2;
    packer_.clearPending = true;
    packer_.Emit(packer_.ClearCode());
  }
}

void GifDataEncoder::LzwFinish() {
  if (prefix_ >= 0) packer_.Emit(prefix_);
  packer_.Emit(packer_.EndCode());
}

// ---- Literal codes: every pixel its own code, the free code kept in step with a decoder ----

void GifDataEncoder::LiteralPut(int pixel) {
  packer_.Emit(pixel);
  if (packer_.nextFreeCode < kTableLimit) {
    ++packer_.nextFreeCode;
  } else {
    packer_.nextFreeCode = packer_.ClearCode() + 2;
    packer_.clearPending = true;
    packer_.Emit(packer_.ClearCode());
  }
}

// ---- Run-length codes ----
//
// After a clear, a decoder that receives the pixel code and then the codes R, R + 1, ... (R the
// first free code) builds table entries that stand for runs of 2, 3, ... of that pixel. The
// encoder counts the codes it sends and, with its own width rules, sends each run as the fewest
// such codes, clearing the table when a fresh triangle of runs is cheaper.

void GifDataEncoder::RleReset() {
  const uint32_t clear = 1u << rleK_;
  rleWidth_ = rleK_ + 1;
  rleBump_ = clear - 1;
  rleInitialClearLimit_ = rleK_ + 1 <= 3 ? 9 : clear - 2;
  rleClearLimit_ = rleInitialClearLimit_;
  rleMaxCodes_ = 4093 - clear;
  rleCodes_ = 0;
  rleTableMax_ = 0;
  rleJustCleared_ = true;
}

void GifDataEncoder::RleClear() {
  packer_.EmitWithWidth(packer_.ClearCode(), rleWidth_);
  RleReset();
}

void GifDataEncoder::RlePlain(int code) {
  packer_.EmitWithWidth(code, rleWidth_);
  rleJustCleared_ = false;
  ++rleCodes_;
  if (rleCodes_ >= rleBump_) {
    ++rleWidth_;
    rleBump_ += 1u << (rleWidth_ - 1);
  }
  if (rleCodes_ >= rleClearLimit_) RleClear();
}

void GifDataEncoder::RleRestoreLimit() {
  rleClearLimit_ = rleInitialClearLimit_;
  if (rleCodes_ >= rleClearLimit_) RleClear();
}

// The number of codes that send `pixels` equal pixels starting from a cleared table: each full
// triangle of M codes carries M(M + 1)/2 pixels; a remainder q needs the smallest m with
// m(m + 1) >= 2q.
uint32_t GifDataEncoder::RleCodesFromClear(uint32_t pixels) const {
  const uint64_t m = rleMaxCodes_;
  const uint64_t perTriangle = m * (m + 1) / 2;
  uint64_t cost = (pixels / perTriangle) * m;
  const uint64_t q = pixels % perTriangle;
  if (q > 0) {
    auto n = static_cast<uint64_t>(std::sqrt(static_cast<double>(q)));
    while (n > 0 && n * (n + 1) >= 2 * q) --n;
    while (n * (n + 1) < 2 * q) ++n;
    cost += n;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(cost, UINT32_MAX - 1));
}

void GifDataEncoder::RleFromClear(uint32_t count) {
  const int runBase = packer_.ClearCode() + 2;
  rleClearLimit_ = rleMaxCodes_;
  rleTablePixel_ = rlePixel_;
  uint32_t step = 1;
  while (count > 0) {
    if (step == 1) {
      rleTableMax_ = 1;
      RlePlain(rlePixel_);
      --count;
    } else if (count >= step) {
      rleTableMax_ = step;
      RlePlain(runBase + static_cast<int>(step) - 2);
      count -= step;
    } else if (count == 1) {
      ++rleTableMax_;
      RlePlain(rlePixel_);
      count = 0;
    } else {
      ++rleTableMax_;
      RlePlain(runBase + static_cast<int>(count) - 2);
      count = 0;
    }
    step = rleCodes_ == 0 ? 1 : step + 1;
  }
  RleRestoreLimit();
}

void GifDataEncoder::RleWithTable(uint32_t count) {
  const int runBase = packer_.ClearCode() + 2;
  int64_t repeats = count / rleTableMax_;
  int64_t left = count % rleTableMax_;
  int64_t extra = left > 0 ? 1 : 0;
  if (rleCodes_ + repeats + extra > rleMaxCodes_) {
    repeats = static_cast<int64_t>(rleMaxCodes_) - rleCodes_;
    left = count - static_cast<int64_t>(rleTableMax_) * repeats;
    extra = 1 + RleCodesFromClear(static_cast<uint32_t>(left));
  }
  if (1 + static_cast<int64_t>(RleCodesFromClear(count)) < repeats + extra) {
    RleClear();
    RleFromClear(count);
    return;
  }
  rleClearLimit_ = rleMaxCodes_;
  for (; repeats > 0; --repeats) RlePlain(runBase + static_cast<int>(rleTableMax_) - 2);
  if (left > 0) {
    if (rleJustCleared_) {
      RleFromClear(static_cast<uint32_t>(left));
    } else if (left == 1) {
      RlePlain(rlePixel_);
    } else {
      RlePlain(runBase + static_cast<int>(left) - 2);
    }
  }
  RleRestoreLimit();
}

void GifDataEncoder::RleFlush(uint32_t count) {
  if (count == 1) {
    RlePlain(rlePixel_);
  } else if (rleJustCleared_) {
    RleFromClear(count);
  } else if (rleTableMax_ > 1 && rleTablePixel_ == rlePixel_) {
    RleWithTable(count);
  } else if (1 + RleCodesFromClear(count) < count) {
    RleClear();
    RleFromClear(count);
  } else {
    for (; count > 0; --count) RlePlain(rlePixel_);
  }
}

void GifDataEncoder::RlePut(int pixel) {
  if (rleLength_ > 0 && pixel != rlePixel_) {
    RleFlush(rleLength_);
    rleLength_ = 0;
  }
  if (pixel == rlePixel_) {
    ++rleLength_;
  } else {
    rlePixel_ = pixel;
    rleLength_ = 1;
  }
}

void GifDataEncoder::RleFinish() {
  if (rleLength_ > 0) RleFlush(rleLength_);
  rleLength_ = 0;
  packer_.EmitWithWidth(packer_.EndCode(), rleWidth_);
  packer_.FlushPending();
}

}  // namespace orvalis
