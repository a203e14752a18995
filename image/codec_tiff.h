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
// Multi-page documents: SaveToStream(stream, true) appends the page as a new directory of a
// document that stays open between calls. The document is ended by EndDocument() or by the
// destructor; the stream must stay open and alive until then, because the open document
// writes through it. Handing a different stream while a document is open ends that document
// and starts a new one on the new stream. A failed page ends the document without linking
// anything of that page into it; the next page opens the document on the stream again and is
// appended after the pages already there, numbered after them.
//
// 1-bit pages are stored with white as zero: when palette entry 0 is the darker one, the
// image's own palette entries are exchanged and its bits inverted (the picture stays the same).
//
// Failures store a message in ErrorText(): one of "null file handler", "null image!!!",
// "initialization fail", "Error saving TIFF file", "Error saving TIFF directory", followed by
// ": " and libtiff's own reason when libtiff gave one. Nothing is printed.

#include <cstdint>
#include <memory>

#include "image/raster_image.h"
#include "image/tiff_compression.h"
#include "image/tiff_ycbcr.h"

namespace orvalis {

class TiffDocument;  // image/tiff_document.h, which brings in libtiff

class RasterImageTIF : public RasterImage {
 public:
  // The option word that asks for JPEG with this encoder's own YCbCr conversion.
  static constexpr uint32_t kJpegYCbCrOption = tiff_compression::kJpegYCbCr;

  RasterImageTIF();
  ~RasterImageTIF() override;

  using RasterImage::Encode;  // the format dispatch stays reachable

  // The codec table's entry point: one complete single-page document.
  bool Encode(ByteStream* stream) { return SaveToStream(stream, false); }
  // Writes the image as the next page of the document on `stream`. append = false writes a
  // complete document and closes it; append = true writes the page's directory and leaves the
  // document open for more pages (the engine's merged TIFF).
  bool SaveToStream(ByteStream* stream, bool append);

  // Ends the open multi-page document, if any (every page already wrote its directory, so
  // nothing more is written) and flushes its stream; false with "Error saving TIFF file" when
  // that flush fails. Safe to call when no document is open. Call it before closing the
  // stream; the destructor calls it too.
  bool EndDocument();

  bool IsDocumentOpen() const { return tiffDocument_ != nullptr; }
  // Pages in the open document, counting those the stream held when it was opened; 0 when
  // no document is open.
  uint32_t PagesWritten() const { return pagesWritten_; }

 private:
  struct PageLayout;

  bool Fail(const char* message);
  void ResetDocument();
  bool WritePage(bool multiPage, uint32_t pageNumber);
  void ChooseLayout(PageLayout& layout);
  void ChooseJpegPaletteLayout(PageLayout& layout);
  // Exchanges the two palette entries of a 1-bit page and inverts its bits.
  void StoreWhiteFirst();
  bool WriteTags(PageLayout& layout, bool multiPage, uint32_t pageNumber);
  bool WriteRows(const PageLayout& layout);
  // Stored row y as red, green, blue bytes, for 24-bit and palette pages alike.
  void ReadRowRgb(uint32_t y, uint8_t* rgb) const;
  void FillRow(const PageLayout& layout, uint32_t y, uint8_t* out) const;
  bool WriteScanlines(const PageLayout& layout);
  bool WriteYCbCrStrips();

  std::unique_ptr<TiffDocument> tiffDocument_;
  bool isMultiPage_ = false;
  uint32_t pagesWritten_ = 0;
  YCbCrTables ycbcrTables_;
};

}  // namespace orvalis
