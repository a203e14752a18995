#pragma once
// TIFF writer over libtiff: single-page files and multi-page documents.
// Format: TIFF 6.0, https://www.itu.int/itudoc/itu-t/com16/tiff-fx/docs/tiff6.pdf
//
// The compression is the image's encoder option word for ImageFormat::Tiff:
//   0      by depth: 1-bit CCITT Group 4, 4/8-bit LZW, 24-bit JPEG as 19999
//   1      none                      2  CCITT modified Huffman run length
//   3      CCITT Group 3 fax         4  CCITT Group 4 fax
//   5      LZW (horizontal predictor on 8- and 24-bit pages)
//   7      JPEG at Quality()         32773  PackBits
//   19999  JPEG at Quality(); colour pages converted to YCbCr by this encoder
//   other  its low 16 bits, written as the Compression tag unchanged
// A code the page cannot take (CCITT on a page deeper than 1 bit, a scheme libtiff does not
// know) fails with "Error saving TIFF file".
// JPEG carries neither palettes nor alpha: a palette page under JPEG is written as the colours
// of its pixels (8-bit gray when every palette entry is gray, otherwise RGB, which 19999 turns
// into YCbCr), and a page with alpha as its colours alone. Other pages with alpha get an
// ExtraSamples tag (unassociated alpha).
//
// Multi-page documents: a TiffWriter appends each page as a new directory of a document that
// stays open between pages. The document is ended by EndDocument() or by the destructor; the
// stream must stay open and alive until then, because the open document writes through it.
// Handing a different stream while a document is open ends that document and starts a new one
// on the new stream. A failed page ends the document without linking anything of that page
// into it; the next page opens the document on the stream again and is appended after the
// pages already there, numbered after them.
//
// 1-bit pages are stored with white as zero: when palette entry 0 is the darker one, the rows
// are written inverted (the picture stays the same; the image is not changed).
//
// Failures are one of "null file handler", "null image!!!", "initialization fail",
// "Error saving TIFF file", "Error saving TIFF directory", followed by ": " and libtiff's own
// reason when libtiff gave one. Nothing is printed.

#include <cstdint>
#include <memory>

#include "image/raster_image.h"
#include "image/tiff_compression.h"
#include "platform/status.h"

namespace orvalis {

class TiffDocument;  // image/tiff_document.h, which brings in libtiff

struct TiffOptions {
  uint32_t compression = tiff_compression::kByDepth;  // the option word above
  int quality = 90;                                   // for the JPEG compressions
};

// The options an image's own settings ask for: its TIFF option word and its quality.
TiffOptions TiffOptionsOf(const RasterImage& image);

// One complete document holding the image as its page (or, on a stream that already holds a
// TIFF file, the image appended as its next page).
Status EncodeTiff(const RasterImage& image, const TiffOptions& options, ByteStream& out);

// A document written a page at a time.
class TiffWriter {
 public:
  TiffWriter();
  ~TiffWriter();  // ends the open document, if any
  TiffWriter(const TiffWriter&) = delete;
  TiffWriter& operator=(const TiffWriter&) = delete;

  // Writes the image as the next page of the document on `out`. append = false writes a
  // complete document and closes it; append = true writes the page's directory and leaves the
  // document open for more pages.
  Status AddPage(const RasterImage& image, const TiffOptions& options, ByteStream& out,
                 bool append);
  // Ends the open document, if any (every page already wrote its directory, so nothing more is
  // written) and flushes its stream; "Error saving TIFF file" when that flush fails. Call it
  // before closing the stream.
  Status EndDocument();
  // Drops the open document without linking anything more into it.
  void Abandon();

  bool IsDocumentOpen() const { return document_ != nullptr; }
  // Pages in the open document, counting those the stream held when it was opened; 0 when
  // no document is open.
  uint32_t PagesWritten() const { return pagesWritten_; }

 private:
  Status Fail(const char* message);
  void Reset();

  std::unique_ptr<TiffDocument> document_;
  bool multiPage_ = false;
  uint32_t pagesWritten_ = 0;
};

// The library's TIFF object: a TiffWriter over itself with its own settings.
class RasterImageTIF : public RasterImage {
 public:
  // The option word that asks for JPEG with this encoder's own YCbCr conversion.
  static constexpr uint32_t kJpegYCbCrOption = tiff_compression::kJpegYCbCr;

  RasterImageTIF();
  ~RasterImageTIF() override;

  using RasterImage::Encode;  // the format dispatch stays reachable

  // One complete single-page document.
  bool Encode(ByteStream* stream) { return SaveToStream(stream, false); }
  // TiffWriter::AddPage with this image; false with the message as the error text.
  bool SaveToStream(ByteStream* stream, bool append);
  bool EndDocument();

  bool IsDocumentOpen() const { return writer_.IsDocumentOpen(); }
  uint32_t PagesWritten() const { return writer_.PagesWritten(); }

 private:
  TiffWriter writer_;
};

}  // namespace orvalis
