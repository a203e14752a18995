#include "engine/converter.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <new>

#include "engine/image_converter.h"
#include "engine/pipelines.h"
#include "engine/tiff_pipeline.h"

namespace orvalis {

namespace {

// Relative paths are taken against the process's current folder.
std::string AbsolutePath(const char* path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? std::string(path) : absolute.lexically_normal().string();
}

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
      job->format = value >= Bmp && value <= Jpc ? value : Jpeg;
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
  DecideColorDepth(*job);
  Guarded(*job, [&] { RunPipeline(*job); });
  return 1;
}

int ConverterFinish(ConverterHandle job) {
  if (job == nullptr) return 0;
  Guarded(*job, [&] { FinishMultiPageTiff(*job); });
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
