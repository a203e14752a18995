#include "image/codec_tiff.h"

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "image/checked_writer.h"
#include "image/tiff_document.h"

namespace orvalis {

namespace {

constexpr uint32_t kOptionLzw = tiff_compression::kLzw;
constexpr uint32_t kOptionJpeg = tiff_compression::kJpeg;
constexpr uint32_t kOptionGroup4 = tiff_compression::kFax4;
constexpr uint32_t kOptionNone = tiff_compression::kNone;

// Option 0 picks the usual compression for the depth.
uint32_t ResolveOption(uint32_t option, uint32_t bitsPerPixel) {
  if (option != 0) return option;
  switch (bitsPerPixel) {
    case 1:
      return kOptionGroup4;
    case 4:
    case 8:
      return kOptionLzw;
    case 24:
    case 32:
      return RasterImageTIF::kJpegYCbCrOption;
    default:
      return kOptionNone;
  }
}

uint16_t CompressionTagFor(uint32_t option) {
  if (option == RasterImageTIF::kJpegYCbCrOption) return COMPRESSION_JPEG;
  return static_cast<uint16_t>(option & 0xFFFF);
}

// Allocates a zeroed buffer; false instead of an exception when memory runs out.
bool Allocate(std::vector<uint8_t>& buffer, size_t size) {
  try {
    buffer.assign(size, 0);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

// Where the samples of a written row come from.
enum class RowSource {
  Stored,      // the stored row as it is (1-, 4- and 8-bit indices or gray levels)
  GrayLevels,  // palette indices looked up as gray levels, one byte per pixel
  Rgb,         // red, green, blue per pixel (24-bit pixels, or palette colours looked up)
  RgbAlpha,    // red, green, blue, alpha per pixel
  IndexAlpha,  // 8-bit index, alpha per pixel
};

struct RasterImageTIF::PageLayout {
  uint32_t option = 0;        // the option word, with 0 resolved by depth
  uint16_t compression = 1;   // the Compression tag
  uint32_t bitsPerPixel = 0;  // as written: 32 for colour with alpha
  uint16_t samples = 1;
  uint16_t bitsPerSample = 1;
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  bool alpha = false;  // an alpha sample follows the colour samples
  RowSource source = RowSource::Stored;
};

RasterImageTIF::RasterImageTIF() : RasterImage(ImageFormat::Tiff) {}

RasterImageTIF::~RasterImageTIF() {
  EndDocument();
}

bool RasterImageTIF::EndDocument() {
  if (!tiffDocument_) return true;
  ByteStream* stream = tiffDocument_->Stream();
  ResetDocument();
  if (CheckedWriter(stream).Finish()) return true;
  SetErrorText("Error saving TIFF file");
  return false;
}

void RasterImageTIF::ResetDocument() {
  tiffDocument_.reset();
  isMultiPage_ = false;
  pagesWritten_ = 0;
}

bool RasterImageTIF::Fail(const char* message) {
  if (message != nullptr && *message != '\0') {
    SetErrorText(WithReason(message, tiffDocument_ ? tiffDocument_->Diagnostic() : ""));
  }
  if (tiffDocument_) tiffDocument_->Abandon();
  ResetDocument();
  return false;
}

bool RasterImageTIF::SaveToStream(ByteStream* stream, bool append) {
  if (!CheckBeforeEncode(stream)) return Fail(nullptr);
  if (tiffDocument_ && tiffDocument_->Stream() != stream) EndDocument();
  if (!tiffDocument_) {
    std::string diagnostic;
    tiffDocument_ = TiffDocument::Open(stream, &diagnostic);
    if (!tiffDocument_) {
      SetErrorText(WithReason("initialization fail", diagnostic));
      return Fail(nullptr);
    }
    // Pages already in the stream (a document reopened after a failed page) keep their
    // places: numbering continues after them.
    pagesWritten_ = tiffDocument_->PagesFound();
  }
  tiffDocument_->ClearDiagnostic();
  if (append || pagesWritten_ > 0) isMultiPage_ = true;
  ++pagesWritten_;
  if (!WritePage(isMultiPage_, pagesWritten_)) return Fail("Error saving TIFF file");
  if (!TIFFWriteDirectory(tiffDocument_->Handle())) return Fail("Error saving TIFF directory");
  if (!CheckedWriter(stream).Finish()) return Fail("Error saving TIFF file");
  if (!append) ResetDocument();
  return true;
}

bool RasterImageTIF::WritePage(bool multiPage, uint32_t pageNumber) {
  PageLayout layout;
  layout.option = ResolveOption(EncoderOption(ImageFormat::Tiff), BitsPerPixel());
  layout.compression = CompressionTagFor(layout.option);
  if (layout.compression == COMPRESSION_JPEG && BitsPerPixel() <= 8)
    ChooseJpegPaletteLayout(layout);
  else
    ChooseLayout(layout);
  if (!WriteTags(layout, multiPage, pageNumber)) return false;
  return WriteRows(layout);
}

void RasterImageTIF::ChooseLayout(PageLayout& layout) {
  // JPEG keeps no alpha: such a page is written as its colours alone.
  const bool keepAlpha = HasAlpha() && layout.compression != COMPRESSION_JPEG;
  layout.bitsPerPixel = BitsPerPixel();
  layout.samples = (layout.bitsPerPixel == 24) ? 3 : 1;
  layout.source = (layout.bitsPerPixel == 24) ? RowSource::Rgb : RowSource::Stored;
  if (layout.bitsPerPixel == 24 && keepAlpha) {
    layout.bitsPerPixel = 32;
    layout.samples = 4;
    layout.alpha = true;
    layout.source = RowSource::RgbAlpha;
  }
  layout.bitsPerSample = static_cast<uint16_t>(layout.bitsPerPixel / layout.samples);
  switch (layout.bitsPerPixel) {
    case 1: {
      // White is zero: a palette whose entry 0 is the darker one is exchanged, and the bits
      // inverted with it, so the picture stays the same.
      if (LuminanceCompare(PaletteEntryAt(0), PaletteEntryAt(1)) < 0) StoreWhiteFirst();
      layout.photometric = PHOTOMETRIC_MINISWHITE;
      break;
    }
    case 4:
    case 8:
      // Black is zero only when the samples are the gray levels themselves: the identity
      // ramp of an 8-bit page. Any other palette, including every 4-bit one, goes to a
      // colour map, which shows the picture exactly.
      layout.photometric = (layout.bitsPerPixel == 8 && HasGrayRamp()) ? PHOTOMETRIC_MINISBLACK
                                                                       : PHOTOMETRIC_PALETTE;
      break;
    case 24:
    case 32:
      layout.photometric = PHOTOMETRIC_RGB;
      break;
    default:
      layout.photometric = PHOTOMETRIC_MINISWHITE;
      break;
  }
  if (keepAlpha && layout.bitsPerPixel == 8) {
    layout.samples = 2;
    layout.alpha = true;
    layout.source = RowSource::IndexAlpha;
  }
}

void RasterImageTIF::StoreWhiteFirst() {
  // When this object is a view made for one encode, the palette and pixels belong to the image
  // it views: the exchange goes through that image, so that its own colour lookup cache
  // forgets the old palette order too. That image is a caller's writable image (a view is
  // only made of one for the length of an encode).
  RasterImage* owner = ViewedImage() != nullptr ? ViewedImage() : this;
  const RGBQUAD first = owner->PaletteEntryAt(0), second = owner->PaletteEntryAt(1);
  owner->SetPaletteEntryPacked(0, second);
  owner->SetPaletteEntryPacked(1, first);
  uint8_t* bytes = PixelRows();
  const size_t size = static_cast<size_t>(RowStride()) * Height();
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(~bytes[i]);
}

void RasterImageTIF::ChooseJpegPaletteLayout(PageLayout& layout) {
  // JPEG takes neither palettes nor samples below 8 bits: the page goes as the colours its
  // indices stand for, as gray levels when every palette entry is gray (a gray page reduced
  // to an optimised palette), otherwise as red, green and blue.
  bool gray = true;
  for (uint32_t i = 0; i < ColorCount() && gray; ++i) {
    const RGBQUAD entry = PaletteEntryAt(i);
    gray = entry.rgbRed == entry.rgbGreen && entry.rgbGreen == entry.rgbBlue;
  }
  layout.bitsPerPixel = gray ? 8 : 24;
  layout.samples = gray ? 1 : 3;
  layout.bitsPerSample = 8;
  layout.photometric = gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
  layout.source = gray ? RowSource::GrayLevels : RowSource::Rgb;
}

bool RasterImageTIF::WriteTags(PageLayout& layout, bool multiPage, uint32_t pageNumber) {
  TIFF* tiff = tiffDocument_->Handle();
  bool ok = true;
  ok = ok && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, Width());
  ok = ok && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, Height());
  ok = ok && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample);
  ok = ok && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  ok = ok && TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  ok = ok && TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  ok = ok && TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(ResolutionX()));
  ok = ok && TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(ResolutionY()));
  if (layout.alpha) {
    const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    ok = ok && TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  if (multiPage) {
    const std::string pageName = "Page " + std::to_string(pageNumber);
    ok = ok && TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    ok = ok && TIFFSetField(tiff, TIFFTAG_PAGENUMBER, pageNumber, pageNumber);
    ok = ok && TIFFSetField(tiff, TIFFTAG_PAGENAME, pageName.c_str());
  } else {
    ok = ok && TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, 0);
  }
  if (layout.photometric == PHOTOMETRIC_PALETTE) {
    // 8-bit palette entries widened to 16 bits; libtiff writes the first 2^bits of each.
    std::array<uint16_t, 256> red{}, green{}, blue{};
    for (uint32_t i = 0; i < std::min<uint32_t>(ColorCount(), 256); ++i) {
      const RGBQUAD entry = PaletteEntryAt(i);
      red[i] = static_cast<uint16_t>(entry.rgbRed * 257);
      green[i] = static_cast<uint16_t>(entry.rgbGreen * 257);
      blue[i] = static_cast<uint16_t>(entry.rgbBlue * 257);
    }
    ok = ok && TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  ok = ok && TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
  const int quality = Quality() & 0xFF;
  if (layout.compression == COMPRESSION_LZW && layout.bitsPerPixel >= 8) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  }
  if (layout.option == kOptionJpeg) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
  } else if (layout.option == kJpegYCbCrOption && layout.photometric == PHOTOMETRIC_RGB) {
    layout.photometric = PHOTOMETRIC_YCBCR;
    ycbcrTables_.Fill();
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RAW);
    ok = ok &&
         TIFFSetField(tiff, TIFFTAG_REFERENCEBLACKWHITE, ycbcrTables_.referenceBlackWhite.data());
    ok = ok && TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, ycbcrTables_.subsampling[0],
                            ycbcrTables_.subsampling[1]);
    ok = ok && TIFFSetField(tiff, TIFFTAG_YCBCRPOSITIONING, YCBCRPOSITION_CENTERED);
    ok = ok && TIFFSetField(tiff, TIFFTAG_YCBCRCOEFFICIENTS, ycbcrTables_.lumaCoefficients.data());
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
  } else if (layout.option == kJpegYCbCrOption) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
  }
  ok = ok && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
  ok = ok && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                          TIFFDefaultStripSize(tiff, static_cast<uint32_t>(-1)));
  return ok;
}

bool RasterImageTIF::WriteRows(const PageLayout& layout) {
  if (layout.photometric == PHOTOMETRIC_YCBCR) return WriteYCbCrStrips();
  return WriteScanlines(layout);
}

void RasterImageTIF::ReadRowRgb(uint32_t y, uint8_t* rgb) const {
  const uint32_t width = Width();
  if (BitsPerPixel() == 24) {
    const uint8_t* source = RowAddress(y);
    for (uint32_t x = 0; x < width; ++x, source += 3, rgb += 3) {
      rgb[0] = source[2];
      rgb[1] = source[1];
      rgb[2] = source[0];
    }
    return;
  }
  const RGBQUAD* palette = PaletteData();
  for (uint32_t x = 0; x < width; ++x, rgb += 3) {
    const RGBQUAD& entry = palette[IndexAtUnchecked(x, y)];
    rgb[0] = entry.rgbRed;
    rgb[1] = entry.rgbGreen;
    rgb[2] = entry.rgbBlue;
  }
}

void RasterImageTIF::FillRow(const PageLayout& layout, uint32_t y, uint8_t* out) const {
  const uint32_t width = Width();
  const uint8_t* source = RowAddress(y);
  const uint8_t* alpha = layout.alpha ? AlphaPlane() + static_cast<size_t>(y) * width : nullptr;
  switch (layout.source) {
    case RowSource::Stored:
      std::memcpy(out, source, RowStride());
      break;
    case RowSource::GrayLevels: {
      const RGBQUAD* palette = PaletteData();
      for (uint32_t x = 0; x < width; ++x) out[x] = palette[IndexAtUnchecked(x, y)].rgbRed;
      break;
    }
    case RowSource::Rgb:
      ReadRowRgb(y, out);
      break;
    case RowSource::RgbAlpha:
      for (uint32_t x = 0; x < width; ++x, source += 3, out += 4) {
        out[0] = source[2];
        out[1] = source[1];
        out[2] = source[0];
        out[3] = alpha[x];
      }
      break;
    case RowSource::IndexAlpha:
      for (uint32_t x = 0; x < width; ++x, out += 2) {
        out[0] = source[x];
        out[1] = alpha[x];
      }
      break;
  }
}

bool RasterImageTIF::WriteScanlines(const PageLayout& layout) {
  TIFF* tiff = tiffDocument_->Handle();
  const uint32_t height = Height();
  const size_t rowBytes = layout.source == RowSource::Stored
                              ? RowStride()
                              : static_cast<size_t>(Width()) * layout.samples;
  // libtiff's predictor and some codecs change the row they are given, so the image's own
  // rows are always copied first.
  std::vector<uint8_t> row;
  if (!Allocate(row, rowBytes)) return false;
  for (uint32_t line = 0; line < height; ++line) {
    FillRow(layout, height - 1 - line, row.data());  // the top picture row goes first
    if (TIFFWriteScanline(tiff, row.data(), line, 0) == -1) return false;
  }
  return true;
}

bool RasterImageTIF::WriteYCbCrStrips() {
  TIFF* tiff = tiffDocument_->Handle();
  const uint32_t width = Width(), height = Height();
  uint32_t rowsPerStrip = 0;
  if (!TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) || rowsPerStrip == 0)
    rowsPerStrip = height;
  const uint32_t stripRows = std::min(rowsPerStrip, height);
  const size_t lineBytes = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> strip, rgb;
  if (!Allocate(strip, lineBytes * stripRows) || !Allocate(rgb, lineBytes)) return false;

  uint32_t remaining = height;
  for (uint32_t stripIndex = 0; remaining > 0; ++stripIndex) {
    const uint32_t rows = std::min(stripRows, remaining);
    for (uint32_t i = 0; i < rows; ++i) {
      // Strip rows run from the top: the next picture row is stored row remaining - 1 - i.
      const uint32_t y = remaining - 1 - i;
      uint8_t* out = strip.data() + lineBytes * i;
      if (BitsPerPixel() == 24) {
        ycbcrTables_.ConvertBgrRow(RowAddress(y), width, out);
      } else {
        ReadRowRgb(y, rgb.data());
        ycbcrTables_.ConvertRow(rgb.data(), width, out);
      }
    }
    if (TIFFWriteEncodedStrip(tiff, stripIndex, strip.data(),
                              static_cast<tmsize_t>(lineBytes * rows)) == -1)
      return false;
    remaining -= rows;
  }
  return true;
}

}  // namespace orvalis
