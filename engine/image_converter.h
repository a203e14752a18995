#pragma once
// One conversion job: its options, its inputs, and for merged TIFF the document kept open
// between pages.

#include <memory>
#include <string>
#include <vector>

#include "engine/converter.h"
#include "engine/output_file.h"
#include "image/codec_tiff.h"

namespace orvalis {

struct ImageConverter {
  std::vector<std::string> inputFiles;
  std::string outputPath;
  std::string multiPagePath;
  int format = Jpeg;
  int requestedDepth = 24;
  bool multiPage = false;
  int compression = 2;
  bool grayscale = false;
  int quality = 75;
  int angle = 0;
  int width = 0;
  int height = 0;
  int xDpi = 150;
  int yDpi = 150;
  int paletteDepth = 0;

  // Merged TIFF: the temporary file the pages go into, renamed over multiPagePath when the
  // job is destroyed. Declared before tiffImage so that the document inside tiffImage is
  // ended while the stream under it is still open.
  std::unique_ptr<PendingOutput> multiPageOutput;
  std::unique_ptr<FileStream> multiPageStream;
  RasterImageTIF tiffImage;
  int multiPagePagesWritten = 0;
  size_t multiPageInputsRun = 0;  // inputs an earlier run of the job has taken

  bool hasRun = false;
  std::string error;  // first failure of the job, "" while everything was written

  void RecordError(const std::string& message) {
    if (error.empty()) error = message;
  }
};

}  // namespace orvalis
