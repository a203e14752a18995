#pragma once
// The byte streams every codec reads and writes through: an abstract ByteStream, a FileStream
// over a stdio file somebody else opened, and a growable in-memory MemoryStream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace orvalis {

enum SeekOrigin : int { kSeekStart = 0, kSeekCurrent = 1, kSeekEnd = 2 };

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  virtual bool CloseStream() = 0;
  // Both return the number of whole items transferred.
  virtual size_t ReadBytes(void* destination, size_t itemSize, size_t itemCount) = 0;
  virtual size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) = 0;
  virtual bool SeekTo(int64_t offset, int origin) = 0;
  virtual int64_t Position() = 0;
  virtual int64_t Length() = 0;  // -1 when unknown
  virtual bool FlushBuffers() = 0;
  virtual int AtEnd() = 0;
  virtual int HasError() = 0;
  // Forgets an error a read left behind (a read of a stream open for writing only), so that
  // HasError tells about the writes that follow.
  virtual void ClearError() {}
  virtual bool PutByte(uint8_t value);
  virtual int GetByte() = 0;  // 0..255, or -1
  // Reads one line (newline kept) into buffer; nullptr at end of data.
  virtual char* ReadLine(char* buffer, size_t size) = 0;
  virtual int ScanFormatted(const char* format, void* output) = 0;
};

class FileStream : public ByteStream {
 public:
  // Wraps a caller's open file without taking ownership. A stream made without a file answers
  // every call with its "no file" value.
  explicit FileStream(std::FILE* file = nullptr) : file_(file), ownsFile_(file == nullptr) {}
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  bool CloseStream() override;
  size_t ReadBytes(void* destination, size_t itemSize, size_t itemCount) override;
  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override;
  bool SeekTo(int64_t offset, int origin) override;
  int64_t Position() override;
  int64_t Length() override;
  bool FlushBuffers() override;
  int AtEnd() override;
  int HasError() override;
  void ClearError() override;
  bool PutByte(uint8_t value) override;
  int GetByte() override;
  char* ReadLine(char* buffer, size_t size) override;
  int ScanFormatted(const char* format, void* output) override;

  std::FILE* File() const { return file_; }

 private:
  std::FILE* file_;
  bool ownsFile_;
};

class MemoryStream : public ByteStream {
 public:
  // Reads from (and writes into) a caller's buffer, which the stream does not own; with no
  // buffer the stream starts without data until OpenEmpty.
  MemoryStream(uint8_t* buffer = nullptr, int64_t size = 0);
  ~MemoryStream() override;
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  bool OpenEmpty();
  // Returns the buffer; with giveUp the caller takes ownership and must free() it.
  uint8_t* DetachBuffer(bool giveUp);
  int64_t Capacity() const { return capacity_; }

  bool CloseStream() override;
  size_t ReadBytes(void* destination, size_t itemSize, size_t itemCount) override;
  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override;
  bool SeekTo(int64_t offset, int origin) override;
  int64_t Position() override;
  int64_t Length() override;
  bool FlushBuffers() override;
  int AtEnd() override;
  int HasError() override;
  bool PutByte(uint8_t value) override;
  int GetByte() override;
  char* ReadLine(char* buffer, size_t size) override;
  int ScanFormatted(const char* format, void* output) override;

 private:
  bool GrowTo(int64_t needed);
  void FreeOwnedData();
  void ZeroGapBeforePosition();

  uint8_t* data_;
  int64_t length_;
  bool ownsData_;
  int64_t position_;
  int64_t capacity_;
};

// Closes a stdio file when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) std::fclose(file);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace orvalis
