#pragma once
// A real page for the benchmarks: a PostScript document rendered by Ghostscript into a 24-bit BMP
// at a given resolution, kept in ORVALIS_BENCH_PAGE_DIR (default /tmp/orvalis_bench_pages) and
// rendered there when missing. The document is bench/page.ps of the repository, or the one
// ORVALIS_BENCH_DOCUMENT names (a page of a corpus of real documents, when there is one).

#include <filesystem>
#include <string>

#include "image/raster_image.h"

namespace orvalis::bench {

// The document the pages are rendered from, and its name without ".ps" (the pages' file names
// start with it).
std::filesystem::path DocumentPath();
std::string PageStem();

// The folder that holds the rendered pages; benchmarks put their output files there too.
std::filesystem::path PageDirectory();

// The BMP file of the page at `dpi`; rendered on first use. Exits when it cannot be made.
std::filesystem::path RenderedPagePath(int dpi);

// The page at `dpi`, decoded once.
RasterImage& RenderedPage(int dpi);

// The page at `dpi` after the engine's 256-colour reduction (DecreaseBpp to 8 bits, no error
// diffusion), made once per process and also saved as an 8-bit BMP (<stem>_<dpi>_256.bmp) so that
// a peer program can be given the same pixels. Exits when it cannot be made.
RasterImage& ReducedPage(int dpi);

// The 8-bit BMP file of ReducedPage(dpi); written on first use.
std::filesystem::path ReducedPagePath(int dpi);

}  // namespace orvalis::bench
