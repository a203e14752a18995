#pragma once
// The EMF and WMF pipelines: the page drawn over a white rectangle into an enhanced or a
// classic metafile, recorded through the platform's GDI layer.

#include "engine/image_converter.h"
#include "platform/status.h"

namespace orvalis {

// Runs the EMF or WMF pipeline (by job.format) on the first input, writing job.outputPath.
Status RunMetafilePipeline(const ImageConverter& job);

Status RunEmfPipeline(const ImageConverter& job);
Status RunWmfPipeline(const ImageConverter& job);

}  // namespace orvalis
