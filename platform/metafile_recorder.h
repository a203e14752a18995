#pragma once
// The inside of the GDI layer: objects, device contexts, and the recorder a metafile context
// uses. The format writers (emf_writer, wmf_writer) turn the recorder's calls into records.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/gdi.h"

namespace orvalis::gdi {

struct LogPen {
  int style = PS_SOLID;
  int width = 0;
  COLORREF color = 0;
};

struct LogBrush {
  uint32_t style = BS_SOLID;
  COLORREF color = 0;
  uint32_t hatch = 0;
};

class GdiObject {
 public:
  enum class Kind { Pen, Brush };

  static GdiObject MakePen(const LogPen& pen, int stockIndex = -1);
  static GdiObject MakeBrush(const LogBrush& brush, int stockIndex = -1);

  Kind kind = Kind::Pen;
  LogPen pen;
  LogBrush brush;
  int stockIndex = -1;  // GetStockObject index, -1 for objects made by the caller

  bool IsStock() const { return stockIndex >= 0; }
};

// A packed BITMAPINFO and the rows it describes, checked before anything is recorded.
struct DibLayout {
  std::span<const uint8_t> info;  // header and colour table
  std::span<const uint8_t> bits;  // every row of the bitmap
  int32_t width = 0;
  int32_t height = 0;  // negative for rows stored top-down
};

// Reads the header at `bitmapInfo`; nullopt with the reason when the bitmap is not one the
// recorder can store (only uncompressed BITMAPINFOHEADER bitmaps are).
std::optional<DibLayout> ParseDib(const void* bitmapInfo, const void* bits, std::string* error);

struct StretchArgs {
  int32_t xDest = 0;
  int32_t yDest = 0;
  int32_t destWidth = 0;
  int32_t destHeight = 0;
  int32_t xSrc = 0;
  int32_t ySrc = 0;
  int32_t srcWidth = 0;
  int32_t srcHeight = 0;
  uint32_t usage = DIB_RGB_COLORS;
  uint32_t rasterOp = SRCCOPY;
};

// Where a metafile's bytes go: a stdio file that the sink either created (and removes when the
// recording is discarded) or borrowed from the caller (left open and in place).
class RecordSink {
 public:
  static std::unique_ptr<RecordSink> CreateFile(const char* fileName, std::string* error);
  static std::unique_ptr<RecordSink> Borrow(std::FILE* file, std::string* error);
  ~RecordSink();
  RecordSink(const RecordSink&) = delete;
  RecordSink& operator=(const RecordSink&) = delete;

  bool Append(std::span<const uint8_t> bytes);
  // Rewrites bytes already written (the header, once the counts are known).
  bool Overwrite(uint64_t offset, std::span<const uint8_t> bytes);
  uint64_t Size() const { return size_; }
  // Flushes, and closes a file the sink created; false when the bytes did not reach the file.
  bool Finish(std::string* error);
  // Closes and removes a file the sink created.
  void Discard();
  const std::string& FileName() const { return fileName_; }

 private:
  RecordSink(std::FILE* file, bool owned, bool removable, std::string fileName, int64_t start)
      : file_(file),
        owned_(owned),
        removable_(removable),
        fileName_(std::move(fileName)),
        start_(start) {}

  std::FILE* file_;
  bool owned_;
  bool removable_;  // a regular file the sink created: removed when the recording fails
  std::string fileName_;
  int64_t start_;  // where the metafile begins in a borrowed file
  uint64_t size_ = 0;
};

// The records of one metafile format. Each call writes one record, or fails with a reason in
// Error() and leaves the recording spoiled.
class RecordWriter {
 public:
  explicit RecordWriter(RecordSink& sink) : sink_(sink) {}
  virtual ~RecordWriter() = default;

  // Object table slots: the first one handed out, and how many the format can address.
  virtual uint32_t FirstSlot() const = 0;
  virtual uint32_t SlotLimit() const = 0;
  // True when stock objects are selected by their own index rather than created in the table.
  virtual bool SelectsStockDirectly() const = 0;

  virtual bool Begin() = 0;
  virtual bool CreatePen(uint32_t slot, const LogPen& pen) = 0;
  virtual bool CreateBrush(uint32_t slot, const LogBrush& brush) = 0;
  virtual bool SelectSlot(uint32_t slot) = 0;
  virtual bool SelectStock(int stockIndex) = 0;
  virtual bool DeleteSlot(uint32_t slot) = 0;
  virtual bool Rectangle(const RECT& box, int penWidth) = 0;
  virtual bool SetStretchBltMode(int mode) = 0;
  virtual bool StretchDIBits(const StretchArgs& args, const DibLayout& dib) = 0;
  // Writes the end-of-file record and the final header. `tableSize` is the number of object
  // table slots the recording used at most, counted from slot 0.
  virtual bool End(uint32_t tableSize) = 0;

  const std::string& Error() const { return error_; }

 protected:
  bool Fail(std::string reason) {
    if (error_.empty()) error_ = std::move(reason);
    return false;
  }
  bool Append(std::span<const uint8_t> bytes);
  bool Overwrite(uint64_t offset, std::span<const uint8_t> bytes);

  RecordSink& sink_;
  std::string error_;
};

enum class ContextKind { Screen, EnhancedMetafile, ClassicMetafile };

class DeviceContext {
 public:
  DeviceContext(ContextKind kind, const ReferenceDevice& device, const GdiObject* defaultPen,
                const GdiObject* defaultBrush);
  DeviceContext(ContextKind kind, const ReferenceDevice& device, const GdiObject* defaultPen,
                const GdiObject* defaultBrush, std::unique_ptr<RecordSink> sink,
                std::unique_ptr<RecordWriter> writer);
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  ContextKind Kind() const { return kind_; }
  const ReferenceDevice& Device() const { return device_; }
  bool IsRecording() const { return writer_ != nullptr; }
  bool Holds(const GdiObject* object) const { return pen_ == object || brush_ == object; }

  // Each returns false (nullptr) with the reason in `error` on failure.
  bool Begin(std::string* error);
  const GdiObject* Select(const GdiObject* object, std::string* error);
  // Called when an object is deleted: a recording frees its slot with a delete record.
  void Forget(const GdiObject* object);
  bool Rectangle(const RECT& box, std::string* error);
  int SetStretchBltMode(int mode, std::string* error);
  // A bitmap the format cannot store spoils the recording like any other lost drawing.
  bool StretchDIBits(const StretchArgs& args, const void* bits, const void* bitmapInfo, int* rows,
                     std::string* error);
  // Finishes the recording; on failure the file the context created is removed.
  bool Close(std::string* fileName, uint64_t* bytes, std::string* error);
  void Discard();

 private:
  bool CheckRecording(std::string* error);
  bool Spoil(std::string* error);
  bool Spoil(std::string reason, std::string* error);
  std::optional<uint32_t> SlotOf(const GdiObject* object) const;
  std::optional<uint32_t> FreeSlot() const;

  ContextKind kind_;
  ReferenceDevice device_;
  const GdiObject* pen_;
  const GdiObject* brush_;
  int stretchMode_ = BLACKONWHITE;
  std::unique_ptr<RecordSink> sink_;
  std::unique_ptr<RecordWriter> writer_;
  std::vector<const GdiObject*> slots_;  // object table, nullptr = free
  uint32_t tableSize_ = 0;
  std::string spoiled_;  // why the recording failed, "" while it is sound
};

}  // namespace orvalis::gdi
