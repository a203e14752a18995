#include "batch/output_names.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvalis
