#include "batch/output_names.h"

#include <gtest/gtest.h>

#include "batch/output_folder.h"
#include "batch/page_files.h"

namespace orvalis {
namespace {

// A name made for an image reads back as its source's base; page numbers keep three digits at
// least, past 999 too, as the renderer's page files have them.
TEST(OutputNames, NamesAndTheWayBack) {
  struct Case {
    int page;
    const char* name;
  };
  for (const Case& c :
       {Case{1, "re_port_001.png"}, Case{42, "re_port_042.png"}, Case{1000, "re_port_1000.png"}}) {
    EXPECT_EQ(PageImageName("re_port", c.page, ".png"), c.name);
    EXPECT_EQ(ImageBaseOf(c.name, ".png", false), "re_port");
    EXPECT_EQ(PageNumberOf(std::string("/pages/re_port") + (c.name + 7), "re_port").value_or(-1),
              c.page)
        << c.name;
  }
  EXPECT_EQ(MergedImageName("report"), "report.tif");
  EXPECT_EQ(ImageBaseOf("report.tif", ".png", true), "report");
  for (const char* other : {"report.png", "report_01.png", "report_0x1.png", "report_001.jpg"})
    EXPECT_FALSE(ImageBaseOf(other, ".png", false).has_value()) << other;
  for (const char* page :
       {"/p/report.bmp", "/p/reportx001.bmp", "/p/report_.bmp", "/p/other_001.bmp"})
    EXPECT_FALSE(PageNumberOf(page, "report").has_value()) << page;
}

// Each rule gives every source its own names whatever else is in the run, and its names read
// back as its base: by default the kinds' extensions go (a.ps and a.pdf share "a"), with full
// names they stay. A sub-folder with full names is never the source's own name, which beside
// the source is taken by the source itself.
TEST(OutputNames, FullNamesKeepTheWholeFileName) {
  struct Case {
    const char* file;
    bool fullNames;
    const char* base;
    const char* folder;  // the sub-folder with "each"
  };
  for (const Case& c : {
           Case{"a.ps", false, "a", "a"},
           Case{"a.pdf", false, "a", "a"},
           Case{"a.ps.gz", false, "a", "a"},
           Case{"..ps", false, ".", "..ps"},
           Case{"a.ps", true, "a.ps", "a.ps_images"},
           Case{"a.pdf", true, "a.pdf", "a.pdf_images"},
           Case{"A.PDF", true, "A.PDF", "A.PDF_images"},
           Case{"a.ps.gz", true, "a.ps.gz", "a.ps.gz_images"},
           Case{"re_port_001.ps", true, "re_port_001.ps", "re_port_001.ps_images"},
           Case{"..ps", true, "..ps", "..ps_images"},
       }) {
    SCOPED_TRACE(std::string(c.file) + (c.fullNames ? " full" : " stem"));
    const std::string base = ImageBase(c.file, c.fullNames);
    EXPECT_EQ(base, c.base);
    EXPECT_EQ(EachFolderName(std::string("/in/") + c.file, c.fullNames), c.folder);
    EXPECT_EQ(ImageBaseOf(PageImageName(base, 7, ".png"), ".png", false), base);
    EXPECT_EQ(ImageBaseOf(MergedImageName(base), ".png", true), base);
  }
  EXPECT_EQ(PageImageName(ImageBase("a.pdf", true), 1, ".png"), "a.pdf_001.png");
  EXPECT_EQ(MergedImageName(ImageBase("a.pdf", true)), "a.pdf.tif");
}

}  // namespace
}  // namespace orvalis
