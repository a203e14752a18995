#include "platform/metafile_recorder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/byte_order.h"

namespace orvalis::gdi {

GdiObject GdiObject::MakePen(const LogPen& pen, int stockIndex) {
  GdiObject object;
  object.kind = Kind::Pen;
  object.pen = pen;
  object.stockIndex = stockIndex;
  return object;
}

GdiObject GdiObject::MakeBrush(const LogBrush& brush, int stockIndex) {
  GdiObject object;
  object.kind = Kind::Brush;
  object.brush = brush;
  object.stockIndex = stockIndex;
  return object;
}

// ---- Bitmaps ----

std::optional<DibLayout> ParseDib(const void* bitmapInfo, const void* bits, std::string* error) {
  if (bitmapInfo == nullptr || bits == nullptr) {
    *error = "no bitmap was given";
    return std::nullopt;
  }
  const auto* at = static_cast<const uint8_t*>(bitmapInfo);
  const uint32_t headerSize = LoadLE32(at);
  const auto width = static_cast<int32_t>(LoadLE32(at + 4));
  const auto height = static_cast<int32_t>(LoadLE32(at + 8));
  const uint16_t planes = LoadLE16(at + 12);
  const uint16_t bitCount = LoadLE16(at + 14);
  const uint32_t compression = LoadLE32(at + 16);
  const uint32_t colorsUsed = LoadLE32(at + 32);
  if (headerSize != 40 || planes != 1 || compression != 0) {
    *error = "only uncompressed bitmaps with a 40-byte header can be recorded";
    return std::nullopt;
  }
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    *error = std::to_string(bitCount) + " bits per pixel is not a bitmap depth";
    return std::nullopt;
  }
  if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min()) {
    *error = "the bitmap has no pixels";
    return std::nullopt;
  }
  const uint32_t maxColors = bitCount <= 8 ? (1u << bitCount) : 256u;
  const uint32_t colors = colorsUsed != 0 ? colorsUsed : (bitCount <= 8 ? maxColors : 0);
  if (colors > maxColors) {
    *error = "the colour table of " + std::to_string(colorsUsed) +
             " entries is too long for the bitmap's depth";
    return std::nullopt;
  }
  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  const uint64_t bitsBytes = stride * rows;
  // No record of either format can hold more than 4 GiB.
  if (bitsBytes > std::numeric_limits<uint32_t>::max()) {
    *error = "the bitmap is larger than a metafile record can hold";
    return std::nullopt;
  }
  DibLayout dib;
  dib.info = {at, headerSize + colors * 4};
  dib.bits = {static_cast<const uint8_t*>(bits), static_cast<size_t>(bitsBytes)};
  dib.width = width;
  dib.height = height;
  return dib;
}

// ---- RecordSink ----

std::unique_ptr<RecordSink> RecordSink::CreateFile(const char* fileName, std::string* error) {
  if (fileName == nullptr || fileName[0] == '\0') {
    *error = "No metafile name was given";
    return nullptr;
  }
  std::FILE* file = std::fopen(fileName, "wb");
  if (file == nullptr) {
    *error = std::string("Cannot create '") + fileName + "': " + std::strerror(errno);
    return nullptr;
  }
  // Only a regular file is removed when the recording fails: a device or pipe named as the
  // target is never unlinked.
  struct stat status {};
  const bool regular = ::fstat(::fileno(file), &status) == 0 && S_ISREG(status.st_mode);
  return std::unique_ptr<RecordSink>(new RecordSink(file, true, regular, fileName, 0));
}

std::unique_ptr<RecordSink> RecordSink::Borrow(std::FILE* file, std::string* error) {
  const int64_t start = file != nullptr ? std::ftell(file) : -1;
  if (start < 0) {
    *error = "The metafile was given no writable, seekable file";
    return nullptr;
  }
  return std::unique_ptr<RecordSink>(new RecordSink(file, false, false, "", start));
}

RecordSink::~RecordSink() {
  Discard();
}

bool RecordSink::Append(std::span<const uint8_t> bytes) {
  if (file_ == nullptr) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    return false;
  size_ += bytes.size();
  return true;
}

bool RecordSink::Overwrite(uint64_t offset, std::span<const uint8_t> bytes) {
  if (file_ == nullptr || offset + bytes.size() > size_) return false;
  const auto at = static_cast<long>(start_ + static_cast<int64_t>(offset));
  const auto end = static_cast<long>(start_ + static_cast<int64_t>(size_));
  if (std::fseek(file_, at, SEEK_SET) != 0) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  const bool back = std::fseek(file_, end, SEEK_SET) == 0;
  return written && back;
}

bool RecordSink::Finish(std::string* error) {
  if (file_ == nullptr) {
    *error = "The metafile is closed";
    return false;
  }
  bool ok = std::fflush(file_) == 0 && std::ferror(file_) == 0;
  int reason = ok ? 0 : errno;
  if (owned_) {
    const bool closed = std::fclose(file_) == 0;
    if (!closed && ok) reason = errno;
    ok = ok && closed;
    file_ = nullptr;
    if (!ok && removable_) std::remove(fileName_.c_str());
  }
  file_ = nullptr;
  if (!ok) *error = std::string("writing failed: ") + std::strerror(reason ? reason : EIO);
  return ok;
}

void RecordSink::Discard() {
  if (file_ == nullptr) return;
  if (owned_) {
    std::fclose(file_);
    if (removable_) std::remove(fileName_.c_str());
  }
  file_ = nullptr;
}

// ---- RecordWriter ----

bool RecordWriter::Append(std::span<const uint8_t> bytes) {
  return sink_.Append(bytes) ||
         Fail(std::string("writing failed: ") + std::strerror(errno ? errno : EIO));
}

bool RecordWriter::Overwrite(uint64_t offset, std::span<const uint8_t> bytes) {
  return sink_.Overwrite(offset, bytes) ||
         Fail(std::string("writing failed: ") + std::strerror(errno ? errno : EIO));
}

// ---- DeviceContext ----

DeviceContext::DeviceContext(ContextKind kind, const ReferenceDevice& device,
                             const GdiObject* defaultPen, const GdiObject* defaultBrush)
    : kind_(kind), device_(device), pen_(defaultPen), brush_(defaultBrush) {}

DeviceContext::DeviceContext(ContextKind kind, const ReferenceDevice& device,
                             const GdiObject* defaultPen, const GdiObject* defaultBrush,
                             std::unique_ptr<RecordSink> sink, std::unique_ptr<RecordWriter> writer)
    : kind_(kind),
      device_(device),
      pen_(defaultPen),
      brush_(defaultBrush),
      sink_(std::move(sink)),
      writer_(std::move(writer)) {}

DeviceContext::~DeviceContext() {
  Discard();
}

bool DeviceContext::Spoil(std::string* error) {
  if (spoiled_.empty())
    spoiled_ = writer_->Error().empty() ? "the recording failed" : writer_->Error();
  *error = spoiled_;
  return false;
}

bool DeviceContext::Spoil(std::string reason, std::string* error) {
  if (spoiled_.empty()) spoiled_ = std::move(reason);
  *error = spoiled_;
  return false;
}

bool DeviceContext::CheckRecording(std::string* error) {
  if (!IsRecording()) {
    *error = "The context does not record: only metafile contexts can be drawn on";
    return false;
  }
  if (!spoiled_.empty()) {
    *error = "The metafile recording failed earlier: " + spoiled_;
    return false;
  }
  return true;
}

bool DeviceContext::Begin(std::string* error) {
  return writer_->Begin() || Spoil(error);
}

std::optional<uint32_t> DeviceContext::SlotOf(const GdiObject* object) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i] == object) return static_cast<uint32_t>(i);
  return std::nullopt;
}

std::optional<uint32_t> DeviceContext::FreeSlot() const {
  const uint32_t first = writer_->FirstSlot();
  for (uint32_t i = first; i < slots_.size(); ++i)
    if (slots_[i] == nullptr) return i;
  const auto next = std::max<uint32_t>(first, static_cast<uint32_t>(slots_.size()));
  if (next >= writer_->SlotLimit()) return std::nullopt;
  return next;
}

const GdiObject* DeviceContext::Select(const GdiObject* object, std::string* error) {
  const bool isPen = object->kind == GdiObject::Kind::Pen;
  const GdiObject* previous = isPen ? pen_ : brush_;
  if (IsRecording()) {
    if (!CheckRecording(error)) return nullptr;
    bool ok = true;
    if (object->IsStock() && writer_->SelectsStockDirectly()) {
      ok = writer_->SelectStock(object->stockIndex);
    } else {
      std::optional<uint32_t> slot = SlotOf(object);
      if (!slot) {
        slot = FreeSlot();
        if (!slot) {
          spoiled_ = "the metafile's object table is full";
          *error = spoiled_;
          return nullptr;
        }
        if (*slot >= slots_.size()) slots_.resize(*slot + 1, nullptr);
        slots_[*slot] = object;
        tableSize_ = std::max<uint32_t>(tableSize_, *slot + 1);
        ok = isPen ? writer_->CreatePen(*slot, object->pen)
                   : writer_->CreateBrush(*slot, object->brush);
      }
      ok = ok && writer_->SelectSlot(*slot);
    }
    if (!ok) {
      Spoil(error);
      return nullptr;
    }
  }
  (isPen ? pen_ : brush_) = object;
  return previous;
}

void DeviceContext::Forget(const GdiObject* object) {
  if (!IsRecording()) return;
  const std::optional<uint32_t> slot = SlotOf(object);
  if (!slot) return;
  slots_[*slot] = nullptr;
  if (spoiled_.empty() && !writer_->DeleteSlot(*slot)) spoiled_ = writer_->Error();
}

bool DeviceContext::Rectangle(const RECT& box, std::string* error) {
  if (!CheckRecording(error)) return false;
  const int penWidth = pen_->pen.style == PS_NULL ? 0 : pen_->pen.width;
  return writer_->Rectangle(box, penWidth) || Spoil(error);
}

int DeviceContext::SetStretchBltMode(int mode, std::string* error) {
  if (mode < BLACKONWHITE || mode > HALFTONE) {
    *error = std::to_string(mode) + " is not a stretch mode";
    return 0;
  }
  if (IsRecording()) {
    if (!CheckRecording(error)) return 0;
    if (!writer_->SetStretchBltMode(mode)) {
      Spoil(error);
      return 0;
    }
  }
  const int previous = stretchMode_;
  stretchMode_ = mode;
  return previous;
}

bool DeviceContext::StretchDIBits(const StretchArgs& args, const void* bits, const void* bitmapInfo,
                                  int* rows, std::string* error) {
  if (!CheckRecording(error)) return false;
  if (args.usage != DIB_RGB_COLORS) {
    return Spoil("only colour tables of RGB values can be recorded", error);
  }
  std::string reason;
  const std::optional<DibLayout> dib = ParseDib(bitmapInfo, bits, &reason);
  if (!dib) return Spoil(reason, error);
  if (!writer_->StretchDIBits(args, *dib)) return Spoil(error);
  *rows = dib->height < 0 ? -dib->height : dib->height;
  return true;
}

bool DeviceContext::Close(std::string* fileName, uint64_t* bytes, std::string* error) {
  if (!spoiled_.empty()) {
    *error = spoiled_;
    Discard();
    return false;
  }
  if (!CheckRecording(error)) {
    Discard();
    return false;
  }
  if (!writer_->End(tableSize_)) {
    Spoil(error);
    Discard();
    return false;
  }
  *fileName = sink_->FileName();
  *bytes = sink_->Size();
  const bool ok = sink_->Finish(error);
  writer_.reset();
  sink_.reset();
  return ok;
}

void DeviceContext::Discard() {
  writer_.reset();
  if (sink_) sink_->Discard();
  sink_.reset();
}

}  // namespace orvalis::gdi
