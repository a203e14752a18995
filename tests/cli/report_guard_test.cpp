// A report is never a file the run reads, an image it writes or a folder it makes.

#include "cli/report_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace orvalis {
namespace {

namespace fs = std::filesystem;

TEST(ReportGuard, FilesTheRunReadsOrWrites) {
  test::TempDir dir;
  const std::vector<std::string> sources = {dir.File("docs/a.ps"), dir.File("docs/b.ps")};
  fs::create_directories(dir.File("docs"));
  fs::create_directories(dir.File("out"));
  for (const std::string& source : sources) test::WriteFileText(source, "%!PS\n");
  for (const char* name : {"list.txt", "p.ini", "r.jsonl"}) test::WriteFileText(dir.File(name), "");
  ASSERT_EQ(link(sources[0].c_str(), dir.File("hard.jsonl").c_str()), 0);
  fs::create_symlink(sources[1], dir.File("soft.jsonl"));
  fs::create_symlink("out", dir.File("outlink"));
  fs::create_symlink(dir.File("r.jsonl"), dir.File("out/b_003.png"));

  ConversionSettings png;
  png.type = 3;
  png.mode = 1;
  png.output = dir.File("out");
  ConversionSettings each = png;
  each.each = 1;
  ConversionSettings merged = png;
  merged.type = 1;
  merged.multpage = 1;
  ConversionSettings beside = png;
  beside.mode = 0;
  ConversionSettings full = png;
  full.fullnames = 1;
  ConversionSettings fullEach = each;
  fullEach.fullnames = 1;
  ConversionSettings fullMerged = merged;
  fullMerged.fullnames = 1;

  struct Case {
    std::string report;
    const ConversionSettings* settings;
    std::string says;  // "" when the report may be used
  };
  const Case cases[] = {
      {"r.jsonl", &png, ""},
      {"out/r.jsonl", &png, ""},
      {"docs/a.ps", &png, "it is " + sources[0] + ", one of the files to convert"},
      {"hard.jsonl", &png, "it is " + sources[0] + ", one of the files to convert"},
      {"soft.jsonl", &png, "it is " + sources[1] + ", one of the files to convert"},
      {"list.txt", &png, "it is the list of --files-from"},
      {"p.ini", &png, "it is the settings file"},
      {"c.PS", &png, "named like a PostScript file; did the shell expand a pattern such as *.ps"},
      {"out/b_002.png", &png, "the run writes an image of " + sources[1] + " under that name"},
      {"out/b_1000.png", &png, "under that name"},
      {"docs/../out/a_001.png", &png, "an image of " + sources[0]},
      {"outlink/a_001.png", &png, "an image of " + sources[0]},
      {"out/b_003.png", &png, "an image of " + sources[1]},  // a link there is replaced
      {"out/b_01.png", &png, ""},
      {"out/b_002.jpg", &png, ""},
      {"out/c_002.png", &png, ""},
      {"out", &png, "the run writes images into " + dir.File("out")},
      {"out/", &png, "the run writes images into " + dir.File("out")},
      {"", &png, "the run writes images into " + dir.File("out") + ", inside it"},
      {"out/b", &each, "the run writes images into " + dir.File("out/b")},
      {"out/b/b_001.png", &each, "an image of " + sources[1]},
      {"out/b_001.png", &each, ""},
      {"out/a.tif", &merged, "an image of " + sources[0]},
      {"out/a_001.tif", &merged, ""},
      {"docs/b_001.png", &beside, "an image of " + sources[1]},
      {"out/b_001.png", &beside, ""},
      // With full names the images keep the whole file name, and only those are the run's.
      {"out/b.ps_002.png", &full, "an image of " + sources[1]},
      {"out/b_002.png", &full, ""},
      {"out/a.ps.tif", &fullMerged, "an image of " + sources[0]},
      {"out/a.tif", &fullMerged, ""},
      {"out/b.ps_images", &fullEach, "the run writes images into " + dir.File("out/b.ps_images")},
      {"out/b.ps_images/b.ps_001.png", &fullEach, "an image of " + sources[1]},
      {"out/b", &fullEach, ""},
  };
  for (const Case& c : cases) {
    const std::string report = dir.File(c.report);
    const RunFiles run{sources, *c.settings, dir.File("list.txt"), dir.File("p.ini")};
    const std::string clash = ReportClash(report, run);
    if (c.says.empty()) {
      EXPECT_EQ(clash, "") << c.report;
    } else {
      EXPECT_NE(clash.find("cannot use the report " + report + ": "), std::string::npos) << clash;
      EXPECT_NE(clash.find(c.says), std::string::npos) << c.report << ": " << clash;
    }
  }
}

}  // namespace
}  // namespace orvalis
