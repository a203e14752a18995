#include "engine/metafile_pipeline.h"

namespace orvalis {

// Metafile output is not built yet: the job fails with a message instead of writing nothing
// silently.
void RunMetafilePipeline(ImageConverter& job) {
  job.RecordError(job.format == Emf ? "EMF output is not available in this build"
                                    : "WMF output is not available in this build");
}

}  // namespace orvalis
