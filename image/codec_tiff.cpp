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
#include "image/tiff_ycbcr.h"

namespace orvalis {

namespace {

constexpr uint32_t kOptionLzw = tiff_compression::kLzw;
constexpr uint32_t kOptionJpeg = tiff_compression::kJpeg;
constexpr uint32_t kOptionGroup4 = tiff_compression::kFax4;
constexpr uint32_t kOptionNone = tiff_compression::kNone;
constexpr uint32_t kOptionJpegYCbCr = tiff_compression::kJpegYCbCr;

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
      return kOptionJpegYCbCr;
    default:
      return kOptionNone;
  }
}

uint16_t CompressionTagFor(uint32_t option) {
  if (option == kOptionJpegYCbCr) return COMPRESSION_JPEG;
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

// Where the samples of a written row come from.
enum class RowSource {
  Stored,      // the stored row as it is (1-, 4- and 8-bit indices or gray levels)
  GrayLevels,  // palette indices looked up as gray levels, one byte per pixel
  Rgb,         // red, green, blue per pixel (24-bit pixels, or palette colours looked up)
  RgbAlpha,    // red, green, blue, alpha per pixel
  IndexAlpha,  // 8-bit index, alpha per pixel
};

struct PageLayout {
  uint32_t option = 0;        // the option word, with 0 resolved by depth
  uint16_t compression = 1;   // the Compression tag
  uint32_t bitsPerPixel = 0;  // as written: 32 for colour with alpha
  uint16_t samples = 1;
  uint16_t bitsPerSample = 1;
  uint16_t photometric = PHOTOMETRIC_MINISWHITE;
  bool alpha = false;   // an alpha sample follows the colour samples
  bool invert = false;  // stored rows are written with every bit inverted
  RowSource source = RowSource::Stored;
};

// One page being written into an open libtiff document.
struct PageWrite {
  TIFF* tiff;
  const RasterImage& image;
  const TiffOptions& options;
  PageLayout layout;
  YCbCrTables ycbcr;
};

void ChooseLayout(const RasterImage& image, PageLayout& layout) {
  // JPEG keeps no alpha: such a page is written as its colours alone.
  const bool keepAlpha = image.HasAlpha() && layout.compression != COMPRESSION_JPEG;
  layout.bitsPerPixel = image.BitsPerPixel();
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
    case 1:
      // White is zero: the bits of a palette whose entry 0 is the darker one are written
      // inverted, so the picture stays the same.
      layout.invert =
          RasterImage::LuminanceCompare(image.PaletteEntryAt(0), image.PaletteEntryAt(1)) < 0;
      layout.photometric = PHOTOMETRIC_MINISWHITE;
      break;
    case 4:
    case 8:
      // Black is zero only when the samples are the gray levels themselves: the identity
      // ramp of an 8-bit page. Any other palette, including every 4-bit one, goes to a
      // colour map, which shows the picture exactly.
      layout.photometric = (layout.bitsPerPixel == 8 && image.HasGrayRamp())
                               ? PHOTOMETRIC_MINISBLACK
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

void ChooseJpegPaletteLayout(const RasterImage& image, PageLayout& layout) {
  // JPEG takes neither palettes nor samples below 8 bits: the page goes as the colours its
  // indices stand for, as gray levels when every palette entry is gray (a gray page reduced
  // to an optimised palette), otherwise as red, green and blue.
  bool gray = true;
  for (uint32_t i = 0; i < image.ColorCount() && gray; ++i) {
    const RGBQUAD entry = image.PaletteEntryAt(i);
    gray = entry.rgbRed == entry.rgbGreen && entry.rgbGreen == entry.rgbBlue;
  }
  layout.bitsPerPixel = gray ? 8 : 24;
  layout.samples = gray ? 1 : 3;
  layout.bitsPerSample = 8;
  layout.photometric = gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
  layout.source = gray ? RowSource::GrayLevels : RowSource::Rgb;
}

PageLayout LayoutFor(const RasterImage& image, const TiffOptions& options) {
  PageLayout layout;
  layout.option = ResolveOption(options.compression, image.BitsPerPixel());
  layout.compression = CompressionTagFor(layout.option);
  if (layout.compression == COMPRESSION_JPEG && image.BitsPerPixel() <= 8)
    ChooseJpegPaletteLayout(image, layout);
  else
    ChooseLayout(image, layout);
  return layout;
}

bool WriteColorMap(TIFF* tiff, const RasterImage& image) {
  // 8-bit palette entries widened to 16 bits; libtiff writes the first 2^bits of each.
  std::array<uint16_t, 256> red{}, green{}, blue{};
  for (uint32_t i = 0; i < std::min<uint32_t>(image.ColorCount(), 256); ++i) {
    const RGBQUAD entry = image.PaletteEntryAt(i);
    red[i] = static_cast<uint16_t>(entry.rgbRed * 257);
    green[i] = static_cast<uint16_t>(entry.rgbGreen * 257);
    blue[i] = static_cast<uint16_t>(entry.rgbBlue * 257);
  }
  return TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
}

// The compression's own tags; a colour page under the YCbCr option turns to YCbCr here.
bool WriteCompressionTags(PageWrite& page) {
  TIFF* tiff = page.tiff;
  PageLayout& layout = page.layout;
  const int quality = page.options.quality;
  bool ok = TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.compression == COMPRESSION_LZW && layout.bitsPerPixel >= 8) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  }
  if (layout.option == kOptionJpeg) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
  } else if (layout.option == kOptionJpegYCbCr && layout.photometric == PHOTOMETRIC_RGB) {
    layout.photometric = PHOTOMETRIC_YCBCR;
    YCbCrTables& tables = page.ycbcr;
    tables.Fill();
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RAW);
    ok = ok && TIFFSetField(tiff, TIFFTAG_REFERENCEBLACKWHITE, tables.referenceBlackWhite.data());
    ok = ok &&
         TIFFSetField(tiff, TIFFTAG_YCBCRSUBSAMPLING, tables.subsampling[0], tables.subsampling[1]);
    ok = ok && TIFFSetField(tiff, TIFFTAG_YCBCRPOSITIONING, YCBCRPOSITION_CENTERED);
    ok = ok && TIFFSetField(tiff, TIFFTAG_YCBCRCOEFFICIENTS, tables.lumaCoefficients.data());
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
  } else if (layout.option == kOptionJpegYCbCr) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
  }
  return ok;
}

bool WriteTags(PageWrite& page, bool multiPage, uint32_t pageNumber) {
  TIFF* tiff = page.tiff;
  const RasterImage& image = page.image;
  const PageLayout& layout = page.layout;
  bool ok = true;
  ok = ok && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, image.Width());
  ok = ok && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, image.Height());
  ok = ok && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  ok = ok && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bitsPerSample);
  ok = ok && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  ok = ok && TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  ok = ok && TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  ok = ok && TIFFSetField(tiff, TIFFTAG_XRESOLUTION, static_cast<double>(image.ResolutionX()));
  ok = ok && TIFFSetField(tiff, TIFFTAG_YRESOLUTION, static_cast<double>(image.ResolutionY()));
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
  if (layout.photometric == PHOTOMETRIC_PALETTE) ok = ok && WriteColorMap(tiff, image);
  ok = ok && WriteCompressionTags(page);
  ok = ok && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, page.layout.photometric);
  ok = ok && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                          TIFFDefaultStripSize(tiff, static_cast<uint32_t>(-1)));
  return ok;
}

// Stored row y as red, green, blue bytes, for 24-bit and palette pages alike.
void ReadRowRgb(const RasterImage& image, uint32_t y, uint8_t* rgb) {
  const uint32_t width = image.Width();
  if (image.BitsPerPixel() == 24) {
    const uint8_t* source = image.RowAddress(y);
    for (uint32_t x = 0; x < width; ++x, source += 3, rgb += 3) {
      rgb[0] = source[2];
      rgb[1] = source[1];
      rgb[2] = source[0];
    }
    return;
  }
  const RGBQUAD* palette = image.PaletteData();
  for (uint32_t x = 0; x < width; ++x, rgb += 3) {
    const RGBQUAD& entry = palette[image.IndexAtUnchecked(x, y)];
    rgb[0] = entry.rgbRed;
    rgb[1] = entry.rgbGreen;
    rgb[2] = entry.rgbBlue;
  }
}

void FillRow(const RasterImage& image, const PageLayout& layout, uint32_t y, uint8_t* out) {
  const uint32_t width = image.Width();
  const uint8_t* source = image.RowAddress(y);
  const uint8_t* alpha =
      layout.alpha ? image.AlphaPlane() + static_cast<size_t>(y) * width : nullptr;
  switch (layout.source) {
    case RowSource::Stored:
      std::memcpy(out, source, image.RowStride());
      if (layout.invert) {
        for (uint32_t i = 0; i < image.RowStride(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
      }
      break;
    case RowSource::GrayLevels: {
      const RGBQUAD* palette = image.PaletteData();
      for (uint32_t x = 0; x < width; ++x) out[x] = palette[image.IndexAtUnchecked(x, y)].rgbRed;
      break;
    }
    case RowSource::Rgb:
      ReadRowRgb(image, y, out);
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

bool WriteScanlines(const PageWrite& page) {
  const RasterImage& image = page.image;
  const uint32_t height = image.Height();
  const size_t rowBytes = page.layout.source == RowSource::Stored
                              ? image.RowStride()
                              : static_cast<size_t>(image.Width()) * page.layout.samples;
  // libtiff's predictor and some codecs change the row they are given, so the image's own
  // rows are always copied first.
  std::vector<uint8_t> row;
  if (!Allocate(row, rowBytes)) return false;
  for (uint32_t line = 0; line < height; ++line) {
    FillRow(image, page.layout, height - 1 - line, row.data());  // the top picture row first
    if (TIFFWriteScanline(page.tiff, row.data(), line, 0) == -1) return false;
  }
  return true;
}

bool WriteYCbCrStrips(const PageWrite& page) {
  const RasterImage& image = page.image;
  const uint32_t width = image.Width(), height = image.Height();
  uint32_t rowsPerStrip = 0;
  if (!TIFFGetField(page.tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) || rowsPerStrip == 0)
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
      if (image.BitsPerPixel() == 24) {
        page.ycbcr.ConvertBgrRow(image.RowAddress(y), width, out);
      } else {
        ReadRowRgb(image, y, rgb.data());
        page.ycbcr.ConvertRow(rgb.data(), width, out);
      }
    }
    if (TIFFWriteEncodedStrip(page.tiff, stripIndex, strip.data(),
                              static_cast<tmsize_t>(lineBytes * rows)) == -1)
      return false;
    remaining -= rows;
  }
  return true;
}

bool WritePage(TIFF* tiff, const RasterImage& image, const TiffOptions& options, bool multiPage,
               uint32_t pageNumber) {
  PageWrite page{tiff, image, options, LayoutFor(image, options), {}};
  if (!WriteTags(page, multiPage, pageNumber)) return false;
  if (page.layout.photometric == PHOTOMETRIC_YCBCR) return WriteYCbCrStrips(page);
  return WriteScanlines(page);
}

}  // namespace

TiffOptions TiffOptionsOf(const RasterImage& image) {
  return TiffOptions{image.EncoderOption(ImageFormat::Tiff), image.Quality() & 0xFF};
}

Status EncodeTiff(const RasterImage& image, const TiffOptions& options, ByteStream& out) {
  TiffWriter writer;
  return writer.AddPage(image, options, out, false);
}

// ---- TiffWriter ----

TiffWriter::TiffWriter() = default;

TiffWriter::~TiffWriter() {
  (void)EndDocument();
}

Status TiffWriter::EndDocument() {
  if (!document_) return Status::Ok();
  ByteStream* stream = document_->Stream();
  Reset();
  if (CheckedWriter(stream).Finish()) return Status::Ok();
  return Status::Error("Error saving TIFF file");
}

void TiffWriter::Reset() {
  document_.reset();
  multiPage_ = false;
  pagesWritten_ = 0;
}

void TiffWriter::Abandon() {
  if (document_) document_->Abandon();
  Reset();
}

Status TiffWriter::Fail(const char* message) {
  Status failure =
      Status::Error(WithReason(message, document_ ? document_->Diagnostic() : std::string()));
  Abandon();
  return failure;
}

Status TiffWriter::AddPage(const RasterImage& image, const TiffOptions& options, ByteStream& out,
                           bool append) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) {
    Abandon();
    return valid;
  }
  if (document_ && document_->Stream() != &out) (void)EndDocument();
  if (!document_) {
    Result<std::unique_ptr<TiffDocument>> opened = TiffDocument::Open(&out);
    if (!opened.IsOk()) {
      Abandon();
      return Status::Error(WithReason("initialization fail", opened.Message()));
    }
    document_ = std::move(opened).Value();
    // Pages already in the stream (a document reopened after a failed page) keep their
    // places: numbering continues after them.
    pagesWritten_ = document_->PagesFound();
  }
  document_->ClearDiagnostic();
  if (append || pagesWritten_ > 0) multiPage_ = true;
  ++pagesWritten_;
  if (!WritePage(document_->Handle(), image, options, multiPage_, pagesWritten_))
    return Fail("Error saving TIFF file");
  if (!TIFFWriteDirectory(document_->Handle())) return Fail("Error saving TIFF directory");
  if (!CheckedWriter(&out).Finish()) return Fail("Error saving TIFF file");
  if (!append) Reset();
  return Status::Ok();
}

// ---- The library's TIFF object ----

RasterImageTIF::RasterImageTIF() : RasterImage(ImageFormat::Tiff) {}

RasterImageTIF::~RasterImageTIF() = default;

bool RasterImageTIF::SaveToStream(ByteStream* stream, bool append) {
  if (stream == nullptr) writer_.Abandon();
  return EncodeThrough(stream, [&](ByteStream& out) {
    return writer_.AddPage(*this, TiffOptionsOf(*this), out, append);
  });
}

bool RasterImageTIF::EndDocument() {
  return Report(writer_.EndDocument());
}

}  // namespace orvalis
