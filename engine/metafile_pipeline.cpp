#include "engine/metafile_pipeline.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "engine/pipelines.h"
#include "image/draw_to_device.h"
#include "platform/file_replace.h"
#include "platform/gdi.h"

namespace orvalis {

namespace {

// Application name "www", an empty picture name, and the closing NUL.
constexpr std::string_view kDescription{"www\0\0", 5};

struct PictureSize {
  int32_t width = 0;
  int32_t height = 0;
};

// W x H: the job's width and height when both are set, otherwise the page's own size.
Result<PictureSize> DecidePictureSize(const ImageConverter& job, const RasterImage& image) {
  if (job.width > 0 && job.height > 0) return PictureSize{job.width, job.height};
  constexpr uint32_t kMax = std::numeric_limits<int32_t>::max();
  if (image.Width() > kMax || image.Height() > kMax) {
    return Status::Error("Cannot write " + Quoted(job.outputPath) +
                         ": the page is too large for a metafile");
  }
  return PictureSize{static_cast<int32_t>(image.Width()), static_cast<int32_t>(image.Height())};
}

// The picture's extent in 0.01 mm at the reference device's millimetres per pixel: the
// integer product of pixels and millimetres, times 100, divided by the device's pixels in
// floating point and cut toward zero. False when an extent does not fit the frame's 32 bits.
bool FrameFor(const PictureSize& size, gdi::HDC reference, gdi::RECT* frame) {
  const auto extent = [](int32_t pixels, int millimeters, int devicePixels, int32_t* out) {
    if (devicePixels <= 0) return false;
    const int64_t product = int64_t{pixels} * millimeters;
    const double value = static_cast<double>(product) * 100.0 / devicePixels;
    if (!(value >= 0.0 && value <= std::numeric_limits<int32_t>::max())) return false;
    *out = static_cast<int32_t>(value);
    return true;
  };
  *frame = {};
  return extent(size.width, gdi::GetDeviceCaps(reference, gdi::HORZSIZE),
                gdi::GetDeviceCaps(reference, gdi::HORZRES), &frame->right) &&
         extent(size.height, gdi::GetDeviceCaps(reference, gdi::VERTSIZE),
                gdi::GetDeviceCaps(reference, gdi::VERTRES), &frame->bottom);
}

// The white background: a white pen one unit wide and a white solid brush over (0, 0, W, H).
void RecordWhiteRectangle(gdi::HDC dc, const PictureSize& size) {
  constexpr gdi::COLORREF kWhite = gdi::RGB(255, 255, 255);
  gdi::UniqueGdiObject pen(gdi::CreatePen(gdi::PS_SOLID, 1, kWhite));
  gdi::UniqueGdiObject brush(gdi::CreateSolidBrush(kWhite));
  gdi::HGDIOBJ previousPen = gdi::SelectObject(dc, pen.get());
  gdi::HGDIOBJ previousBrush = gdi::SelectObject(dc, brush.get());
  gdi::Rectangle(dc, 0, 0, size.width, size.height);
  gdi::SelectObject(dc, previousPen);
  gdi::SelectObject(dc, previousBrush);
  pen.reset();
  brush.reset();
}

// Loads the page and turns it by any non-zero angle; quarter turns go through RotateByAngle
// too, as the metafile pages always have.
Result<PictureSize> PreparePage(const ImageConverter& job, RasterImage& image) {
  if (Status loaded = LoadPage(image, job.inputFiles.front()); !loaded.IsOk()) return loaded;
  if (job.angle != 0) {
    Status turned = StepResult(image, image.RotateByAngle(static_cast<float>(job.angle)),
                               "Cannot rotate the page");
    if (!turned.IsOk()) return turned;
  }
  return DecidePictureSize(job, image);
}

// Classic metafile records count in 16-bit coordinates: a picture or page beyond 32767 pixels
// would be cut short, so it is refused before anything is written.
Status FitsClassicMetafile(const ImageConverter& job, const RasterImage& image,
                           const PictureSize& size) {
  constexpr uint32_t kLimit = 32767;
  if (static_cast<uint32_t>(size.width) <= kLimit && static_cast<uint32_t>(size.height) <= kLimit &&
      image.Width() <= kLimit && image.Height() <= kLimit) {
    return Status::Ok();
  }
  return Status::Error("Cannot write " + Quoted(job.outputPath) +
                       ": a WMF file holds pictures of at most 32767 x 32767 pixels; this one is " +
                       std::to_string(size.width) + " x " + std::to_string(size.height) +
                       " (page " + std::to_string(image.Width()) + " x " +
                       std::to_string(image.Height()) + ")");
}

Status GdiFailure(const ImageConverter& job) {
  return Status::Error("Cannot write " + Quoted(job.outputPath) + ": " + gdi::GetLastErrorText());
}

}  // namespace

Status RunMetafilePipeline(const ImageConverter& job) {
  return job.format == OutputFormat::Emf ? RunEmfPipeline(job) : RunWmfPipeline(job);
}

Status RunEmfPipeline(const ImageConverter& job) {
  RasterImage image;
  const Result<PictureSize> prepared = PreparePage(job, image);
  if (!prepared.IsOk()) return prepared.AsStatus();
  const PictureSize& size = prepared.Value();

  gdi::ScreenDC screen;
  gdi::RECT frame;
  if (!FrameFor(size, screen.get(), &frame)) {
    return Status::Error("Cannot write " + Quoted(job.outputPath) + ": a picture of " +
                         std::to_string(size.width) + " x " + std::to_string(size.height) +
                         " pixels is too large for an EMF frame");
  }
  std::string error;
  std::unique_ptr<ReplacementFile> output =
      ReplacementFile::Open(job.outputPath, LinkAtFinalName::Replace, &error);
  if (!output) return Status::Error(error);
  gdi::UniqueMetafileDC dc(
      gdi::CreateEnhMetaFileOnFile(screen.get(), output->File(), &frame, kDescription));
  if (!dc) return GdiFailure(job);

  RecordWhiteRectangle(dc.get(), size);
  DrawToDevice(image, dc.get(), 0, 0, size.width, size.height, gdi::SRCCOPY);
  image.Release();

  gdi::HENHMETAFILE metafile = gdi::CloseEnhMetaFile(dc.release());
  if (metafile == nullptr) return GdiFailure(job);
  gdi::DeleteEnhMetaFile(metafile);
  if (!output->Commit(&error)) return Status::Error(error);
  return Status::Ok();
}

Status RunWmfPipeline(const ImageConverter& job) {
  RasterImage image;
  const Result<PictureSize> prepared = PreparePage(job, image);
  if (!prepared.IsOk()) return prepared.AsStatus();
  const PictureSize& size = prepared.Value();
  if (Status fits = FitsClassicMetafile(job, image, size); !fits.IsOk()) return fits;

  std::string error;
  std::unique_ptr<ReplacementFile> output =
      ReplacementFile::Open(job.outputPath, LinkAtFinalName::Replace, &error);
  if (!output) return Status::Error(error);
  gdi::UniqueMetafileDC dc(gdi::CreateMetaFileOnFile(output->File()));
  if (!dc) return GdiFailure(job);

  RecordWhiteRectangle(dc.get(), size);
  // The bitmap stored in the metafile carries the job's resolution.
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  DrawToDevice(image, dc.get(), 0, 0, size.width, size.height, gdi::SRCCOPY);
  image.Release();

  gdi::HMETAFILE metafile = gdi::CloseMetaFile(dc.release());
  if (metafile == nullptr) return GdiFailure(job);
  gdi::DeleteMetaFile(metafile);
  if (!output->Commit(&error)) return Status::Error(error);
  return Status::Ok();
}

}  // namespace orvalis
