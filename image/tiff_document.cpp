#include "image/tiff_document.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace orvalis {

namespace {

TiffDocument& Self(thandle_t handle) { return *static_cast<TiffDocument*>(handle); }

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

}  // namespace

std::unique_ptr<TiffDocument> TiffDocument::Open(ByteStream* stream, std::string* diagnostic) {
  std::unique_ptr<TiffDocument> document(new TiffDocument(stream));
  std::unique_ptr<TIFFOpenOptions, OpenOptionsDeleter> options(TIFFOpenOptionsAlloc());
  if (!options) {
    *diagnostic = "libtiff open options cannot be allocated";
    return nullptr;
  }
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &OnError, document.get());
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &OnWarning, document.get());
  // TIFF offsets count from the start of the stream, and libtiff reads the header wherever
  // the stream stands: a stream left elsewhere by an earlier document is rewound first.
  stream->SeekTo(0, kSeekStart);
  document->tiff_ = TIFFClientOpenExt("TIFF IMAGE", "a", document.get(), &Read, &Write, &Seek,
                                      &Close, &Size, &Map, &Unmap, options.get());
  if (document->tiff_ == nullptr) {
    *diagnostic = document->diagnostic_;
    return nullptr;
  }
  document->pagesFound_ = TIFFNumberOfDirectories(document->tiff_);
  document->ClearDiagnostic();
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

int TiffDocument::Close(thandle_t) { return 0; }  // the stream belongs to the caller

toff_t TiffDocument::Size(thandle_t self) {
  const int64_t length = Self(self).stream_->Length();
  return length < 0 ? 0 : static_cast<toff_t>(length);
}

int TiffDocument::Map(thandle_t, void**, toff_t*) { return 0; }

void TiffDocument::Unmap(thandle_t, void*, toff_t) {}

int TiffDocument::OnError(TIFF*, void* self, const char* module, const char* format,
                          va_list args) {
  TiffDocument& document = *static_cast<TiffDocument*>(self);
  if (document.diagnostic_.empty()) document.diagnostic_ = FormatMessage(module, format, args);
  return 1;  // handled: libtiff calls no other handler
}

int TiffDocument::OnWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;  // warnings are dropped: nothing reaches the terminal
}

}  // namespace orvalis
