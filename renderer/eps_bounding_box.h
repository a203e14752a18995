#pragma once
// An EPS figure is drawn on a page of its own bounding box (Ghostscript's -dEPSCrop), so that it
// gives one image of the picture's size. Ghostscript takes the box from the header's comments,
// %%HiResBoundingBox before %%BoundingBox, and stops the rendering with an error when a box it
// takes cannot be a page. So the header is read here the way Ghostscript reads it, and the
// figure is cropped only when every box Ghostscript would take makes a page of at least one
// pixel; otherwise it is drawn on a page as any PostScript file.

#include <string_view>

namespace orvalis::renderer {

// Bytes of a file's start looked through for its header comments; a header that does not end
// within them is not trusted.
inline constexpr size_t kEpsHeaderBytes = size_t{4} << 20;

// Whether the file beginning with `start` (up to kEpsHeaderBytes of it; `whole` when that is the
// whole file) is an EPS file to crop to its bounding box at the given resolution.
bool CropsToBoundingBox(std::string_view start, bool whole, int xdpi, int ydpi);

}  // namespace orvalis::renderer
