#include "image/codec_jpeg2000.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "image/checked_writer.h"

namespace orvalis {

namespace {

struct CodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using UniqueCodec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using UniqueStream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using UniqueImage = std::unique_ptr<opj_image_t, ImageDeleter>;

// OpenJPEG buffers this many bytes before handing them to the write function.
constexpr OPJ_SIZE_T kStreamChunk = OPJ_J2K_STREAM_CHUNK_SIZE;
// OpenJPEG's default number of resolution levels (five wavelet decompositions).
constexpr int kMaxResolutions = 6;

// OpenJPEG seeks to absolute offsets counted from where it started writing; the ByteStream may
// already hold bytes before that point.
struct StreamBinding {
  CheckedWriter* writer;
  int64_t origin;
};

OPJ_SIZE_T WriteToByteStream(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* binding = static_cast<StreamBinding*>(user);
  // OpenJPEG retries a short write with the rest, so a stream that stops accepting bytes must
  // answer with an error rather than 0, or the flush would never end.
  return binding->writer->Write(buffer, count) ? count : static_cast<OPJ_SIZE_T>(-1);
}

OPJ_OFF_T SkipInByteStream(OPJ_OFF_T count, void* user) {
  auto* binding = static_cast<StreamBinding*>(user);
  return binding->writer->Stream()->SeekTo(count, kSeekCurrent) ? count : -1;
}

OPJ_BOOL SeekInByteStream(OPJ_OFF_T offset, void* user) {
  auto* binding = static_cast<StreamBinding*>(user);
  return binding->writer->Stream()->SeekTo(binding->origin + offset, kSeekStart) ? OPJ_TRUE
                                                                                 : OPJ_FALSE;
}

// A memory stream that refuses to grow past a size: a trial code stream that misses the target
// fails at its first write beyond it and never holds more than the target in memory.
class CappedMemoryStream : public MemoryStream {
 public:
  explicit CappedMemoryStream(int64_t cap) : cap_(cap) {}
  size_t WriteBytes(const void* source, size_t itemSize, size_t itemCount) override {
    if (Position() < 0 ||
        static_cast<uint64_t>(Position()) + itemSize * itemCount > static_cast<uint64_t>(cap_)) {
      return 0;
    }
    return MemoryStream::WriteBytes(source, itemSize, itemCount);
  }

 private:
  int64_t cap_;
};

void CollectMessage(const char* message, void* user) {
  static_cast<std::string*>(user)->append(message);
}

// The largest number of resolution levels the picture allows: each wavelet decomposition
// halves the smaller side, which must keep at least one sample.
int ResolutionLevels(uint32_t width, uint32_t height) {
  uint32_t side = std::min(width, height);
  int levels = 1;
  while (levels < kMaxResolutions && side >= 2) {
    side >>= 1;
    ++levels;
  }
  return levels;
}

// As many as asked, else one per processor up to 8.
int OpenJpegThreads(int asked) {
  if (!opj_has_thread_support()) return 1;
  if (asked > 0) return asked;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

UniqueImage CreateOpenJpegImage(uint32_t width, uint32_t height, bool gray) {
  opj_image_cmptparm_t params[3] = {};
  const uint32_t components = gray ? 1 : 3;
  for (uint32_t c = 0; c < components; ++c) {
    params[c].dx = 1;
    params[c].dy = 1;
    params[c].w = width;
    params[c].h = height;
    params[c].x0 = 0;
    params[c].y0 = 0;
    params[c].prec = 8;
    params[c].sgnd = 0;
  }
  UniqueImage image(opj_image_create(components, params, gray ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  if (image) {
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = width;
    image->y1 = height;
  }
  return image;
}

}  // namespace

double Jpeg2000TargetRate(float quality) {
  // The rate is what "%.3f" prints for quality x 0.01 in single precision.
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(quality * 0.01f));
  return std::strtod(text, nullptr);
}

float Jpeg2000CompressionRatio(double rate) {
  if (rate >= 1.0) return 0.0f;
  return static_cast<float>(1.0 / std::max(rate, 0.001));
}

namespace {

// The last error OpenJPEG reported (its progress notes, such as "tile number 1 / 1", are not
// reasons), without its line break; "" when it reported none.
std::string LastLibraryError(const std::string& messages) {
  std::string last, line;
  for (const char c : messages) {
    if (c != '\n') {
      line += c;
      continue;
    }
    if (line.find("rror") != std::string::npos) last = line;
    line.clear();
  }
  if (line.find("rror") != std::string::npos) last = line;
  return last;
}

// Hands the rows over from the top of the picture: stored row y is picture row height-1-y.
void CopyPixelsTo(const RasterImage& image, opj_image* samples, bool gray) {
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  for (uint32_t y = 0; y < height; ++y) {
    const size_t top = static_cast<size_t>(height - 1 - y) * width;
    const uint8_t* row = image.RowAddress(y);
    if (gray) {
      OPJ_INT32* level = samples->comps[0].data + top;
      if (image.BitsPerPixel() == 8) {
        for (uint32_t x = 0; x < width; ++x) level[x] = row[x];
      } else {
        for (uint32_t x = 0; x < width; ++x) level[x] = image.IndexAtUnchecked(x, y);
      }
      continue;
    }
    OPJ_INT32* red = samples->comps[0].data + top;
    OPJ_INT32* green = samples->comps[1].data + top;
    OPJ_INT32* blue = samples->comps[2].data + top;
    for (uint32_t x = 0; x < width; ++x, row += 3) {
      blue[x] = row[0];
      green[x] = row[1];
      red[x] = row[2];
    }
  }
}

// One run of OpenJPEG over the whole picture into `stream`: nullptr on success, otherwise the
// message of the step that failed. OpenJPEG's own texts are added to `messages`.
const char* RunOpenJpeg(const RasterImage& image, const Jpeg2000Options& options, float ratio,
                        bool gray, ByteStream& stream, std::string& messages) {
  UniqueCodec codec(opj_create_compress(
      options.container == Jpeg2000Container::Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec) return "cannot initialize openjpeg";
  // OpenJPEG prints nothing of its own: its texts are kept for diagnosis. Failed stream writes
  // are reported at the information level, so that level is kept too.
  opj_set_info_handler(codec.get(), &CollectMessage, &messages);
  opj_set_warning_handler(codec.get(), &CollectMessage, &messages);
  opj_set_error_handler(codec.get(), &CollectMessage, &messages);

  CheckedWriter writer(&stream);
  StreamBinding binding{&writer, std::max<int64_t>(stream.Position(), 0)};
  UniqueStream output(opj_stream_create(kStreamChunk, OPJ_FALSE));
  if (!output) return "error: cannot open standard output";
  opj_stream_set_write_function(output.get(), &WriteToByteStream);
  opj_stream_set_skip_function(output.get(), &SkipInByteStream);
  opj_stream_set_seek_function(output.get(), &SeekInByteStream);
  // No free function: the ByteStream belongs to the caller and stays open.
  opj_stream_set_user_data(output.get(), &binding, nullptr);

  // A fresh image for every run: with a single tile OpenJPEG transforms the samples in place.
  UniqueImage samples = CreateOpenJpegImage(image.Width(), image.Height(), gray);
  if (!samples) return "error : opj_image_create";
  CopyPixelsTo(image, samples.get(), gray);

  opj_cparameters_t params;
  opj_set_default_encoder_parameters(&params);
  params.tcp_numlayers = 1;
  params.tcp_rates[0] = ratio;  // 0: every coding pass, lossless
  params.cp_disto_alloc = 1;
  params.irreversible = 0;  // the reversible 5/3 wavelet
  params.numresolution = ResolutionLevels(image.Width(), image.Height());
  params.tcp_mct = gray ? 0 : 1;

  if (!opj_setup_encoder(codec.get(), &params, samples.get()) ||
      !opj_codec_set_threads(codec.get(), OpenJpegThreads(options.threads)) ||
      !opj_start_compress(codec.get(), samples.get(), output.get()) ||
      !opj_encode(codec.get(), output.get()) || !opj_end_compress(codec.get(), output.get())) {
    return "error: cannot encode image";
  }
  // What OpenJPEG still holds goes out when the stream is destroyed: destroyed here, so that
  // the writer's check covers it.
  output.reset();
  return writer.Finish() ? nullptr : "error: cannot encode image";
}

// The encoder, with OpenJPEG's texts of the run that decided collected in `messages`.
Status EncodeCollecting(const RasterImage& image, const Jpeg2000Options& options, ByteStream& out,
                        std::string& messages) {
  const auto fail = [&](const char* message) {
    return Status::Error(WithReason(message, LastLibraryError(messages)));
  };
  if (Status valid = CheckEncodable(image); !valid.IsOk()) return valid;
  if (image.ColorCount() != 0 && !image.HasGrayRamp())
    return fail("OpenJPEG can save only RGB or GrayScale images");
  const bool gray = image.ColorCount() != 0;
  const double rate = Jpeg2000TargetRate(options.quality);
  const float ratio = Jpeg2000CompressionRatio(rate);

  // OpenJPEG meets a size target by searching for the cut-off among the coding passes, a
  // single-threaded search that costs a third of the time on a rendered page, which nearly
  // always compresses far below the target anyway. So a lossless code stream is tried first,
  // in memory and capped at the target; when it fits, it is the best answer the target allows.
  if (ratio > 0.0f) {
    const double rawBytes = static_cast<double>(image.Width()) * image.Height() * (gray ? 1 : 3);
    CappedMemoryStream trial(static_cast<int64_t>(rawBytes * rate));
    if (trial.OpenEmpty() && RunOpenJpeg(image, options, 0.0f, gray, trial, messages) == nullptr) {
      CheckedWriter writer(&out);
      writer.Write(trial.DetachBuffer(false), static_cast<size_t>(trial.Length()));
      return writer.Finish() ? Status::Ok() : fail("error: cannot encode image");
    }
    messages.clear();
  }
  const char* failure = RunOpenJpeg(image, options, ratio, gray, out, messages);
  return failure == nullptr ? Status::Ok() : fail(failure);
}

}  // namespace

Jpeg2000Options Jpeg2000OptionsOf(const RasterImage& image, Jpeg2000Container container) {
  return Jpeg2000Options{container, image.Info().quality, image.EncoderThreads()};
}

Status EncodeJpeg2000(const RasterImage& image, const Jpeg2000Options& options, ByteStream& out,
                      std::string* libraryMessages) {
  std::string messages;
  Status status = EncodeCollecting(image, options, out, messages);
  if (libraryMessages != nullptr) *libraryMessages = std::move(messages);
  return status;
}

bool RasterImageOpenJpeg::Encode(ByteStream* stream) {
  libraryMessages_.clear();
  return EncodeThrough(stream, [this](ByteStream& out) {
    return EncodeJpeg2000(*this, Jpeg2000OptionsOf(*this, container_), out, &libraryMessages_);
  });
}

}  // namespace orvalis
