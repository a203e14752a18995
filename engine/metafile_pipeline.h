#pragma once
// The EMF and WMF pipelines: the page drawn into an enhanced or classic metafile.

#include "engine/image_converter.h"

namespace orvalis {

void RunMetafilePipeline(ImageConverter& job);

}  // namespace orvalis
