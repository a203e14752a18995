#include "renderer/eps_bounding_box.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalis::renderer {
namespace {

// Each header is read as Ghostscript reads it: a figure is cropped only when every box it
// would take makes a page, so that -dEPSCrop never stops a rendering Ghostscript would finish.
TEST(EpsBoundingBox, CroppedOnlyWhenEveryBoxTakenMakesAPage) {
  struct Case {
    const char* header;
    bool cropped;
  };
  const Case cases[] = {
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 200 100\n%%EndComments\n", true},
      {"%!PS-Adobe-2.0 EPSF-1.2\r%%BoundingBox:10 20 30 40\r%%EndComments\r", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%HiResBoundingBox: 0.5 0.5 99.5 49.25\n%%EndComments\n", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: -50 -50 50 50 extra\n%%EndComments\n", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: +0 +0 1e2 .5E2\n%%EndComments\n", true},
      // Not EPS, or no box: a page as any PostScript file.
      {"%!PS-Adobe-3.0\n%%BoundingBox: 0 0 200 100\n%%EndComments\n", false},
      {"%!PS\n%%BoundingBox: 0 0 200 100\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%EndComments\n%%BoundingBox: 0 0 200 100\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\n%%EndComments\n", false},
      // Boxes Ghostscript would take and fail on.
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 0 0\n%%EndComments\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 10 10 5 5\n%%EndComments\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: a b c d\n%%EndComments\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 1e9 1e9\n%%EndComments\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 0.4 0.4\n%%EndComments\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0(x)0 10 10\n%%EndComments\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 16#0 0 10 10\n%%EndComments\n", false},
      // A bad box before a good one still stops Ghostscript; after a taken HiRes box, none
      // counts; fewer than four numbers are passed over.
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 0 0\n%%HiResBoundingBox: 0 0 9 9\n", false},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%HiResBoundingBox: 0 0 9 9\n%%BoundingBox: 0 0 0 0\n", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 9\n%%BoundingBox: 0 0 9 9\n", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 9 9\n%%BoundingBox: 0 0 0 0\n", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CropsToBoundingBox(c.header, true, 72, 72), c.cropped) << c.header;
  }
}

TEST(EpsBoundingBox, AHeaderReadInPartIsNotTrusted) {
  const std::string header = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 200 100\n";
  // Without its end, a later comment could still hold a box that fails.
  EXPECT_FALSE(CropsToBoundingBox(header + "%%Creator: x", false, 72, 72));
  EXPECT_TRUE(CropsToBoundingBox(header + "%%EndComments\n", false, 72, 72));
  EXPECT_TRUE(CropsToBoundingBox(header, true, 72, 72));
  // A box under a pixel at one resolution is one at another.
  const std::string tiny = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 0.6 0.6\n";
  EXPECT_FALSE(CropsToBoundingBox(tiny, true, 72, 72));
  EXPECT_TRUE(CropsToBoundingBox(tiny, true, 150, 150));
}

}  // namespace
}  // namespace orvalis::renderer
