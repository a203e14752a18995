#pragma once
// A real page for the benchmarks: the corpus tiger rendered by Ghostscript into a 24-bit BMP at
// a given resolution, kept in ORVALIS_BENCH_PAGE_DIR (default /tmp/orvalis_bench_pages) and
// rendered there when missing.

#include <filesystem>

#include "image/raster_image.h"

namespace orvalis::bench {

// The BMP file of the page at `dpi`; rendered on first use. Exits when it cannot be made.
std::filesystem::path RenderedPagePath(int dpi);

// The page at `dpi`, decoded once.
const RasterImage& RenderedPage(int dpi);

}  // namespace orvalis::bench
