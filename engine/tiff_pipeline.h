#pragma once
// The TIFF pipeline: every page through the job's one TIFF image object, either as a
// single-page file or appended to one merged multi-page file.

#include "engine/image_converter.h"

namespace orvalis {

void RunTiffPipeline(ImageConverter& job);

// Ends the merged document and renames it into place when it holds at least one page;
// otherwise removes it. Called when the job is destroyed.
void FinishMultiPageTiff(ImageConverter& job);

// Removes the merged document unfinished; no later page opens another.
void AbandonMultiPageTiff(ImageConverter& job);

}  // namespace orvalis
