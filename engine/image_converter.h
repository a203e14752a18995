#pragma once
// One conversion job: its options, its inputs, the colour decision made when it runs, and for
// merged TIFF the document kept open between pages.

#include <memory>
#include <string>
#include <vector>

#include "engine/converter.h"
#include "engine/output_formats.h"
#include "platform/status.h"

namespace orvalis {

struct MultiPageTiff;  // engine/tiff_pipeline.cpp
struct MultiPageTiffDeleter {
  void operator()(MultiPageTiff* document) const;
};

// How the job treats colour, decided once when it runs (DecideColour) and kept for every page.
struct ColourPlan {
  int paletteDepth = 0;  // 1, 4 or 8; 0 for 24-bit pages
  bool gray = false;     // pages are made gray
  bool reduce = true;    // palette depths reduce the page to an optimal palette
};

// The engine compression code that keeps 8-bit TIFF pages as gray levels without a palette.
// No settings entry gives it; it comes only through OptCompression.
inline constexpr int kCompressionGrayLevels = 7;

struct ImageConverter {
  std::vector<std::string> inputFiles;
  std::string outputPath;
  std::string multiPagePath;
  OutputFormat format = OutputFormat::Jpeg;
  int requestedDepth = 24;
  bool multiPage = false;
  int compression = 2;
  bool grayscale = false;  // as asked; the plan says what the pages get
  int quality = 75;
  int encoderThreads = 0;  // OptEncoderThreads
  int angle = 0;
  int width = 0;
  int height = 0;
  int xDpi = 150;
  int yDpi = 150;

  ColourPlan colour;

  // Merged TIFF: the document the pages go into, put in place when the job finishes.
  std::unique_ptr<MultiPageTiff, MultiPageTiffDeleter> merged;
  size_t multiPageInputsRun = 0;  // inputs an earlier run of the job has taken
  bool mergedAbandoned = false;   // the document was discarded: nothing is put in place

  bool hasRun = false;
  std::string error;  // first failure of the job, "" while everything was written

  void RecordError(const std::string& message) {
    if (error.empty()) error = message;
  }
  void Record(const Status& status) {
    if (!status.IsOk()) RecordError(status.Message());
  }
};

}  // namespace orvalis
