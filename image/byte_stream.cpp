#include "image/byte_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orvalis {

bool ByteStream::PutByte(uint8_t value) {
  return WriteBytes(&value, 1, 1) == 1;
}

// ---- FileStream ----

FileStream::~FileStream() {
  if (ownsFile_ && file_ != nullptr) std::fclose(file_);
}

bool FileStream::CloseStream() {
  if (file_ == nullptr || !ownsFile_) return true;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return closed;
}

size_t FileStream::ReadBytes(void* destination, size_t itemSize, size_t itemCount) {
  if (file_ == nullptr) return 0;
  return std::fread(destination, itemSize, itemCount, file_);
}

size_t FileStream::WriteBytes(const void* source, size_t itemSize, size_t itemCount) {
  if (file_ == nullptr) return 0;
  return std::fwrite(source, itemSize, itemCount, file_);
}

bool FileStream::SeekTo(int64_t offset, int origin) {
  if (file_ == nullptr) return false;
  static constexpr int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) return false;
  return fseeko(file_, static_cast<off_t>(offset), kWhence[origin]) == 0;
}

int64_t FileStream::Position() {
  if (file_ == nullptr) return 0;
  return static_cast<int64_t>(ftello(file_));
}

int64_t FileStream::Length() {
  if (file_ == nullptr) return -1;
  const off_t remembered = ftello(file_);
  fseeko(file_, 0, SEEK_END);
  const off_t length = ftello(file_);
  fseeko(file_, remembered, SEEK_SET);
  return static_cast<int64_t>(length);
}

bool FileStream::FlushBuffers() {
  return file_ != nullptr && std::fflush(file_) == 0;
}

int FileStream::AtEnd() {
  return file_ == nullptr ? 1 : std::feof(file_);
}

int FileStream::HasError() {
  return file_ == nullptr ? -1 : std::ferror(file_);
}

void FileStream::ClearError() {
  if (file_ != nullptr) std::clearerr(file_);
}

bool FileStream::PutByte(uint8_t value) {
  return file_ != nullptr && std::fputc(value, file_) == value;
}

int FileStream::GetByte() {
  if (file_ == nullptr) return -1;
  const int c = std::fgetc(file_);
  return c == EOF ? -1 : c;
}

char* FileStream::ReadLine(char* buffer, size_t size) {
  if (file_ == nullptr || buffer == nullptr || size == 0) return nullptr;
  const int limit = static_cast<int>(std::min<size_t>(size, 1u << 30));
  return std::fgets(buffer, limit, file_);
}

int FileStream::ScanFormatted(const char* format, void* output) {
  if (file_ == nullptr) return -1;
  return std::fscanf(file_, format, output);
}

// ---- MemoryStream ----

MemoryStream::MemoryStream(uint8_t* buffer, int64_t size)
    : data_(buffer),
      length_(buffer ? size : 0),
      ownsData_(buffer == nullptr),
      position_(0),
      capacity_(buffer ? size : 0) {}

MemoryStream::~MemoryStream() {
  FreeOwnedData();
}

void MemoryStream::FreeOwnedData() {
  if (data_ != nullptr && ownsData_) {
    std::free(data_);
    data_ = nullptr;
    length_ = 0;
  }
}

bool MemoryStream::OpenEmpty() {
  if (data_ != nullptr) return false;
  position_ = length_ = capacity_ = 0;
  data_ = static_cast<uint8_t*>(std::malloc(1));
  ownsData_ = true;
  return data_ != nullptr;
}

uint8_t* MemoryStream::DetachBuffer(bool giveUp) {
  if (giveUp) ownsData_ = false;
  return data_;
}

bool MemoryStream::CloseStream() {
  FreeOwnedData();
  return true;
}

// Capacity grows to n rounded down to 64 KiB plus 64 KiB, so byte-at-a-time writers
// reallocate once per 64 KiB.
bool MemoryStream::GrowTo(int64_t needed) {
  if (needed <= capacity_) return data_ != nullptr;
  const int64_t newCapacity = (needed & ~int64_t{0xFFFF}) + 0x10000;
  void* grown = ownsData_ || data_ == nullptr
                    ? std::realloc(data_, static_cast<size_t>(newCapacity))
                    : std::malloc(static_cast<size_t>(newCapacity));
  if (grown == nullptr) {
    FreeOwnedData();
    data_ = nullptr;
    capacity_ = length_ = position_ = 0;
    return false;
  }
  if (!ownsData_ && data_ != nullptr) std::memcpy(grown, data_, static_cast<size_t>(length_));
  data_ = static_cast<uint8_t*>(grown);
  capacity_ = newCapacity;
  ownsData_ = true;
  return true;
}

// A write after a seek past the end leaves a gap; it reads back as zeros, not as stale memory.
void MemoryStream::ZeroGapBeforePosition() {
  if (position_ > length_)
    std::memset(data_ + length_, 0, static_cast<size_t>(position_ - length_));
}

size_t MemoryStream::ReadBytes(void* destination, size_t itemSize, size_t itemCount) {
  if (destination == nullptr || data_ == nullptr || position_ >= length_) return 0;
  if (itemSize == 0 || itemCount == 0) return 0;
  if (itemCount > SIZE_MAX / itemSize) return 0;
  const size_t wanted = itemSize * itemCount;
  const size_t available = static_cast<size_t>(length_ - position_);
  const size_t copied = std::min(wanted, available);
  std::memcpy(destination, data_ + position_, copied);
  position_ += static_cast<int64_t>(copied);
  return copied / itemSize;
}

size_t MemoryStream::WriteBytes(const void* source, size_t itemSize, size_t itemCount) {
  if (data_ == nullptr || source == nullptr || itemSize == 0 || itemCount == 0) return 0;
  if (itemCount > (INT64_MAX / 2) / itemSize) return 0;
  const int64_t bytes = static_cast<int64_t>(itemSize * itemCount);
  if (!GrowTo(position_ + bytes)) return 0;
  ZeroGapBeforePosition();
  std::memcpy(data_ + position_, source, static_cast<size_t>(bytes));
  position_ += bytes;
  length_ = std::max(length_, position_);
  return itemCount;
}

bool MemoryStream::SeekTo(int64_t offset, int origin) {
  if (data_ == nullptr) return false;
  int64_t target = 0;
  switch (origin) {
    case kSeekStart:
      target = offset;
      break;
    case kSeekCurrent:
      target = position_ + offset;
      break;
    case kSeekEnd:
      target = length_ + offset;
      break;
    default:
      return false;
  }
  position_ = std::max<int64_t>(target, 0);
  return true;
}

int64_t MemoryStream::Position() {
  return data_ == nullptr ? -1 : position_;
}

int64_t MemoryStream::Length() {
  return data_ == nullptr ? -1 : length_;
}

bool MemoryStream::FlushBuffers() {
  return data_ != nullptr;
}

int MemoryStream::AtEnd() {
  return data_ == nullptr || position_ >= length_;
}

int MemoryStream::HasError() {
  return data_ == nullptr ? -1 : position_ > length_;
}

bool MemoryStream::PutByte(uint8_t value) {
  if (data_ == nullptr) return false;
  if (position_ >= capacity_ && !GrowTo(position_ + 1)) return false;
  ZeroGapBeforePosition();
  data_[position_++] = value;
  length_ = std::max(length_, position_);
  return true;
}

int MemoryStream::GetByte() {
  if (AtEnd()) return -1;
  return data_[position_++];
}

char* MemoryStream::ReadLine(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return nullptr;
  size_t stored = 0;
  while (stored + 1 < size) {
    const int c = GetByte();
    if (c < 0) return nullptr;
    buffer[stored++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[stored] = '\0';
  return buffer;
}

int MemoryStream::ScanFormatted(const char*, void*) {
  return 0;
}

}  // namespace orvalis
