#pragma once
// The three GIF image-data encodings: classic hashed LZW, literal codes (one code per pixel, no
// compression) and a run-length scheme whose codes any GIF decoder's table growth turns into
// runs. All three write a standard GIF code stream: the initial code size byte is written by the
// caller, the data sub-blocks and the zero-length terminator by the caller too.
// Format: https://www.w3.org/Graphics/GIF/spec-gif89a.txt (appendix F: variable-length LZW).

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/byte_stream.h"
#include "image/checked_writer.h"

namespace orvalis {

// Packs codes least significant bit first into bytes and the bytes into data sub-blocks, and
// keeps the code width of the LZW and literal encodings.
class GifBitPacker {
 public:
  // Begins a new code stream: k is the initial code size (2..8), blockLimit the largest
  // sub-block (254 for LZW and literal codes, 255 for run-length codes).
  void Start(ByteStream* stream, int k, size_t blockLimit);

  int ClearCode() const { return clearCode_; }
  int EndCode() const { return clearCode_ + 1; }

  // LZW and literal encodings: writes a code at the current width, then widens (or, after a
  // clear, narrows) the width as a decoder's table growth requires. Emitting the end code also
  // flushes the pending bits and sub-block.
  void Emit(int code);
  // Run-length encoding: writes a code of an explicit width; no width bookkeeping.
  void EmitWithWidth(int code, int width);
  // Writes the pending bits as a last byte and the pending sub-block.
  void FlushPending();

  // Next free code of the table a decoder builds, and a pending clear (LZW and literal).
  int nextFreeCode = 0;
  bool clearPending = false;

  // False once any write to the stream came back short.
  bool WritesSucceeded() const { return writer_.Ok(); }

 private:
  void PutByte(uint8_t byte);
  void WriteBlock();

  CheckedWriter writer_{nullptr};
  int initialBits_ = 0;  // k + 1
  int clearCode_ = 0;
  int width_ = 0;
  int maxCode_ = 0;
  uint32_t accumulator_ = 0;
  int pendingBits_ = 0;
  size_t blockLimit_ = 254;
  size_t blockLength_ = 0;
  std::array<uint8_t, 256> block_{};
};

// One pass of an encoding over the pixels in GIF order: call Begin, PutRow with the palette
// indices (any number of pixels per call), then Finish. The hash table and the packer are owned
// here and reused for every frame, so no allocation happens per pixel.
class GifDataEncoder {
 public:
  enum class Method { Lzw, Literal, RunLength };

  GifDataEncoder();

  // GIF option word: 1 literal codes, 2 run-length codes, anything else LZW.
  static Method MethodFromOption(uint32_t option);

  void Begin(ByteStream* stream, int k, Method method);
  void PutRow(const uint8_t* pixels, size_t count);
  // Ends the code stream (end code, pending bits, pending sub-block); false when a write failed.
  bool Finish();

 private:
  // LZW
  void LzwBegin();
  void LzwPut(int pixel);
  void LzwFinish();
  void ClearTable();
  // Literal codes
  void LiteralPut(int pixel);
  // Run-length codes
  void RleReset();
  void RlePlain(int code);
  void RleClear();
  void RleRestoreLimit();
  uint32_t RleCodesFromClear(uint32_t pixels) const;
  void RleFromClear(uint32_t count);
  void RleWithTable(uint32_t count);
  void RleFlush(uint32_t count);
  void RlePut(int pixel);
  void RleFinish();

  GifBitPacker packer_;
  Method method_ = Method::Lzw;

  static constexpr int kHashSize = 5003;
  std::vector<int32_t> hashKeys_;
  std::vector<uint16_t> hashCodes_;
  int prefix_ = -1;

  // Run-length state: width, bump limit, clear limit, codes since clear, table pixel and
  // table maximum, just-cleared flag, run pixel and run length.
  int rleK_ = 0;
  int rleWidth_ = 0;
  uint32_t rleBump_ = 0;
  uint32_t rleClearLimit_ = 0;
  uint32_t rleInitialClearLimit_ = 0;
  uint32_t rleMaxCodes_ = 0;
  uint32_t rleCodes_ = 0;
  int rleTablePixel_ = -1;
  uint32_t rleTableMax_ = 0;
  bool rleJustCleared_ = true;
  int rlePixel_ = -1;
  uint32_t rleLength_ = 0;
};

}  // namespace orvalis
