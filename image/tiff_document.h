#pragma once
// An open libtiff document bound to a ByteStream through libtiff's client I/O.
//
// libtiff reads and writes only through the stream. The document is opened in mode "a": on a
// stream that already holds a TIFF file new pages are appended to its directory chain; on an
// empty (or write-only) stream libtiff writes a new little-endian header first. libtiff's
// errors and warnings go to handlers of this document only (never to the process-wide
// handlers, never to the terminal); the first error is kept as Diagnostic().
//
// Lifetime: the stream belongs to the caller and must stay open and alive until the document
// is destroyed, because libtiff may still touch it while closing. Destroying the document
// closes the libtiff handle (TIFFClose) and leaves the stream open.

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "image/byte_stream.h"
#include "platform/status.h"

namespace orvalis {

class TiffDocument {
 public:
  // Opens a document at the start of `stream`. A failure when libtiff refuses it (the stream
  // holds something that is not a TIFF file or a TIFF file whose directory chain is broken, or
  // libtiff cannot write the header); its message is the reason, empty when libtiff gave none.
  static Result<std::unique_ptr<TiffDocument>> Open(ByteStream* stream);

  ~TiffDocument();
  TiffDocument(const TiffDocument&) = delete;
  TiffDocument& operator=(const TiffDocument&) = delete;

  TIFF* Handle() const { return tiff_; }
  ByteStream* Stream() const { return stream_; }
  // Number of pages (directories) the stream already held when the document was opened.
  uint32_t PagesFound() const { return pagesFound_; }

  // Turns every further write into a failure, so that closing the document after a failed
  // page cannot link that page's half-written directory into the file. Pages whose
  // directories were already written stay as they are.
  void Abandon() { abandoned_ = true; }

  // The first error libtiff reported since the document was opened or the last Clear, as
  // "module: message"; empty when there was none.
  const std::string& Diagnostic() const { return diagnostic_; }
  void ClearDiagnostic() { diagnostic_.clear(); }

 private:
  explicit TiffDocument(ByteStream* stream) : stream_(stream) {}

  static tmsize_t Read(thandle_t self, void* buffer, tmsize_t size);
  static tmsize_t Write(thandle_t self, void* buffer, tmsize_t size);
  static toff_t Seek(thandle_t self, toff_t offset, int origin);
  static int Close(thandle_t self);
  static toff_t Size(thandle_t self);
  static int Map(thandle_t self, void** base, toff_t* size);
  static void Unmap(thandle_t self, void* base, toff_t size);
  static int OnError(TIFF* tiff, void* self, const char* module, const char* format, va_list args);
  static int OnWarning(TIFF* tiff, void* self, const char* module, const char* format,
                       va_list args);

  ByteStream* stream_;
  TIFF* tiff_ = nullptr;
  bool abandoned_ = false;
  uint32_t pagesFound_ = 0;
  std::string diagnostic_;
};

}  // namespace orvalis
