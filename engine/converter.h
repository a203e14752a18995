#pragma once
// The conversion engine's plain-function boundary: one job per output file (or per merged TIFF)
// behind an opaque handle. Every operation refuses a null handle by returning 0.
//
// OptFormat takes an engine format number: NumberOf(OutputFormat) of engine/output_formats.h.

#include "engine/output_formats.h"

namespace orvalis {

struct ImageConverter;
using ConverterHandle = ImageConverter*;

// Option identifiers of ConverterSetOption.
enum ConverterOption : int {
  OptOutputPath = 1,
  OptMultiPagePath = 2,
  OptFormat = 5,
  OptBitDepth = 6,
  OptXDpi = 7,
  OptYDpi = 8,
  OptQuality = 9,
  OptCompression = 10,
  OptMultiPage = 11,
  OptGrayscale = 12,
  OptWidth = 13,
  OptHeight = 14,
  OptAngle = 15,
  // Threads an encoder may use for one picture (JPEG 2000): 1 keeps the job on the calling
  // thread, as a program that converts several pages at once wants; 0 (the default): one per
  // processor, up to 8.
  OptEncoderThreads = 16,
};

ConverterHandle ConverterCreate();
int ConverterAddFile(ConverterHandle handle, const char* path);
int ConverterSetOption(ConverterHandle handle, int option, const char* text, int value);
// Returns 1 whether or not the outputs were written; ConverterGetError tells which. A merged
// TIFF job may be run again after more pages were added: each run appends the new ones.
int ConverterRun(ConverterHandle handle);
// Completes the job's outputs now: a merged TIFF is ended and renamed into place holding the
// pages that were written, so that ConverterGetError also covers its last write. Returns 1; 0
// for a null handle. Optional: ConverterDestroy does the same when it has not been called.
int ConverterFinish(ConverterHandle handle);
// Discards a merged TIFF that is not finished: its temporary goes and nothing is put in place,
// so a file under its name stays as it was. Later runs add no page (the job records why), and
// Finish and Destroy put nothing in place. Returns 1; 0 for a null handle.
int ConverterAbandon(ConverterHandle handle);
// Finishes a merged TIFF (renamed into place holding the pages that were written, unless it was
// abandoned) and frees the job.
int ConverterDestroy(ConverterHandle handle);
// Empty when every output the job was asked for was written; otherwise the first failure, in
// words for the user. Valid until the next call on the job; "" for a null handle.
const char* ConverterGetError(ConverterHandle handle);

}  // namespace orvalis
