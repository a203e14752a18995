#include "image/tiff_document.h"

#include <cstdarg>
#include <cstdio>
#include <limits>
#include <set>

#include "platform/byte_order.h"

namespace orvalis {

namespace {

TiffDocument& Self(thandle_t handle) {
  return *static_cast<TiffDocument*>(handle);
}

struct OpenOptionsDeleter {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

std::string FormatMessage(const char* module, const char* format, va_list args) {
  char text[256];
  va_list copy;
  va_copy(copy, args);
  std::vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  if (module == nullptr || *module == '\0') return text;
  return std::string(module) + ": " + text;
}

// Reads `size` bytes (at most 8) at `offset` as one unsigned number.
bool ReadNumberAt(ByteStream& stream, uint64_t offset, int size, bool bigEndian, uint64_t* value) {
  uint8_t bytes[8];
  if (offset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
      !stream.SeekTo(static_cast<int64_t>(offset), kSeekStart) ||
      stream.ReadBytes(bytes, 1, static_cast<size_t>(size)) != static_cast<size_t>(size))
    return false;
  *value = 0;
  for (int i = 0; i < size; ++i) {
    const uint64_t byte = bytes[bigEndian ? i : size - 1 - i];
    *value = (*value << 8) | byte;
  }
  return true;
}

// Follows the directory chain of the TIFF file at the start of `stream` and counts its
// directories. False when the chain loops or leaves the stream: libtiff walks the same chain
// without a limit when it links a new directory to it. A stream that holds no TIFF header
// (empty, unreadable or something else) passes with no directories; libtiff decides on it.
// TIFF 6.0 section 2 (classic) and the BigTIFF design
// (https://www.awaresystems.be/imaging/tiff/bigtiff.html).
bool WalkDirectoryChain(ByteStream& stream, uint32_t* directories, std::string* why) {
  constexpr uint32_t kMostDirectories = 65535;
  *directories = 0;
  uint8_t header[4];
  if (!stream.SeekTo(0, kSeekStart) || stream.ReadBytes(header, 1, 4) != 4) return true;
  const bool bigEndian = header[0] == 'M' && header[1] == 'M';
  if (!bigEndian && !(header[0] == 'I' && header[1] == 'I')) return true;
  const uint16_t magic = bigEndian ? LoadBE16(header + 2) : LoadLE16(header + 2);
  if (magic != 42 && magic != 43) return true;
  const bool big = magic == 43;
  const int offsetSize = big ? 8 : 4, countSize = big ? 8 : 2, entrySize = big ? 20 : 12;
  const int64_t length = stream.Length();
  uint64_t next = 0;
  if (!ReadNumberAt(stream, big ? 8 : 4, offsetSize, bigEndian, &next)) return true;
  std::set<uint64_t> visited;
  while (next != 0) {
    uint64_t count = 0, following = 0;
    if (length < 0 || next >= static_cast<uint64_t>(length) || !visited.insert(next).second ||
        !ReadNumberAt(stream, next, countSize, bigEndian, &count) || count > 0xFFFFFFFFull ||
        !ReadNumberAt(stream, next + countSize + count * entrySize, offsetSize, bigEndian,
                      &following) ||
        *directories == kMostDirectories) {
      *why = "the directory chain of the TIFF file in the stream is broken at offset " +
             std::to_string(next);
      return false;
    }
    ++*directories;
    next = following;
  }
  return true;
}

}  // namespace

Result<std::unique_ptr<TiffDocument>> TiffDocument::Open(ByteStream* stream) {
  std::unique_ptr<TiffDocument> document(new TiffDocument(stream));
  std::unique_ptr<TIFFOpenOptions, OpenOptionsDeleter> options(TIFFOpenOptionsAlloc());
  if (!options) return Status::Error("libtiff open options cannot be allocated");
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnError, document.get());
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnWarning, document.get());
  std::string why;
  if (!WalkDirectoryChain(*stream, &document->pagesFound_, &why)) return Status::Error(why);
  // TIFF offsets count from the start of the stream, and libtiff reads the header wherever
  // the stream stands: the stream is rewound first.
  stream->SeekTo(0, kSeekStart);
  document->tiff_ = TIFFClientOpenExt("TIFF IMAGE", "a", document.get(), &Read, &Write, &Seek,
                                      &Close, &Size, &Map, &Unmap, options.get());
  if (document->tiff_ == nullptr) return Status::Error(document->diagnostic_);
  // Looking for a document already there reads, which fails on a file open for writing only;
  // that is not a failure of what is written next.
  stream->ClearError();
  return document;
}

TiffDocument::~TiffDocument() {
  if (tiff_ != nullptr) TIFFClose(tiff_);
}

tmsize_t TiffDocument::Read(thandle_t self, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(Self(self).stream_->ReadBytes(buffer, 1, static_cast<size_t>(size)));
}

tmsize_t TiffDocument::Write(thandle_t self, void* buffer, tmsize_t size) {
  TiffDocument& document = Self(self);
  if (document.abandoned_ || size <= 0) return 0;
  return static_cast<tmsize_t>(document.stream_->WriteBytes(buffer, 1, static_cast<size_t>(size)));
}

toff_t TiffDocument::Seek(thandle_t self, toff_t offset, int origin) {
  constexpr toff_t kFailed = static_cast<toff_t>(-1);
  ByteStream& stream = *Self(self).stream_;
  if (offset == kFailed) return kFailed;
  if (origin == SEEK_SET && offset > static_cast<toff_t>(std::numeric_limits<int64_t>::max()))
    return kFailed;
  // Relative seeks may carry a negative distance in the unsigned offset.
  if (!stream.SeekTo(static_cast<int64_t>(offset), origin)) return kFailed;
  if (origin == SEEK_SET) return offset;
  const int64_t position = stream.Position();
  return position < 0 ? kFailed : static_cast<toff_t>(position);
}

int TiffDocument::Close(thandle_t) {
  return 0;
}  // the stream belongs to the caller

toff_t TiffDocument::Size(thandle_t self) {
  const int64_t length = Self(self).stream_->Length();
  return length < 0 ? 0 : static_cast<toff_t>(length);
}

int TiffDocument::Map(thandle_t, void**, toff_t*) {
  return 0;
}

void TiffDocument::Unmap(thandle_t, void*, toff_t) {}

int TiffDocument::OnError(TIFF*, void* self, const char* module, const char* format, va_list args) {
  TiffDocument& document = *static_cast<TiffDocument*>(self);
  if (document.diagnostic_.empty()) document.diagnostic_ = FormatMessage(module, format, args);
  return 1;  // handled: libtiff calls no other handler
}

int TiffDocument::OnWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;  // warnings are dropped: nothing reaches the terminal
}

}  // namespace orvalis
