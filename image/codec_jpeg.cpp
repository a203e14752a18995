#include "image/codec_jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>

// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#ifndef JCS_EXTENSIONS
#error \
    "libjpeg-turbo is required: true-colour rows are handed over in their stored blue-green-red order"
#endif

#include "image/checked_writer.h"

namespace orvalis {

namespace {

constexpr size_t kDestinationBufferSize = 4096;

// libjpeg's destination manager over a ByteStream: compressed bytes collect in a 4096-byte
// buffer that is handed to the stream whenever it fills up, and once more at the end.
struct JpegDestination {
  jpeg_destination_mgr manager;  // first, so libjpeg's pointer converts back to the whole
  CheckedWriter* writer;         // over the caller's stream
  JOCTET buffer[kDestinationBufferSize];
};

// libjpeg's standard error manager whose error exit keeps the message and jumps back.
struct JpegErrorManager {
  jpeg_error_mgr manager;  // first, so libjpeg's pointer converts back to the whole
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

// Everything one compression needs. Plain data only: the error exit jumps back into
// CompressImage across libjpeg's frames and ours, and no destructor may be skipped on the way.
struct JpegJob {
  jpeg_compress_struct compressor;
  JpegErrorManager error;
  JpegDestination destination;
  const RasterImage* image;
  bool grayInput;
  uint32_t options;
  int quality;
  int smoothing;
  UINT16 densityX;
  UINT16 densityY;
};

void ExitWithMessage(j_common_ptr common) {
  auto* error = reinterpret_cast<JpegErrorManager*>(common->err);
  (*common->err->format_message)(common, error->message);
  std::longjmp(error->jump, 1);
}

// libjpeg's warnings and trace notes (such as "tables too coarse for baseline" at low quality)
// would go to the program's stderr; none of them changes the file, so they are dropped.
void DiscardMessage(j_common_ptr) {}

JpegDestination* DestinationOf(j_compress_ptr compressor) {
  return reinterpret_cast<JpegDestination*>(compressor->dest);
}

void StartDestination(j_compress_ptr compressor) {
  JpegDestination* destination = DestinationOf(compressor);
  destination->manager.next_output_byte = destination->buffer;
  destination->manager.free_in_buffer = kDestinationBufferSize;
}

boolean EmptyDestination(j_compress_ptr compressor) {
  JpegDestination* destination = DestinationOf(compressor);
  if (!destination->writer->Write(destination->buffer, kDestinationBufferSize))
    ERREXIT(compressor, JERR_FILE_WRITE);
  StartDestination(compressor);
  return TRUE;
}

// A short final write, a failed flush or a stream in error all mean the file is incomplete.
void FinishDestination(j_compress_ptr compressor) {
  JpegDestination* destination = DestinationOf(compressor);
  const size_t count = kDestinationBufferSize - destination->manager.free_in_buffer;
  CheckedWriter* writer = destination->writer;
  writer->Write(destination->buffer, count);
  if (!writer->Finish()) ERREXIT(compressor, JERR_FILE_WRITE);
}

void AttachDestination(JpegJob* job, CheckedWriter* writer) {
  job->destination.writer = writer;
  job->destination.manager.init_destination = &StartDestination;
  job->destination.manager.empty_output_buffer = &EmptyDestination;
  job->destination.manager.term_destination = &FinishDestination;
  job->compressor.dest = &job->destination.manager;
}

// Applies the option word, quality, sampling factors and density, in the order libjpeg needs:
// the colour space before the scan script and the sampling factors it resets.
void ApplySettings(JpegJob* job) {
  j_compress_ptr compressor = &job->compressor;
  const uint32_t options = job->options;
  jpeg_set_defaults(compressor);
  if (options & JpegOption::Arithmetic) compressor->arith_code = TRUE;
  // Optimised tables are a Huffman matter; arithmetic coding adapts by itself, and libjpeg
  // refuses the pair ("Requested features are incompatible") instead of ignoring the request.
  if ((options & JpegOption::OptimizeTables) && !(options & JpegOption::Arithmetic)) {
    compressor->optimize_coding = TRUE;
  }
  if (options & JpegOption::GrayOutput) jpeg_set_colorspace(compressor, JCS_GRAYSCALE);
  if (options & JpegOption::Smoothing) compressor->smoothing_factor = job->smoothing;
  jpeg_set_quality(compressor, job->quality, (options & JpegOption::ForceBaseline) ? TRUE : FALSE);
  if (options & JpegOption::Progressive) jpeg_simple_progression(compressor);

  int lumaH = 2, lumaV = 2;
  if (options & JpegOption::Sampling422) lumaV = 1;
  if (options & JpegOption::Sampling444) lumaH = lumaV = 1;
  const int components = std::min(compressor->num_components, 3);
  for (int i = 0; i < components; ++i) {
    compressor->comp_info[i].h_samp_factor = i == 0 ? lumaH : 1;
    compressor->comp_info[i].v_samp_factor = i == 0 ? lumaV : 1;
  }

  compressor->density_unit = 1;  // dots per inch
  compressor->X_density = job->densityX;
  compressor->Y_density = job->densityY;
}

// 1- and 4-bit gray images hold palette indices, not samples: each pixel becomes the gray level
// of its palette entry.
void ExpandGrayRow(const RasterImage& image, uint32_t y, JSAMPROW samples) {
  for (uint32_t x = 0; x < image.Width(); ++x)
    samples[x] = image.PaletteEntryAt(image.IndexAtUnchecked(x, y)).rgbBlue;
}

// Runs libjpeg from creation to destruction. On any libjpeg error the message is left in
// job->error.message and the result is false. This frame holds plain data only.
bool CompressImage(JpegJob* job, CheckedWriter* writer) {
  j_compress_ptr compressor = &job->compressor;
  compressor->err = jpeg_std_error(&job->error.manager);
  job->error.manager.error_exit = &ExitWithMessage;
  job->error.manager.output_message = &DiscardMessage;
  if (setjmp(job->error.jump) != 0) {
    jpeg_destroy_compress(compressor);
    return false;
  }
  jpeg_create_compress(compressor);
  AttachDestination(job, writer);

  const RasterImage& image = *job->image;
  compressor->image_width = image.Width();
  compressor->image_height = image.Height();
  compressor->input_components = job->grayInput ? 1 : 3;
  // Stored true-colour rows are blue, green, red: libjpeg-turbo takes them as they are.
  compressor->in_color_space = job->grayInput ? JCS_GRAYSCALE : JCS_EXT_BGR;
  ApplySettings(job);
  jpeg_start_compress(compressor, TRUE);

  const bool expand = job->grayInput && image.BitsPerPixel() < 8;
  JSAMPARRAY scratch =
      expand ? (*compressor->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(compressor),
                                                JPOOL_IMAGE, image.Width() + 8, 1)
             : nullptr;
  for (uint32_t row = image.Height(); row-- > 0;) {
    JSAMPROW samples = image.RowAddress(row);
    if (expand) {
      ExpandGrayRow(image, row, scratch[0]);
      samples = scratch[0];
    }
    jpeg_write_scanlines(compressor, &samples, 1);
  }
  jpeg_finish_compress(compressor);
  jpeg_destroy_compress(compressor);
  return true;
}

UINT16 DensityOf(int32_t dpi) {
  return static_cast<UINT16>(std::clamp<int32_t>(dpi, 0, 65535));
}

}  // namespace

JpegOptions JpegOptionsOf(const RasterImage& image) {
  JpegOptions options;
  options.flags = image.EncoderOption(ImageFormat::Jpeg);
  options.quality = image.Quality() & 0xFF;
  return options;
}

Status EncodeJpeg(const RasterImage& image, const JpegOptions& options, ByteStream& out) {
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  const bool gray = image.ColorCount() != 0;
  if (gray && !image.HasGrayRamp())
    return Status::Error("JPEG can save only RGB or GreyScale images");
  // Checked here so that a poster-sized page fails before a single byte is written.
  if (image.Width() > kJpegMaxDimension || image.Height() > kJpegMaxDimension) {
    return Status::Error("JPEG allows at most " + std::to_string(kJpegMaxDimension) +
                         " pixels a side; this image is " + std::to_string(image.Width()) + " x " +
                         std::to_string(image.Height()));
  }

  JpegJob job{};
  job.image = &image;
  job.grayInput = gray;
  job.options = options.flags;
  job.quality = options.quality;
  job.smoothing = options.smoothing;
  job.densityX = DensityOf(image.ResolutionX());
  job.densityY = DensityOf(image.ResolutionY());
  CheckedWriter writer(&out);
  if (!CompressImage(&job, &writer)) return Status::Error(job.error.message);
  return Status::Ok();
}

bool RasterImageJpeg::Encode(ByteStream* stream) {
  return EncodeThrough(
      stream, [this](ByteStream& out) { return EncodeJpeg(*this, JpegOptionsOf(*this), out); });
}

}  // namespace orvalis
