#include "engine/tiff_pipeline.h"

#include "engine/pipelines.h"
#include "engine/tiff_compressions.h"
#include "image/codec_tiff.h"
#include "platform/file_replace.h"

namespace orvalis {

// The merged document of a job: the pages go into a temporary file, put in place when the job
// finishes. The stream is declared before the image, so that the document inside the image is
// ended while the stream under it is still open.
struct MultiPageTiff {
  std::unique_ptr<ReplacementFile> output;
  std::unique_ptr<FileStream> stream;
  RasterImageTIF image;
  int pagesWritten = 0;
};

void MultiPageTiffDeleter::operator()(MultiPageTiff* document) const {
  delete document;
}

namespace {

bool OpenMultiPageFile(ImageConverter& job) {
  if (job.merged) return true;
  if (job.mergedAbandoned) {
    job.RecordError("Cannot write " + Quoted(job.multiPagePath) + ": the document was abandoned");
    return false;
  }
  std::string error;
  std::unique_ptr<ReplacementFile> output =
      ReplacementFile::Open(job.multiPagePath, LinkAtFinalName::Replace, &error);
  if (!output) {
    job.RecordError(error);
    return false;
  }
  job.merged.reset(new MultiPageTiff);
  job.merged->stream = std::make_unique<FileStream>(output->File());
  job.merged->output = std::move(output);
  return true;
}

bool ApplyTiffColourStep(ImageConverter& job, RasterImage& image) {
  const ColourPlan& plan = job.colour;
  if (plan.paletteDepth == 0) return true;
  if (plan.gray && plan.paletteDepth != 1 &&
      !CheckStep(job, image, image.ToGrayscale(), "Cannot make the page gray"))
    return false;
  if (plan.reduce && !CheckStep(job, image, ReduceColors(image, plan.paletteDepth),
                                "Cannot reduce the page's colours"))
    return false;
  return true;
}

// Loads a page and takes it through the TIFF steps; false (recorded) when a step failed.
bool PreparePage(ImageConverter& job, RasterImageTIF& image, const std::string& input) {
  if (!LoadPage(job, image, input)) return false;
  if (!ApplyTiffColourStep(job, image)) return false;
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  const int depth = job.colour.paletteDepth != 0 ? job.colour.paletteDepth : 24;
  image.SetEncoderOption(TiffCompressionCode(job.compression, depth, job.colour.gray),
                         ImageFormat::Tiff);
  image.SetQuality(static_cast<uint32_t>(job.quality) & 0xFF);
  if (!CheckStep(job, image, ApplyRotation(image, job.angle), "Cannot rotate the page"))
    return false;
  return ResizeStep(job, image);
}

void AddMergedPage(ImageConverter& job, const std::string& input) {
  if (!OpenMultiPageFile(job)) return;
  MultiPageTiff& merged = *job.merged;
  if (!PreparePage(job, merged.image, input)) return;
  if (merged.image.SaveToStream(merged.stream.get(), true)) {
    ++merged.pagesWritten;
  } else {
    job.RecordError("Cannot add page " + Quoted(input) + " to " + Quoted(job.multiPagePath) + ": " +
                    merged.image.ErrorText());
  }
}

}  // namespace

void RunTiffPipeline(ImageConverter& job) {
  if (!job.multiPage) {
    RasterImageTIF image;
    if (PreparePage(job, image, job.inputFiles.front())) WriteOutput(job, image, ImageFormat::Tiff);
    return;
  }
  for (; job.multiPageInputsRun < job.inputFiles.size(); ++job.multiPageInputsRun)
    AddMergedPage(job, job.inputFiles[job.multiPageInputsRun]);
}

void FinishMultiPageTiff(ImageConverter& job) {
  if (!job.merged) return;
  MultiPageTiff& merged = *job.merged;
  // A document that cannot be completed (a full disk at its last directory) is not put in place.
  const bool ended = merged.image.EndDocument();
  if (!ended)
    job.RecordError("Cannot write " + Quoted(job.multiPagePath) + ": " + merged.image.ErrorText());
  merged.stream.reset();
  if (ended && merged.pagesWritten > 0) {
    std::string error;
    if (!merged.output->Commit(&error)) job.RecordError(error);
  }
  job.merged.reset();  // removes the file when no page could be written
}

void AbandonMultiPageTiff(ImageConverter& job) {
  job.mergedAbandoned = true;
  job.merged.reset();  // the temporary goes with it
}

}  // namespace orvalis
