#pragma once
// The per-format pipelines that turn one loaded page into an output file, and the engine's
// own colour and rotation steps they share.

#include <cstdint>

#include "engine/image_converter.h"
#include "image/raster_image.h"
#include "platform/status.h"

namespace orvalis {

// The colour plan of the job's format, requested depth, gray flag and compression.
ColourPlan DecideColour(const ImageConverter& job);

// Runs the pipeline of job.format on the job's inputs; its failures are recorded in the job.
void RunPipeline(ImageConverter& job);

// Reduces the page to an optimal palette of 2, 16 or 256 entries (depth 1, 4, 8).
bool ReduceColors(RasterImage& image, int paletteDepth);

// Quarter turns for 90, 180 and 270 degrees, RotateByAngle for any other non-zero angle.
bool ApplyRotation(RasterImage& image, int angle);

// Encodes `image` into the job's output file through a temporary that is renamed into place
// only when the encoder succeeded.
Status WriteOutput(const ImageConverter& job, const RasterImage& image, ImageFormat imageFormat);

// Loads an input page as BMP; a failure says why it cannot be read.
Status LoadPage(RasterImage& image, const std::string& path);

Status ResizeStep(const ImageConverter& job, RasterImage& image);

// "what: the image's error text" when a step of the image's own (`ok` false) failed.
Status StepResult(const RasterImage& image, bool ok, const char* what);

}  // namespace orvalis
