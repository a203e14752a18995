#include "engine/converter.h"

#include <algorithm>
#include <exception>
#include <new>

#include "engine/image_converter.h"
#include "engine/pipelines.h"
#include "engine/tiff_pipeline.h"
#include "platform/paths.h"

namespace orvalis {

namespace {

void SetPathOption(std::string& field, const char* text) {
  if (text != nullptr && text[0] != '\0') field = AbsolutePath(text);
}

}  // namespace

// No exception leaves the engine's boundary: what escapes a step becomes the job's error.
template <typename Step>
void Guarded(ImageConverter& job, Step&& step) {
  try {
    step();
  } catch (const std::bad_alloc&) {
    job.RecordError("Out of memory");
  } catch (const std::exception& e) {
    job.RecordError(e.what());
  }
}

ConverterHandle ConverterCreate() {
  try {
    return new ImageConverter();
  } catch (const std::exception&) {
    return nullptr;
  }
}

int ConverterAddFile(ConverterHandle job, const char* path) {
  if (job == nullptr) return 0;
  Guarded(*job, [&] {
    job->inputFiles.push_back(path != nullptr && path[0] != '\0' ? AbsolutePath(path) : "");
  });
  return 1;
}

int ConverterSetOption(ConverterHandle job, int option, const char* text, int value) {
  if (job == nullptr) return 0;
  switch (option) {
    case OptOutputPath:
      Guarded(*job, [&] { SetPathOption(job->outputPath, text); });
      break;
    case OptMultiPagePath:
      Guarded(*job, [&] { SetPathOption(job->multiPagePath, text); });
      break;
    case OptFormat:
      job->format = OutputFormatFromNumber(value).value_or(OutputFormat::Jpeg);
      break;
    case OptBitDepth:
      job->requestedDepth = value;
      break;
    case OptXDpi:
      job->xDpi = std::clamp(value, 72, 600);
      break;
    case OptYDpi:
      job->yDpi = std::clamp(value, 72, 600);
      break;
    case OptQuality:
      job->quality = value;
      break;
    case OptCompression:
      job->compression = value;
      break;
    case OptMultiPage:
      job->multiPage = value != 0;
      break;
    case OptGrayscale:
      job->grayscale = value != 0;
      break;
    case OptWidth:
      if (value > 0) job->width = value;
      break;
    case OptHeight:
      if (value > 0) job->height = value;
      break;
    case OptAngle:
      if (value > 0) job->angle = value;
      break;
    case OptEncoderThreads:
      job->encoderThreads = std::max(value, 0);
      break;
    default:
      break;  // unknown ids are accepted and change nothing
  }
  return 1;
}

int ConverterRun(ConverterHandle job) {
  if (job == nullptr) return 0;
  // A merged TIFF may run again: each run appends the pages added since the last one.
  if (job->hasRun && !job->multiPage) {
    job->RecordError("The job has already run");
    return 1;
  }
  job->hasRun = true;
  job->colour = DecideColour(*job);
  Guarded(*job, [&] { RunPipeline(*job); });
  return 1;
}

int ConverterFinish(ConverterHandle job) {
  if (job == nullptr) return 0;
  Guarded(*job, [&] { FinishMultiPageTiff(*job); });
  return 1;
}

int ConverterAbandon(ConverterHandle job) {
  if (job == nullptr) return 0;
  AbandonMultiPageTiff(*job);
  return 1;
}

int ConverterDestroy(ConverterHandle job) {
  if (job == nullptr) return 0;
  Guarded(*job, [&] { FinishMultiPageTiff(*job); });
  delete job;
  return 1;
}

const char* ConverterGetError(ConverterHandle job) {
  return job == nullptr ? "" : job->error.c_str();
}

}  // namespace orvalis
