#include "engine/tiff_pipeline.h"

#include "engine/pipelines.h"
#include "engine/tiff_compressions.h"
#include "image/codec_tiff.h"
#include "platform/file_replace.h"

namespace orvalis {

// The merged document of a job: the pages go into a temporary file, put in place when the job
// finishes. The stream is declared before the writer, so that the document is ended while the
// stream under it is still open.
struct MultiPageTiff {
  std::unique_ptr<ReplacementFile> output;
  std::unique_ptr<FileStream> stream;
  TiffWriter writer;
  int pagesWritten = 0;
};

void MultiPageTiffDeleter::operator()(MultiPageTiff* document) const {
  delete document;
}

namespace {

Status OpenMultiPageFile(ImageConverter& job) {
  if (job.merged) return Status::Ok();
  if (job.mergedAbandoned) {
    return Status::Error("Cannot write " + Quoted(job.multiPagePath) +
                         ": the document was abandoned");
  }
  std::string error;
  std::unique_ptr<ReplacementFile> output =
      ReplacementFile::Open(job.multiPagePath, LinkAtFinalName::Replace, &error);
  if (!output) return Status::Error(error);
  job.merged.reset(new MultiPageTiff);
  job.merged->stream = std::make_unique<FileStream>(output->File());
  job.merged->output = std::move(output);
  return Status::Ok();
}

Status ApplyTiffColourStep(const ImageConverter& job, RasterImage& image) {
  const ColourPlan& plan = job.colour;
  if (plan.paletteDepth == 0) return Status::Ok();
  if (plan.gray && plan.paletteDepth != 1) {
    Status gray = StepResult(image, image.ToGrayscale(), "Cannot make the page gray");
    if (!gray.IsOk()) return gray;
  }
  if (!plan.reduce) return Status::Ok();
  return StepResult(image, ReduceColors(image, plan.paletteDepth),
                    "Cannot reduce the page's colours");
}

// Loads a page and takes it through the TIFF steps.
Status PreparePage(const ImageConverter& job, RasterImage& image, const std::string& input) {
  if (Status loaded = LoadPage(image, input); !loaded.IsOk()) return loaded;
  if (Status coloured = ApplyTiffColourStep(job, image); !coloured.IsOk()) return coloured;
  image.SetResolutionX(job.xDpi);
  image.SetResolutionY(job.yDpi);
  const int depth = job.colour.paletteDepth != 0 ? job.colour.paletteDepth : 24;
  image.SetEncoderOption(TiffCompressionCode(job.compression, depth, job.colour.gray),
                         ImageFormat::Tiff);
  image.SetQuality(static_cast<uint32_t>(job.quality) & 0xFF);
  Status turned = StepResult(image, ApplyRotation(image, job.angle), "Cannot rotate the page");
  if (!turned.IsOk()) return turned;
  return ResizeStep(job, image);
}

Status AddMergedPage(ImageConverter& job, const std::string& input) {
  if (Status opened = OpenMultiPageFile(job); !opened.IsOk()) return opened;
  MultiPageTiff& merged = *job.merged;
  RasterImage image;
  if (Status prepared = PreparePage(job, image, input); !prepared.IsOk()) return prepared;
  Status added = merged.writer.AddPage(image, TiffOptionsOf(image), *merged.stream, true);
  if (!added.IsOk()) {
    return Status::Error("Cannot add page " + Quoted(input) + " to " + Quoted(job.multiPagePath) +
                         ": " + added.Message());
  }
  ++merged.pagesWritten;
  return Status::Ok();
}

}  // namespace

void RunTiffPipeline(ImageConverter& job) {
  if (!job.multiPage) {
    RasterImage image;
    Status prepared = PreparePage(job, image, job.inputFiles.front());
    job.Record(prepared.IsOk() ? WriteOutput(job, image, ImageFormat::Tiff) : prepared);
    return;
  }
  // A page that fails is reported and the next one is still added.
  for (; job.multiPageInputsRun < job.inputFiles.size(); ++job.multiPageInputsRun)
    job.Record(AddMergedPage(job, job.inputFiles[job.multiPageInputsRun]));
}

void FinishMultiPageTiff(ImageConverter& job) {
  if (!job.merged) return;
  MultiPageTiff& merged = *job.merged;
  // A document that cannot be completed (a full disk at its last directory) is not put in place.
  const Status ended = merged.writer.EndDocument();
  if (!ended.IsOk())
    job.RecordError("Cannot write " + Quoted(job.multiPagePath) + ": " + ended.Message());
  merged.stream.reset();
  if (ended.IsOk() && merged.pagesWritten > 0) {
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
