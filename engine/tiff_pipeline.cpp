#include "engine/tiff_pipeline.h"

#include "engine/pipelines.h"

namespace orvalis {

namespace {

bool OpenMultiPageFile(ImageConverter& job) {
  if (job.multiPageStream) return true;
  std::string error;
  job.multiPageOutput = PendingOutput::Open(job.multiPagePath, "w+b", &error);
  if (!job.multiPageOutput) {
    job.RecordError(error);
    return false;
  }
  job.multiPageStream = std::make_unique<FileStream>(job.multiPageOutput->File());
  return true;
}

bool ApplyTiffColourStep(ImageConverter& job, RasterImage& image) {
  if (job.paletteDepth != 1 && job.paletteDepth != 4 && job.paletteDepth != 8) return true;
  if (job.paletteDepth == 8 && job.compression == 7) job.grayscale = true;
  if (job.grayscale && job.paletteDepth != 1 &&
      !CheckStep(job, image, image.ToGrayscale(), "Cannot make the page gray"))
    return false;
  if (job.compression != 7 && !CheckStep(job, image, ReduceColors(image, job.paletteDepth),
                                         "Cannot reduce the page's colours"))
    return false;
  return true;
}

void WriteTiffPage(ImageConverter& job, const std::string& input) {
  if (job.multiPage && !OpenMultiPageFile(job)) return;
  RasterImageTIF& image = job.tiffImage;
  if (!LoadPage(job, image, input)) return;
  if (!ApplyTiffColourStep(job, image)) return;
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  const int depth = job.paletteDepth != 0 ? job.paletteDepth : 24;
  image.SetEncoderOption(TiffCompressionCode(job.compression, depth, job.grayscale),
                         ImageFormat::Tiff);
  image.SetQuality(static_cast<uint32_t>(job.quality) & 0xFF);
  if (!CheckStep(job, image, ApplyRotation(image, job.angle), "Cannot rotate the page")) return;
  if (!ResizeStep(job, image)) return;
  if (!job.multiPage) {
    WriteOutput(job, image, ImageFormat::Tiff);
    return;
  }
  if (image.SaveToStream(job.multiPageStream.get(), true)) {
    ++job.multiPagePagesWritten;
  } else {
    job.RecordError("Cannot add page " + Quoted(input) + " to " + Quoted(job.multiPagePath) + ": " +
                    image.ErrorText());
  }
}

}  // namespace

void RunTiffPipeline(ImageConverter& job) {
  if (!job.multiPage) {
    WriteTiffPage(job, job.inputFiles.front());
    return;
  }
  for (; job.multiPageInputsRun < job.inputFiles.size(); ++job.multiPageInputsRun)
    WriteTiffPage(job, job.inputFiles[job.multiPageInputsRun]);
}

void FinishMultiPageTiff(ImageConverter& job) {
  if (!job.multiPageOutput) return;
  // A document that cannot be completed (a full disk at its last directory) is not put in place.
  const bool ended = job.tiffImage.EndDocument();
  if (!ended)
    job.RecordError("Cannot write " + Quoted(job.multiPagePath) + ": " + job.tiffImage.ErrorText());
  job.multiPageStream.reset();
  if (ended && job.multiPagePagesWritten > 0) {
    std::string error;
    if (!job.multiPageOutput->Commit(&error)) job.RecordError(error);
  }
  job.multiPageOutput.reset();  // removes the file when no page could be written
}

}  // namespace orvalis
